// Tests of the scene's extrema-exclusion settings and of the replacement of its client transform
// pair with the counter moves of each case.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <foundation/xform.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <tuple>

#include "scene/blobdesc_fixture.h"

namespace {

using Desc = kcBlobSceneDescription;
using Msg = kc_BlobMessages;
using Params = kcBlobDefs::BadParams;
using scene_fixture::Counters;
using scene_fixture::counters;
using scene_fixture::data;

kcXform<2> translation(double x, double y) { return kcXform<2>(kcMatrix<2>(), kcVector<2>(x, y)); }

// Refused values change nothing; accepted ones give notice and move no counter.
TEST(BlobDescExtrema, BlobDescExtrema_set_refusedChangeNothingAcceptedGiveNoticeOnly) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const auto extrema = [](const Desc& s) {
    bool client = false, percent = false;
    const double value = s.extremaExcludeArea(client, percent);
    return std::tuple(value, client, percent);
  };
  Desc s;
  s.extremaExcludeAreaPercent(20);
  for (double bad : {-1e-300, nan}) {
    EXPECT_SCENE_ERROR(s.extremaExcludeArea(bad), Params, Msg::eExcludeAreaNegative);
    EXPECT_SCENE_ERROR(s.extremaExcludeAreaPels(bad), Params, Msg::eExcludeAreaNegative);
  }
  for (double bad : {50.0, -1.0, nan})
    EXPECT_SCENE_ERROR(s.extremaExcludeAreaPercent(bad), Params, Msg::eExcludePercentRange);
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
  EXPECT_EQ(s.mutationCount(), notices + 2);
  EXPECT_EQ(counters(s), before);
}

// Each replacement moves the transform, matrix and view counters by what it changes: nothing for
// an equal pair (set from either side, or the same object), the transform and view for a new
// translation, all three for a new matrix and for every non-linear pair, equal or not. (The scales
// derived from the pair show in the measures' own tests.)
TEST(BlobDescXform, BlobDescXform_replaced_countersMoveByWhatChanged) {
  Desc s;
  scene_fixture::fill(s, {0, 0});
  const kc2XformPerspective::Elements h{1, 0, 0, 0, 1, 0, 0.001, 0, 1};
  struct Step {
    const char* what;
    std::function<void()> apply;
    Counters moved;
  };
  const Step steps[] = {
      {"translation", [&] { s.clientFromImageXform(translation(1, 2)); }, {1, 0, 1}},
      {"the same", [&] { s.clientFromImageXform(translation(1, 2)); }, {0, 0, 0}},
      {"the same from the other side", [&] { s.imageFromClientXform(translation(-1, -2)); }, {0, 0, 0}},
      {"the same object", [&] { s.clientFromImageXformBase(s.clientFromImageXformBase(), true); }, {0, 0, 0}},
      {"a matrix", [&] { s.clientFromImageXform(kcXform<2>(kcMatrix<2>::scaling(2, 3), kcVector<2>(5, 5))); }, {1, 1, 1}},
      {"non-linear", [&] { s.clientFromImageXformBase(kc2XformPerspective(h)); }, {1, 1, 1}},
      {"the same non-linear", [&] { s.clientFromImageXformBase(kc2XformPerspective(h)); }, {1, 1, 1}},
      {"back to the identity", [&] { s.clientFromImageXform(kcXform<2>()); }, {1, 1, 1}},
  };
  for (const Step& step : steps) {
    s.numBlobs(true);
    const Counters before = counters(s);
    step.apply();
    const Counters after = counters(s);
    EXPECT_EQ((Counters{after.transform - before.transform, after.matrix - before.matrix, after.view - before.view}),
              step.moved) << step.what;
    EXPECT_EQ(data(s).shownIdsCounter == data(s).viewCounter, step.moved.view == 0) << step.what;
  }
  const kcXform<2> x(kcMatrix<2>::scaling(2, 3), kcVector<2>(5, 5));
  s.imageFromClientXform(x.inverse());
  EXPECT_TRUE(kfRealEq(s.clientFromImageXform(), x, 1e-12) && s.imageFromClientXform() == x.inverse());
}

TEST(BlobDescXform, BlobDescXform_singularOrNull_throwsAndChangesNothing) {
  Desc s;
  s.clientFromImageXform(translation(1, 1));
  const Counters before = counters(s);
  EXPECT_THROW(s.clientFromImageXform(kcXform<2>(kcMatrix<2>(1, 2, 2, 4), {})), kcBadArgument);
  EXPECT_THROW(s.imageFromClientXformBase(kcPtrHandle_const<kc2XformBase>(), true), kcBadPointer);
  EXPECT_EQ(counters(s), before);
  EXPECT_EQ(s.clientFromImageXform(), translation(1, 1));
}

}  // namespace
