// Geometry values: angle ranges, rectangles, matrix and affine-map algebra, archive forms.
#include <foundation/archive.h>
#include <foundation/geometry.h>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

constexpr double kTol = 1e-12;
constexpr long kLongMax = std::numeric_limits<long>::max();

TEST(Radian, normAndPlain_inRangeSameDirection_boundariesOnClosedEnd) {
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> angle(-1000.0, 1000.0);
  for (int i = 0; i < 2000; ++i) {
    double a = angle(gen);
    double n = kcRadian(a).norm().toDouble();
    double p = kcRadian(a).plain().toDouble();
    ASSERT_TRUE(n >= 0.0 && n < 2.0 * kfPi) << a;
    ASSERT_TRUE(p > -kfPi && p <= kfPi) << a;
    for (double r : {n, p}) {
      EXPECT_NEAR(std::cos(r), std::cos(a), 1e-9);
      EXPECT_NEAR(std::sin(r), std::sin(a), 1e-9);
    }
  }
  // Boundaries land on the closed end.
  EXPECT_EQ(kcRadian(2.0 * kfPi).norm(), kcRadian(0.0));
  EXPECT_EQ(kcRadian(-kfPi).plain(), kcRadian(kfPi));
  EXPECT_EQ(kcRadian(-kfPi / 2).norm(), kcRadian(1.5 * kfPi));
  EXPECT_EQ(kcRadian(-1e-20).norm(), kcRadian(0.0));  // would round to 2 pi itself
  EXPECT_GT(kcRadian(std::nextafter(kfPi, 4.0)).plain().toDouble(), -kfPi);
  EXPECT_TRUE(std::isnan(kcRadian(INFINITY).norm().toDouble()));
}

TEST(Rectangle, pelRect_lrExclusiveAndBadSizesRefused) {
  kcPelRect r(3, 4, 2, 1);
  EXPECT_EQ(r.lr(), kcPair<long>(5, 5));
  EXPECT_TRUE(r.contains({4, 4}) && !r.contains({5, 4}) && !r.contains({3, 5}));
  EXPECT_EQ(kcPelRect(0, 0, 4, 4).intersection(kcPelRect(2, 3, 5, 5)), kcPelRect(2, 3, 2, 1));
  EXPECT_TRUE(kcPelRect(0, 0, 4, 4).intersection(kcPelRect(9, 9, 1, 1)).isEmpty());
  EXPECT_THROW(kcPelRect(0, 0, -1, 1), kcBadArgument);
  EXPECT_THROW(kcPelRect(kLongMax - 1, 0, 2, 1), kcBadArgument);
  EXPECT_THROW(r.height(-2), kcBadArgument);
  EXPECT_THROW(r.ul({kLongMax, 0}), kcBadArgument);
  EXPECT_EQ(r, kcPelRect(3, 4, 2, 1));
  EXPECT_EQ(kcRectangle<double>(0, 0, -1e-16, 2).width(), -1e-16);  // computed boxes kept as given
}

TEST(Matrix, scaleMeasures_rotationShearScaling) {
  // {matrix, xScale, yScale, aspect, scale}; the shear moves x by 0.75 y.
  const std::pair<kcMatrix<2>, std::array<double, 4>> cases[] = {
      {kcMatrix<2>::rotation(kcRadian(0.7)), {1.0, 1.0, 1.0, 1.0}},
      {kcMatrix<2>(1.0, 0.75, 0.0, 1.0), {1.0, 1.25, 1.25, 1.0}},
      {kcMatrix<2>::scaling(-2.0, 3.0), {2.0, 3.0, 1.5, std::sqrt(6.0)}}};
  for (const auto& [m, want] : cases) {
    const double got[] = {m.xScale(), m.yScale(), m.aspect(), m.scale()};
    for (std::size_t k = 0; k < 4; ++k) EXPECT_NEAR(got[k], want[k], kTol) << k;
  }
  EXPECT_EQ(kcXform<2>(kcMatrix<2>::scaling(-2.0, 3.0), {5.0, 5.0}).mapArea(2.0), 12.0);
}

