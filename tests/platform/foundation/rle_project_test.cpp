// Tests of run-image projections: row, column and diagonal sums against pel sums, and the slanted
// projection against exact clipping of each pel square, its extents under transforms, its types.
#include <foundation/exception.h>
#include <foundation/rlebuffer.h>

#include "image_reference.h"
#include "rle_ops_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

using imgref::Pels;
using Proj = kcRLEBuffer::AngleProjection;

namespace {

const double kPi = std::numbers::pi;

// ---- pel-level references ----

struct PelSums {
  std::vector<std::uint64_t> rows, columns, diagonals;
};

PelSums pelSums(const Pels& pels) {
  const std::size_t h = pels.size(), w = pels[0].size();
  PelSums s{std::vector<std::uint64_t>(h), std::vector<std::uint64_t>(w), std::vector<std::uint64_t>(w + h - 1)};
  for (std::size_t y = 0; y < h; ++y)
    for (std::size_t x = 0; x < w; ++x) {
      s.rows[y] += pels[y][x];
      s.columns[x] += pels[y][x];
      s.diagonals[x + y] += pels[y][x];
    }
  return s;
}

// Area of the unit square at (x, y) where n . (p - origin) <= t: the square clipped by the
// half-plane (one Sutherland-Hodgman pass) and measured by the shoelace formula.
double areaBelow(double x, double y, kcVector<2> n, kcVector<2> origin, double t) {
  const kcVector<2> square[4] = {{x, y}, {x + 1, y}, {x + 1, y + 1}, {x, y + 1}};
  std::vector<kcVector<2>> poly;
  for (int i = 0; i < 4; ++i) {
    kcVector<2> p = square[i], q = square[(i + 1) % 4];
    double fp = n.dot(p - origin) - t, fq = n.dot(q - origin) - t;
    if (fp <= 0) poly.push_back(p);
    if ((fp < 0) != (fq < 0) && fp != fq) poly.push_back(p + (q - p) * (fp / (fp - fq)));
  }
  double twice = 0;
  for (std::size_t i = 0; i < poly.size(); ++i) {
    const kcVector<2>& a = poly[i];
    const kcVector<2>& b = poly[(i + 1) % poly.size()];
    twice += a.x() * b.y() - b.x() * a.y();
  }
  return std::fabs(twice) / 2;
}

// The bins of a slanted projection along unit axis n from origin, pel by pel.
std::vector<double> slantedRef(const Pels& pels, kcVector<2> n, kcVector<2> origin, std::size_t bins) {
  std::vector<double> out(bins, 0.0);
  for (std::size_t y = 0; y < pels.size(); ++y)
    for (std::size_t x = 0; x < pels[y].size(); ++x) {
      if (pels[y][x] == 0) continue;
      for (std::size_t k = 0; k < bins; ++k) {
        double inBin = areaBelow(x, y, n, origin, k + 1.0) - areaBelow(x, y, n, origin, k);
        out[k] += pels[y][x] * inBin;
      }
    }
  return out;
}

// g = A^T v_perp, the image-space axis that a projection along client direction v bins on.
kcVector<2> axisOf(kcVector<2> v, const kcMatrix<2>& a) {
  kcVector<2> perp(-v.y(), v.x());
  return kcVector<2>(a.element(0, 0) * perp.x() + a.element(1, 0) * perp.y(),
                     a.element(0, 1) * perp.x() + a.element(1, 1) * perp.y());
}

// Low and high positions at exclusion 0 (first occupied bin + b, end of last occupied bin - c),
// in client distance from the projection's origin, whatever the type.
std::pair<double, double> extentOf(const kcRLEBuffer& image, const Proj& p) {
  std::vector<double> profile = p.bins;
  if (p.type == kcRLEBuffer::eProjRows || p.type == kcRLEBuffer::eProjRowsReversed)
    for (auto v : image.projectHoriz()) profile.push_back(static_cast<double>(v));
  if (p.type == kcRLEBuffer::eProjColumns || p.type == kcRLEBuffer::eProjColumnsReversed)
    for (auto v : image.projectVert()) profile.push_back(static_cast<double>(v));
  std::size_t first = 0, last = profile.size() - 1;
  while (profile[first] <= 0) ++first;
  while (profile[last] <= 0) --last;
  double low = first + p.firstEmpty, high = last + 1 - p.lastEmpty;
  double reverse = p.type == kcRLEBuffer::eProjRowsReversed      ? image.height()
                   : p.type == kcRLEBuffer::eProjColumnsReversed ? image.width()
                                                                 : -1;
  if (reverse >= 0) std::tie(low, high) = std::pair(reverse - high, reverse - low);
  return {low * p.binLength, high * p.binLength};
}

// The least and greatest client distance along v_perp of any corner of a non-zero pel, from origin.
std::pair<double, double> exactExtent(const Pels& pels, kcVector<2> v, const kcMatrix<2>& a, kcVector<2> origin) {
  kcVector<2> g = axisOf(v, a);
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  for (std::size_t y = 0; y < pels.size(); ++y)
    for (std::size_t x = 0; x < pels[y].size(); ++x)
      if (pels[y][x] != 0)
        for (int c = 0; c < 4; ++c) {
          double t = g.dot(kcVector<2>(x + c % 2, y + c / 2) - origin);
          lo = std::min(lo, t);
          hi = std::max(hi, t);
        }
  return {lo, hi};
}

double total(const std::vector<double>& bins) {
  double s = 0;
  for (double b : bins) s += b;
  return s;
}

double pelTotal(const Pels& pels) {
  double s = 0;
  for (const auto& row : pels)
    for (unsigned char v : row) s += v;
  return s;
}

kcMatrix<2> randomMatrix(std::mt19937& rng) {
  std::uniform_real_distribution<double> angle(-kPi, kPi), scale(0.3, 3.0), shear(-1.0, 1.0);
  kcMatrix<2> m = kcMatrix<2>::rotation(kcRadian(angle(rng))) * kcMatrix<2>::scaling(scale(rng), scale(rng)) *
                  kcMatrix<2>(1, shear(rng), 0, 1);
  return rng() % 3 == 0 ? m * kcMatrix<2>::scaling(-1, 1) : m;  // mirrored too
}

class RleProject : public ::testing::Test {
 protected:
  std::mt19937 rng{8086};
};

// ---- row, column and diagonal sums ----

TEST_F(RleProject, HorizVertDiag_randomImages_matchPelSums) {
  for (int i = 0; i < 150; ++i) {
    auto [w, h] = opsref::randomSize(rng);
    Pels pels = opsref::randomPels(rng, w, h);
    kcRLEBuffer image = opsref::runsOf(pels, opsref::randomOffset(rng), rng() % 2 ? &rng : nullptr);
    PelSums want = pelSums(pels);
    ASSERT_EQ(image.projectHoriz(), want.rows) << i;
    ASSERT_EQ(image.projectVert(), want.columns) << i;
    ASSERT_EQ(image.projectDiag(), want.diagonals) << i;
  }
}

TEST_F(RleProject, Horiz_rowSumPast32Bits_exact) {
  const long width = 17'000'000;  // 255 x width > 2^32
  std::vector<unsigned char> bytes;
  for (long left = width; left > 0; left -= 255) {
    bytes.push_back(255);
    bytes.push_back(static_cast<unsigned char>(std::min(left, 255L)));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  kcRLEBuffer image;
  std::vector<const unsigned char*> rows{bytes.data()};
  image.becomeOwner(width, rows, bytes);
  EXPECT_EQ(image.projectHoriz(), std::vector<std::uint64_t>{255ull * width});
}

TEST_F(RleProject, HorizVertDiag_degenerate_empty) {
  EXPECT_TRUE(kcRLEBuffer().projectHoriz().empty());
  EXPECT_TRUE(kcRLEBuffer().projectVert().empty());
  EXPECT_TRUE(kcRLEBuffer().projectDiag().empty());
}

// ---- slanted projection: bins ----

TEST_F(RleProject, Angle_singlePelAt45Degrees_closedForm) {
  // A unit square on its diagonal: density 2s up to sqrt2/2, then falling; span sqrt2.
  kcRLEBuffer image = opsref::runsOf(Pels{{1}}, kcPair<long>(5, 5));
  const double r = std::sqrt(0.5);
  Proj p = image.projectAngle(kcVector<2>(r, -r), kcXform<2>(), false);
  EXPECT_EQ(p.type, kcRLEBuffer::eProjAngular);
  ASSERT_EQ(p.bins.size(), 2u);
  EXPECT_NEAR(p.bins[0], 2 * std::sqrt(2.0) - 2, 1e-14);
  EXPECT_NEAR(p.bins[1], 3 - 2 * std::sqrt(2.0), 1e-14);
  EXPECT_EQ(p.firstEmpty, 0.0);
  EXPECT_NEAR(p.lastEmpty, 2 - std::sqrt(2.0), 1e-14);
  EXPECT_NEAR(p.binLength, 1.0, 1e-15);
}

TEST_F(RleProject, Angle_smallImagesManyAngles_matchClippedPelSquares) {
  for (int i = 0; i < 120; ++i) {
    long w = 1 + static_cast<long>(rng() % 14), h = 1 + static_cast<long>(rng() % 14);
    Pels pels = opsref::randomPels(rng, w, h);
    kcRLEBuffer image = opsref::runsOf(pels, opsref::randomOffset(rng), rng() % 2 ? &rng : nullptr);
    double theta = std::uniform_real_distribution<double>(-kPi, kPi)(rng);
    if (i % 10 == 0) theta = kPi / 4 * (i / 10 % 8);  // exact diagonals and axes too
    kcVector<2> v(std::cos(theta), std::sin(theta));
    Proj p = image.projectAngle(v, kcXform<2>(), true);
    ASSERT_EQ(p.type, kcRLEBuffer::eProjAngular);
    kcVector<2> g = axisOf(v, kcMatrix<2>());
    std::vector<double> want = slantedRef(pels, g / g.length(), p.origin, p.bins.size());
    for (std::size_t k = 0; k < want.size(); ++k) ASSERT_NEAR(p.bins[k], want[k], 1e-9) << i << " bin " << k;
    // Every pel lies inside the bins, so the last bin reaches it.
    EXPECT_GE(p.bins.size() + 1e-9, std::fabs(g.x()) / g.length() * w + std::fabs(g.y()) / g.length() * h);
  }
}

TEST_F(RleProject, Angle_largeImagesUnderTransforms_conserveMass) {
  for (int i = 0; i < 30; ++i) {
    auto [w, h] = opsref::randomSize(rng);
    Pels pels = opsref::randomPels(rng, w, h);
    kcRLEBuffer image = opsref::runsOf(pels, opsref::randomOffset(rng));
    double theta = std::uniform_real_distribution<double>(-kPi, kPi)(rng);
    Proj p = image.projectAngle(kcVector<2>(std::cos(theta), std::sin(theta)),
                                kcXform<2>(randomMatrix(rng), kcVector<2>(3, 4)), false);
    ASSERT_EQ(p.type, kcRLEBuffer::eProjAngular);
    double want = pelTotal(pels);
    EXPECT_NEAR(total(p.bins), want, 1e-12 * want + 1e-12) << i;
    for (double b : p.bins) ASSERT_GE(b, 0.0);
  }
}

TEST_F(RleProject, Angle_rowAxisForced_binsAreRowSums) {
  Pels pels = opsref::randomPels(rng, 300, 17);
  kcRLEBuffer image = opsref::runsOf(pels, kcPair<long>(0, 0));
  Proj p = image.projectAngle(kcVector<2>(1, 0), kcXform<2>(), true);
  ASSERT_EQ(p.type, kcRLEBuffer::eProjAngular);
  std::vector<double> rows;
  for (auto v : image.projectHoriz()) rows.push_back(static_cast<double>(v));
  EXPECT_EQ(p.bins, rows);
}

TEST_F(RleProject, Angle_allZeroImage_emptyBinsNoFill) {
  kcRLEBuffer image = opsref::runsOf(Pels(3, std::vector<unsigned char>(4, 0)), kcPair<long>(0, 0));
  Proj p = image.projectAngle(kcVector<2>(0.6, 0.8), kcXform<2>(), false);
  EXPECT_EQ(p.type, kcRLEBuffer::eProjAngular);
  EXPECT_EQ(total(p.bins), 0.0);
  EXPECT_EQ(p.firstEmpty, 0.0);
  EXPECT_EQ(p.lastEmpty, 0.0);
}

// ---- slanted projection: extents at exclusion 0 ----

TEST_F(RleProject, Angle_extentUnderTransforms_equalsExtentOfPelSquares) {
  for (int i = 0; i < 300; ++i) {
    long w = 1 + static_cast<long>(rng() % (i % 3 == 0 ? 400 : 40)), h = 1 + static_cast<long>(rng() % 40);
    Pels pels = opsref::randomPels(rng, w, h);
    kcRLEBuffer image = opsref::runsOf(pels, opsref::randomOffset(rng));
    kcMatrix<2> a = i % 4 == 0 ? kcMatrix<2>() : randomMatrix(rng);
    double theta = std::uniform_real_distribution<double>(-kPi, kPi)(rng);
    if (i % 5 == 0) theta = kPi / 2 * (i / 5 % 4);  // row and column types under the identity
    kcVector<2> v(std::cos(theta), std::sin(theta));
    Proj p = image.projectAngle(v, kcXform<2>(a, kcVector<2>(-7, 2)), false);
    if (pelTotal(pels) == 0) continue;
    auto [low, high] = extentOf(image, p);
    auto [wantLow, wantHigh] = exactExtent(pels, v, a, p.origin);
    double tol = 1e-9 * p.binLength * (w + h);
    ASSERT_NEAR(low, wantLow, tol) << i << " type " << p.type;
    ASSERT_NEAR(high, wantHigh, tol) << i << " type " << p.type;
  }
}

// ---- slanted projection: answer types ----

TEST_F(RleProject, Angle_axisDirections_rowAndColumnTypes) {
  kcRLEBuffer image = opsref::runsOf(Pels(3, std::vector<unsigned char>(5, 1)), kcPair<long>(2, 2));
  struct Case {
    kcVector<2> v;
    kcRLEBuffer::ProjType type;
    kcVector<2> origin;
  } cases[] = {{{1, 0}, kcRLEBuffer::eProjRows, {0, 0}},
               {{-1, 0}, kcRLEBuffer::eProjRowsReversed, {0, 3}},
               {{0, -1}, kcRLEBuffer::eProjColumns, {0, 0}},
               {{0, 1}, kcRLEBuffer::eProjColumnsReversed, {5, 0}},
               {{std::cos(1e-12), std::sin(1e-12)}, kcRLEBuffer::eProjRows, {0, 0}}};
  for (const Case& c : cases) {
    Proj p = image.projectAngle(c.v, kcXform<2>(), false);
    EXPECT_EQ(p.type, c.type) << c.v.x() << "," << c.v.y();
    EXPECT_EQ(p.origin, c.origin);
    EXPECT_TRUE(p.bins.empty());
    EXPECT_NEAR(p.binLength, 1.0, 1e-15);
  }
  EXPECT_EQ(image.projectAngle(kcVector<2>(std::cos(1e-6), std::sin(1e-6)), kcXform<2>(), false).type,
            kcRLEBuffer::eProjAngular);
}

TEST_F(RleProject, Angle_transformedAxis_typeAndBinLengthFollowMatrix) {
  kcRLEBuffer image = opsref::runsOf(Pels(2, std::vector<unsigned char>(2, 1)), kcPair<long>(0, 0));
  // x scaled by 2, y by 3: client direction (1, 0) bins on image rows, 3 client units each.
  Proj rows = image.projectAngle(kcVector<2>(1, 0), kcXform<2>(kcMatrix<2>::scaling(2, 3), {}), false);
  EXPECT_EQ(rows.type, kcRLEBuffer::eProjRows);
  EXPECT_DOUBLE_EQ(rows.binLength, 3.0);
  // A quarter turn: client (1, 0) now bins on image columns, from the right.
  Proj cols = image.projectAngle(kcVector<2>(1, 0), kcXform<2>(kcMatrix<2>(0, 1, -1, 0), {}), false);
  EXPECT_EQ(cols.type, kcRLEBuffer::eProjColumnsReversed);
  EXPECT_EQ(cols.origin, kcVector<2>(2, 0));
}

// ---- refusals ----

TEST_F(RleProject, Angle_degenerateOrZeroAxis_throwsBadArgument) {
  kcRLEBuffer image = opsref::runsOf(Pels{{1}}, kcPair<long>(0, 0));
  EXPECT_THROW(kcRLEBuffer().projectAngle(kcVector<2>(1, 0), kcXform<2>(), false), kcBadArgument);
  EXPECT_THROW(image.projectAngle(kcVector<2>(0, 0), kcXform<2>(), false), kcBadArgument);
  EXPECT_THROW(image.projectAngle(kcVector<2>(std::nan(""), 0), kcXform<2>(), false), kcBadArgument);
  // A singular matrix that flattens the axis onto nothing.
  EXPECT_THROW(image.projectAngle(kcVector<2>(1, 0), kcXform<2>(kcMatrix<2>(1, 0, 0, 0), {}), false), kcBadArgument);
}

}  // namespace
