// Tests of the scene description's core and settings: degenerate state, analysis settings, tree
// access, copies and assignment, the filter, extrema and transform settings with the counters they
// move. (The sort settings, and the views after each change: BlobDescView's random scenes.)
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <foundation/xform.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <tuple>
#include <utility>
#include <vector>

#include "scene/blobdesc_fixture.h"

namespace {

using Desc = kcBlobSceneDescription;
using Msg = kc_BlobMessages;
using Params = kcBlobDefs::BadParams;
using scene_fixture::Counters;
using scene_fixture::counters;
using scene_fixture::data;
using scene_fixture::fill;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

kcXform<2> translation(double x, double y) { return kcXform<2>(kcMatrix<2>(), kcVector<2>(x, y)); }

// ---- degenerate state, analysis settings, tree access ----

TEST(BlobDesc, BlobDesc_degenerate_queriesThrowSettingsStillWork) {
  Desc s;
  const std::function<void()> queries[] = {
      [&] { s.connectivityKind(); }, [&] { s.scaleVal(); },       [&] { s.cleanupKind(); },
      [&] { s.minPels(); },          [&] { s.sceneWindow(); },    [&] { s.numBlobs(false); },
      [&] { s.numBlobs(true); },     [&] { s.getBlob(1); },       [&] { s.firstTop(false); },
      [&] { s.lastTop(true); },      [&] { s.allBlobs(false); }, [&] { s.allBlobs(true); }};
  for (const auto& query : queries) EXPECT_SCENE_ERROR(query(), Desc::Degenerate, Msg::eDegenerate);
  s.setFilter(kcBlob::eArea, 1, 2, false);
  s.clientFromImageXform(translation(1, 2));
  EXPECT_TRUE(s.isDegenerate() && s.numFilters() == 1 && s.clientFromImageXform() == translation(1, 2));
}

// getBlob takes exactly 1 to numBlobs, filters ignored; the top list follows the stored order.
TEST(BlobDesc, BlobDesc_getBlobAndTopList_storedIdsAndOrder) {
  Desc s;
  fill(s, {0, 0, 1, 0}, {4, 2, 1});
  s.setFilter(kcBlob::eArea, 100, 200, false);
  EXPECT_TRUE(s.getBlob(1)->id() == 1 && s.getBlob(4)->id() == 4);
  for (long bad : {0L, 5L, -1L, 1L << 40}) EXPECT_SCENE_ERROR(s.getBlob(bad), Desc::BadId, Msg::eBadId);
  EXPECT_TRUE(s.firstTop(false)->id() == 4 && s.lastTop(false)->id() == 1 && s.allBlobs(false).size() == 4);
  data(s).topIds = {2, 9};
  EXPECT_THROW(s.lastTop(false), Desc::BadId);
  fill(s, {});
  EXPECT_TRUE(s.firstTop(false) == nullptr && s.lastTop(true) == nullptr);
}

// ---- copies and assignment ----

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
  for (const kcBlob* b : copy.allBlobs(false)) EXPECT_TRUE(b->scene() == &copy && b != src.getBlob(b->id()));
  EXPECT_EQ(copy.getBlob(1)->firstChild(false), copy.getBlob(2));
  const Counters before = counters(src);
  copy.setFilter(kcBlob::eLabel, 0, 1, false);
  copy.clientFromImageXform(kcXform<2>(kcMatrix<2>::scaling(2, 2), kcVector<2>()));
  EXPECT_TRUE(counters(src) == before && src.numFilters() == 1);

  Desc target;
  fill(target, {0, 0, 0, 0});
  const std::uint64_t notices = target.mutationCount();
  target = src;
  EXPECT_GT(target.mutationCount(), notices);
  EXPECT_TRUE(target.numBlobs(false) == 3 && target.numFilters() == 1 && data(target).scene == &target);
  EXPECT_EQ(target.getBlob(2)->parent(), target.getBlob(1));
  target = static_cast<const Desc&>(target);
  EXPECT_EQ(target.getBlob(2)->scene(), &target);
}

