// Tests of the library's error classes: numbers, message tables, rethrow, archive and registry.
#include <blob/blob.h>
#include <blob/blobdefs.h>
#include <blob/blobdesc.h>
#include <foundation/archive.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "connect_augmented.h"
#include "messages.h"
#include "persist.h"

namespace {

using Desc = kcBlobSceneDescription;
using Mismatched = kc_ConnectivityAugmentedRLE::MismatchedImageSizes;
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

// Storing in place, then loading in place into target.
std::vector<unsigned char> storeInPlace(kcPersistent& object) {
  std::vector<unsigned char> bytes;
  kcArchive out(bytes, kcArchive::eStoring);
  out || object;
  return bytes;
}

// Round trip through a pointer, so that the registry creates the loaded object.
std::unique_ptr<kcException> roundTripThroughRegistry(kcException& original) {
  std::vector<unsigned char> bytes;
  {
    kcArchive out(bytes, kcArchive::eStoring);
    kcPersistent* unused = nullptr;
    kcPersistent::serializePointer(out, &original, unused, true);
  }
  kcArchive in(bytes, kcArchive::eLoading);
  std::unique_ptr<kcException> loaded;
  kc_Persist::ownedPointer(in, loaded);
  return loaded;
}

// ---- Error numbers

TEST(BlobErrors, errorNumber_eachConcreteClass_isItsConstant) {
  EXPECT_EQ(Desc::Degenerate().errorNumber(), 268442112L);
  EXPECT_EQ(Desc::DuplicateFilter().errorNumber(), 268442113L);
  EXPECT_EQ(Desc::BadId().errorNumber(), 268442114L);
  EXPECT_EQ(kcBlob::BadMeasure().errorNumber(), 268442115L);
  EXPECT_EQ(kcBlobDefs::BadParams().errorNumber(), 268442116L);
  EXPECT_EQ(Mismatched().errorNumber(), 268442240L);
}

TEST(BlobErrors, errorNumber_badParamsWithEveryToolMessage_is0x10001a04) {
  for (const wchar_t* text : Msg::kTool) {
    EXPECT_EQ(kcBlobDefs::BadParams(text).errorNumber(), 0x10001a04L);
  }
  EXPECT_EQ(kcBlob::BadMeasure(Msg::kBlob[1]).errorNumber(), 0x10001a03L);
}

// ---- Message tables

TEST(BlobMessages, toolTable_everyEntry_matchesPublishedText) {
  ASSERT_EQ(std::size(kToolText), static_cast<std::size_t>(Msg::kToolCount));
  for (int i = 0; i < Msg::kToolCount; ++i) EXPECT_EQ(Msg::kTool[i], widen(kToolText[i])) << i;
}

TEST(BlobMessages, sceneDescTable_everyEntry_matchesPublishedText) {
  ASSERT_EQ(std::size(kSceneDescText), static_cast<std::size_t>(Msg::kSceneDescCount));
  for (int i = 0; i < Msg::kSceneDescCount; ++i) {
    EXPECT_EQ(Msg::kSceneDesc[i], widen(kSceneDescText[i])) << i;
  }
  EXPECT_NE(std::wstring(Msg::kSceneDesc[Msg::eBadId]).find(L"valid.  The ID"), std::wstring::npos);
}

TEST(BlobMessages, blobTable_everyEntry_matchesPublishedText) {
  ASSERT_EQ(std::size(kBlobText), static_cast<std::size_t>(Msg::kBlobCount));
  for (int i = 0; i < Msg::kBlobCount; ++i) EXPECT_EQ(Msg::kBlob[i], widen(kBlobText[i])) << i;
}

TEST(BlobMessages, namedIndices_pointAtTheirEntries) {
  EXPECT_EQ(widen(kToolText[9]), Msg::kTool[Msg::eScaleNotPositive]);
  EXPECT_EQ(widen(kToolText[27]), Msg::kTool[Msg::eImageEmpty]);
  EXPECT_EQ(widen(kToolText[19]), Msg::kTool[Msg::eThreshPercentOrder]);
  EXPECT_EQ(widen(kSceneDescText[7]), Msg::kSceneDesc[Msg::eDuplicateFilter]);
  EXPECT_EQ(widen(kSceneDescText[8]), Msg::kSceneDesc[Msg::eDegenerate]);
  EXPECT_EQ(widen(kBlobText[1]), Msg::kBlob[Msg::eNoChainForWholeImage]);
}

TEST(BlobErrors, message_givenTableEntry_isReturnedUnchanged) {
  kcBlobDefs::BadParams error(Msg::kTool[Msg::eSoftnessMax]);
  EXPECT_EQ(error.message(false), widen(kToolText[12]));
  EXPECT_EQ(kcBlobDefs::BadParams().message(false), L"");
  EXPECT_EQ(kcBlobDefs::BadParams().text(), nullptr);
  EXPECT_EQ(Mismatched().message(false), L"");
}

// ---- Per-class behaviour: rethrow, registry, archive

template <class E>
struct ErrorTraits;
template <>
struct ErrorTraits<kcBlobDefs::BadParams> {
  static constexpr const char* kName = "kcBlobDefs::BadParams";
};
template <>
struct ErrorTraits<kcBlob::BadMeasure> {
  static constexpr const char* kName = "kcBlob::BadMeasure";
};
template <>
struct ErrorTraits<Desc::BadId> {
  static constexpr const char* kName = "kcBlobSceneDescription::BadId";
};
template <>
struct ErrorTraits<Desc::Degenerate> {
  static constexpr const char* kName = "kcBlobSceneDescription::Degenerate";
};
template <>
struct ErrorTraits<Desc::DuplicateFilter> {
  static constexpr const char* kName = "kcBlobSceneDescription::DuplicateFilter";
};

template <class E>
class PublicError : public ::testing::Test {};
using PublicErrorTypes = ::testing::Types<kcBlobDefs::BadParams, kcBlob::BadMeasure, Desc::BadId,
                                          Desc::Degenerate, Desc::DuplicateFilter>;
TYPED_TEST_SUITE(PublicError, PublicErrorTypes);

TYPED_TEST(PublicError, suicideAndRethrow_caughtAsClassRootAndBase) {
  const wchar_t* text = Msg::kSceneDesc[Msg::eDuplicateFilter];
  try {
    (new TypeParam(text))->suicideAndRethrow();
  } catch (const TypeParam& e) {
    EXPECT_EQ(e.message(false), text);
  }
  try {
    (new TypeParam(text))->suicideAndRethrow();
  } catch (const kcBlobDefs::Errors& e) {
    EXPECT_EQ(typeid(e), typeid(TypeParam));
    EXPECT_EQ(e.errorNumber(), TypeParam().errorNumber());
  }
  try {
    (new TypeParam(text))->suicideAndRethrow();
  } catch (const kcException& e) {
    EXPECT_EQ(typeid(e), typeid(TypeParam));
    EXPECT_EQ(e.message(false), text);
  }
}

TYPED_TEST(PublicError, archive_roundTripThroughRegistry_sameClassAndMessage) {
  TypeParam original(Msg::kTool[Msg::eTailSum]);
  std::unique_ptr<kcException> loaded = roundTripThroughRegistry(original);
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(typeid(*loaded), typeid(TypeParam));
  EXPECT_STREQ(kc_Instantiator::nameOf(*loaded), ErrorTraits<TypeParam>::kName);
  EXPECT_EQ(loaded->message(false), widen(kToolText[15]));

  TypeParam empty;  // a null message comes back as null
  std::unique_ptr<kcException> loadedEmpty = roundTripThroughRegistry(empty);
  EXPECT_EQ(dynamic_cast<TypeParam&>(*loadedEmpty).text(), nullptr);
}

TYPED_TEST(PublicError, archive_versionOneAtEitherLevel_throwsUnknownVersionNamingLevel) {
  TypeParam original(L"stored");
  const std::vector<unsigned char> good = storeInPlace(original);
  // The class's own version byte comes first, then that of kcBlobDefs::Errors.
  const std::pair<int, const char*> cases[] = {{0, ErrorTraits<TypeParam>::kName},
                                               {1, "kcBlobDefs::Errors"}};
  for (const auto& [index, name] : cases) {
    std::vector<unsigned char> bytes = good;
    ASSERT_EQ(bytes[index], 0);
    bytes[index] = 1;
    TypeParam target(L"kept");
    kcArchive in(bytes, kcArchive::eLoading);
    try {
      in || target;
      ADD_FAILURE() << "no throw";
    } catch (const kcArchive::UnknownVersion& e) {
      EXPECT_STREQ(e.file(), name);
      EXPECT_EQ(e.line(), 0);
    }
    EXPECT_EQ(target.message(false), L"kept");
  }
}

TEST(BlobErrors, registry_abstractRootsAreNotRegistered) {
  EXPECT_FALSE(kc_Instantiator::isRegistered("kcBlobDefs::Errors"));
  EXPECT_FALSE(kc_Instantiator::isRegistered("kc_BlobInternalDefs::Errors"));
}

TEST(BlobErrors, archive_truncatedAtEveryByte_throwsWithoutLeak) {
  kcBlobDefs::BadParams original(Msg::kTool[Msg::eMapMeaningless]);
  std::vector<unsigned char> bytes;
  {
    kcArchive out(bytes, kcArchive::eStoring);
    kcPersistent* unused = nullptr;
    kcPersistent::serializePointer(out, &original, unused, true);
  }
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    kcArchive in(bytes.data(), size);
    std::unique_ptr<kcException> loaded;
    EXPECT_THROW(kc_Persist::ownedPointer(in, loaded), kcException) << size;
    EXPECT_EQ(loaded, nullptr);
  }
}

