// Tests of the scene description's core: degenerate state, analysis settings, tree access,
// copies, assignment and re-initialisation.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "blobdesc_fixture.h"

namespace {

using Desc = kcBlobSceneDescription;
using Msg = kc_BlobMessages;
using scene_fixture::data;
using scene_fixture::fill;
using scene_fixture::ids;

// ---- degenerate state ----

TEST(BlobDesc_degenerate, eachListedQuery_throwsMessage8) {
  const Desc s;
  const std::vector<std::pair<const char*, std::function<void()>>> queries = {
      {"connectivityKind", [&] { s.connectivityKind(); }},
      {"scaleVal", [&] { s.scaleVal(); }},
      {"cleanupKind", [&] { s.cleanupKind(); }},
      {"minPels", [&] { s.minPels(); }},
      {"sceneWindow", [&] { s.sceneWindow(); }},
      {"numBlobs(false)", [&] { s.numBlobs(false); }},
      {"numBlobs(true)", [&] { s.numBlobs(true); }},
      {"getBlob", [&] { s.getBlob(1); }},
      {"firstTop", [&] { s.firstTop(false); }},
      {"lastTop", [&] { s.lastTop(true); }},
      {"allBlobs(false)", [&] { s.allBlobs(false); }},
      {"allBlobs(true)", [&] { s.allBlobs(true); }},
  };
  for (const auto& [name, query] : queries) {
    SCOPED_TRACE(name);
    EXPECT_SCENE_ERROR(query(), Desc::Degenerate, Msg::eDegenerate);
  }
}

TEST(BlobDesc_degenerate, settingsWork_andChangeNothingElse) {
  Desc s;
  EXPECT_TRUE(s.isDegenerate());
  s.setFilter(kcBlob::eArea, 1, 2, false);
  s.setSort(kcBlob::eLabel, Desc::eAscending);
  s.extremaExcludeAreaPels(3);
  s.extremaAngle(kcRadian(0.5));
  s.clientFromImageXform(kcXform<2>(kcMatrix<2>(), kcVector<2>(1, 2)));
  EXPECT_EQ(s.numFilters(), 1);
  kcBlob::Measure m{};
  Desc::SortOrder o{};
  EXPECT_TRUE(s.getSort(m, o));
  EXPECT_EQ(s.clientFromImageXform().trans(), kcVector<2>(1, 2));
  EXPECT_TRUE(s.isDegenerate());
}

TEST(BlobDesc_degenerate, newScene_hasInitialSettings) {
  const Desc s;
  EXPECT_EQ(s.numFilters(), 0);
  kcBlob::Measure m = kcBlob::eLabel;
  Desc::SortOrder o = Desc::eAscending;
  EXPECT_FALSE(s.getSort(m, o));
  EXPECT_EQ(m, kcBlob::eLabel);  // outputs untouched
  bool isClient = false, isPercent = true;
  EXPECT_EQ(s.extremaExcludeArea(isClient, isPercent), 0.0);
  EXPECT_TRUE(isClient);
  EXPECT_FALSE(isPercent);
  EXPECT_TRUE(s.clientFromImageXform().isIdentity());
  EXPECT_EQ(data(s).scene, &s);
}

// ---- analysis settings ----

TEST(BlobDesc_settings, labelledAnalysis_scaleValThrowsMessage6) {
  Desc s;
  fill(s, {0});
  kc_SceneBuilder::data(s).connectivityKind = Desc::eLabelled;
  EXPECT_SCENE_ERROR(s.scaleVal(), kcBlobDefs::BadParams, Msg::eScaleMeaningless);
  EXPECT_EQ(s.connectivityKind(), Desc::eLabelled);
}

TEST(BlobDesc_settings, noCleanup_minPelsThrowsMessage5) {
  Desc s;
  fill(s, {0});
  EXPECT_EQ(s.cleanupKind(), Desc::eNone);
  EXPECT_SCENE_ERROR(s.minPels(), kcBlobDefs::BadParams, Msg::eMinPelsMeaningless);
  kc_BSDData& d = kc_SceneBuilder::data(s);
  d.cleanupKind = Desc::ePrune;
  d.minPels = 7;
  EXPECT_EQ(s.minPels(), 7);
  EXPECT_EQ(s.scaleVal(), 1);
  EXPECT_EQ(s.sceneWindow(), kcPelRect(0, 0, 2, 1));
}

// ---- tree access ----

TEST(BlobDesc_tree, getBlob_acceptsExactlyOneToNumBlobs) {
  Desc s;
  fill(s, {0, 1, 0});
  ASSERT_EQ(s.numBlobs(false), 3);
  EXPECT_EQ(s.getBlob(1)->id(), 1);
  EXPECT_EQ(s.getBlob(3)->id(), 3);
  EXPECT_EQ(s.getBlob(3), &data(s).blobs[2]);
  for (long bad : {0L, 4L, -1L, 1L << 40}) {
    SCOPED_TRACE(bad);
    EXPECT_SCENE_ERROR(s.getBlob(bad), Desc::BadId, Msg::eBadId);
  }
}

TEST(BlobDesc_tree, getBlob_acceptsFilteredOutIds) {
  Desc s;
  fill(s, {0, 0});
  s.setFilter(kcBlob::eArea, 100, 200, false);
  EXPECT_EQ(s.getBlob(2)->id(), 2);
}

TEST(BlobDesc_tree, topList_followsStoredOrderNotIds) {
  Desc s;
  fill(s, {0, 0, 1, 0}, {4, 2, 1});
  EXPECT_EQ(s.firstTop(false)->id(), 4);
  EXPECT_EQ(s.lastTop(false)->id(), 1);
  EXPECT_EQ(ids(s.allBlobs(false)), (std::vector<long>{1, 2, 3, 4}));
  EXPECT_EQ(s.numBlobs(true), 4);
}

TEST(BlobDesc_tree, noTopLevelBlob_firstAndLastTopAreNull) {
  Desc s;
  fill(s, {});
  EXPECT_EQ(s.numBlobs(false), 0);
  EXPECT_EQ(s.firstTop(false), nullptr);
  EXPECT_EQ(s.lastTop(true), nullptr);
  EXPECT_TRUE(s.allBlobs(true).empty());
}

TEST(BlobDesc_tree, damagedTopId_throwsBadIdInsteadOfReading) {
  Desc s;
  fill(s, {0, 0});
  kc_SceneBuilder::data(s).topIds = {2, 9};
  EXPECT_EQ(s.firstTop(false)->id(), 2);
  EXPECT_THROW(s.lastTop(false), Desc::BadId);
  EXPECT_THROW(s.firstTop(true), Desc::BadId);
}

TEST(BlobDesc_tree, shownQueries_rebuildOnlyAfterViewCounterMoved) {
  Desc s;
  fill(s, {0, 0});
  s.numBlobs(true);
  const std::uint64_t before = kc_SceneBuilder::data(s).mutationCount();
  s.numBlobs(true);
  s.allBlobs(true);
  EXPECT_EQ(kc_SceneBuilder::data(s).mutationCount(), before);  // view still current
  s.disableSort();
  s.numBlobs(true);
  EXPECT_GT(kc_SceneBuilder::data(s).mutationCount(), before + 1);  // setter + rebuild
  EXPECT_EQ(data(s).shownIdsCounter, data(s).viewCounter);
}

// ---- copies, assignment, re-initialisation ----

TEST(BlobDesc_copy, copyAnswersLikeSource_andOwnsItsBlobs) {
  Desc src;
  fill(src, {0, 1, 0}, {3, 1});
  src.setFilter(kcBlob::eArea, 0, 10, true);
  src.extremaExcludeAreaPercent(10);
  src.numBlobs(true);
  const Desc copy(src);
  EXPECT_FALSE(copy.isDegenerate());
  EXPECT_EQ(copy.numBlobs(false), 3);
  EXPECT_EQ(copy.firstTop(false)->id(), 3);
  EXPECT_EQ(copy.numFilters(), 1);
  EXPECT_EQ(scene_fixture::counters(copy), scene_fixture::counters(src));
  EXPECT_EQ(data(copy).shownIds, data(src).shownIds);
  EXPECT_EQ(data(copy).shownIdsCounter, data(copy).viewCounter);  // no rebuild needed
  EXPECT_EQ(data(copy).scene, &copy);
  for (const kcBlob* b : copy.allBlobs(false)) {
    EXPECT_EQ(b->scene(), &copy);
    EXPECT_NE(b, src.getBlob(b->id()));
  }
  EXPECT_EQ(copy.getBlob(1)->firstChild(false), copy.getBlob(2));
}

TEST(BlobDesc_copy, filterOnCopy_leavesSourceAlone) {
  Desc src;
  fill(src, {0, 0});
  Desc copy(src);
  const auto before = scene_fixture::counters(src);
  copy.setFilter(kcBlob::eLabel, 0, 1, false);
  copy.setSort(kcBlob::eLabel, Desc::eAscending);
  EXPECT_EQ(scene_fixture::counters(src), before);
  EXPECT_EQ(src.numFilters(), 0);
  EXPECT_NE(scene_fixture::counters(copy), before);
}

TEST(BlobDesc_copy, augmentedCache_isSharedByCopies) {
  struct Image : kcRepBase {};
  Desc src;
  kc_SceneBuilder::data(src).augmentedCache.reset(new Image);
  const Desc copy(src);
  EXPECT_EQ(data(copy).augmentedCache.get(), data(src).augmentedCache.get());
  EXPECT_EQ(data(src).augmentedCache->refCount(), 2);
}

TEST(BlobDesc_copy, assignment_replacesEverythingAndResetsBackPointers) {
  Desc src;
  fill(src, {0, 1});
  src.setSort(kcBlob::eLabel, Desc::eAscending);
  Desc target;
  fill(target, {0, 0, 0, 0});
  target.setFilter(kcBlob::eArea, 0, 1, false);
  const std::uint64_t notices = target.mutationCount();
  target = src;
  EXPECT_GT(target.mutationCount(), notices);
  EXPECT_EQ(target.numBlobs(false), 2);
  EXPECT_EQ(target.numFilters(), 0);
  kcBlob::Measure m{};
  Desc::SortOrder o{};
  EXPECT_TRUE(target.getSort(m, o));
  EXPECT_EQ(data(target).scene, &target);
  EXPECT_EQ(target.getBlob(2)->scene(), &target);
  EXPECT_EQ(target.getBlob(2)->parent(), target.getBlob(1));

  Desc degenerate;
  target = degenerate;
  EXPECT_TRUE(target.isDegenerate());
  target = target;  // self-assignment keeps the scene usable
  EXPECT_EQ(data(target).scene, &target);
}

TEST(BlobDesc_reInit, analysedScene_becomesDegenerateWithInitialSettings) {
  Desc s;
  fill(s, {0});
  s.setFilter(kcBlob::eArea, 0, 1, false);
  s.setSort(kcBlob::eLabel, Desc::eAscending);
  s.extremaExcludeAreaPels(4);
  s.clientFromImageXform(kcXform<2>(kcMatrix<2>::scaling(2, 2), kcVector<2>()));
  static_cast<kcPersistent&>(s).reInit();  // the persistence hook; private in the scene
  EXPECT_TRUE(s.isDegenerate());
  EXPECT_EQ(s.numFilters(), 0);
  kcBlob::Measure m{};
  Desc::SortOrder o{};
  EXPECT_FALSE(s.getSort(m, o));
  bool isClient = false, isPercent = true;
  EXPECT_EQ(s.extremaExcludeArea(isClient, isPercent), 0.0);
  EXPECT_TRUE(isClient);
  EXPECT_TRUE(s.clientFromImageXform().isIdentity());
  EXPECT_EQ(data(s).sortMeasure, kcBlob::eArea);
  EXPECT_EQ(data(s).scene, &s);
  EXPECT_THROW(s.numBlobs(false), Desc::Degenerate);
}

TEST(BlobDesc_mask, privateSetter_storesMaskAndGivesNotice) {
  Desc s;
  const std::uint64_t notices = s.mutationCount();
  kc_SceneBuilder::mask(s, scene_fixture::solidRegion(0, 0, 3, 2));
  EXPECT_GT(s.mutationCount(), notices);
  EXPECT_EQ(data(s).mask.width(), 3);
  EXPECT_EQ(data(s).mask.height(), 2);
}

}  // namespace
