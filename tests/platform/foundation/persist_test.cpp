// Tests of the persistence frame's value forms: enumerations, pairs and vectors.
// (Dispatch and version rejection are exercised through the classes that use them.)
#include <foundation/archive.h>
#include <foundation/exception.h>
#include <foundation/geometry.h>
#include <foundation/persist.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// Shade: an enumeration as archived ones are, 32 bits wide.
enum Shade : std::int32_t { eDark = 1, eGrey = 8, eLight = 11 };
using Shades = std::vector<Shade>;

template <class Archiving>
Bytes store(Archiving archiving) {
  Bytes bytes;
  kcArchive out(bytes, kcArchive::eStoring);
  archiving(out);
  return bytes;
}

// A pair is a version byte and its two values; another version is refused leaving the target
// unchanged.
TEST(PersistPair, versionAndValues_otherVersionRefused) {
  kcPair<long> p(-2, 300), kept(5, 6);
  Bytes bytes = store([&](kcArchive& ar) { kc_Persist::pair(ar, p); });
  EXPECT_EQ(bytes, (Bytes{0, 0xfe, 0xff, 0xff, 0xff, 0x2c, 0x01, 0, 0}));
  bytes[0] = 1;
  kcArchive bad(bytes.data(), bytes.size());
  EXPECT_THROW(kc_Persist::pair(bad, kept), kcArchive::UnknownVersion);
  EXPECT_EQ(kept, kcPair<long>(5, 6));
}

// Enumerations are stored as 32-bit ints. A vector loads over a longer one; a count beyond the bytes
// is refused (bodies cut short: the truncations of the archive corpus test).
TEST(PersistVector, threeEnumerationsLoadIntoFive_hugeCountRefusedVectorUnchanged) {
  Shades shades{eDark, eGrey, eLight};
  const Bytes bytes = store([&](kcArchive& ar) { kc_Persist::vector(ar, shades); });
  EXPECT_EQ(bytes, (Bytes{0, 3, 0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0, 11, 0, 0, 0}));
  Shades five(5, eGrey);
  kcArchive in(bytes.data(), bytes.size());
  kc_Persist::vector(in, five);
  EXPECT_EQ(five, shades);
  const Bytes hugeCount{0, 0xff, 0xff, 0xff, 0xff, 1, 2, 3, 4};
  kcArchive bad(hugeCount.data(), hugeCount.size());
  EXPECT_THROW(kc_Persist::vector(bad, five), kcArchive::Damaged);
  EXPECT_EQ(five, shades);
}

}  // namespace
