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

template <class T>
std::vector<unsigned char> storeValue(T value) {
  std::vector<unsigned char> bytes;
  kcArchive ar(bytes, kcArchive::eStoring);
  ar || value;
  return bytes;
}

std::vector<unsigned char> storeRect(kcRectangle<long> r) {
  std::vector<unsigned char> bytes;
  kcArchive ar(bytes, kcArchive::eStoring);
  kf_PersistenceHelper(ar, r);
  return bytes;
}

// Same direction: equal cosines and sines.
void expectSameDirection(double a, double b) {
  EXPECT_NEAR(std::cos(a), std::cos(b), 1e-9) << a << " vs " << b;
  EXPECT_NEAR(std::sin(a), std::sin(b), 1e-9) << a << " vs " << b;
}

// ---- angles

TEST(Radian, normAndPlain_randomAngles_inRangeAndSameDirection) {
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> angle(-1000.0, 1000.0);
  for (int i = 0; i < 2000; ++i) {
    double a = angle(gen);
    double n = kcRadian(a).norm().toDouble();
    double p = kcRadian(a).plain().toDouble();
    EXPECT_GE(n, 0.0);
    EXPECT_LT(n, 2.0 * kfPi);
    EXPECT_GT(p, -kfPi);
    EXPECT_LE(p, kfPi);
    expectSameDirection(n, a);
    expectSameDirection(p, a);
  }
}

TEST(Radian, boundaries_landOnTheClosedEnd) {
  EXPECT_EQ(kcRadian(2.0 * kfPi).norm(), kcRadian(0.0));
  EXPECT_EQ(kcRadian(-2.0 * kfPi).norm(), kcRadian(0.0));
  EXPECT_EQ(kcRadian(-kfPi).plain(), kcRadian(kfPi));
  EXPECT_EQ(kcRadian(kfPi).plain(), kcRadian(kfPi));
  EXPECT_EQ(kcRadian(-kfPi / 2).norm(), kcRadian(1.5 * kfPi));
  // A tiny negative angle would round to 2 pi itself: it must come back as 0, never 2 pi.
  EXPECT_EQ(kcRadian(-1e-20).norm(), kcRadian(0.0));
  EXPECT_FALSE(std::signbit(kcRadian(-0.0).norm().toDouble()));
  // Just above pi turns into just above -pi, not -pi.
  double above = std::nextafter(kfPi, 4.0);
  EXPECT_GT(kcRadian(above).plain().toDouble(), -kfPi);
}

TEST(Radian, notFinite_givesNaN) {
  EXPECT_TRUE(std::isnan(kcRadian(std::numeric_limits<double>::infinity()).norm().toDouble()));
  EXPECT_TRUE(std::isnan(kcRadian(std::nan("")).plain().toDouble()));
}

TEST(Vector, angleAndLength_closedForms) {
  EXPECT_EQ(kcVector<2>(0.0, -1.0).angle(), kcRadian(-kfPi / 2));
  EXPECT_EQ(kcVector<2>(-1.0, 0.0).angle(), kcRadian(kfPi));
  EXPECT_EQ(kcVector<2>().angle(), kcRadian(0.0));
  EXPECT_DOUBLE_EQ(kcVector<2>(3e200, 4e200).length(), 5e200);  // no overflow in the squares
}

// ---- rectangles

TEST(Rectangle, pelRect_lrIsExclusiveAndContainsIsHalfOpen) {
  kcPelRect r(3, 4, 2, 1);
  EXPECT_EQ(r.lr(), kcPair<long>(5, 5));
  EXPECT_TRUE(r.contains({4, 4}));
  EXPECT_FALSE(r.contains({5, 4}));
  EXPECT_FALSE(r.contains({3, 5}));
  EXPECT_FALSE(r.isEmpty());
  EXPECT_TRUE(kcPelRect(3, 4, 0, 7).isEmpty());
}

TEST(Rectangle, intersection_overlapAndDisjoint) {
  kcPelRect a(0, 0, 4, 4);
  EXPECT_EQ(a.intersection(kcPelRect(2, 3, 5, 5)), kcPelRect(2, 3, 2, 1));
  EXPECT_TRUE(a.intersection(kcPelRect(10, 10, 1, 1)).isEmpty());
  kcRectangle<double> d(0.5, 0.5, 1.0, 1.0);
  EXPECT_EQ(d.intersection(kcRectangle<double>(1.0, 0.0, 2.0, 2.0)), kcRectangle<double>(1.0, 0.5, 0.5, 1.0));
}

