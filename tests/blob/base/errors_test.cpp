// Tests of the library's error classes: per class its number, rethrow, archive and registry; and
// the refusals whose message no other suite reads (the other entries are checked where thrown).
#include <blob/blob.h>
#include <blob/blobdefs.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>
#include <foundation/archive.h>
#include <foundation/pelbuffer.h>
#include <foundation/persist.h>
#include <foundation/rlebuffer.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "connect/connect_augmented.h"
#include "base/messages.h"
#include "platform/foundation/archive_bytes.h"

namespace {

using Desc = kcBlobSceneDescription;
using Msg = kc_BlobMessages;

// expectThrown<E>(call, text): call throws E carrying text.
template <class E, class Call>
void expectThrown(Call call, const wchar_t* text) {
  try {
    call();
    ADD_FAILURE() << "no throw";
  } catch (const E& e) {
    EXPECT_EQ(e.message(false), text);
  }
}

TEST(BlobMessages, unboundRunLengthImageAndBadMeasureNumber_refusedWithTheirEntries) {
  kcBlobResults results;
  expectThrown<kcBlobDefs::BadParams>([&] { kfBlobAnalysis(kcRLEBuffer(), kcBlobParams(), results); },
                                      Msg::kTool[Msg::eImageUnbound]);
  kcPelBuffer<unsigned char> pels(2, 1);
  pels.pointToRow(0)[0] = pels.pointToRow(0)[1] = 1;
  kcRLEBuffer image;
  image.encode(pels);
  Desc scene;
  scene.connectComponentsGreyScale(image, 1, false, Desc::eNone, 0);
  const kcBlob& blob = *scene.getBlob(1);
  expectThrown<kcBlob::BadMeasure>([&] { blob.measure(static_cast<kcBlob::Measure>(43)); },
                                   Msg::kBlob[Msg::eBadMeasure]);
}

// Per concrete class: its number, registered name, root class and root's archive name. One
// named struct per class, so that the test names say which class a case ran on.
#define KC_ERROR_CASE(Case, E, Root, number, name)      \
  struct Case {                                          \
    using Error = E;                                     \
    using RootError = Root;                              \
    static constexpr long kErrorNumber = number;         \
    static constexpr const char* kName = name;           \
    static constexpr const char* kRootName = #Root;      \
  };
KC_ERROR_CASE(BadParams, kcBlobDefs::BadParams, kcBlobDefs::Errors, 0x10001a04L, "kcBlobDefs::BadParams")
KC_ERROR_CASE(BadMeasure, kcBlob::BadMeasure, kcBlobDefs::Errors, 0x10001a03L, "kcBlob::BadMeasure")
KC_ERROR_CASE(BadId, Desc::BadId, kcBlobDefs::Errors, 0x10001a02L, "kcBlobSceneDescription::BadId")
KC_ERROR_CASE(Degenerate, Desc::Degenerate, kcBlobDefs::Errors, 0x10001a00L, "kcBlobSceneDescription::Degenerate")
KC_ERROR_CASE(DuplicateFilter, Desc::DuplicateFilter, kcBlobDefs::Errors, 0x10001a01L,
              "kcBlobSceneDescription::DuplicateFilter")
KC_ERROR_CASE(MismatchedImageSizes, kc_ConnectivityAugmentedRLE::MismatchedImageSizes, kc_BlobInternalDefs::Errors,
              0x10001a80L, "kc_ConnectivityAugmentedRLE::MismatchedImageSizes")
#undef KC_ERROR_CASE

// make<E>(): an instance carrying a message where the class takes one.
template <class E>
E* make() {
  if constexpr (std::is_constructible_v<E, const wchar_t*>) return new E(Msg::kSceneDesc[Msg::eDuplicateFilter]);
  else return new E;
}

template <class C>
class BlobError : public ::testing::Test {};
using Cases = ::testing::Types<BadParams, BadMeasure, BadId, Degenerate, DuplicateFilter, MismatchedImageSizes>;
TYPED_TEST_SUITE(BlobError, Cases);

// The most derived class comes back (so a handler for E or its root catches it).
TYPED_TEST(BlobError, suicideAndRethrow_throwsTheClassItself_objectDeleted) {
  using E = typename TypeParam::Error;
  static_assert(std::is_base_of_v<typename TypeParam::RootError, E>);
  const std::wstring text = std::unique_ptr<E>(make<E>())->message(false);
  try {
    make<E>()->suicideAndRethrow();  // the sanitizer build reports the object if it survives
    ADD_FAILURE() << "no throw";
  } catch (const kcException& e) {
    EXPECT_EQ(typeid(e), typeid(E));
    EXPECT_EQ(e.errorNumber(), TypeParam::kErrorNumber);
    EXPECT_EQ(e.message(false), text);
  }
}

TYPED_TEST(BlobError, archive_roundTripThroughRegistry_sameClassAndMessage) {
  using E = typename TypeParam::Error;
  std::unique_ptr<kcException> original(make<E>()), loaded;
  std::vector<unsigned char> bytes;
  {
    kcArchive out(bytes, kcArchive::eStoring);
    kc_Persist::ownedPointer(out, original);
  }
  kcArchive in(bytes, kcArchive::eLoading);
  kc_Persist::ownedPointer(in, loaded);
  ASSERT_NE(loaded, nullptr);
  const kcException& object = *loaded;
  EXPECT_EQ(typeid(object), typeid(E));
  EXPECT_STREQ(kc_Instantiator::nameOf(*loaded), TypeParam::kName);
  EXPECT_EQ(loaded->message(false), original->message(false));
}

TYPED_TEST(BlobError, archive_versionOneAtEitherLevel_refusedNamingLevel_objectUnchanged) {
  using E = typename TypeParam::Error;
  const std::vector<unsigned char> good = archive_bytes::stored(*std::unique_ptr<E>(make<E>()));
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