TEST(Xform, composeAndInverse_agreeWithPointwiseMapping) {
  kcXform<2> a(kcMatrix<2>::rotation(kcRadian(0.3)) * kcMatrix<2>::scaling(2.0, 0.5), {1.0, -2.0});
  kcXform<2> b(kcMatrix<2>(1.0, 0.4, 0.0, 1.0), {-3.0, 7.0});
  kcVector<2> p(0.25, 9.0);
  kcVector<2> composed = (a * b).mapPoint(p), stepwise = a.mapPoint(b.mapPoint(p));  // b applies first
  EXPECT_NEAR(composed.x(), stepwise.x(), kTol);
  EXPECT_NEAR(composed.y(), stepwise.y(), kTol);
  EXPECT_TRUE(kfRealEq(a * a.inverse(), kcXform<2>(), kTol));
  EXPECT_TRUE(kfRealEq(a.inverse() * a, kcXform<2>(), kTol));
  EXPECT_FALSE(kfRealEq(a, kcXform<2>(), kTol));
  kcVector<2> moved = a.mapPoint({1.0, 0.0}) - a.mapPoint({0.0, 0.0});
  EXPECT_NEAR(a.mapVector({1.0, 0.0}).x(), moved.x(), kTol);  // a displacement ignores the shift
}

TEST(Matrix, singularOrBadIndex_throwsBadArgument) {
  EXPECT_THROW(kcMatrix<2>(1.0, 2.0, 2.0, 4.0).inverse(), kcBadArgument);
  EXPECT_THROW(kcMatrix<2>(1e-200, 0.0, 0.0, 1e-200).inverse(), kcBadArgument);  // overflows
  EXPECT_THROW(kcMatrix<2>(NAN, 0.0, 0.0, 1.0).inverse(), kcBadArgument);
  EXPECT_THROW(kcXform<2>(kcMatrix<2>(0, 0, 0, 0), {1, 1}).inverse(), kcBadArgument);
  EXPECT_THROW(kcMatrix<2>().element(2, 0), kcBadArgument);
}

TEST(GeometryArchive, roundTrips_keepEveryBit) {
  kcXform<2> x(kcMatrix<2>(0.1, -2.5, 1e-300, 3.0), {-0.0, 1.0 / 3.0}), xBack;
  kcVector<2> v(1.0 / 7.0, -1e10), vBack;
  kcRadian r(-5.5), rBack;
  kcRectangle<double> d(0.5, -1.5, 2.25, 1e-9), dBack;
  kcPelRect p(-3, 8, 12, 0), pBack(1, 1, 1, 1);
  std::vector<unsigned char> bytes;
  {
    kcArchive out(bytes, kcArchive::eStoring);
    out || x || v || r;
    kf_PersistenceHelper(out, d);
    kf_PersistenceHelper(out, p);
  }
  kcArchive in(bytes, kcArchive::eLoading);
  in || xBack || vBack || rBack;
  kf_PersistenceHelper(in, dBack);
  kf_PersistenceHelper(in, pBack);
  EXPECT_TRUE(xBack == x && vBack == v && rBack == r && dBack == d && pBack == p);
  EXPECT_EQ(in.remaining(), 0u);
}

TEST(GeometryArchive, pelRectBadVersionOrNegative_throwsAndLeavesUnchanged) {
  kcPelRect r(7, 7, 7, 7);
  kcRectangle<long> stored(1, 2, 3, 4);
  std::vector<unsigned char> newer;
  kcArchive out(newer, kcArchive::eStoring);
  kf_PersistenceHelper(out, stored);
  std::vector<unsigned char> negative = newer;
  newer[0] = 2;
  negative[12] = 0xff;  // top byte of the width (third long after the version byte)
  kcArchive inNewer(newer, kcArchive::eLoading), inNegative(negative, kcArchive::eLoading);
  EXPECT_THROW(kf_PersistenceHelper(inNewer, r), kcArchive::UnknownVersion);
  EXPECT_THROW(kf_PersistenceHelper(inNegative, r), kcArchive::Damaged);
  EXPECT_EQ(r, kcPelRect(7, 7, 7, 7));
}

}  // namespace
