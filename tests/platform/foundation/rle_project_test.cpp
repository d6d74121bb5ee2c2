// Tests of run-image projections: row, column and diagonal sums against pel sums, and the slanted
// projection against exact clipping of each pel square under transforms, and its refusals.
#include <foundation/exception.h>
#include <foundation/rlebuffer.h>

#include "image_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using imgref::Pels;
using Proj = kcRLEBuffer::AngleProjection;

namespace {

const double kPi = std::numbers::pi;

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
  for (std::size_t i = 0; i < poly.size(); ++i)
    twice += poly[i].x() * poly[(i + 1) % poly.size()].y() - poly[(i + 1) % poly.size()].x() * poly[i].y();
  return std::fabs(twice) / 2;
}

// g = A^T v_perp: the image-space axis a projection along client direction v bins on.
kcVector<2> axisOf(kcVector<2> v, const kcMatrix<2>& a) {
  return kcVector<2>(-a.element(0, 0) * v.y() + a.element(1, 0) * v.x(), -a.element(0, 1) * v.y() + a.element(1, 1) * v.x());
}

// cornerSpan(x, y, n, origin): the least and greatest position along n of a corner of pel (x, y).
std::pair<double, double> cornerSpan(std::size_t x, std::size_t y, kcVector<2> n, kcVector<2> origin) {
  double lo = INFINITY, hi = -INFINITY;
  for (int c = 0; c < 4; ++c) {
    const double t = n.dot(kcVector<2>(double(x) + c % 2, double(y) + c / 2) - origin);
    lo = std::min(lo, t), hi = std::max(hi, t);
  }
  return {lo, hi};
}

kcMatrix<2> randomMatrix(std::mt19937& rng) {
  std::uniform_real_distribution<double> angle(-kPi, kPi), scale(0.3, 3.0), shear(-1.0, 1.0);
  return kcMatrix<2>::rotation(kcRadian(angle(rng))) * kcMatrix<2>::scaling(scale(rng) * (rng() % 3 ? 1 : -1), scale(rng)) *
         kcMatrix<2>(1, shear(rng), 0, 1);
}

// ---- row, column and diagonal sums ----

TEST(RleProject, HorizVertDiag_randomImages_matchPelSums) {
  std::mt19937 rng(8086);
  for (int i = 0; i < 150; ++i) {
    imgref::Case c = imgref::randomCase(rng);
    const std::size_t h = c.pels.size(), w = c.pels[0].size();
    std::vector<std::uint64_t> rows(h), columns(w), diagonals(w + h - 1);
    for (std::size_t y = 0; y < h; ++y)
      for (std::size_t x = 0; x < w; ++x) {
        rows[y] += c.pels[y][x];
        columns[x] += c.pels[y][x];
        diagonals[x + y] += c.pels[y][x];
      }
    ASSERT_TRUE(c.runs.projectHoriz() == rows && c.runs.projectVert() == columns && c.runs.projectDiag() == diagonals) << i;
  }
  EXPECT_TRUE(kcRLEBuffer().projectDiag().empty());
}

// ---- slanted projection ----

