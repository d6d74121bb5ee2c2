// Tests of the scene's extrema-exclusion settings and the replacement of its client transform pair
// with the counter moves of each case.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <foundation/xform.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "blobdesc_fixture.h"

namespace {

using Desc = kcBlobSceneDescription;
using Msg = kc_BlobMessages;
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

// ---- extrema exclusion ----

TEST(BlobDescExtrema_area, zeroAccepted_negativeOrNaNRefusedWithMessage1) {
  Desc s;
  const std::function<void(Desc&, double)> setters[] = {
      [](Desc& d, double a) { d.extremaExcludeArea(a); },
      [](Desc& d, double a) { d.extremaExcludeAreaPels(a); }};
  for (const auto& set : setters) {
    s.extremaExcludeAreaPercent(20);
    const Extrema before = extrema(s);
    for (double bad : {-1e-300, -5.0, kNaN}) {
      EXPECT_SCENE_ERROR(set(s, bad), kcBlobDefs::BadParams, Msg::eExcludeAreaNegative);
      EXPECT_EQ(extrema(s), before);
    }
    set(s, 0.0);
    EXPECT_EQ(extrema(s).value, 0.0);
  }
}

TEST(BlobDescExtrema_percent, rangeIsZeroToBelowFifty) {
  Desc s;
  s.extremaExcludeAreaPels(2);
  const Extrema before = extrema(s);
  for (double bad : {50.0, -1.0, kNaN, 1e9}) {
    SCOPED_TRACE(bad);
    EXPECT_SCENE_ERROR(s.extremaExcludeAreaPercent(bad), kcBlobDefs::BadParams,
                       Msg::eExcludePercentRange);
    EXPECT_EQ(extrema(s), before);
  }
  const double justBelow = std::nextafter(50.0, 0.0);
  s.extremaExcludeAreaPercent(justBelow);
  EXPECT_EQ(extrema(s), (Extrema{justBelow, false, true}));
  s.extremaExcludeAreaPercent(0.0);
  EXPECT_EQ(extrema(s).value, 0.0);
}

TEST(BlobDescExtrema_units, eachSetter_setsItsUnitFlags) {
  Desc s;
  s.extremaExcludeAreaPels(3);
  EXPECT_EQ(extrema(s), (Extrema{3, false, false}));
  s.extremaExcludeAreaPercent(10);
  EXPECT_EQ(extrema(s), (Extrema{10, false, true}));
  s.extremaExcludeArea(4.5);
  EXPECT_EQ(extrema(s), (Extrema{4.5, true, false}));
}

TEST(BlobDescExtrema_notice, everySetterGivesNotice_noneMovesACounter) {
  Desc s;
  const Counters before = counters(s);
  const std::function<void(Desc&)> setters[] = {
      [](Desc& d) { d.extremaExcludeArea(1); }, [](Desc& d) { d.extremaExcludeAreaPels(1); },
      [](Desc& d) { d.extremaExcludeAreaPercent(1); },
      [](Desc& d) { d.extremaAngle(kcRadian(1)); }};
  for (const auto& set : setters) {
    const std::uint64_t notices = s.mutationCount();
    set(s);
    EXPECT_GT(s.mutationCount(), notices);
  }
  EXPECT_EQ(counters(s), before);
}

TEST(BlobDescExtrema_angle, storedUnchanged) {
  Desc s;
  s.extremaAngle(kcRadian(7.5));
  EXPECT_EQ(s.extremaAngle(), kcRadian(7.5));
  s.extremaAngle(kcRadian(-0.25));
  EXPECT_EQ(s.extremaAngle().toDouble(), -0.25);
}

// ---- transform replacement ----

kcXform<2> translation(double x, double y) { return kcXform<2>(kcMatrix<2>(), kcVector<2>(x, y)); }

TEST(BlobDescXform_replace, equalLinearTransform_movesNothingAndKeepsViews) {
  Desc s;
  scene_fixture::fill(s, {0, 0});
  s.clientFromImageXform(translation(1, 2));
  s.numBlobs(true);
  const Counters before = counters(s);
  s.clientFromImageXform(translation(1, 2));
  s.imageFromClientXform(translation(-1, -2));  // the same pair, set from the other side
  EXPECT_EQ(counters(s), before);
  EXPECT_EQ(data(s).shownIdsCounter, data(s).viewCounter);
}

TEST(BlobDescXform_replace, identicalObjectOnOneSide_movesNothing) {
  Desc s;
  s.clientFromImageXform(translation(1, 0));
  const Counters before = counters(s);
  kcPtrHandle_const<kc2XformBase> same = s.clientFromImageXformBase();
  s.clientFromImageXformBase(same, true);
  EXPECT_EQ(counters(s), before);
}

TEST(BlobDescXform_replace, translationOnly_movesTransformAndViewButNotMatrix) {
  Desc s;
  const Counters before = counters(s);
  s.clientFromImageXform(translation(3, -4));
  EXPECT_EQ(counters(s), (Counters{before.transform + 1, before.matrix, before.view + 1}));
  const kc_BSDData& d = data(s);
  EXPECT_FALSE(d.clientIsIdentity);
  EXPECT_TRUE(d.clientMatrixIsIdentity);
  EXPECT_EQ(d.clientAreaScale, 1.0);
}

TEST(BlobDescXform_replace, matrixChange_movesAllThree_andDerivesScales) {
  Desc s;
  s.clientFromImageXform(kcXform<2>(kcMatrix<2>::scaling(2, 3), kcVector<2>(5, 5)));
  EXPECT_EQ(counters(s), (Counters{1, 1, 1}));
  const kc_BSDData& d = data(s);
  EXPECT_TRUE(d.xformIsLinear);
  EXPECT_FALSE(d.clientMatrixIsIdentity);
  EXPECT_EQ(d.clientXScale, 2.0);
  EXPECT_EQ(d.clientYScale, 3.0);
  EXPECT_EQ(d.clientAreaScale, 6.0);
  EXPECT_EQ(d.clientAspect, 1.5);
  EXPECT_DOUBLE_EQ(d.clientScale, std::sqrt(6.0));
}

TEST(BlobDescXform_replace, nonLinear_movesAllThreeEveryTime_andZeroesScales) {
  Desc s;
  const kc2XformPerspective::Elements h{1, 0, 0, 0, 1, 0, 0.001, 0, 1};
  s.clientFromImageXformBase(kc2XformPerspective(h));
  EXPECT_EQ(counters(s), (Counters{1, 1, 1}));
  const kc_BSDData& d = data(s);
  EXPECT_FALSE(d.xformIsLinear);
  EXPECT_FALSE(d.clientIsIdentity);
  EXPECT_FALSE(d.clientMatrixIsIdentity);
  EXPECT_EQ(d.clientXScale, 0.0);
  EXPECT_EQ(d.clientScale, 0.0);
  s.clientFromImageXformBase(kc2XformPerspective(h));  // equal value, but not linear
  EXPECT_EQ(counters(s), (Counters{2, 2, 2}));
  s.clientFromImageXform(kcXform<2>());  // back to linear: the matrix counter moves too
  EXPECT_EQ(counters(s), (Counters{3, 3, 3}));
  EXPECT_TRUE(d.clientIsIdentity);
  EXPECT_EQ(d.clientXScale, 1.0);
}

TEST(BlobDescXform_get, clientFromImageSet_imageFromClientIsItsInverse) {
  Desc s;
  const kcXform<2> x(kcMatrix<2>(2, 1, 0, 4), kcVector<2>(3, -1));
  s.clientFromImageXform(x);
  EXPECT_EQ(s.clientFromImageXform(), x);
  EXPECT_TRUE(kfRealEq(s.imageFromClientXform(), x.inverse(), 1e-12));
  EXPECT_TRUE(kfRealEq(s.imageFromClientXform() * x, kcXform<2>(), 1e-12));
  EXPECT_EQ(s.imageFromClientXformBase().get(), data(s).xformCache.xform().get());
}

TEST(BlobDescXform_refuse, singularOrNull_throwsAndChangesNothing) {
  Desc s;
  s.clientFromImageXform(translation(1, 1));
  const Counters before = counters(s);
  EXPECT_THROW(s.clientFromImageXform(kcXform<2>(kcMatrix<2>(1, 2, 2, 4), kcVector<2>())),
               kcBadArgument);
  EXPECT_THROW(s.imageFromClientXformBase(kcPtrHandle_const<kc2XformBase>(), true), kcBadPointer);
  EXPECT_EQ(counters(s), before);
  EXPECT_EQ(s.clientFromImageXform(), translation(1, 1));
}

}  // namespace