// ---- The internal error

TEST(BlobInternalErrors, suicideAndRethrow_caughtAsClassRootAndBase) {
  EXPECT_THROW((new Mismatched)->suicideAndRethrow(), Mismatched);
  try {
    (new Mismatched)->suicideAndRethrow();
  } catch (const kc_BlobInternalDefs::Errors& e) {
    EXPECT_EQ(typeid(e), typeid(Mismatched));
  }
  EXPECT_THROW((new Mismatched)->suicideAndRethrow(), kcException);
}

TEST(BlobInternalErrors, archive_roundTripThroughRegistry_sameClass) {
  Mismatched original;
  std::unique_ptr<kcException> loaded = roundTripThroughRegistry(original);
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(typeid(*loaded), typeid(Mismatched));
  EXPECT_STREQ(kc_Instantiator::nameOf(*loaded),
               "kc_ConnectivityAugmentedRLE::MismatchedImageSizes");
}

TEST(BlobInternalErrors, archive_badVersions_throwUnknownVersionNamingLevel) {
  Mismatched original;
  const std::vector<unsigned char> good = storeInPlace(original);
  const std::pair<int, const char*> cases[] = {
      {0, "kc_ConnectivityAugmentedRLE::MismatchedImageSizes"},
      {1, "kc_BlobInternalDefs::Errors"}};
  for (const auto& [index, name] : cases) {
    std::vector<unsigned char> bytes = good;
    bytes[index] = 7;
    kcArchive in(bytes, kcArchive::eLoading);
    Mismatched target;
    try {
      in || target;
      FAIL() << "no throw";
    } catch (const kcArchive::UnknownVersion& e) {
      EXPECT_STREQ(e.file(), name);
      EXPECT_EQ(e.line(), 0);
    }
  }
}

}  // namespace
