// Tests of the library's error classes: numbers, message tables, rethrow, archive and registry.
#include <blob/blob.h>
#include <blob/blobdefs.h>
#include <blob/blobdesc.h>
#include <foundation/archive.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "connect/connect_augmented.h"
#include "messages.h"
#include "persist.h"
#include "platform/foundation/archive_bytes.h"

namespace {

using Desc = kcBlobSceneDescription;
using Msg = kc_BlobMessages;

// The tables as published, in plain ASCII; compared with the library's wide tables.
const char* const kBlobText[] = {
    "The specified blob measure number is invalid.",
    "It is not possible to compute the boundary chain, perimeter, acircularity, or RMS acircularity when using whole-image blob connectivity analysis.",
};
const char* const kSceneDescText[] = {
    "The specified blob ID is not valid.  The ID must be between 1 and the number of blobs, inclusive.",
    "The area to be excluded must be nonnegative.",
    "The area percentage to be excluded must be in the range [0, 50).",
    "The specified filter index is invalid. The index should be in the range [0, numFilters).",
    "The filter low limit must be less than or equal to the high limit.",
    "The minimum number of pels for connectivity cleanup is meaningless if no cleanup is specified.",
    "The scale value is meaningless for labelled connectivity.",
    "Only one filter may be specified for a given blob measure. Please clear the existing filter first if you want to replace it.",
    "The blob scene description is degenerate, probably because the blob tool has not been run yet.",
};
const char* const kToolText[] = {
    "The map (or pre map) is meaningless except when using mapped segmentation or threshold image segmentation.",
    "The post map is meaningless except when using threshold image segmentation.",
    "The threshold image is meaningless except when using threshold image segmentation.",
    "The threshold (or low threshold) is meaningless except when using hard or soft threshold segmentation.",
    "The high threshold is meaningless except when using soft threshold segmentation.",
    "The softness is meaningless except when using soft threshold segmentation.",
    "Asking whether the thresholds were specified as percentages is meaningless except when using hard or soft threshold segmentation.",
    "The tail percentages are meaningless except when using hard or soft threshold segmentation.",
    "The tail percentages are meaningless because tails were not specified.",
    "The scale value must be greater than zero.",
    "The low threshold must be less than the high threshold.",
    "The softness must be less than or equal to the high threshold minus the low threshold.",
    "The softness must be less than 255.",
    "The low tail percentage must be in the range [0, 100].",
    "The high tail percentage must be in the range [0, 100].",
    "The sum of the low tail percentage and high tail percentage must be less than or equal to 100.",
    "The low threshold percentage must be in the range [0, 100].",
    "The high threshold percentage must be in the range [0, 100].",
    "The threshold percentage must be in the range [0, 100].",
    "The low threshold percentage must be less than or equal to the high threshold percentage.",
    "The map must not be empty.",
    "The threshold image is unbound.",
    "The specified connectivity analysis type is not a valid enumeration value.",
    "The specified morphology operation is not a valid enumeration value.",
    "It is not possible to specify a cleanup method when using whole-image blob connectivity analysis.",
    "The image is unbound.",
    "The minimum number of pels for connectivity cleanup must be nonnegative.",
    "The width and height of image must be > 0.",
};

std::wstring widen(const char* text) { return std::wstring(text, text + std::strlen(text)); }

TEST(BlobMessages, everyTable_matchesPublishedTextExactly) {
  ASSERT_EQ(std::size(kToolText), std::size(Msg::kTool));
  ASSERT_EQ(std::size(kSceneDescText), std::size(Msg::kSceneDesc));
  ASSERT_EQ(std::size(kBlobText), std::size(Msg::kBlob));
  for (std::size_t i = 0; i < std::size(kToolText); ++i) {
    EXPECT_EQ(Msg::kTool[i], widen(kToolText[i])) << i;
    EXPECT_EQ(kcBlobDefs::BadParams(Msg::kTool[i]).errorNumber(), 0x10001a04L);
  }
  for (std::size_t i = 0; i < std::size(kSceneDescText); ++i) {
    EXPECT_EQ(Msg::kSceneDesc[i], widen(kSceneDescText[i])) << i;
  }
  for (std::size_t i = 0; i < std::size(kBlobText); ++i) {
    EXPECT_EQ(Msg::kBlob[i], widen(kBlobText[i])) << i;
  }
  // Spot checks of the named indices at both ends of each table.
  EXPECT_EQ(Msg::kTool[Msg::eImageEmpty], widen(kToolText[27]));
  EXPECT_EQ(Msg::kTool[Msg::eThreshPercentOrder], widen(kToolText[19]));
  EXPECT_EQ(Msg::kSceneDesc[Msg::eDegenerate], widen(kSceneDescText[8]));
  EXPECT_EQ(Msg::kBlob[Msg::eNoChainForWholeImage], widen(kBlobText[1]));
}

// Per concrete class: its number, registered name, root class and root's archive name.
template <class E, class Root, long kNumber>
struct Case {
  using Error = E;
  using RootError = Root;
  static constexpr long kErrorNumber = kNumber;
  static const char* const kName;
  static const char* const kRootName;
};
#define KC_ERROR_CASE(E, Root, number, name, rootName)                          \
  template <>                                                                   \
  const char* const Case<E, Root, number>::kName = name;                        \
  template <>                                                                   \
  const char* const Case<E, Root, number>::kRootName = rootName;                \
  using E##_case = Case<E, Root, number>;
using Mismatched = kc_ConnectivityAugmentedRLE::MismatchedImageSizes;
using BadParams = kcBlobDefs::BadParams;
using BadMeasure = kcBlob::BadMeasure;
using BadId = Desc::BadId;
using Degenerate = Desc::Degenerate;
using DuplicateFilter = Desc::DuplicateFilter;
KC_ERROR_CASE(BadParams, kcBlobDefs::Errors, 0x10001a04L, "kcBlobDefs::BadParams",
              "kcBlobDefs::Errors")
KC_ERROR_CASE(BadMeasure, kcBlobDefs::Errors, 0x10001a03L, "kcBlob::BadMeasure",
              "kcBlobDefs::Errors")
KC_ERROR_CASE(BadId, kcBlobDefs::Errors, 0x10001a02L, "kcBlobSceneDescription::BadId",
              "kcBlobDefs::Errors")
KC_ERROR_CASE(Degenerate, kcBlobDefs::Errors, 0x10001a00L, "kcBlobSceneDescription::Degenerate",
              "kcBlobDefs::Errors")
KC_ERROR_CASE(DuplicateFilter, kcBlobDefs::Errors, 0x10001a01L,
              "kcBlobSceneDescription::DuplicateFilter", "kcBlobDefs::Errors")
KC_ERROR_CASE(Mismatched, kc_BlobInternalDefs::Errors, 0x10001a80L,
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
using Cases = ::testing::Types<BadParams_case, BadMeasure_case, BadId_case, Degenerate_case,
                               DuplicateFilter_case, Mismatched_case>;
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
  EXPECT_EQ(typeid(*loaded), typeid(E));
  EXPECT_STREQ(kc_Instantiator::nameOf(*loaded), TypeParam::kName);
  EXPECT_EQ(loaded->message(false), original->message(false));
}

TYPED_TEST(BlobError, archive_versionOneAtEitherLevel_refusedNamingLevel_objectUnchanged) {
  using E = typename TypeParam::Error;
  std::unique_ptr<E> original(make<E>());
  const std::vector<unsigned char> good = archive_bytes::stored(*original);
  // The class's own version byte comes first, then that of its root.
  const std::pair<int, const char*> levels[] = {{0, TypeParam::kName}, {1, TypeParam::kRootName}};
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
