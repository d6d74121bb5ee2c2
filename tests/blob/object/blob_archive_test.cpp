// Tests of the blob's archive form: blobs alone and in scenes, the older blob and record forms
// written value by value, version refusals, and caches or regions that do not fit.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>
#include <foundation/archive.h>
#include <foundation/persist.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "archive_fixture.h"

namespace {

using namespace archive_fixture;
using namespace archive_forms;
using Scene = kcBlobSceneDescription;

kc_BlobParts parts(const kcBlob& b) { return kc_SceneBuilder::parts(b); }

// BlobArchive: the ring of a grey-scale scene, and its forms loaded after that scene.
class BlobArchive : public ::testing::Test {
 protected:
  Scene scene = analysed(Scene::eGreyScale), sceneIn;
  const kcBlob& ring = *scene.getBlob(kRing);
  kcBlob blobIn;

  // loadAfterScene(bytes): a scene then a blob, from one archive, into sceneIn and blobIn afresh.
  void loadAfterScene(const Bytes& bytes) {
    blobIn = kcBlob();
    sceneIn = Scene();
    kcArchive in(bytes.data(), bytes.size());
    in || sceneIn || blobIn;
    EXPECT_EQ(in.remaining(), 0u);
  }
  void loadForm(const BlobForm& form) { loadAfterScene(form.bytes(scene, ring)); }
};

// ---- round trips

TEST_F(BlobArchive, copiedBlob_keepsCachesAndItsScene_untracedWritesNoChain) {
  kcBlob untraced(ring);
  const Bytes untracedBytes = stored(untraced);
  withSettings(scene);
  Fingerprint before;
  answers(ring, before);
  kcBlob copy(ring);
  Bytes bytes = stored(copy);
  kcBlob loaded;
  EXPECT_EQ(load(bytes, loaded), 0u);
  // The scene was archived with the blob and lives with it.
  ASSERT_TRUE(loaded.scene() != nullptr && loaded.scene() != &scene);
  const std::uint64_t notices = loaded.mutationCount();
  EXPECT_TRUE(loaded.area() == ring.area() && loaded.perimeter() == ring.perimeter());
  EXPECT_EQ(loaded.mutationCount(), notices) << "a measure was computed again";
  Fingerprint after;
  answers(loaded, after);
  EXPECT_TRUE(after == before);
  kcBlob second(loaded);
  loaded = kcBlob();
  EXPECT_EQ(second.area(), ring.area()) << "a copy keeps the loaded scene alive";

  load(untracedBytes, loaded);
  EXPECT_TRUE(parts(loaded).measures().boundary.chainCode.empty() && parts(loaded).measures().boundary.rowProjection.empty());
  EXPECT_EQ(loaded.numSteps(), ring.numSteps());
}

TEST_F(BlobArchive, blobNeverFilled_roundTrips_regionAwayFromOriginOrSceneOfAnotherClassRefused) {
  kcBlob blob;
  const Bytes bytes = stored(blob);
  kcBlob loaded;
  EXPECT_EQ(load(bytes, loaded), 0u);
  EXPECT_TRUE(loaded.scene() == nullptr && loaded.region().isDegenerate());
  EXPECT_THROW(loaded.area(), Scene::BadId);

  // Found by fuzzing: an unbound region placed away from the origin made a blob whose stored form
  // did not load again. It is refused.
  constexpr std::size_t kRegionX = 1 + 1 + 1 + 4 + 1 + 17 + 3;  // versions, scene, id, label, rect, region head
  Bytes moved = bytes;
  moved[kRegionX] = 5;
  EXPECT_THROW(load(moved, loaded), kcArchive::Damaged);

  // The null scene pointer (after the two version bytes) replaced by new parameters.
  Bytes foreign = bytes;
  const Bytes pointer = paramsObject();
  foreign.erase(foreign.begin() + 2);
  foreign.insert(foreign.begin() + 2, pointer.begin(), pointer.end());
  kcBlob target(blob);
  EXPECT_THROW(load(foreign, target), kcArchive::Damaged);  // the parameters are deleted (no leak)
  EXPECT_EQ(target.scene(), nullptr);
}

TEST_F(BlobArchive, blobAfterItsScene_namesTheLoadedScene_blobOfASceneAloneRefused) {
  Scene labelled = analysed(Scene::eLabelled);
  kcBlob copy(*labelled.getBlob(3));
  Bytes bytes;
  {
    kcArchive out(bytes, kcArchive::eStoring);
    out || labelled || copy;
  }
  Bytes alone;
  kcArchive out(alone, kcArchive::eStoring);
  EXPECT_THROW(out || const_cast<kcBlob&>(ring), kcBadArgument);
  EXPECT_TRUE(alone.empty());  // refused before anything is written
  loadAfterScene(bytes);
  EXPECT_TRUE(blobIn.scene() == &sceneIn && blobIn.id() == 3 && blobIn.area() == copy.area());
}

// ---- older forms

TEST_F(BlobArchive, version0Twice_discardsEachLegacyObjectAfterTheLoadAndRecomputes) {
  // Were the first legacy object freed at once, the second could take its address and be taken
  // for an object already loaded, leaving its bytes unread.
  BlobForm form;
  form.version = 0;
  const Bytes bytes = form.bytes(scene, ring, 2);
  kcBlob first, second;
  kcArchive in(bytes.data(), bytes.size());
  in || sceneIn || first || second;
  EXPECT_TRUE(in.remaining() == 0 && first.scene() == &sceneIn && first.parent() == nullptr);
  EXPECT_TRUE(first.area() == ring.area() && first.perimeter() == ring.perimeter() && second.area() == ring.area());
}

TEST_F(BlobArchive, version0_referenceToTheLegacyObjectLaterStillNamesALiveObject) {
  // Loaded objects: the first blob (0), its region (1) with its transform (2), the legacy
  // object (3); the second blob names object 3 as its scene.
  BlobForm first, second;
  first.version = 0;
  first.sceneTag = 0;
  second.sceneIndex = 3;
  Bytes bytes;
  {
    kcArchive out(bytes, kcArchive::eStoring);
    std::vector<kcRLEBuffer> regions = ownRegions(ring, 2);
    first.write(out, ring, regions[0]);
    second.write(out, ring, regions[1]);
  }
  kcBlob blobs[2];
  kcArchive in(bytes.data(), bytes.size());
  in || blobs[0] || blobs[1];
  EXPECT_EQ(blobs[1].scene(), nullptr) << "not a scene";
  EXPECT_EQ(blobs[1].imageBoundingBox(), ring.imageBoundingBox());
}

// ---- version refusals

// The blob, its record, the legacy object and the chain's start point each refuse a newer version.
TEST_F(BlobArchive, newerVersions_refused) {
  BlobForm blob2, record4, legacy1, pair1;
  blob2.version = 2;
  record4.record.version = 4;
  legacy1.version = 0;
  legacy1.legacyVersion = 1;
  pair1.record.pairVersion = 1;
  for (const BlobForm& form : {blob2, record4, legacy1, pair1}) {
    blobIn = kcBlob();
    const Bytes bytes = form.bytes(scene, ring);
    kcArchive in(bytes.data(), bytes.size());
    in || sceneIn;
    EXPECT_THROW(in || blobIn, kcArchive::UnknownVersion);
    EXPECT_TRUE(blobIn.scene() == nullptr && blobIn.id() == 0);
  }
}

// ---- caches and regions that do not fit

TEST_F(BlobArchive, cachesThatDoNotFitTheRegion_droppedAndComputedAgain) {
  std::vector<keBlobDirection> outline;
  const kcPair<long> start = ring.boundaryChainCode(outline);
  std::vector<keBlobDirection> notClosed = outline, outOfRange = outline;
  std::swap(notClosed[0], notClosed[notClosed.size() - 2]);
  outOfRange[2] = static_cast<keBlobDirection>(9);
  // A perimeter measured along a chain that is not the outline goes with the chain, though current.
  const long stamp = static_cast<long>(kc_SceneBuilder::data(scene).matrixCounter);
  auto chain = [&](std::vector<keBlobDirection> code, kcPair<long> from) {
    return [=](Record& r) {
      r.chain = code, r.chainStart = from, r.steps[0] = 12, r.steps[1] = 10, r.steps[2] = 4;
      r.perimeter = 1000.0, r.perimeterStamp = stamp;
    };
  };
  auto pels = [](long count) { return [=](Record& r) { r.pelCount = count; }; };
  const std::pair<const char*, std::function<void(Record&)>> cases[] = {
      {"chain steps swapped", chain(notClosed, start)},
      {"chain direction 9", chain(outOfRange, start)},
      {"chain start moved", chain(outline, kcPair<long>(start.x() + 1, start.y()))},
      {"projection of three rows", [](Record& r) { r.rows = {1, 2, 3}; }},  // the ring has five
      {"pel count -7", pels(-7)},
      {"pel count 0", pels(0)},
      {"more pels than the region holds", pels(255L * 30 + 1)},
  };
  for (const auto& [what, change] : cases) {
    SCOPED_TRACE(what);
    BlobForm form;
    change(form.record);
    loadForm(form);
    const kc_BlobParts p = parts(blobIn);
    EXPECT_TRUE(p.measures().boundary.chainCode.empty() && p.measures().boundary.rowProjection.empty());
    EXPECT_EQ(p.entry.pelCount, -1);
    std::vector<keBlobDirection> traced;
    EXPECT_TRUE(blobIn.boundaryChainCode(traced) == start && traced == outline);
    EXPECT_TRUE(blobIn.perimeter() == ring.perimeter() && blobIn.inertia() == ring.inertia() && blobIn.area() == ring.area());
  }
}

TEST_F(BlobArchive, idOrLinkNamingNoBlobOfTheScene_refusedAsDamaged) {
  BlobForm negativeId, idBeyond, negativeParent, childBeyond, negativeShown, noSceneButLinks;
  negativeId.id = -1;
  idBeyond.id = scene.numBlobs(false) + 1;
  negativeParent.record.parent = -3;
  childBeyond.record.children = {scene.numBlobs(false) + 1};
  negativeShown.record.prevShown = -1;
  noSceneButLinks.sceneTag = 0;
  noSceneButLinks.record.next = 1;
  for (const BlobForm& form : {negativeId, idBeyond, negativeParent, childBeyond, negativeShown, noSceneButLinks}) {
    EXPECT_THROW(loadForm(form), kcArchive::Damaged);
    EXPECT_EQ(blobIn.scene(), nullptr);
  }
}

}  // namespace
