// Tests of the blob's archive form: blobs alone and in scenes, the oldest blob form, version
// refusals, and caches, links or regions that do not fit.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>
#include <foundation/archive.h>
#include <foundation/persist.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "archive_fixture.h"

namespace {

using namespace archive_fixture;
using Scene = kcBlobSceneDescription;

kc_BlobParts parts(const kcBlob& b) { return kc_SceneBuilder::parts(b); }

// BlobArchive: the ring of a grey-scale scene, and a blob to load into.
class BlobArchive : public ::testing::Test {
 protected:
  Scene scene = analysed(Scene::eGreyScale);
  const kcBlob& ring = *scene.getBlob(kRing);
  kcBlob blobIn;
};

// ---- round trips

// (An untraced blob's form, without a chain: the corpus test.)
TEST_F(BlobArchive, copiedBlob_keepsCachesAndItsScene) {
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
}

// The stored form of a blob never filled (its round trip: the corpus test), with an unbound region
// placed away from the origin, or with parameters in place of its null scene pointer.
TEST_F(BlobArchive, blobNeverFilled_regionAwayFromOriginOrSceneOfAnotherClassRefused) {
  kcBlob blob;
  const Bytes bytes = stored(blob);
  // Found by fuzzing: such a region made a blob whose stored form did not load again.
  constexpr std::size_t kRegionX = 1 + 1 + 1 + 4 + 1 + 17 + 3;  // versions, scene, id, label, rect, region head
  Bytes moved = bytes;
  moved[kRegionX] = 5;
  EXPECT_THROW(load(moved, blobIn), kcArchive::Damaged);

  // The null scene pointer follows the two version bytes.
  Bytes foreign = bytes;
  const Bytes pointer = paramsObject();
  foreign.erase(foreign.begin() + 2);
  foreign.insert(foreign.begin() + 2, pointer.begin(), pointer.end());
  EXPECT_THROW(load(foreign, blobIn), kcArchive::Damaged);  // the parameters are deleted (no leak)
  EXPECT_EQ(blobIn.scene(), nullptr);
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
  Scene sceneIn;
  kcArchive in(bytes.data(), bytes.size());
  in || sceneIn || blobIn;
  EXPECT_EQ(in.remaining(), 0u);
  EXPECT_TRUE(blobIn.scene() == &sceneIn && blobIn.id() == 3 && blobIn.area() == copy.area());
}

// ---- the oldest form

// The seed holds the ring in the oldest blob form, without a scene. Were a blob's legacy object
// freed at once, the next could take its address and be taken for an object already loaded,
// leaving its bytes unread; and a later scene reference to it (object 3, after the first blob, its
// region and the region's transform) must name a live object, though not a scene.
TEST_F(BlobArchive, version0_legacyObjectsLiveUntilTheLoadEnds) {
  const Bytes old = seed("blob-v0.bin");
  Bytes referring = old;
  const Bytes reference{2, 3, 0, 0, 0};
  referring.erase(referring.begin() + 2);  // the null scene pointer
  referring.insert(referring.begin() + 2, reference.begin(), reference.end());
  Bytes bytes = old;
  bytes.insert(bytes.end(), old.begin(), old.end());
  bytes.insert(bytes.end(), referring.begin(), referring.end());
  kcBlob blobs[3];
  kcArchive in(bytes.data(), bytes.size());
  for (kcBlob& b : blobs) in || b;
  EXPECT_EQ(in.remaining(), 0u);
  EXPECT_EQ(blobs[2].scene(), nullptr) << "not a scene";
  for (const kcBlob& b : blobs) EXPECT_EQ(b.imageBoundingBox(), ring.imageBoundingBox());
}

// ---- version refusals

// The record and the legacy object each refuse a newer version (the blob's own, leading its form:
// the corpus test): the record's byte is where the seeds of its first and current forms part, the
// legacy object's follows its class name.
TEST_F(BlobArchive, newerRecordOrLegacyVersion_refused) {
  const Bytes record0 = seed("blob-v1-record-v0.bin"), record3 = seed("blob-v1-record-v3.bin"), old = seed("blob-v0.bin");
  const auto recordAt = std::mismatch(record0.begin(), record0.end(), record3.begin()).second - record3.begin();
  const std::pair<Bytes, std::size_t> cases[] = {{record3, static_cast<std::size_t>(recordAt)},
                                                 {old, find(old, "kc_BlobData") + 11}};
  for (auto [bytes, at] : cases) {
    ++bytes[at];
    EXPECT_THROW(load(bytes, blobIn), kcArchive::UnknownVersion) << at;
    EXPECT_TRUE(blobIn.region().isDegenerate() && blobIn.id() == 0);
  }
}

// ---- caches and links that do not fit

// A perimeter measured along a chain that is not the outline goes with the chain, though current.
TEST_F(BlobArchive, cachesThatDoNotFitTheRegion_droppedAndComputedAgain) {
  std::vector<keBlobDirection> outline;
  const kcPair<long> start = ring.boundaryChainCode(outline);
  std::vector<keBlobDirection> notClosed = outline, outOfRange = outline;
  std::swap(notClosed[0], notClosed[notClosed.size() - 2]);
  outOfRange[2] = static_cast<keBlobDirection>(9);
  Fingerprint want;
  answers(ring, want);
  using Change = std::function<void(kc_BlobMeasures&, kc_BlobEntry&)>;
  auto chain = [](std::vector<keBlobDirection> code, kcPair<long> from) -> Change {
    return [=](kc_BlobMeasures& m, kc_BlobEntry&) {
      m.boundary.chainCode = code, m.boundary.chainStart = from, m.boundary.perimeter = 1000.0;
    };
  };
  auto pels = [](std::int32_t count) -> Change { return [=](kc_BlobMeasures&, kc_BlobEntry& e) { e.pelCount = count; }; };
  const std::pair<const char*, Change> cases[] = {
      {"chain steps swapped", chain(notClosed, start)},
      {"chain direction 9", chain(outOfRange, start)},
      {"chain start moved", chain(outline, kcPair<long>(start.x() + 1, start.y()))},
      {"projection of three rows", [](kc_BlobMeasures& m, kc_BlobEntry&) { m.boundary.rowProjection = {1, 2, 3}; }},
      {"pel count -7", pels(-7)},
      {"pel count 0", pels(0)},
      {"more pels than the region holds", pels(255 * 30 + 1)},  // the ring's region: 6 x 5
  };
  for (const auto& [what, change] : cases) {
    SCOPED_TRACE(what);
    kcBlob copy(ring);
    const kc_BlobParts p = parts(copy);
    change(p.measures(), p.entry);
    p.record().pelCount = p.entry.pelCount;  // stored where the entry holds none
    EXPECT_EQ(load(stored(copy), blobIn), 0u);
    EXPECT_NE(parts(blobIn).measures().boundary.rowProjection.size(), 3u);
    Fingerprint got;
    answers(blobIn, got);
    EXPECT_TRUE(got == want);
  }
}

TEST_F(BlobArchive, idOrLinkNamingNoBlobOfTheScene_refusedAsDamaged) {
  const auto beyond = static_cast<BlobId>(scene.numBlobs(false) + 1);
  const std::pair<const char*, std::function<void(kcBlob&)>> cases[] = {
      {"negative id", [](kcBlob& b) { kc_SceneBuilder::id(b) = -1; }},
      {"id beyond the blobs", [&](kcBlob& b) { kc_SceneBuilder::id(b) = static_cast<std::int32_t>(beyond); }},
      {"parent beyond the blobs", [&](kcBlob& b) { parts(b).entry.parent = beyond; }},
      {"child beyond the blobs", [&](kcBlob& b) { parts(b).entry.firstChild = beyond; }},
      {"shown neighbour beyond the blobs", [&](kcBlob& b) { parts(b).shown().prevShown = beyond; }},
      {"no scene but a sibling", [](kcBlob& b) { b = kcBlob(), parts(b).entry.nextSibling = 1; }},
  };
  for (const auto& [what, change] : cases) {
    kcBlob copy(ring);
    change(copy);
    blobIn = kcBlob();
    EXPECT_THROW(load(stored(copy), blobIn), kcArchive::Damaged) << what;
    EXPECT_EQ(blobIn.scene(), nullptr) << what;
  }
}

}  // namespace