// ---- filter and sort settings ----

// Refused filters change nothing, outputs of a refused getter stay untouched; filters keep their
// order as others are removed; equal and infinite limits are taken.
TEST(BlobDescFilter, BlobDescFilter_setRefuseAndRemove_gettersAnswerInOrder) {
  Desc s;
  s.setFilter(kcBlob::eArea, 1, 2, false);
  const std::uint64_t notices = s.mutationCount();
  EXPECT_SCENE_ERROR(s.setFilter(kcBlob::eArea, 5, 4, false), Desc::DuplicateFilter, Msg::eDuplicateFilter);
  for (auto [low, high] : {std::pair{2.0, 1.0}, {std::nextafter(1.0, 2.0), 1.0}, {kNaN, 1.0}, {1.0, kNaN}})
    EXPECT_SCENE_ERROR(s.setFilter(kcBlob::eLabel, low, high, false), Params, Msg::eFilterLimits);
  kcBlob::Measure m = kcBlob::eLabel;
  double low = 9, high = 9;
  bool exclude = true;
  for (long index : {1L, -1L}) EXPECT_SCENE_ERROR(s.getFilter(index, m, low, high, exclude), Params, Msg::eBadFilterIndex);
  EXPECT_FALSE(s.getFilter(kcBlob::eLabel, low, high, exclude));
  EXPECT_TRUE(m == kcBlob::eLabel && low == 9 && high == 9 && exclude);
  EXPECT_TRUE(s.numFilters() == 1 && data(s).viewCounter == 1 && s.mutationCount() == notices);

  for (kcBlob::Measure f : {kcBlob::eLabel, kcBlob::ePerimeter}) s.setFilter(f, 1, 1, false);
  s.unSetFilter(kcBlob::eLabel);
  s.unSetFilter(kcBlob::eArea);
  s.setFilter(kcBlob::eArea, -INFINITY, INFINITY, true);
  ASSERT_EQ(s.numFilters(), 2);
  s.getFilter(0, m, low, high, exclude);
  EXPECT_TRUE(m == kcBlob::ePerimeter && low == 1 && high == 1 && !exclude);
  s.getFilter(1, m, low, high, exclude);
  EXPECT_TRUE(m == kcBlob::eArea && low == -INFINITY && high == INFINITY && exclude);
  s.clearFilters();
  EXPECT_EQ(s.numFilters(), 0);
}

// The view counter's wrap lands on 0, not on a record's "never computed", so stale stamps stay
// stale; a loaded "never computed" counter is taken as 0.
TEST(BlobDescCounter, BlobDescCounter_wrap_neverTakesNeverComputedSoStaleStampsStayStale) {
  Desc s;
  fill(s, {0, 1});
  kc_ShownLinks& r = kc_SceneBuilder::parts(*s.getBlob(1)).shown();
  r.shownStamp = kNeverComputed;
  r.firstShown = 0;
  data(s).viewCounter = 0xFFFFFFFEu;
  s.disableSort();
  EXPECT_EQ(s.getBlob(1)->firstChild(true), s.getBlob(2));
  kc_BSDData loaded;
  loaded.matrixCounter = kNeverComputed;
  loaded.transformCounter = 5;
  loaded.sanitizeCounters();
  EXPECT_TRUE(loaded.matrixCounter == 0 && loaded.transformCounter == 5);
}

// ---- extrema and transform settings ----

