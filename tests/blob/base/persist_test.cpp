// Tests of the persistence frame's value forms: enumerations, pairs, vectors and pointers.
// (Dispatch and version rejection are exercised through the classes that use them.)
#include <blob/blob.h>
#include <blob/blobdefs.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>
#include <foundation/archive.h>
#include <foundation/geometry.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "base/persist.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Ops = std::vector<keBlobParamsMorphOp>;

template <class Archiving>
Bytes store(Archiving archiving) {
  Bytes bytes;
  kcArchive out(bytes, kcArchive::eStoring);
  archiving(out);
  return bytes;
}

TEST(PersistEnum, storedAsInt_outOfRangeValueLoadsUnchanged) {
  auto analysis = kcBlobSceneDescription::eWholeImageGreyScale;
  auto cleanup = kcBlobSceneDescription::eFill;
  auto op = eMorphOpen2;
  EXPECT_EQ(store([&](kcArchive& ar) { ar || analysis || cleanup || op; }),
            (Bytes{2, 0, 0, 0, 2, 0, 0, 0, 11, 0, 0, 0}));

  const Bytes odd{99, 0, 0, 0, 0xff, 0xff, 0xff, 0xff, 99, 0, 0, 0};
  kcArchive in(odd.data(), odd.size());
  in || analysis || cleanup || op;
  EXPECT_EQ((std::vector<int>{analysis, cleanup, op}), (std::vector<int>{99, -1, 99}));
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

TEST(PersistVector, threeMorphOpsLoadIntoFive_damagedFormsRefusedVectorUnchanged) {
  Ops ops{eMorphErode1, eMorphClose2, eMorphOpen2};
  const Bytes bytes = store([&](kcArchive& ar) { kc_Persist::vector(ar, ops); });
  EXPECT_EQ(bytes, (Bytes{0, 3, 0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0, 11, 0, 0, 0}));
  Ops five(5, eMorphDilate0);
  kcArchive in(bytes.data(), bytes.size());
  kc_Persist::vector(in, five);
  EXPECT_EQ(five, ops);

  const Bytes newer{1, 1, 0, 0, 0, 4, 0, 0, 0}, shortBody{0, 3, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0},
              hugeCount{0, 0xff, 0xff, 0xff, 0xff, 1, 2, 3, 4}, cutElement{0, 2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0};
  const Ops before{eMorphClose0};
  for (const Bytes& damaged : {newer, shortBody, hugeCount, cutElement}) {
    Ops kept = before;
    kcArchive bad(damaged.data(), damaged.size());
    if (damaged[0] == 1)
      EXPECT_THROW(kc_Persist::vector(bad, kept), kcArchive::UnknownVersion);
    else
      EXPECT_THROW(kc_Persist::vector(bad, kept), kcArchive::Damaged);
    EXPECT_EQ(kept, before);
  }
}

// Pointers: two registered classes stand for any, BadParams and BadMeasure.
// A reference to an object of another class than the pointer's loads null.
TEST(PersistPointer, ownedThenReferences_loadAsOneObjectNullAndNullForOtherClass) {
  auto owned = std::make_unique<kcBlobDefs::BadParams>(L"one");
  std::unique_ptr<kcException> other(new kcBlob::BadMeasure(L"owned elsewhere"));
  kcBlobDefs::BadParams *reference = owned.get(), *none = nullptr;
  kcException* alias = other.get();
  const Bytes bytes = store([&](kcArchive& ar) {
    kc_Persist::ownedPointer(ar, owned);
    kc_Persist::referencePointer(ar, reference);
    kc_Persist::referencePointer(ar, none);
    kc_Persist::ownedPointer(ar, other);
    kc_Persist::referencePointer(ar, alias);
  });
  kcArchive in(bytes.data(), bytes.size());
  auto* previous = new kcBlobDefs::BadParams(L"replaced");  // deleted by the load
  kc_Persist::ownedPointer(in, previous);
  none = previous;
  kc_Persist::referencePointer(in, reference);
  kc_Persist::referencePointer(in, none);
  kcBlobDefs::BadParams* otherClass = previous;
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
  std::unique_ptr<kcException> measure(new kcBlob::BadMeasure(L"not bad params"));
  const Bytes bytes = store([&](kcArchive& ar) { kc_Persist::ownedPointer(ar, measure); });
  auto keep = std::make_unique<kcBlobDefs::BadParams>();
  kcBlobDefs::BadParams* const before = keep.get();
  kcArchive owned(bytes.data(), bytes.size());
  EXPECT_THROW(kc_Persist::ownedPointer(owned, keep), kcArchive::Damaged);
  EXPECT_EQ(keep.get(), before);

  kcBlob::BadMeasure* reference = nullptr;
  kcArchive referenced(bytes.data(), bytes.size());
  EXPECT_THROW(kc_Persist::referencePointer(referenced, reference), kcArchive::Damaged);
  EXPECT_EQ(reference, nullptr);
}

}  // namespace
