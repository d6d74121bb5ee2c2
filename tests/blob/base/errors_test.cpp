// The library's error classes: per class its number, rethrow, archive and registry; and the
// refusals whose message no other suite reads (the other entries are checked where thrown).
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>
#include <foundation/archive.h>
#include <foundation/persist.h>
#include <gtest/gtest.h>

#include <memory>
#include <type_traits>

#include "base/messages.h"
#include "connect/connect_augmented.h"
#include "connect/connect_fixture.h"
#include "platform/foundation/archive_bytes.h"

namespace {

using Desc = kcBlobSceneDescription;
using Msg = kc_BlobMessages;

TEST(BlobMessages, unboundRunLengthImageAndBadMeasureNumber_refusedWithTheirEntries) {
  kcBlobResults results;
  try {
    kfBlobAnalysis(kcRLEBuffer(), kcBlobParams(), results), ADD_FAILURE();
  } catch (const kcBlobDefs::BadParams& e) {
    EXPECT_EQ(e.message(false), Msg::kTool[Msg::eImageUnbound]);
  }
  Desc scene;
  scene.connectComponentsGreyScale(connecttest::encode(connecttest::draw({"##"})), 1, false, Desc::eNone, 0);
  try {
    scene.getBlob(1)->measure(static_cast<kcBlob::Measure>(43)), ADD_FAILURE();
  } catch (const kcBlob::BadMeasure& e) {
    EXPECT_EQ(e.message(false), Msg::kBlob[Msg::eBadMeasure]);
  }
}

// check<E>(number, name, root): E rethrows as itself, comes back from an archive through the
// registry, and refuses version 1 of its own level and of its root's, naming the level.
template <class E>
void check(long number, const char* name, const char* root) {
  SCOPED_TRACE(name);
  const auto make = [] {
    if constexpr (std::is_constructible_v<E, const wchar_t*>) return new E(Msg::kSceneDesc[Msg::eDuplicateFilter]);
    else return new E;
  };
  std::unique_ptr<kcException> original(make());
  try {
    make()->suicideAndRethrow();  // the sanitizer build reports the object if it survives
    ADD_FAILURE() << "no throw";
  } catch (const kcException& e) {
    EXPECT_EQ(typeid(e), typeid(E));
    EXPECT_EQ(e.errorNumber(), number);
    EXPECT_EQ(e.message(false), original->message(false));
  }
  std::vector<unsigned char> bytes;
  {
    kcArchive out(bytes, kcArchive::eStoring);
    kc_Persist::ownedPointer(out, original);
  }
  std::unique_ptr<kcException> loaded;
  kcArchive in(bytes, kcArchive::eLoading);
  kc_Persist::ownedPointer(in, loaded);
  ASSERT_NE(loaded, nullptr);
  EXPECT_STREQ(kc_Instantiator::nameOf(*loaded), name);
  EXPECT_EQ(loaded->message(false), original->message(false));
  const std::vector<unsigned char> good = archive_bytes::stored(*static_cast<E*>(original.get()));
  for (std::size_t level : {0u, 1u}) {  // the class's own version byte, then its root's
    std::vector<unsigned char> bad = good;
    bad[level] = 1;
    E target;
    kcArchive badIn(bad, kcArchive::eLoading);
    try {
      badIn || target;
      ADD_FAILURE() << "no throw";
    } catch (const kcArchive::UnknownVersion& e) {
      EXPECT_STREQ(e.file(), level == 0 ? name : root);
    }
    EXPECT_EQ(target.message(false), L"");
  }
}

TEST(BlobError, everyClass_numberRethrowArchiveAndVersions) {
  const char* root = "kcBlobDefs::Errors";
  check<kcBlobDefs::BadParams>(0x10001a04L, "kcBlobDefs::BadParams", root);
  check<kcBlob::BadMeasure>(0x10001a03L, "kcBlob::BadMeasure", root);
  check<Desc::BadId>(0x10001a02L, "kcBlobSceneDescription::BadId", root);
  check<Desc::Degenerate>(0x10001a00L, "kcBlobSceneDescription::Degenerate", root);
  check<Desc::DuplicateFilter>(0x10001a01L, "kcBlobSceneDescription::DuplicateFilter", root);
  check<kc_ConnectivityAugmentedRLE::MismatchedImageSizes>(
      0x10001a80L, "kc_ConnectivityAugmentedRLE::MismatchedImageSizes", "kc_BlobInternalDefs::Errors");
}

}  // namespace
