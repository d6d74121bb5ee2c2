// Geometry values: angle ranges, rectangles, matrix and affine-map algebra, archive forms.
#include <foundation/archive.h>
#include <foundation/geometry.h>

#include <gtest/gtest.h>

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
    const double a = angle(gen), n = kcRadian(a).norm().toDouble(), p = kcRadian(a).plain().toDouble();
    ASSERT_TRUE(n >= 0.0 && n < 2.0 * kfPi && p > -kfPi && p <= kfPi) << a;
    for (double r : {n, p}) ASSERT_NEAR(std::abs(std::cos(r) - std::cos(a)) + std::abs(std::sin(r) - std::sin(a)), 0, 1e-9);
  }
  EXPECT_TRUE(kcRadian(2.0 * kfPi).norm() == kcRadian(0.0) && kcRadian(-kfPi).plain() == kcRadian(kfPi));
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
}

TEST(Xform, composeAndInverse_agreeWithPointwiseMapping_singularRefused) {
  kcXform<2> a(kcMatrix<2>::rotation(kcRadian(0.3)) * kcMatrix<2>::scaling(2.0, 0.5), {1.0, -2.0});
  kcXform<2> b(kcMatrix<2>(1.0, 0.4, 0.0, 1.0), {-3.0, 7.0});
  const kcVector<2> p(0.25, 9.0);
  EXPECT_NEAR(((a * b).mapPoint(p) - a.mapPoint(b.mapPoint(p))).length(), 0.0, kTol);  // b applies first
  EXPECT_TRUE(kfRealEq(a * a.inverse(), kcXform<2>(), kTol) && kfRealEq(a.inverse() * a, kcXform<2>(), kTol));
  EXPECT_FALSE(kfRealEq(a, kcXform<2>(), kTol));
  EXPECT_NEAR((a.mapVector({1.0, 0.0}) - (a.mapPoint({1.0, 0.0}) - a.mapPoint({0.0, 0.0}))).length(), 0.0, kTol);
  EXPECT_THROW(kcMatrix<2>(1.0, 2.0, 2.0, 4.0).inverse(), kcBadArgument);
  EXPECT_THROW(kcMatrix<2>(1e-200, 0.0, 0.0, 1e-200).inverse(), kcBadArgument);  // overflows
  EXPECT_THROW(kcMatrix<2>(NAN, 0.0, 0.0, 1.0).inverse(), kcBadArgument);
  EXPECT_THROW(kcXform<2>(kcMatrix<2>(0, 0, 0, 0), {1, 1}).inverse(), kcBadArgument);
  EXPECT_THROW(kcMatrix<2>().element(2, 0), kcBadArgument);
}

// The rectangle alone (transforms and rectangles in round trips: the archive corpus test): a
// version byte, then four longs.
TEST(GeometryArchive, rectangle_badVersionOrNegativeSizeRefused) {
  const kcPelRect kept(1, 1, 1, 1);
  kcPelRect p(-3, 8, 12, 0), pBack = kept;
  std::vector<unsigned char> newer;
  kcArchive out(newer, kcArchive::eStoring);
  kf_PersistenceHelper(out, p);
  std::vector<unsigned char> negative = newer;
  newer[0] = 2;
  negative[12] = 0xff;  // top byte of the width
  kcArchive inNewer(newer, kcArchive::eLoading), inNegative(negative, kcArchive::eLoading);
  EXPECT_THROW(kf_PersistenceHelper(inNewer, pBack), kcArchive::UnknownVersion);
  EXPECT_THROW(kf_PersistenceHelper(inNegative, pBack), kcArchive::Damaged);
  EXPECT_EQ(pBack, kept);
}

}  // namespace