// Against the pel squares clipped exactly, under linear transforms: the weight of each bin, and the
// empty parts of the first and last bins with weight, which reach the extreme corners of the
// non-zero pels; locateInBins finds those corners with mass 0.
TEST(RleProject, Angle_randomImagesAndTransforms_matchClippedPelSquares) {
  std::mt19937 rng(8087);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int i = 0; i < 160; ++i) {
    const bool nearAxis = i % 10 < 2;
    Pels pels(1 + rng() % 12, std::vector<unsigned char>(1 + rng() % 12));
    for (auto& row : pels)
      for (auto& v : row) v = static_cast<unsigned char>(rng() % 3 == 0 || i % 50 == 0 ? 0 : rng() % 256);
    const kcMatrix<2> a = nearAxis || i % 3 == 0 ? kcMatrix<2>() : randomMatrix(rng);
    const double theta = nearAxis ? kPi / 2 * (i / 10 % 4) + (i % 10 == 1 ? 1e-8 : 0.0) : unit(rng) * 2 * kPi;
    const kcVector<2> v(std::cos(theta), std::sin(theta)), g = axisOf(v, a), n = g / g.length();
    const kcRLEBuffer image = imgref::runsOf(pels, kcPair<long>(5, -2), &rng);
    const Proj p = image.projectAngle(v, kcXform<2>(a, kcVector<2>(1, 1)), true);
    ASSERT_EQ(p.type, kcRLEBuffer::eProjAngular);
    ASSERT_NEAR(p.binLength, g.length(), 1e-12);
    SCOPED_TRACE(i);
    const auto weight = [&](double z) {  // below z bins from the origin
      double sum = 0;
      for (std::size_t y = 0; y < pels.size(); ++y)
        for (std::size_t x = 0; x < pels[y].size(); ++x) sum += pels[y][x] * areaBelow(double(x), double(y), n, p.origin, z);
      return sum;
    };
    for (std::size_t k = 0; k < p.bins.size(); ++k) ASSERT_NEAR(p.bins[k], weight(double(k) + 1) - weight(double(k)), 1e-9) << k;
    double lo = INFINITY, hi = -INFINITY;  // the extent of the non-zero pel squares
    for (std::size_t y = 0; y < pels.size(); ++y)
      for (std::size_t x = 0; x < pels[y].size(); ++x)
        if (pels[y][x] != 0) lo = std::min(lo, cornerSpan(x, y, n, p.origin).first), hi = std::max(hi, cornerSpan(x, y, n, p.origin).second);
    const bool none = lo > hi;
    std::size_t first = 0, last = p.bins.size() - 1;
    while (!none && p.bins[first] <= 0) ++first;
    while (!none && p.bins[last] <= 0) --last;
    if (!none) {
      ASSERT_NEAR(double(first) + p.firstEmpty, lo, 1e-9);
      ASSERT_NEAR(double(last + 1) - p.lastEmpty, hi, 1e-9);
      const kcRLEBuffer::BinQuery ends[2] = {{first, 0, false}, {last, 0, true}};
      double at[2];
      image.locateInBins(p, ends, at);
      ASSERT_NEAR(at[0], lo, 1e-12);
      ASSERT_NEAR(at[1], hi, 1e-12);
    }
    if (HasFailure()) return;
  }
}

TEST(RleProject, Angle_degenerateImageOrZeroAxis_badBinQueries_throwWritingNothing) {
  kcRLEBuffer image = imgref::runsOf(Pels{{1}}, kcPair<long>(0, 0));
  EXPECT_THROW(kcRLEBuffer().projectAngle(kcVector<2>(1, 0), kcXform<2>(), false), kcBadArgument);
  EXPECT_THROW(image.projectAngle(kcVector<2>(0, 0), kcXform<2>(), false), kcBadArgument);
  EXPECT_THROW(image.projectAngle(kcVector<2>(std::nan(""), 0), kcXform<2>(), false), kcBadArgument);
  // A singular matrix that flattens the axis onto nothing.
  EXPECT_THROW(image.projectAngle(kcVector<2>(1, 0), kcXform<2>(kcMatrix<2>(1, 0, 0, 0), {}), false), kcBadArgument);
  // Bin queries that do not fit: a row projection, another image's bins, a bin out of range, a
  // negative mass, too many queries, too few positions.
  const Proj slanted = image.projectAngle(kcVector<2>(0.6, 0.8), kcXform<2>(), false);
  const Proj rows = image.projectAngle(kcVector<2>(1, 0), kcXform<2>(), false);
  const Proj wider = imgref::runsOf(Pels{{1, 1, 1}}, {0, 0}).projectAngle(kcVector<2>(0.6, 0.8), kcXform<2>(), false);
  using Q = kcRLEBuffer::BinQuery;
  double at[4] = {-1, -1, -1, -1};
  const Q fine[4] = {{0, 0.1, false}, {0, 0.1, true}, {0, 0, false}, {0, 0, true}};
  const Q outside[1] = {{slanted.bins.size(), 0, false}}, negative[1] = {{0, -0.5, false}};
  EXPECT_THROW(image.locateInBins(rows, std::span(fine, 1), std::span(at, 1)), kcBadArgument);
  EXPECT_THROW(image.locateInBins(wider, std::span(fine, 1), std::span(at, 1)), kcBadArgument);
  EXPECT_THROW(image.locateInBins(slanted, outside, std::span(at, 1)), kcBadArgument);
  EXPECT_THROW(image.locateInBins(slanted, negative, std::span(at, 1)), kcBadArgument);
  EXPECT_THROW(image.locateInBins(slanted, fine, at), kcBadArgument);
  EXPECT_THROW(image.locateInBins(slanted, std::span(fine, 2), std::span(at, 1)), kcBadArgument);
  EXPECT_EQ(at[0], -1);  // nothing written
}

}  // namespace
