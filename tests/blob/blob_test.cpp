// Tests of the blob: initial record, deep copies and assignment, re-initialisation, raw and shown
// tree navigation, id checks on stored links, and the invariant check.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "blobdesc_fixture.h"

namespace {

using Desc = kcBlobSceneDescription;
using scene_fixture::fill;
using scene_fixture::record;

kc_BlobRecord& rec(const Desc& s, long id) {
  return kc_SceneBuilder::record(const_cast<kcBlob&>(*s.getBlob(id)));
}

// A blob with every kind of cached value filled, and boundary data.
kcBlob cachedBlob() {
  kcBlob b;
  kc_BlobRecord& r = kc_SceneBuilder::record(b);
  kc_SceneBuilder::id(b) = 4;
  kc_SceneBuilder::label(b) = 7;
  r.area = 12.5;
  r.areaValid = true;
  r.perimeterStamp = 3;
  r.interior = true;
  r.interiorValid = true;
  r.nextSibling = 2;
  r.pelCount = 9;
  r.inertia = kcPair<double>{1, 2};
  kc_BlobBoundaryData& bd = r.boundary.create(&b);
  bd.perimeter = 42;
  bd.chainCode = {keBlobDirectionPosX, keBlobDirectionEnd};
  return b;
}

// ---- construction and copies ----

TEST(Blob_new, defaultBlob_hasInitialRecordAndNoRelatives) {
  const kcBlob b;
  EXPECT_EQ(b.scene(), nullptr);
  EXPECT_EQ(b.id(), 0);
  EXPECT_TRUE(b.region().isDegenerate());
  const kc_BlobRecord& r = record(b);
  EXPECT_EQ(r.owner, &b);
  EXPECT_EQ(r.pelCount, -1);
  EXPECT_EQ(r.perimeterStamp, kNeverComputed);
  EXPECT_EQ(r.transformStamp, kNeverComputed);
  EXPECT_EQ(r.shownStamp, 0u);
  EXPECT_FALSE(r.boundary);
  EXPECT_EQ(b.parent(), nullptr);
  EXPECT_EQ(b.firstChild(true), nullptr);
  EXPECT_EQ(b.nextSibling(true), nullptr);
  EXPECT_EQ(b.numChildren(true), 0);
}

TEST(Blob_copy, copiesEveryCache_withOwnBoundaryData) {
  auto src = std::make_unique<kcBlob>(cachedBlob());
  const kcBlob copy(*src);
  const kc_BlobRecord& r = record(copy);
  EXPECT_EQ(copy.id(), 4);
  EXPECT_EQ(copy.label(), 7);
  EXPECT_EQ(r.owner, &copy);
  ASSERT_TRUE(r.boundary);
  EXPECT_NE(r.boundary.get(), record(*src).boundary.get());
  EXPECT_EQ(r.boundary->owner, &copy);
  src.reset();  // the copy does not depend on the source
  EXPECT_EQ(r.boundary->perimeter, 42);
  EXPECT_EQ(r.boundary->chainCode.size(), 2u);
  EXPECT_EQ(r.perimeterStamp, 3u);
  EXPECT_TRUE(r.areaValid);
  EXPECT_EQ(r.area, 12.5);
  EXPECT_TRUE(r.interiorValid);
  EXPECT_EQ(r.nextSibling, 2u);
  EXPECT_EQ(r.inertia, (kcPair<double>{1, 2}));
}

TEST(Blob_assign, sourceWithoutBoundary_deletesTargetsBoundary) {
  kcBlob target = cachedBlob();
  const kcBlob plain;
  const std::uint64_t notices = target.mutationCount();
  target = plain;
  EXPECT_GT(target.mutationCount(), notices);
  EXPECT_FALSE(record(target).boundary);
  EXPECT_FALSE(record(target).interiorValid);  // answers for the new region
  EXPECT_EQ(record(target).owner, &target);
  EXPECT_EQ(target.id(), 0);
}

TEST(Blob_assign, sourceWithBoundary_givesTargetItsOwnCopy) {
  const kcBlob src = cachedBlob();
  kcBlob target;
  target = src;
  ASSERT_TRUE(record(target).boundary);
  EXPECT_NE(record(target).boundary.get(), record(src).boundary.get());
  EXPECT_EQ(record(target).boundary->owner, &target);
  EXPECT_EQ(record(target).boundary->perimeter, 42);
  kcBlob& alias = target;
  target = alias;  // self-assignment changes nothing
  EXPECT_EQ(record(target).boundary->perimeter, 42);
  EXPECT_EQ(record(target).owner, &target);
}

TEST(Blob_reInit, recordBackToInitial_boundaryKeptButEmptied) {
  kcBlob b = cachedBlob();
  const kc_BlobBoundaryData* boundary = record(b).boundary.get();
  static_cast<kcPersistent&>(b).reInit();
  const kc_BlobRecord& r = record(b);
  EXPECT_EQ(r.boundary.get(), boundary);
  EXPECT_TRUE(r.boundary->chainCode.empty());
  EXPECT_EQ(r.boundary->perimeter, 0);
  EXPECT_EQ(r.boundary->owner, &b);
  EXPECT_FALSE(r.areaValid);
  EXPECT_FALSE(r.interiorValid);
  EXPECT_EQ(r.perimeterStamp, kNeverComputed);
  EXPECT_EQ(r.nextSibling, 0u);
  EXPECT_EQ(r.pelCount, -1);
  EXPECT_EQ(r.owner, &b);
  EXPECT_EQ(b.id(), 4);  // the blob's own fields stay
}

// ---- raw navigation ----

// Tree used below: 1 { 2, 3 { 5 } , 4 }, 6; top level listed as 6, 1.
void buildTree(Desc& s) { fill(s, {0, 1, 1, 1, 3, 0}, {6, 1}); }

TEST(BlobTree_raw, linksReadAsStored) {
  Desc s;
  buildTree(s);
  const kcBlob* b1 = s.getBlob(1);
  EXPECT_EQ(b1->parent(), nullptr);
  EXPECT_EQ(b1->prevSibling(false), s.getBlob(6));
  EXPECT_EQ(b1->nextSibling(false), nullptr);
  EXPECT_EQ(b1->firstChild(false), s.getBlob(2));
  EXPECT_EQ(b1->lastChild(false), s.getBlob(4));
  EXPECT_EQ(b1->numChildren(false), 3);
  EXPECT_EQ(s.getBlob(3)->nextSibling(false), s.getBlob(4));
  EXPECT_EQ(s.getBlob(4)->nextSibling(false), nullptr);
  EXPECT_EQ(s.getBlob(5)->parent(), s.getBlob(3));
  EXPECT_EQ(s.getBlob(5)->firstChild(false), nullptr);
  EXPECT_EQ(s.getBlob(5)->lastChild(false), nullptr);
  EXPECT_EQ(s.getBlob(5)->numChildren(false), 0);
}

TEST(BlobTree_raw, validId_isOneToNumBlobs) {
  Desc s;
  buildTree(s);
  const kcBlob* b = s.getBlob(2);
  EXPECT_FALSE(kc_SceneBuilder::validId(*b, 0));
  EXPECT_TRUE(kc_SceneBuilder::validId(*b, 1));
  EXPECT_TRUE(kc_SceneBuilder::validId(*b, 6));
  EXPECT_FALSE(kc_SceneBuilder::validId(*b, 7));
  EXPECT_FALSE(kc_SceneBuilder::validId(*b, -1));
  EXPECT_FALSE(kc_SceneBuilder::validId(kcBlob(), 1));
}

TEST(BlobTree_raw, storedIdOutsideScene_throwsBadId) {
  Desc s;
  buildTree(s);
  rec(s, 5).parent = 7;
  rec(s, 2).nextSibling = 100000;
  EXPECT_THROW(s.getBlob(5)->parent(), Desc::BadId);
  EXPECT_THROW(s.getBlob(2)->nextSibling(false), Desc::BadId);
  EXPECT_THROW(s.getBlob(1)->lastChild(false), Desc::BadId);
}

TEST(BlobTree_raw, cyclicSiblingLinks_stopWithInvariantFailure) {
  Desc s;
  buildTree(s);
  rec(s, 4).nextSibling = 2;  // 2 -> 3 -> 4 -> 2 ...
  EXPECT_THROW(s.getBlob(1)->lastChild(false), kcInvariantFailure);
  EXPECT_THROW(s.getBlob(1)->firstChild(true), kcInvariantFailure);
}

TEST(BlobTree_raw, copiedBlobAfterNewAnalysis_neverReadsOutOfRange) {
  Desc s;
  buildTree(s);
  const kcBlob kept(*s.getBlob(3));
  fill(s, {0, 0});  // analysed again with fewer blobs
  EXPECT_EQ(kept.scene(), &s);
  EXPECT_EQ(kept.parent(), s.getBlob(1));
  EXPECT_THROW(kept.firstChild(false), Desc::BadId);  // blob 5 is gone
}

// ---- shown navigation ----

TEST(BlobTree_shown, plainScene_viewMatchesRawLinks) {
  Desc s;
  buildTree(s);
  const kcBlob* b1 = s.getBlob(1);
  EXPECT_EQ(b1->firstChild(true), s.getBlob(2));
  EXPECT_EQ(b1->lastChild(true), s.getBlob(4));
  EXPECT_EQ(b1->numChildren(true), 3);
  EXPECT_EQ(s.getBlob(2)->nextSibling(true), s.getBlob(3));
  EXPECT_EQ(s.getBlob(4)->prevSibling(true), s.getBlob(3));
  EXPECT_EQ(s.firstTop(true), s.getBlob(6));
  EXPECT_EQ(s.getBlob(6)->nextSibling(true), b1);
  EXPECT_EQ(b1->prevSibling(true), s.getBlob(6));
  EXPECT_EQ(record(*b1).shownStamp, scene_fixture::data(s).viewCounter);
}

TEST(BlobTree_shown, viewChange_rebuildsChildViewOnNextQuery) {
  Desc s;
  buildTree(s);
  const kcBlob* b1 = s.getBlob(1);
  EXPECT_EQ(b1->numChildren(true), 3);
  rec(s, 1).firstChild = 3;  // raw list now 3, 4
  rec(s, 1).numChildren = 2;
  EXPECT_EQ(b1->numChildren(true), 3);  // view still current
  s.disableSort();
  EXPECT_EQ(b1->numChildren(true), 2);
  EXPECT_EQ(b1->firstChild(true), s.getBlob(3));
  EXPECT_EQ(s.getBlob(3)->prevSibling(true), nullptr);
}

// ---- invariant ----

TEST(Blob_repInvariant, soundBlobPasses_eachBrokenInvariantThrows) {
  Desc s;
  buildTree(s);
  for (long id = 1; id <= 6; ++id) EXPECT_NO_THROW(s.getBlob(id)->repInvariant());
  EXPECT_THROW(kcBlob().repInvariant(), kcInvariantFailure);  // no scene

  kcBlob& b2 = const_cast<kcBlob&>(*s.getBlob(2));
  rec(s, 2).firstChild = 9;
  EXPECT_THROW(b2.repInvariant(), kcInvariantFailure);
  rec(s, 2).firstChild = 0;

  kc_SceneBuilder::region(b2) = scene_fixture::solidRegion(1, 0, 2, 1);
  EXPECT_THROW(b2.repInvariant(), kcInvariantFailure);  // region wider than the rectangle
  kc_SceneBuilder::region(b2) = kcRLEBuffer();
  kc_SceneBuilder::imageRect(b2) = kcPelRect();
  EXPECT_THROW(b2.repInvariant(), kcInvariantFailure);  // unbound region

  kc_SceneBuilder::id(b2) = 0;
  EXPECT_THROW(b2.repInvariant(), kcInvariantFailure);
}

}  // namespace
