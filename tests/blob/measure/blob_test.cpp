// Tests of the blob: deep copies and assignment, re-initialisation, raw and shown tree navigation,
// checked lookups of stored links, and the invariant check.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <gtest/gtest.h>

#include <memory>

#include "scene/blobdesc_fixture.h"

namespace {

using Desc = kcBlobSceneDescription;
using scene_fixture::fill;
using scene_fixture::record;

// A blob with cached values of each kind, links and boundary data.
std::unique_ptr<kcBlob> cachedBlob() {
  auto b = std::make_unique<kcBlob>();
  kc_SceneBuilder::id(*b) = 4;
  kc_BlobRecord& r = record(*b);
  r.area = 12.5;
  r.areaValid = true;
  r.perimeterStamp = 3;
  r.interiorValid = true;
  r.nextSibling = 2;
  r.boundary.create(b.get()).perimeter = 42;
  return b;
}

// ---- copies, assignment, re-initialisation ----

TEST(Blob_copy, copiesEveryCache_withItsOwnBoundaryData) {
  auto src = cachedBlob();
  const kcBlob copy(*src);
  const kc_BlobRecord& r = record(copy);
  ASSERT_TRUE(r.boundary);
  EXPECT_TRUE(r.owner == &copy && r.boundary->owner == &copy);
  src.reset();  // the copy's boundary data is its own
  EXPECT_EQ(r.boundary->perimeter, 42);
  EXPECT_TRUE(r.perimeterStamp == 3 && r.areaValid && r.area == 12.5 && r.interiorValid);
  EXPECT_TRUE(r.nextSibling == 2 && copy.id() == 4);
}

TEST(Blob_assign, boundaryCopiedOrDeleted_ownerIsTarget) {
  auto src = cachedBlob();
  kcBlob target;
  target = *src;
  EXPECT_NE(record(target).boundary.get(), record(*src).boundary.get());
  target = static_cast<const kcBlob&>(target);
  EXPECT_EQ(record(target).boundary->owner, &target);

  const std::uint64_t notices = target.mutationCount();
  target = kcBlob();
  EXPECT_GT(target.mutationCount(), notices);
  EXPECT_FALSE(record(target).boundary || record(target).interiorValid);  // the new region's state
  EXPECT_EQ(record(target).owner, &target);
}

TEST(Blob_reInit, recordBackToInitial_boundaryKeptButEmptied) {
  auto b = cachedBlob();
  const kc_BlobBoundaryData* boundary = record(*b).boundary.get();
  static_cast<kcPersistent&>(*b).reInit();
  const kc_BlobRecord& r = record(*b);
  EXPECT_TRUE(r.boundary.get() == boundary && r.boundary->perimeter == 0 && r.owner == b.get());
  EXPECT_FALSE(r.areaValid || r.interiorValid);
  EXPECT_TRUE(r.perimeterStamp == kNeverComputed && r.nextSibling == 0 && r.pelCount == -1);
  EXPECT_EQ(b->id(), 4);
}

// ---- navigation ----

// 1 { 2, 3 { 5 }, 4 }, 6; the top level listed as 6, 1.
void buildTree(Desc& s) { fill(s, {0, 1, 1, 1, 3, 0}, {6, 1}); }

TEST(BlobTree_raw, linksReadAsStored_validIdIsOneToNumBlobs) {
  Desc s;
  buildTree(s);
  const kcBlob* b1 = s.getBlob(1);
  EXPECT_EQ(b1->parent(), nullptr);
  EXPECT_EQ(b1->prevSibling(false), s.getBlob(6));
  EXPECT_EQ(b1->nextSibling(false), nullptr);
  EXPECT_EQ(b1->lastChild(false), s.getBlob(4));
  EXPECT_EQ(b1->numChildren(false), 3);
  EXPECT_EQ(s.getBlob(5)->parent(), s.getBlob(3));
  EXPECT_TRUE(s.getBlob(5)->lastChild(false) == nullptr && s.getBlob(5)->numChildren(false) == 0);
  for (long id : {0L, 7L, -1L}) EXPECT_FALSE(kc_SceneBuilder::validId(*b1, id));
  EXPECT_TRUE(kc_SceneBuilder::validId(*b1, 6));
}

TEST(BlobTree_raw, damagedOrStaleLinks_throwInsteadOfReadingOrLooping) {
  Desc s;
  buildTree(s);
  record(*s.getBlob(5)).parent = 7;
  EXPECT_THROW(s.getBlob(5)->parent(), Desc::BadId);
  record(*s.getBlob(4)).nextSibling = 2;  // 2 -> 3 -> 4 -> 2 ...
  EXPECT_THROW(s.getBlob(1)->lastChild(false), kcInvariantFailure);
  EXPECT_THROW(s.getBlob(1)->firstChild(true), kcInvariantFailure);

  buildTree(s);
  const kcBlob kept(*s.getBlob(3));  // a copy kept across a new analysis reads the new blobs
  fill(s, {0, 0});
  EXPECT_EQ(kept.parent(), s.getBlob(1));
  EXPECT_THROW(kept.firstChild(false), Desc::BadId);  // blob 5 is gone
}

TEST(BlobTree_shown, viewFollowsLinks_andIsRebuiltAfterViewCounterMoves) {
  Desc s;
  buildTree(s);
  const kcBlob* b1 = s.getBlob(1);
  EXPECT_EQ(s.firstTop(true), s.getBlob(6));
  EXPECT_EQ(s.getBlob(6)->nextSibling(true), b1);
  EXPECT_EQ(b1->lastChild(true), s.getBlob(4));
  EXPECT_EQ(s.getBlob(4)->prevSibling(true), s.getBlob(3));
  record(*b1).firstChild = 3;  // raw list now 3, 4
  EXPECT_EQ(b1->numChildren(true), 3);  // view still current
  s.disableSort();
  EXPECT_EQ(b1->firstChild(true), s.getBlob(3));
  EXPECT_TRUE(s.getBlob(3)->prevSibling(true) == nullptr && b1->numChildren(true) == 2);
}

// ---- invariant ----

TEST(Blob_repInvariant, soundBlobsPass_eachBrokenInvariantThrows) {
  Desc s;
  buildTree(s);
  for (const kcBlob* b : s.allBlobs(false)) EXPECT_NO_THROW(b->repInvariant());
  EXPECT_THROW(kcBlob().repInvariant(), kcInvariantFailure);

  kcBlob& b2 = const_cast<kcBlob&>(*s.getBlob(2));
  record(b2).firstChild = 9;
  EXPECT_THROW(b2.repInvariant(), kcInvariantFailure);
  record(b2).firstChild = 0;
  kc_SceneBuilder::region(b2) = scene_fixture::solidRegion(1, 0, 2, 1);
  EXPECT_THROW(b2.repInvariant(), kcInvariantFailure);  // region wider than its rectangle
  kc_SceneBuilder::region(b2) = kcRLEBuffer();
  kc_SceneBuilder::imageRect(b2) = kcPelRect();
  EXPECT_THROW(b2.repInvariant(), kcInvariantFailure);  // unbound region
}

}  // namespace
