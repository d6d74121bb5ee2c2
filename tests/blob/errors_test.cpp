// Tests of the library's error classes: the message each refusal carries, numbers, rethrow,
// archive and registry.
#include <blob/blob.h>
#include <blob/blobdefs.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>
#include <foundation/archive.h>
#include <foundation/pelbuffer.h>
#include <foundation/rlebuffer.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "connect/connect_augmented.h"
#include "messages.h"
#include "persist.h"
#include "platform/foundation/archive_bytes.h"

namespace {

using Desc = kcBlobSceneDescription;
using Msg = kc_BlobMessages;

// ---- Every message table entry, as the public call that refuses with it throws it.

// Refusal: a call and the error it must throw: the class (through its number) and the entry.
struct Refusal {
  int entry;
  long errorNumber;
  std::function<void()> call;
};

// check(table, count, refusals): each refusal throws its class with table[entry]; together they
// reach every entry of the table.
void check(const wchar_t* const* table, int count, const std::vector<Refusal>& refusals) {
  std::set<int> reached;
  for (const Refusal& r : refusals) {
    try {
      r.call();
      ADD_FAILURE() << "entry " << r.entry << ": no throw";
    } catch (const kcBlobDefs::Errors& e) {
      EXPECT_EQ(e.errorNumber(), r.errorNumber) << "entry " << r.entry;
      EXPECT_EQ(e.message(false), table[r.entry]) << "entry " << r.entry;
    }
    reached.insert(r.entry);
  }
  for (int entry = 0; entry < count; ++entry) EXPECT_TRUE(reached.count(entry)) << "entry " << entry;
}

kcRLEBuffer smallImage() {
  kcPelBuffer<unsigned char> pels(4, 3);
  for (long y = 0; y < 3; ++y)
    for (long x = 0; x < 4; ++x) pels.pointToRow(y)[x] = static_cast<unsigned char>(x == 1 ? 1 : 0);
  kcRLEBuffer rle;
  rle.encode(pels);
  return rle;
}

// analyse(set): kfBlobAnalysis of smallImage() with parameters set changed.
void analyse(const std::function<void(kcBlobParams&)>& set) {
  kcBlobParams params;
  set(params);
  kcBlobResults results;
  kfBlobAnalysis(smallImage(), params, results);
}

TEST(BlobMessages, toolTable_everyEntryThrownByItsCall) {
  constexpr long kBad = kcBlobDefs::BadParams::kErrorNumber;
  kcBlobParams p;  // no segmentation: every segmentation getter refuses
  const auto hard = [](long low, long high, long pct) {
    kcBlobParams().setSegmentationHardThresh(low, high, pct, false);
  };
  const auto soft = [](long low, long high, long lowPct, long highPct) {
    kcBlobParams().setSegmentationSoftThresh(low, high, lowPct, highPct, 0, false);
  };
  check(Msg::kTool, Msg::kToolCount, {
      {Msg::eMapMeaningless, kBad, [&] { p.map(); }},
      {Msg::ePostMapMeaningless, kBad, [&] { p.postMap(); }},
      {Msg::eThreshImageMeaningless, kBad, [&] { p.threshImage(); }},
      {Msg::eThreshMeaningless, kBad, [&] { p.thresh(); }},
      {Msg::eHiThreshMeaningless, kBad, [&] { p.hiThresh(); }},
      {Msg::eSoftnessMeaningless, kBad, [&] { p.softness(); }},
      {Msg::eThreshPercentMeaningless, kBad, [&] { p.isThreshPercent(); }},
      {Msg::eTailsMeaningless, kBad, [&] { p.hiTailPercent(); }},
      {Msg::eTailsNotSpecified, kBad, [] {
         kcBlobParams q;
         q.setSegmentationHardThresh(128, false);
         q.lowTailPercent();
       }},
      {Msg::eScaleNotPositive, kBad, [] { kcBlobParams().setSegmentationNone(0); }},
      {Msg::eLowNotBelowHigh, kBad, [] { kcBlobParams().setSegmentationSoftThresh(9, 9, 0, false); }},
      {Msg::eSoftnessAboveRange, kBad, [] { kcBlobParams().setSegmentationSoftThresh(1, 5, 5, false); }},
      {Msg::eSoftnessMax, kBad, [] { kcBlobParams().setSegmentationSoftThresh(0, 255, 255, false); }},
      {Msg::eLowTailRange, kBad, [&] { hard(101, 0, 0); }},
      {Msg::eHiTailRange, kBad, [&] { hard(0, -1, 0); }},
      {Msg::eTailSum, kBad, [&] { hard(50, 51, 0); }},
      {Msg::eLowThreshPercentRange, kBad, [&] { soft(0, 0, 101, 0); }},
      {Msg::eHiThreshPercentRange, kBad, [&] { soft(0, 0, 0, -1); }},
      {Msg::eThreshPercentRange, kBad, [&] { hard(0, 0, 101); }},
      {Msg::eThreshPercentOrder, kBad, [&] { soft(0, 0, 60, 40); }},
      {Msg::eMapEmpty, kBad, [] { kcBlobParams().setSegmentationMap({}, 1); }},
      {Msg::eThreshImageUnbound, kBad, [] {
         kcBlobParams().setSegmentationThreshImage({}, kcPelBuffer_const<unsigned char>(), {}, 1);
       }},
      {Msg::eBadConnectivityType, kBad, [] {
         analyse([](kcBlobParams& q) { q.connectivityType(static_cast<Desc::Analysis>(3)); });
       }},
      {Msg::eBadMorphOp, kBad, [] {
         analyse([](kcBlobParams& q) { q.morph({static_cast<keBlobParamsMorphOp>(12)}); });
       }},
      {Msg::eCleanupWithWholeImage, kBad, [] {
         analyse([](kcBlobParams& q) {
           q.connectivityType(Desc::eWholeImageGreyScale);
           q.connectivityCleanup(Desc::ePrune);
         });
       }},
      {Msg::eImageUnbound, kBad, [] {
         kcBlobResults results;
         kfBlobAnalysis(kcRLEBuffer(), kcBlobParams(), results);
       }},
      {Msg::eMinPelsNegative, kBad, [] { kcBlobParams().connectivityMinPels(-1); }},
      {Msg::eImageEmpty, kBad, [] {
         kcBlobResults results;
         kfBlobAnalysis(kcPelBuffer_const<unsigned char>(0, 3), kcBlobParams(), results);
       }},
  });
}

TEST(BlobMessages, sceneTable_everyEntryThrownByItsCall) {
  constexpr long kBad = kcBlobDefs::BadParams::kErrorNumber;
  const kcRLEBuffer image = smallImage();
  Desc scene;
  Desc grey;
  grey.connectComponentsGreyScale(image, 1, false, Desc::eNone, 0);
  Desc labelled;
  labelled.connectComponentsLabelled(image, Desc::eNone, 0);
  kcBlob::Measure m = kcBlob::eArea;
  double low = 0.0, high = 0.0;
  bool exclude = false;
  check(Msg::kSceneDesc, Msg::kSceneDescCount, {
      {Msg::eBadId, Desc::BadId::kErrorNumber, [&] { grey.getBlob(0); }},
      {Msg::eExcludeAreaNegative, kBad, [&] { scene.extremaExcludeArea(-1.0); }},
      {Msg::eExcludePercentRange, kBad, [&] { scene.extremaExcludeAreaPercent(50.0); }},
      {Msg::eBadFilterIndex, kBad, [&] { scene.getFilter(0L, m, low, high, exclude); }},
      {Msg::eFilterLimits, kBad, [&] { scene.setFilter(kcBlob::eArea, 2.0, 1.0, false); }},
      {Msg::eMinPelsMeaningless, kBad, [&] { grey.minPels(); }},
      {Msg::eScaleMeaningless, kBad, [&] { labelled.scaleVal(); }},
      {Msg::eDuplicateFilter, Desc::DuplicateFilter::kErrorNumber, [&] {
         scene.setFilter(kcBlob::eLabel, 0.0, 1.0, false);
         scene.setFilter(kcBlob::eLabel, 0.0, 1.0, false);
       }},
      {Msg::eDegenerate, Desc::Degenerate::kErrorNumber, [&] { scene.numBlobs(false); }},
  });
}

TEST(BlobMessages, blobTable_everyEntryThrownByItsCall) {
  Desc whole;
  whole.connectComponentsGreyScale(smallImage(), 1, true, Desc::eNone, 0);
  const kcBlob& blob = *whole.getBlob(1);
  constexpr long kBad = kcBlob::BadMeasure::kErrorNumber;
  check(Msg::kBlob, Msg::kBlobCount, {
      {Msg::eBadMeasure, kBad, [&] { blob.measure(static_cast<kcBlob::Measure>(43)); }},
      {Msg::eNoChainForWholeImage, kBad, [&] { blob.perimeter(); }},
  });
}

// Per concrete class: its number, registered name, root class and root's archive name. One
// named struct per class, so that the test names say which class a case ran on.
#define KC_ERROR_CASE(Case, E, Root, number, name, rootName)  \
  struct Case {                                                \
    using Error = E;                                           \
    using RootError = Root;                                    \
    static constexpr long kErrorNumber = number;               \
    static constexpr const char* kName = name;                 \
    static constexpr const char* kRootName = rootName;         \
  };
KC_ERROR_CASE(BadParams, kcBlobDefs::BadParams, kcBlobDefs::Errors, 0x10001a04L,
              "kcBlobDefs::BadParams", "kcBlobDefs::Errors")
KC_ERROR_CASE(BadMeasure, kcBlob::BadMeasure, kcBlobDefs::Errors, 0x10001a03L,
              "kcBlob::BadMeasure", "kcBlobDefs::Errors")
KC_ERROR_CASE(BadId, Desc::BadId, kcBlobDefs::Errors, 0x10001a02L, "kcBlobSceneDescription::BadId",
              "kcBlobDefs::Errors")
KC_ERROR_CASE(Degenerate, Desc::Degenerate, kcBlobDefs::Errors, 0x10001a00L,
              "kcBlobSceneDescription::Degenerate", "kcBlobDefs::Errors")
KC_ERROR_CASE(DuplicateFilter, Desc::DuplicateFilter, kcBlobDefs::Errors, 0x10001a01L,
              "kcBlobSceneDescription::DuplicateFilter", "kcBlobDefs::Errors")
KC_ERROR_CASE(MismatchedImageSizes, kc_ConnectivityAugmentedRLE::MismatchedImageSizes,
              kc_BlobInternalDefs::Errors, 0x10001a80L,
              "kc_ConnectivityAugmentedRLE::MismatchedImageSizes", "kc_BlobInternalDefs::Errors")
#undef KC_ERROR_CASE

// make<E>(): an instance carrying a message where the class takes one.
template <class E>
E* make() {
  if constexpr (std::is_constructible_v<E, const wchar_t*>) {
    return new E(Msg::kSceneDesc[Msg::eDuplicateFilter]);
  } else {
    return new E;
  }
}

template <class C>
class BlobError : public ::testing::Test {};
using Cases = ::testing::Types<BadParams, BadMeasure, BadId, Degenerate, DuplicateFilter,
                               MismatchedImageSizes>;
TYPED_TEST_SUITE(BlobError, Cases);

TYPED_TEST(BlobError, suicideAndRethrow_caughtAsClassRootAndBase_objectDeleted) {
  using E = typename TypeParam::Error;
  const std::wstring text = std::unique_ptr<E>(make<E>())->message(false);
  EXPECT_THROW(make<E>()->suicideAndRethrow(), E);
  EXPECT_THROW(make<E>()->suicideAndRethrow(), typename TypeParam::RootError);
  try {
    make<E>()->suicideAndRethrow();  // the sanitizer build reports the object if it survives
  } catch (const kcException& e) {
    EXPECT_EQ(typeid(e), typeid(E));
    EXPECT_EQ(e.errorNumber(), TypeParam::kErrorNumber);
    EXPECT_EQ(e.message(false), text);
  }
}

TYPED_TEST(BlobError, archive_roundTripThroughRegistry_sameClassAndMessage) {
  using E = typename TypeParam::Error;
  std::unique_ptr<kcException> original(make<E>());
  std::vector<unsigned char> bytes;
  {
    kcArchive out(bytes, kcArchive::eStoring);
    kc_Persist::ownedPointer(out, original);
  }
  kcArchive in(bytes, kcArchive::eLoading);
  std::unique_ptr<kcException> loaded;
  kc_Persist::ownedPointer(in, loaded);
  ASSERT_NE(loaded, nullptr);
  const kcException& object = *loaded;
  EXPECT_EQ(typeid(object), typeid(E));
  EXPECT_STREQ(kc_Instantiator::nameOf(*loaded), TypeParam::kName);
  EXPECT_EQ(loaded->message(false), original->message(false));
}

TYPED_TEST(BlobError, archive_versionOneAtEitherLevel_refusedNamingLevel_objectUnchanged) {
  using E = typename TypeParam::Error;
  std::unique_ptr<E> original(make<E>());
  const std::vector<unsigned char> good = archive_bytes::stored(*original);
  // The class's own version byte comes first, then that of its root.
  const std::pair<std::size_t, const char*> levels[] = {{0, TypeParam::kName}, {1, TypeParam::kRootName}};
  for (const auto& [index, name] : levels) {
    std::vector<unsigned char> bytes = good;
    ASSERT_EQ(bytes[index], 0);
    bytes[index] = 1;
    E target;
    kcArchive in(bytes, kcArchive::eLoading);
    try {
      in || target;
      ADD_FAILURE() << "no throw";
    } catch (const kcArchive::UnknownVersion& e) {
      EXPECT_STREQ(e.file(), name);
      EXPECT_EQ(e.line(), 0);
    }
    EXPECT_EQ(target.message(false), L"");
  }
}

}  // namespace
