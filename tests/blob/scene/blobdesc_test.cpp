// Tests of the scene description's core: degenerate state, analysis settings, tree access,
// copies, assignment and re-initialisation.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "scene/blobdesc_fixture.h"

namespace {

using Desc = kcBlobSceneDescription;
using Msg = kc_BlobMessages;
using scene_fixture::counters;
using scene_fixture::data;
using scene_fixture::fill;

// ---- degenerate state ----

TEST(BlobDesc_degenerate, eachListedQuery_throwsMessage8_settingsStillWork) {
  Desc s;
  const std::function<void()> queries[] = {
      [&] { s.connectivityKind(); }, [&] { s.scaleVal(); },       [&] { s.cleanupKind(); },
      [&] { s.minPels(); },          [&] { s.sceneWindow(); },    [&] { s.numBlobs(false); },
      [&] { s.numBlobs(true); },     [&] { s.getBlob(1); },       [&] { s.firstTop(false); },
      [&] { s.lastTop(true); },      [&] { s.allBlobs(false); }, [&] { s.allBlobs(true); }};
  for (const auto& query : queries) EXPECT_SCENE_ERROR(query(), Desc::Degenerate, Msg::eDegenerate);

  s.setFilter(kcBlob::eArea, 1, 2, false);
  s.extremaExcludeAreaPels(3);
  s.clientFromImageXform(kcXform<2>(kcMatrix<2>(), kcVector<2>(1, 2)));
  EXPECT_EQ(s.clientFromImageXform().trans(), kcVector<2>(1, 2));
  EXPECT_TRUE(s.isDegenerate() && s.numFilters() == 1);
}

// ---- analysis settings ----

TEST(BlobDesc_settings, meaninglessSettings_throwMessages5And6) {
  Desc s;
  fill(s, {0});
  EXPECT_EQ(s.cleanupKind(), Desc::eNone);
  EXPECT_SCENE_ERROR(s.minPels(), kcBlobDefs::BadParams, Msg::eMinPelsMeaningless);
  data(s).cleanupKind = Desc::ePrune;
  data(s).minPels = 7;
  EXPECT_EQ(s.minPels(), 7);
  EXPECT_EQ(s.scaleVal(), 1);
  data(s).connectivityKind = Desc::eLabelled;
  EXPECT_SCENE_ERROR(s.scaleVal(), kcBlobDefs::BadParams, Msg::eScaleMeaningless);
}

// ---- tree access ----

TEST(BlobDesc_tree, getBlob_acceptsExactlyOneToNumBlobs_filtersIgnored) {
  Desc s;
  fill(s, {0, 1, 0});
  s.setFilter(kcBlob::eArea, 100, 200, false);
  EXPECT_EQ(s.getBlob(1)->id(), 1);
  EXPECT_EQ(s.getBlob(3), &data(s).blobObjects[2]);
  for (long bad : {0L, 4L, -1L, 1L << 40})
    EXPECT_SCENE_ERROR(s.getBlob(bad), Desc::BadId, Msg::eBadId);
}

TEST(BlobDesc_tree, topList_followsStoredOrder_emptyGivesNull_badStoredIdThrows) {
  Desc s;
  fill(s, {0, 0, 1, 0}, {4, 2, 1});
  s.disableSort();
  EXPECT_EQ(s.firstTop(false)->id(), 4);
  EXPECT_EQ(s.lastTop(true)->id(), 1);
  EXPECT_EQ(s.allBlobs(false).size(), 4u);
  data(s).topIds = {2, 9};
  EXPECT_THROW(s.lastTop(false), Desc::BadId);
  fill(s, {});
  EXPECT_EQ(s.firstTop(false), nullptr);
  EXPECT_EQ(s.lastTop(true), nullptr);
}

// ---- copies, assignment, re-initialisation ----

TEST(BlobDesc_copy, answersLikeSource_ownsItsBlobs_sharesOnlyEngineImage) {
  struct Image : kcRepBase {};
  Desc src;
  fill(src, {0, 1, 0}, {3, 1});
  src.setFilter(kcBlob::eArea, 0, 10, true);
  src.numBlobs(true);
  data(src).augmentedCache.reset(new Image);
  Desc copy(src);
  EXPECT_EQ(copy.firstTop(false)->id(), 3);
  EXPECT_EQ(counters(copy), counters(src));
  EXPECT_EQ(data(copy).shownIds, data(src).shownIds);
  EXPECT_EQ(data(copy).shownIdsCounter, data(copy).viewCounter);  // views still valid
  EXPECT_TRUE(data(copy).scene == &copy && data(src).augmentedCache->refCount() == 2);
  for (const kcBlob* b : copy.allBlobs(false)) {
    EXPECT_EQ(b->scene(), &copy);
    EXPECT_NE(b, src.getBlob(b->id()));
  }
  EXPECT_EQ(copy.getBlob(1)->firstChild(false), copy.getBlob(2));

  const auto before = counters(src);
  copy.setFilter(kcBlob::eLabel, 0, 1, false);
  copy.clientFromImageXform(kcXform<2>(kcMatrix<2>::scaling(2, 2), kcVector<2>()));
  EXPECT_TRUE(counters(src) == before && src.numFilters() == 1);
}

TEST(BlobDesc_assign, replacesEverything_resetsBackPointers_selfIsHarmless) {
  Desc src;
  fill(src, {0, 1});
  Desc target;
  fill(target, {0, 0, 0, 0});
  target.setFilter(kcBlob::eArea, 0, 1, false);
  const std::uint64_t notices = target.mutationCount();
  target = src;
  EXPECT_GT(target.mutationCount(), notices);
  EXPECT_TRUE(target.numBlobs(false) == 2 && target.numFilters() == 0);
  EXPECT_EQ(data(target).scene, &target);
  EXPECT_EQ(target.getBlob(2)->parent(), target.getBlob(1));
  target = static_cast<const Desc&>(target);
  EXPECT_EQ(target.getBlob(2)->scene(), &target);
}

TEST(BlobDesc_reInit, analysedScene_becomesDegenerateWithInitialSettings) {
  Desc s;
  fill(s, {0});
  s.setFilter(kcBlob::eArea, 0, 1, false);
  s.setSort(kcBlob::eLabel, Desc::eAscending);
  s.extremaExcludeAreaPels(4);
  s.clientFromImageXform(kcXform<2>(kcMatrix<2>::scaling(2, 2), kcVector<2>()));
  static_cast<kcPersistent&>(s).reInit();  // the persistence hook; private in the scene
  EXPECT_THROW(s.numBlobs(false), Desc::Degenerate);
  const kc_BSDData& d = data(s);
  EXPECT_TRUE(s.isDegenerate() && d.scene == &s && d.filters.empty() && !d.sortSet);
  EXPECT_TRUE(d.sortMeasure == kcBlob::eArea && d.sortOrder == Desc::eDescending);
  EXPECT_TRUE(d.extremaExcludeArea == 0 && d.extremaAreaIsClient && !d.extremaAreaIsPercent);
  EXPECT_TRUE(s.clientFromImageXform().isIdentity() && d.viewCounter == 0);
}

}  // namespace