// Refused values change nothing; accepted ones give notice and move no counter.
TEST(BlobDescExtrema, BlobDescExtrema_set_refusedChangeNothingAcceptedGiveNoticeOnly) {
  const auto extrema = [](const Desc& s) {
    bool client = false, percent = false;
    const double value = s.extremaExcludeArea(client, percent);
    return std::tuple(value, client, percent);
  };
  Desc s;
  s.extremaExcludeAreaPercent(20);
  for (double bad : {-1e-300, kNaN}) {
    EXPECT_SCENE_ERROR(s.extremaExcludeArea(bad), Params, Msg::eExcludeAreaNegative);
    EXPECT_SCENE_ERROR(s.extremaExcludeAreaPels(bad), Params, Msg::eExcludeAreaNegative);
  }
  for (double bad : {50.0, -1.0, kNaN}) EXPECT_SCENE_ERROR(s.extremaExcludeAreaPercent(bad), Params, Msg::eExcludePercentRange);
  EXPECT_EQ(extrema(s), std::tuple(20.0, false, true));
  s.extremaExcludeAreaPels(3);
  EXPECT_EQ(extrema(s), std::tuple(3.0, false, false));
  s.extremaExcludeArea(0);
  EXPECT_EQ(extrema(s), std::tuple(0.0, true, false));
  const Counters before = counters(s);
  const std::uint64_t notices = s.mutationCount();
  s.extremaExcludeAreaPercent(std::nextafter(50.0, 0.0));
  EXPECT_EQ(extrema(s), std::tuple(std::nextafter(50.0, 0.0), false, true));
  s.extremaAngle(kcRadian(7.5));
  EXPECT_EQ(s.extremaAngle(), kcRadian(7.5));  // not normalised
  EXPECT_TRUE(s.mutationCount() == notices + 2 && counters(s) == before);
}

// Each replacement moves the transform, matrix and view counters by what it changes: nothing for
// an equal pair (set from either side, or the same object), the transform and view for a new
// translation, all three for a new matrix and for every non-linear pair, equal or not. A singular
// or null transform is refused and changes nothing.
TEST(BlobDescXform, BlobDescXform_replaced_countersMoveByWhatChanged) {
  Desc s;
  fill(s, {0, 0});
  const kc2XformPerspective::Elements h{1, 0, 0, 0, 1, 0, 0.001, 0, 1};
  const kcXform<2> x(kcMatrix<2>::scaling(2, 3), kcVector<2>(5, 5));
  const std::tuple<const char*, std::function<void()>, Counters> steps[] = {
      {"translation", [&] { s.clientFromImageXform(translation(1, 2)); }, {1, 0, 1}},
      {"the same", [&] { s.clientFromImageXform(translation(1, 2)); }, {0, 0, 0}},
      {"the same from the other side", [&] { s.imageFromClientXform(translation(-1, -2)); }, {0, 0, 0}},
      {"the same object", [&] { s.clientFromImageXformBase(s.clientFromImageXformBase(), true); }, {0, 0, 0}},
      {"singular", [&] { EXPECT_THROW(s.clientFromImageXform(kcXform<2>(kcMatrix<2>(1, 2, 2, 4), {})), kcBadArgument); }, {0, 0, 0}},
      {"null", [&] { EXPECT_THROW(s.imageFromClientXformBase(kcPtrHandle_const<kc2XformBase>(), true), kcBadPointer); }, {0, 0, 0}},
      {"a matrix", [&] { s.clientFromImageXform(x); }, {1, 1, 1}},
      {"non-linear", [&] { s.clientFromImageXformBase(kc2XformPerspective(h)); }, {1, 1, 1}},
      {"the same non-linear", [&] { s.clientFromImageXformBase(kc2XformPerspective(h)); }, {1, 1, 1}},
      {"the matrix's inverse from the other side", [&] { s.imageFromClientXform(x.inverse()); }, {1, 1, 1}},
  };
  for (const auto& [what, apply, moved] : steps) {
    s.numBlobs(true);
    const Counters before = counters(s);
    apply();
    const Counters after = counters(s);
    EXPECT_EQ((Counters{after.transform - before.transform, after.matrix - before.matrix, after.view - before.view}), moved)
        << what;
    EXPECT_EQ(data(s).shownIdsCounter == data(s).viewCounter, moved.view == 0) << what;
  }
  EXPECT_TRUE(kfRealEq(s.clientFromImageXform(), x, 1e-12) && s.imageFromClientXform() == x.inverse());
}

}  // namespace
