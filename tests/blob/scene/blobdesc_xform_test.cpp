// Tests of the scene's extrema-exclusion settings and of the replacement of its client transform
// pair with the counter moves of each case.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <foundation/xform.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "scene/blobdesc_fixture.h"

namespace {

using Desc = kcBlobSceneDescription;
using Msg = kc_BlobMessages;
using Params = kcBlobDefs::BadParams;
using scene_fixture::Counters;
using scene_fixture::counters;
using scene_fixture::data;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Extrema {
  double value;
  bool isClient, isPercent;
  bool operator==(const Extrema&) const = default;
};

Extrema extrema(const Desc& s) {
  Extrema e{};
  e.value = s.extremaExcludeArea(e.isClient, e.isPercent);
  return e;
}

kcXform<2> translation(double x, double y) { return kcXform<2>(kcMatrix<2>(), kcVector<2>(x, y)); }

// ---- extrema exclusion ----

TEST(BlobDescExtrema_set, refusedValuesChangeNothing_acceptedOnesGiveNoticeOnly) {
  Desc s;
  s.extremaExcludeAreaPercent(20);
  for (double bad : {-1e-300, kNaN}) {
    EXPECT_SCENE_ERROR(s.extremaExcludeArea(bad), Params, Msg::eExcludeAreaNegative);
    EXPECT_SCENE_ERROR(s.extremaExcludeAreaPels(bad), Params, Msg::eExcludeAreaNegative);
  }
  for (double bad : {50.0, -1.0, kNaN})
    EXPECT_SCENE_ERROR(s.extremaExcludeAreaPercent(bad), Params, Msg::eExcludePercentRange);
  EXPECT_EQ(extrema(s), (Extrema{20, false, true}));

  s.extremaExcludeAreaPels(3);
  EXPECT_EQ(extrema(s), (Extrema{3, false, false}));
  s.extremaExcludeArea(0);
  EXPECT_EQ(extrema(s), (Extrema{0, true, false}));
  const Counters before = counters(s);
  const std::uint64_t notices = s.mutationCount();
  s.extremaExcludeAreaPercent(std::nextafter(50.0, 0.0));
  EXPECT_EQ(extrema(s), (Extrema{std::nextafter(50.0, 0.0), false, true}));
  s.extremaAngle(kcRadian(7.5));
  EXPECT_EQ(s.extremaAngle(), kcRadian(7.5));  // not normalised
  EXPECT_EQ(s.mutationCount(), notices + 2);    // each setter gives notice
  EXPECT_EQ(counters(s), before);               // and moves no counter
}

// ---- transform replacement ----

TEST(BlobDescXform_replace, equalOrSameObject_movesNothingAndKeepsViews) {
  Desc s;
  scene_fixture::fill(s, {0, 0});
  s.clientFromImageXform(translation(1, 2));
  s.numBlobs(true);
  const Counters before = counters(s);
  s.clientFromImageXform(translation(1, 2));
  s.imageFromClientXform(translation(-1, -2));  // the same pair, set from the other side
  s.clientFromImageXformBase(s.clientFromImageXformBase(), true);
  EXPECT_EQ(counters(s), before);
  EXPECT_EQ(data(s).shownIdsCounter, data(s).viewCounter);
}

TEST(BlobDescXform_replace, translationOnly_movesTransformAndViewNotMatrix) {
  Desc s;
  s.clientFromImageXform(translation(3, -4));
  EXPECT_EQ(counters(s), (Counters{1, 0, 1}));
  EXPECT_TRUE(!data(s).clientIsIdentity && data(s).clientMatrixIsIdentity);
}

TEST(BlobDescXform_replace, matrixChange_movesAllThree_andDerivesScales) {
  Desc s;
  const kcXform<2> x(kcMatrix<2>::scaling(2, 3), kcVector<2>(5, 5));
  s.clientFromImageXform(x);
  EXPECT_EQ(counters(s), (Counters{1, 1, 1}));
  const kc_BSDData& d = data(s);
  EXPECT_FALSE(d.clientMatrixIsIdentity);
  EXPECT_TRUE(d.clientXScale == 2 && d.clientYScale == 3 && d.clientAspect == 1.5);
  EXPECT_EQ(d.clientAreaScale, 6.0);
  EXPECT_EQ(s.clientFromImageXform(), x);
  EXPECT_TRUE(kfRealEq(s.imageFromClientXform() * x, kcXform<2>(), 1e-12));
}

TEST(BlobDescXform_replace, nonLinear_movesAllThreeEveryTime_andZeroesScales) {
  Desc s;
  const kc2XformPerspective::Elements h{1, 0, 0, 0, 1, 0, 0.001, 0, 1};
  s.clientFromImageXformBase(kc2XformPerspective(h));
  s.clientFromImageXformBase(kc2XformPerspective(h));  // equal value, but not linear
  EXPECT_EQ(counters(s), (Counters{2, 2, 2}));
  const kc_BSDData& d = data(s);
  EXPECT_TRUE(!d.xformIsLinear && !d.clientIsIdentity && !d.clientMatrixIsIdentity);
  EXPECT_TRUE(d.clientXScale == 0 && d.clientAreaScale == 0 && d.clientScale == 0);
  s.clientFromImageXform(kcXform<2>());  // back to linear: the matrix counter moves too
  EXPECT_EQ(counters(s), (Counters{3, 3, 3}));
  EXPECT_TRUE(d.clientIsIdentity && d.clientAreaScale == 1);
}

TEST(BlobDescXform_refuse, singularOrNull_throwsAndChangesNothing) {
  Desc s;
  s.clientFromImageXform(translation(1, 1));
  const Counters before = counters(s);
  EXPECT_THROW(s.clientFromImageXform(kcXform<2>(kcMatrix<2>(1, 2, 2, 4), {})), kcBadArgument);
  EXPECT_THROW(s.imageFromClientXformBase(kcPtrHandle_const<kc2XformBase>(), true), kcBadPointer);
  EXPECT_EQ(counters(s), before);
  EXPECT_EQ(s.clientFromImageXform(), translation(1, 1));
}

}  // namespace
