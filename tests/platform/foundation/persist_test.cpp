// Tests of the persistence frame's value forms: enumerations, pairs, vectors and pointers.
// (Dispatch and version rejection are exercised through the classes that use them.)
#include <foundation/archive.h>
#include <foundation/exception.h>
#include <foundation/geometry.h>
#include <foundation/persist.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
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

TEST(PersistEnum, storedAsInt_outOfRangeValueLoadsUnchanged) {
  Shade grey = eGrey, light = eLight;
  EXPECT_EQ(store([&](kcArchive& ar) {
              kc_Persist::enumeration(ar, grey);
              kc_Persist::enumeration(ar, light);
            }),
            (Bytes{8, 0, 0, 0, 11, 0, 0, 0}));

  const Bytes odd{99, 0, 0, 0, 0xff, 0xff, 0xff, 0xff};
  kcArchive in(odd.data(), odd.size());
  kc_Persist::enumeration(in, grey);
  kc_Persist::enumeration(in, light);
  EXPECT_EQ((std::vector<int>{grey, light}), (std::vector<int>{99, -1}));
}

TEST(PersistPair, versionByteThenFirstThenSecond_otherVersionRefused) {
  kcPair<long> p(-2, 300);
  const Bytes bytes = store([&](kcArchive& ar) { kc_Persist::pair(ar, p); });
  EXPECT_EQ(bytes, (Bytes{0, 0xfe, 0xff, 0xff, 0xff, 0x2c, 0x01, 0, 0}));
  kcPair<long> loaded;
  kcArchive in(bytes.data(), bytes.size());
  kc_Persist::pair(in, loaded);
  EXPECT_EQ(loaded, p);

  Bytes newer = bytes;
  newer[0] = 1;
  kcArchive bad(newer.data(), newer.size());
  try {
    kc_Persist::pair(bad, loaded);
    ADD_FAILURE() << "no throw";
  } catch (const kcArchive::UnknownVersion& e) {
    EXPECT_TRUE(e.file() == nullptr && e.line() == 0);
  }
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

  const Bytes newer{1, 1, 0, 0, 0, 4, 0, 0, 0}, shortBody{0, 3, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0},
              hugeCount{0, 0xff, 0xff, 0xff, 0xff, 1, 2, 3, 4}, cutElement{0, 2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0};
  const Shades before{eLight};
  for (const Bytes& damaged : {newer, shortBody, hugeCount, cutElement}) {
    Shades kept = before;
    kcArchive bad(damaged.data(), damaged.size());
    if (damaged[0] == 1)
      EXPECT_THROW(kc_Persist::vector(bad, kept), kcArchive::UnknownVersion);
    else
      EXPECT_THROW(kc_Persist::vector(bad, kept), kcArchive::Damaged);
    EXPECT_EQ(kept, before);
  }
}

// Pointers: two registered classes stand for any, kcBadArgument and kcBadPointer.
// A reference to an object of another class than the pointer's loads null.
TEST(PersistPointer, ownedThenReferences_loadAsOneObjectNullAndNullForOtherClass) {
  auto owned = std::make_unique<kcBadArgument>(L"one");
  std::unique_ptr<kcException> other(new kcBadPointer(L"owned elsewhere"));
  kcBadArgument *reference = owned.get(), *none = nullptr;
  kcException* alias = other.get();
  const Bytes bytes = store([&](kcArchive& ar) {
    kc_Persist::ownedPointer(ar, owned);
    kc_Persist::referencePointer(ar, reference);
    kc_Persist::referencePointer(ar, none);
    kc_Persist::ownedPointer(ar, other);
    kc_Persist::referencePointer(ar, alias);
  });
  kcArchive in(bytes.data(), bytes.size());
  auto* previous = new kcBadArgument(L"replaced");  // deleted by the load
  kc_Persist::ownedPointer(in, previous);
  none = previous;
  kc_Persist::referencePointer(in, reference);
  kc_Persist::referencePointer(in, none);
  kcBadArgument* otherClass = previous;
  kc_Persist::ownedPointer(in, other);
  kc_Persist::referencePointer(in, otherClass);
  ASSERT_NE(previous, nullptr);
  EXPECT_EQ(previous->message(false), L"one");
  EXPECT_TRUE(reference == previous && none == nullptr);
  EXPECT_TRUE(other != nullptr && otherClass == nullptr);
  delete previous;
}

TEST(PersistPointer, strayNewObjects_deletedAndRefused_targetUnchanged) {
  // An owned object of another class, and a new object where only a reference can stand: a
  // sound archive holds neither; the sanitizer build reports the object if it leaks.
  std::unique_ptr<kcException> pointer(new kcBadPointer(L"not a bad argument"));
  const Bytes bytes = store([&](kcArchive& ar) { kc_Persist::ownedPointer(ar, pointer); });
  auto keep = std::make_unique<kcBadArgument>();
  kcBadArgument* const before = keep.get();
  kcArchive owned(bytes.data(), bytes.size());
  EXPECT_THROW(kc_Persist::ownedPointer(owned, keep), kcArchive::Damaged);
  EXPECT_EQ(keep.get(), before);

  kcBadPointer* reference = nullptr;
  kcArchive referenced(bytes.data(), bytes.size());
  EXPECT_THROW(kc_Persist::referencePointer(referenced, reference), kcArchive::Damaged);
  EXPECT_EQ(reference, nullptr);
}

}  // namespace