TEST(Rectangle, pelRectNegativeOrOverflowing_throwsAndLeavesUnchanged) {
  EXPECT_THROW(kcPelRect(0, 0, -1, 1), kcBadArgument);
  EXPECT_THROW(kcPelRect(std::numeric_limits<long>::max() - 1, 0, 2, 1), kcBadArgument);
  kcPelRect r(1, 2, 3, 4);
  EXPECT_THROW(r.height(-2), kcBadArgument);
  EXPECT_THROW(r.ul({std::numeric_limits<long>::max(), 0}), kcBadArgument);
  EXPECT_EQ(r, kcPelRect(1, 2, 3, 4));
  // Real rectangles keep what they are given (computed boxes may be slightly negative).
  EXPECT_EQ(kcRectangle<double>(0, 0, -1e-16, 2).width(), -1e-16);
}

// ---- matrices and affine maps

TEST(Matrix, scaleMeasures_rotationShearScaling) {
  kcMatrix<2> rot = kcMatrix<2>::rotation(kcRadian(0.7));
  EXPECT_NEAR(rot.xScale(), 1.0, kTol);
  EXPECT_NEAR(rot.yScale(), 1.0, kTol);
  EXPECT_NEAR(rot.aspect(), 1.0, kTol);
  EXPECT_NEAR(rot.scale(), 1.0, kTol);

  kcMatrix<2> shear(1.0, 0.75, 0.0, 1.0);  // moves x by 0.75 y
  EXPECT_EQ(shear.xScale(), 1.0);
  EXPECT_EQ(shear.yScale(), 1.25);
  EXPECT_EQ(shear.aspect(), 1.25);
  EXPECT_EQ(shear.scale(), 1.0);

  kcMatrix<2> scaling = kcMatrix<2>::scaling(-2.0, 3.0);
  EXPECT_EQ(scaling.xScale(), 2.0);
  EXPECT_EQ(scaling.yScale(), 3.0);
  EXPECT_EQ(scaling.aspect(), 1.5);
  EXPECT_NEAR(scaling.scale(), std::sqrt(6.0), kTol);
  EXPECT_EQ(kcXform<2>(scaling, {5.0, 5.0}).mapArea(2.0), 12.0);
}

TEST(Matrix, inverse_randomMatrices_multiplyToIdentity) {
  std::mt19937 gen(11);
  std::uniform_real_distribution<double> e(-3.0, 3.0);
  for (int i = 0; i < 200; ++i) {
    kcMatrix<2> m(e(gen), e(gen), e(gen), e(gen));
    if (std::fabs(m.determinant()) < 0.1) continue;
    kcMatrix<2> p = m * m.inverse();
    EXPECT_NEAR(p.element(0, 0), 1.0, 1e-9);
    EXPECT_NEAR(p.element(0, 1), 0.0, 1e-9);
    EXPECT_NEAR(p.element(1, 0), 0.0, 1e-9);
    EXPECT_NEAR(p.element(1, 1), 1.0, 1e-9);
  }
}

TEST(Matrix, singularOrNotFinite_inverseThrowsBadArgument) {
  try {
    kcMatrix<2>(1.0, 2.0, 2.0, 4.0).inverse();
    FAIL() << "a singular matrix was inverted";
  } catch (const kcBadArgument& e) {
    EXPECT_EQ(e.message(), L"The matrix is singular and cannot be inverted.");
  }
  EXPECT_THROW(kcMatrix<2>(1e-200, 0.0, 0.0, 1e-200).inverse(), kcBadArgument);  // inverse overflows
  EXPECT_THROW(kcMatrix<2>(std::nan(""), 0.0, 0.0, 1.0).inverse(), kcBadArgument);
  EXPECT_THROW(kcXform<2>(kcMatrix<2>(0, 0, 0, 0), {1, 1}).inverse(), kcBadArgument);
}

TEST(Matrix, elementIndexOutOfRange_throwsBadArgument) {
  kcMatrix<2> m;
  EXPECT_THROW(m.element(2, 0), kcBadArgument);
  EXPECT_THROW(m.element(0, -1, 1.0), kcBadArgument);
  EXPECT_TRUE(m.isIdentity());
}

