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

TEST(BlobDesc, BlobDesc_degenerate_queriesThrowSettingsStillWork) {
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

TEST(BlobDesc, BlobDesc_meaninglessSettings_throwTheirMessages) {
  Desc s;
  fill(s, {0});
  EXPECT_EQ(s.cleanupKind(), Desc::eNone);
  EXPECT_SCENE_ERROR(s.minPels(), kcBlobDefs::BadParams, Msg::eMinPelsMeaningless);
  data(s).cleanupKind = Desc::ePrune;
  data(s).minPels = 7;
  EXPECT_TRUE(s.minPels() == 7 && s.scaleVal() == 1);
  data(s).connectivityKind = Desc::eLabelled;
  EXPECT_SCENE_ERROR(s.scaleVal(), kcBlobDefs::BadParams, Msg::eScaleMeaningless);
}

// ---- tree access ----

TEST(BlobDesc, BlobDesc_getBlob_acceptsExactlyOneToNumBlobsFiltersIgnored) {
  Desc s;
  fill(s, {0, 1, 0});
  s.setFilter(kcBlob::eArea, 100, 200, false);
  EXPECT_TRUE(s.getBlob(1)->id() == 1 && s.getBlob(3)->id() == 3);
  for (long bad : {0L, 4L, -1L, 1L << 40})
    EXPECT_SCENE_ERROR(s.getBlob(bad), Desc::BadId, Msg::eBadId);
}

TEST(BlobDesc, BlobDesc_topList_followsStoredOrderEmptyGivesNullBadStoredIdThrows) {
  Desc s;
  fill(s, {0, 0, 1, 0}, {4, 2, 1});
  s.disableSort();
  EXPECT_TRUE(s.firstTop(false)->id() == 4 && s.lastTop(true)->id() == 1 && s.allBlobs(false).size() == 4);
  data(s).topIds = {2, 9};
  EXPECT_THROW(s.lastTop(false), Desc::BadId);
  fill(s, {});
  EXPECT_TRUE(s.firstTop(false) == nullptr && s.lastTop(true) == nullptr);
}

// ---- copies, assignment, re-initialisation ----

TEST(BlobDesc, BlobDesc_copy_answersLikeSourceOwnsItsBlobsSharesOnlyEngineImage) {
  struct Image : kcRepBase {};
  Desc src;
  fill(src, {0, 1, 0}, {3, 1});
  src.setFilter(kcBlob::eArea, 0, 10, true);
  src.numBlobs(true);
  data(src).augmentedCache.reset(new Image);
  Desc copy(src);
  EXPECT_TRUE(copy.firstTop(false)->id() == 3 && counters(copy) == counters(src));
  EXPECT_TRUE(data(copy).shownIds == data(src).shownIds && data(copy).shownIdsCounter == data(copy).viewCounter);
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

TEST(BlobDesc, BlobDesc_assign_replacesEverythingResetsBackPointersSelfIsHarmless) {
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

TEST(BlobDesc, BlobDesc_reInit_becomesDegenerateWithInitialSettings) {
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
