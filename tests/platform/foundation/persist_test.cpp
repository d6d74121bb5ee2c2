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

// Enumerations are stored as 32-bit ints and load any value unchanged; a pair is a version byte and
// its two values, and another version is refused leaving the target unchanged.
TEST(PersistEnumAndPair, storedAsInts_outOfRangeEnumLoadsUnchanged_otherPairVersionRefused) {
  Shade grey = eGrey, light = eLight;
  kcPair<long> p(-2, 300), loaded;
  const Bytes bytes = store([&](kcArchive& ar) {
    kc_Persist::enumeration(ar, grey);
    kc_Persist::enumeration(ar, light);
    kc_Persist::pair(ar, p);
  });
  EXPECT_EQ(bytes, (Bytes{8, 0, 0, 0, 11, 0, 0, 0, 0, 0xfe, 0xff, 0xff, 0xff, 0x2c, 0x01, 0, 0}));
  const Bytes odd{99, 0, 0, 0, 0xff, 0xff, 0xff, 0xff};
  kcArchive in(odd.data(), odd.size()), pairIn(bytes.data() + 8, 9);
  kc_Persist::enumeration(in, grey);
  kc_Persist::enumeration(in, light);
  EXPECT_EQ((std::vector<int>{grey, light}), (std::vector<int>{99, -1}));
  kc_Persist::pair(pairIn, loaded);
  EXPECT_EQ(loaded, p);
  Bytes newer(bytes.begin() + 8, bytes.end());
  newer[0] = 1;
  kcArchive bad(newer.data(), newer.size());
  EXPECT_THROW(kc_Persist::pair(bad, loaded), kcArchive::UnknownVersion);
  EXPECT_EQ(loaded, p);
}

TEST(PersistVector, threeEnumerationsLoadIntoFive_damagedFormsRefusedVectorUnchanged) {
  Shades shades{eDark, eGrey, eLight};
  const Bytes bytes = store([&](kcArchive& ar) { kc_Persist::vector(ar, shades); });
  EXPECT_EQ(bytes, (Bytes{0, 3, 0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0, 11, 0, 0, 0}));
  Shades five(5, eGrey);
  kcArchive in(bytes.data(), bytes.size());
  kc_Persist::vector(in, five);
  EXPECT_EQ(five, shades);
  const Bytes shortBody{0, 3, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0},
              hugeCount{0, 0xff, 0xff, 0xff, 0xff, 1, 2, 3, 4}, cutElement{0, 2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0};
  for (const Bytes& damaged : {shortBody, hugeCount, cutElement}) {
    Shades kept{eLight};
    kcArchive bad(damaged.data(), damaged.size());
    EXPECT_THROW(kc_Persist::vector(bad, kept), kcArchive::Damaged);
    EXPECT_EQ(kept, Shades{eLight});
  }
}

}  // namespace
