// Tests of the blob: deep copies and assignment, re-initialisation, tree navigation,
// checked lookups of stored links, and the invariant check.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "scene/blobdesc_fixture.h"

namespace {

using Desc = kcBlobSceneDescription;
using scene_fixture::entry;
using scene_fixture::fill;
using scene_fixture::measures;
using scene_fixture::record;

TEST(Blob_copy, copyAssignmentAndReInit_copiesKeepEveryCacheOfTheirOwn_reInitKeepsOnlyTheId) {
  kcBlob src, target;
  kc_SceneBuilder::id(src) = 4;
  record(src).area = 12.5, record(src).areaValid = true;
  measures(src).perimeterStamp = 3, measures(src).boundary.perimeter = 42;
  entry(src).nextSibling = 2;
  const kcBlob copy(src);
  target = src;
  target = static_cast<const kcBlob&>(target);  // self-assignment keeps the caches
  static_cast<kcPersistent&>(src).reInit();  // caches and links back to initial; the copies keep theirs
  EXPECT_TRUE(measures(src).perimeterStamp == kNeverComputed && measures(src).boundary.perimeter == 0);
  EXPECT_TRUE(!record(src).areaValid && entry(src).nextSibling == 0 && entry(src).pelCount == -1 && src.id() == 4);
  for (const kcBlob* b : {&copy, static_cast<const kcBlob*>(&target)}) {
    EXPECT_TRUE(measures(*b).boundary.perimeter == 42 && measures(*b).perimeterStamp == 3);
    EXPECT_TRUE(record(*b).areaValid && record(*b).area == 12.5 && entry(*b).nextSibling == 2 && b->id() == 4);
  }
  const std::uint64_t notices = target.mutationCount();
  target = kcBlob();
  EXPECT_GT(target.mutationCount(), notices);
}

// A copy kept across a new analysis keeps its caches and runs and reads its links in the new blobs;
// a pointer to the old blob reads nothing.
TEST(Blob_copy, blobOfAScene_copyOutlivesAnalysesAndTheScene) {
  auto s = std::make_unique<Desc>();
  fill(*s, {0, 1});
  const kcBlob* hole = s->getBlob(2);
  record(*hole).area = 3.0, record(*hole).areaValid = true;
  const kcBlob copy(*hole);
  fill(*s, {0});
  EXPECT_TRUE(copy.id() == 2 && record(copy).areaValid && record(copy).area == 3.0);
  EXPECT_EQ(copy.parent(), s->getBlob(1));
  EXPECT_THROW(hole->label(), Desc::BadId);
  EXPECT_EQ(copy.imageBoundingBox(), kcPelRect(1, 0, 1, 1));
  s.reset();  // the copy's region keeps the runs it views
  EXPECT_TRUE(copy.region().pointToRow(0)[0] == 1 && copy.region().offset() == (kcPair<long>{1, 0}));
}

// 1 { 2, 3 { 5 }, 4 }, 6; the top level listed as 6, 1.
void buildTree(Desc& s) { fill(s, {0, 1, 1, 1, 3, 0}, {6, 1}); }

TEST(BlobTree_raw, linksReadAsStored_damagedLinksThrow) {
  Desc s;
  buildTree(s);
  const kcBlob* b1 = s.getBlob(1);
  EXPECT_TRUE(b1->parent() == nullptr && b1->prevSibling(false) == s.getBlob(6) && b1->nextSibling(false) == nullptr);
  EXPECT_TRUE(b1->lastChild(false) == s.getBlob(4) && b1->numChildren(false) == 3);
  EXPECT_EQ(s.getBlob(5)->parent(), s.getBlob(3));
  EXPECT_TRUE(s.getBlob(5)->lastChild(false) == nullptr && s.getBlob(5)->numChildren(false) == 0);

  // Damaged links throw instead of reading or looping.
  entry(*s.getBlob(5)).parent = 7;
  EXPECT_THROW(s.getBlob(5)->parent(), Desc::BadId);
  entry(*s.getBlob(4)).nextSibling = 2;  // 2 -> 3 -> 4 -> 2 ...
  EXPECT_THROW(s.getBlob(1)->lastChild(false), kcInvariantFailure);
  EXPECT_THROW(s.getBlob(1)->firstChild(true), kcInvariantFailure);
}

TEST(Blob_repInvariant, soundBlobsPass_eachBrokenInvariantThrows) {
  Desc s;
  buildTree(s);
  for (const kcBlob* b : s.allBlobs(false)) EXPECT_NO_THROW(b->repInvariant());
  EXPECT_THROW(kcBlob().repInvariant(), kcInvariantFailure);

  const kcBlob& b2 = *s.getBlob(2);
  entry(b2).firstChild = 9;
  EXPECT_THROW(b2.repInvariant(), kcInvariantFailure);
  entry(b2).firstChild = 0, entry(b2).height = 0;
  EXPECT_THROW(b2.repInvariant(), kcInvariantFailure);  // no rows
}

}  // namespace