TEST(Xform, composeAndInverse_agreeWithPointwiseMapping) {
  kcXform<2> a(kcMatrix<2>::rotation(kcRadian(0.3)) * kcMatrix<2>::scaling(2.0, 0.5), {1.0, -2.0});
  kcXform<2> b(kcMatrix<2>(1.0, 0.4, 0.0, 1.0), {-3.0, 7.0});
  kcVector<2> p(0.25, 9.0);
  kcVector<2> viaCompose = (a * b).mapPoint(p);
  kcVector<2> stepwise = a.mapPoint(b.mapPoint(p));  // b is applied first
  EXPECT_NEAR(viaCompose.x(), stepwise.x(), kTol);
  EXPECT_NEAR(viaCompose.y(), stepwise.y(), kTol);
  EXPECT_TRUE(kfRealEq(a * a.inverse(), kcXform<2>(), kTol));
  EXPECT_TRUE(kfRealEq(a.inverse() * a, kcXform<2>(), kTol));
  kcVector<2> back = a.inverse().mapPoint(a.mapPoint(p));
  EXPECT_NEAR(back.x(), p.x(), kTol);
  EXPECT_NEAR(back.y(), p.y(), kTol);
  kcVector<2> moved = a.mapPoint({1.0, 0.0}) - a.mapPoint({0.0, 0.0});
  EXPECT_NEAR(a.mapVector({1.0, 0.0}).x(), moved.x(), kTol);  // a displacement ignores the shift
  EXPECT_NEAR(a.mapVector({1.0, 0.0}).y(), moved.y(), kTol);
}

TEST(Xform, identityAndRealEq_distinguishSmallDifferences) {
  EXPECT_TRUE(kcXform<2>().isIdentity());
  EXPECT_FALSE(kcXform<2>(kcMatrix<2>(), {0.0, 1e-300}).isIdentity());
  kcXform<2> nearly(kcMatrix<2>(1.0, 1e-16, 0.0, 1.0), {0.0, 0.0});
  EXPECT_TRUE(kfRealEq(nearly, kcXform<2>(), 1e-15));
  EXPECT_FALSE(kfRealEq(nearly, kcXform<2>(), 1e-17));
  EXPECT_FALSE(nearly == kcXform<2>());
}

// ---- archive forms

TEST(GeometryArchive, roundTrips_keepEveryBit) {
  kcXform<2> x(kcMatrix<2>(0.1, -2.5, 1e-300, 3.0), {-0.0, 1.0 / 3.0});
  kcXform<2> xBack;
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
  EXPECT_EQ(xBack, x);
  EXPECT_EQ(vBack, v);
  EXPECT_EQ(rBack, r);
  EXPECT_EQ(dBack, d);
  EXPECT_EQ(pBack, p);
  EXPECT_EQ(in.remaining(), 0u);
  EXPECT_EQ(storeValue(r).size(), 8u);  // an angle is one double
}

TEST(GeometryArchive, newerVersion_throwsUnknownVersionAndKeepsValue) {
  std::vector<unsigned char> bytes = storeValue(kcXform<2>(kcMatrix<2>(2, 0, 0, 2), {1, 1}));
  bytes[0] = 1;
  kcXform<2> x;
  kcArchive in(bytes, kcArchive::eLoading);
  EXPECT_THROW(in || x, kcArchive::UnknownVersion);
  EXPECT_TRUE(x.isIdentity());

  std::vector<unsigned char> rect = storeRect(kcPelRect(1, 2, 3, 4));
  rect[0] = 2;
  kcArchive inRect(rect, kcArchive::eLoading);
  kcPelRect r;
  EXPECT_THROW(kf_PersistenceHelper(inRect, r), kcArchive::UnknownVersion);
}

TEST(GeometryArchive, damagedPelRect_throwsDamagedAndLeavesUnchanged) {
  std::vector<unsigned char> bytes = storeRect(kcPelRect(1, 2, 3, 4));
  bytes[9] = 0xff;  // width (third long, after the version byte) becomes negative
  bytes[12] = 0xff;
  kcPelRect r(7, 7, 7, 7);
  kcArchive in(bytes, kcArchive::eLoading);
  EXPECT_THROW(kf_PersistenceHelper(in, r), kcArchive::Damaged);
  EXPECT_EQ(r, kcPelRect(7, 7, 7, 7));

  std::vector<unsigned char> shortBytes = storeRect(kcPelRect(1, 2, 3, 4));
  shortBytes.pop_back();
  kcArchive inShort(shortBytes, kcArchive::eLoading);
  EXPECT_THROW(kf_PersistenceHelper(inShort, r), kcArchive::Damaged);
  EXPECT_EQ(r, kcPelRect(7, 7, 7, 7));
}

}  // namespace
