// Tests of run-image projections: row, column and diagonal sums against pel sums, and the slanted
// projection against exact clipping of each pel square, its extents under transforms, its types,
// and the positions inside its bins.
#include <foundation/exception.h>
#include <foundation/rlebuffer.h>

#include "rle_ops_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <numeric>
#include <tuple>

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

// Client distances from the origin of the low and high positions at exclusion 0: first occupied
// bin + b and end of last occupied bin - c, taken from the profile the type names.
std::pair<double, double> extentOf(const kcRLEBuffer& image, const Proj& p) {
  std::vector<double> profile = p.bins;
  bool rows = p.type == kcRLEBuffer::eProjRows || p.type == kcRLEBuffer::eProjRowsReversed;
  if (p.type != kcRLEBuffer::eProjAngular)
    for (auto v : rows ? image.projectHoriz() : image.projectVert()) profile.push_back(static_cast<double>(v));
  std::size_t first = 0, last = profile.size() - 1;
  while (profile[first] <= 0) ++first;
  while (profile[last] <= 0) --last;
  double low = static_cast<double>(first) + p.firstEmpty, high = static_cast<double>(last + 1) - p.lastEmpty;
  if (p.type == kcRLEBuffer::eProjRowsReversed || p.type == kcRLEBuffer::eProjColumnsReversed) {
    auto end = static_cast<double>(rows ? image.height() : image.width());
    std::tie(low, high) = std::pair(end - high, end - low);
  }
  return {low * p.binLength, high * p.binLength};
}

// The least and greatest client distance from origin, along v_perp, of a corner of a non-zero pel.
std::pair<double, double> exactExtent(const Pels& pels, kcVector<2> g, kcVector<2> origin) {
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  for (std::size_t y = 0; y < pels.size(); ++y)
    for (std::size_t x = 0; x < pels[y].size(); ++x)
      for (int c = 0; c < 4 && pels[y][x] != 0; ++c) {
        double t = g.dot(kcVector<2>(static_cast<double>(x) + c % 2, static_cast<double>(y) + c / 2) - origin);
        lo = std::min(lo, t);
        hi = std::max(hi, t);
      }
  return {lo, hi};
}

kcMatrix<2> randomMatrix(std::mt19937& rng) {
  std::uniform_real_distribution<double> angle(-kPi, kPi), scale(0.3, 3.0), shear(-1.0, 1.0);
  return kcMatrix<2>::rotation(kcRadian(angle(rng))) * kcMatrix<2>::scaling(scale(rng) * (rng() % 3 ? 1 : -1), scale(rng)) *
         kcMatrix<2>(1, shear(rng), 0, 1);
}

// ---- row, column and diagonal sums ----

TEST(RleProject, HorizVertDiag_randomImagesAndRowPast32Bits_matchPelSums) {
  std::mt19937 rng(8086);
  for (int i = 0; i < 150; ++i) {
    opsref::Case c = opsref::randomCase(rng);
    const std::size_t h = c.pels.size(), w = c.pels[0].size();
    std::vector<std::uint64_t> rows(h), columns(w), diagonals(w + h - 1);
    for (std::size_t y = 0; y < h; ++y)
      for (std::size_t x = 0; x < w; ++x) {
        rows[y] += c.pels[y][x];
        columns[x] += c.pels[y][x];
        diagonals[x + y] += c.pels[y][x];
      }
    ASSERT_EQ(c.runs.projectHoriz(), rows) << i;
    ASSERT_EQ(c.runs.projectVert(), columns) << i;
    ASSERT_EQ(c.runs.projectDiag(), diagonals) << i;
  }
  EXPECT_TRUE(kcRLEBuffer().projectDiag().empty());
  // A row whose sum passes 32 bits.
  const long width = 17'000'000;  // 255 x width > 2^32
  std::vector<unsigned char> bytes;
  for (long left = width; left > 0; left -= 255) bytes.insert(bytes.end(), {255, static_cast<unsigned char>(std::min(left, 255L))});
  bytes.insert(bytes.end(), {0, 0});
  kcRLEBuffer image;
  image.becomeOwner(width, {bytes.data()}, bytes);
  EXPECT_EQ(image.projectHoriz(), std::vector<std::uint64_t>{255ull * width});
}

// ---- slanted projection ----

TEST(RleProject, Angle_smallImagesManyAngles_matchClippedPelSquares) {
  std::mt19937 rng(8087);
  for (int i = 0; i < 120; ++i) {
    Pels pels(1 + rng() % 14, std::vector<unsigned char>(1 + rng() % 14));
    for (auto& row : pels)
      for (auto& v : row) v = static_cast<unsigned char>(rng() % 3 == 0 ? 0 : rng() % 256);
    double theta = i % 10 == 0 ? kPi / 4 * (i / 10 % 8) : std::uniform_real_distribution<double>(-kPi, kPi)(rng);
    kcVector<2> v(std::cos(theta), std::sin(theta)), g = axisOf(v, kcMatrix<2>());
    Proj p = opsref::runsOf(pels, kcPair<long>(-3, 8), &rng).projectAngle(v, kcXform<2>(), true);
    ASSERT_EQ(p.type, kcRLEBuffer::eProjAngular);
    for (std::size_t k = 0; k < p.bins.size(); ++k) {
      double want = 0;
      for (std::size_t y = 0; y < pels.size(); ++y)
        for (std::size_t x = 0; x < pels[y].size(); ++x)
          want += pels[y][x] * (areaBelow(double(x), double(y), g / g.length(), p.origin, double(k) + 1.0) -
                                areaBelow(double(x), double(y), g / g.length(), p.origin, double(k)));
      ASSERT_NEAR(p.bins[k], want, 1e-9) << i << " bin " << k;
    }
  }
}

// At exclusion 0 the positions of every answer type give exactly the extent of the non-zero pel
// squares along the client axis, under any linear transform; type 0 bins keep the whole mass.
TEST(RleProject, Angle_extentUnderTransforms_equalsExtentOfPelSquares) {
  std::mt19937 rng(8088);
  for (int i = 0; i < 300; ++i) {
    opsref::Case c = opsref::randomCase(rng);
    // Every fifth case bins on rows or columns (types 1 to 4) through a scaling.
    kcMatrix<2> a = i % 5 == 0 ? kcMatrix<2>::scaling(1 + i % 3, 0.5) : i % 4 == 0 ? kcMatrix<2>() : randomMatrix(rng);
    double theta = i % 5 == 0 ? kPi / 2 * (i / 5 % 4) : std::uniform_real_distribution<double>(-kPi, kPi)(rng);
    if (i % 7 == 0) theta = kPi / 2 * (i % 4) + (i % 2 ? 1e-7 : -1e-8);  // just off an axis
    kcVector<2> v(std::cos(theta), std::sin(theta));
    Proj p = c.runs.projectAngle(v, kcXform<2>(a, kcVector<2>(-7, 2)), false);
    double mass = std::accumulate(p.bins.begin(), p.bins.end(), 0.0), pelMass = 0;
    for (const auto& row : c.pels) pelMass += std::accumulate(row.begin(), row.end(), 0.0);
    if (p.type == kcRLEBuffer::eProjAngular) { ASSERT_NEAR(mass, pelMass, 1e-12 * pelMass) << i; }
    if (pelMass == 0) continue;
    auto [low, high] = extentOf(c.runs, p);
    auto [wantLow, wantHigh] = exactExtent(c.pels, axisOf(v, a), p.origin);
    double tol = 1e-9 * p.binLength * static_cast<double>(c.runs.width() + c.runs.height());
    ASSERT_NEAR(low, wantLow, tol) << i << " type " << p.type;
    ASSERT_NEAR(high, wantHigh, tol) << i << " type " << p.type;
  }
}

// Positions inside a bin against the clipped pel squares, under transforms, with steps (an axis
// along the pels), ramps too short to keep and, in larger images, more breakpoints in a bin than
// are sorted in one piece: the weight counted to the position is the mass asked, to within 1e-6
// bin either side; mass 0 gives the extreme pel corner in the bin, and a mass past the bin's
// weight the far end of it.
TEST(RleProject, LocateInBins_randomBinsAndMasses_matchClippedPelSquares) {
  std::mt19937 rng(8089);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int i = 0; i < 200; ++i) {
    const unsigned side = i % 10 == 9 ? 60 : 9;
    Pels pels(1 + rng() % side, std::vector<unsigned char>(1 + rng() % side));
    for (auto& row : pels)
      for (auto& v : row) v = static_cast<unsigned char>(rng() % 3 == 0 || i % 50 == 0 ? 0 : rng() % 256);
    const bool nearAxis = i % 10 < 2;
    const kcMatrix<2> a = nearAxis ? kcMatrix<2>() : randomMatrix(rng);
    const double theta = nearAxis ? kPi / 2 * (i / 10 % 4) + (i % 10 == 1 ? 1e-8 : 0.0) : unit(rng) * 2 * kPi;
    const kcVector<2> v(std::cos(theta), std::sin(theta)), n = axisOf(v, a) / axisOf(v, a).length();
    const kcRLEBuffer image = opsref::runsOf(pels, kcPair<long>(5, -2), &rng);
    const Proj p = image.projectAngle(v, kcXform<2>(a, kcVector<2>(1, 1)), true);
    const auto weight = [&](double z) {  // below z bins from the origin
      double sum = 0;
      for (std::size_t y = 0; y < pels.size(); ++y)
        for (std::size_t x = 0; x < pels[y].size(); ++x)
          if (pels[y][x] != 0) sum += pels[y][x] * areaBelow(double(x), double(y), n, p.origin, z);
      return sum;
    };
    // A bin with weight (the cases of rounding, where a pel corner only touches a bin, are left
    // out), or any bin of an image without weight.
    const bool none = weight(double(p.bins.size())) == 0;
    std::size_t k = rng() % p.bins.size();
    while (!none && weight(double(k) + 1) - weight(double(k)) < 1e-9) k = rng() % p.bins.size();
    const double start = weight(double(k)), end = weight(double(k) + 1), bin = end - start;
    const bool fromEnd = rng() % 2;
    const double mass = unit(rng) * bin;
    const kcRLEBuffer::BinQuery queries[3] = {{k, 0, false}, {k, 0, true}, {k, mass, fromEnd}};
    double at[3];
    image.locateInBins(p, queries, at);
    SCOPED_TRACE(testing::Message() << i << " bin " << k << " mass " << mass << " of " << bin);
    double first = double(k) + 1, last = double(k);  // the extreme pel corners inside the bin
    for (std::size_t y = 0; y < pels.size(); ++y)
      for (std::size_t x = 0; x < pels[y].size(); ++x)
        if (pels[y][x] != 0) {
          double lo = INFINITY, hi = -INFINITY;
          for (int c = 0; c < 4; ++c) {
            const double t = n.dot(kcVector<2>(double(x) + c % 2, double(y) + c / 2) - p.origin);
            lo = std::min(lo, t), hi = std::max(hi, t);
          }
          if (lo >= double(k) + 1 || hi <= double(k)) continue;
          first = std::min(first, std::max(lo, double(k)));
          last = std::max(last, std::min(hi, double(k) + 1));
        }
    if (none) first = last = double(k);
    EXPECT_NEAR(at[0], first, 1e-12);
    EXPECT_NEAR(at[1], none ? double(k) + 1 : last, 1e-12);
    const double d = 1e-6, tol = 1e-9 * (1 + bin);
    const auto counted = [&](double z) { return fromEnd ? end - weight(z) : weight(z) - start; };
    EXPECT_LE(counted(fromEnd ? at[2] + d : at[2] - d), mass + tol);
    EXPECT_GE(counted(fromEnd ? at[2] - d : at[2] + d), mass - tol);
    const kcRLEBuffer::BinQuery past[1] = {{k, 2 * bin + 1, false}};
    image.locateInBins(p, past, std::span<double>(at, 1));
    EXPECT_NEAR(at[0], none ? double(k) : last, 1e-12);
    if (HasFailure()) return;
  }
}

// Axes within 1e-9 of a row or column axis answer with the row or column types.
TEST(RleProject, Angle_axisAlignedDirections_rowAndColumnTypes) {
  kcRLEBuffer image = opsref::runsOf(Pels(3, std::vector<unsigned char>(5, 1)), kcPair<long>(2, 2));
  const kcMatrix<2> id, turned(0, 1, -1, 0);
  const std::tuple<kcVector<2>, kcMatrix<2>, kcRLEBuffer::ProjType, kcVector<2>> cases[] = {
      {{1, 0}, id, kcRLEBuffer::eProjRows, {0, 0}},
      {{-1, 0}, id, kcRLEBuffer::eProjRowsReversed, {0, 3}},
      {{0, -1}, id, kcRLEBuffer::eProjColumns, {0, 0}},
      {{1, 0}, turned, kcRLEBuffer::eProjColumnsReversed, {5, 0}},
      {{std::cos(1e-12), std::sin(1e-12)}, id, kcRLEBuffer::eProjRows, {0, 0}},
      {{std::cos(1e-6), std::sin(1e-6)}, id, kcRLEBuffer::eProjAngular, {5, 0}}};  // v_perp.x < 0
  for (const auto& [v, a, type, origin] : cases) {
    Proj p = image.projectAngle(v, kcXform<2>(a, {}), false);
    EXPECT_EQ(p.type, type) << v.y();
    EXPECT_EQ(p.origin, origin) << v.y();
    EXPECT_EQ(p.bins.empty(), type != kcRLEBuffer::eProjAngular);
  }
}

TEST(RleProject, Angle_allZeroImage_noWeightNoFill_degenerateOrZeroAxisThrows) {
  Proj p = opsref::runsOf(Pels(3, std::vector<unsigned char>(5, 0)), {0, 0}).projectAngle({0.6, 0.8}, kcXform<2>(), false);
  EXPECT_EQ(p.bins, std::vector<double>(p.bins.size(), 0.0));
  EXPECT_EQ(p.firstEmpty + p.lastEmpty, 0.0);
  kcRLEBuffer image = opsref::runsOf(Pels{{1}}, kcPair<long>(0, 0));
  EXPECT_THROW(kcRLEBuffer().projectAngle(kcVector<2>(1, 0), kcXform<2>(), false), kcBadArgument);
  EXPECT_THROW(image.projectAngle(kcVector<2>(0, 0), kcXform<2>(), false), kcBadArgument);
  EXPECT_THROW(image.projectAngle(kcVector<2>(std::nan(""), 0), kcXform<2>(), false), kcBadArgument);
  // A singular matrix that flattens the axis onto nothing.
  EXPECT_THROW(image.projectAngle(kcVector<2>(1, 0), kcXform<2>(kcMatrix<2>(1, 0, 0, 0), {}), false), kcBadArgument);
  // Bin queries that do not fit: a row projection, another image's bins, a bin out of range, a
  // negative mass, too many queries, too few positions.
  const Proj slanted = image.projectAngle(kcVector<2>(0.6, 0.8), kcXform<2>(), false);
  const Proj rows = image.projectAngle(kcVector<2>(1, 0), kcXform<2>(), false);
  const Proj wider = opsref::runsOf(Pels{{1, 1, 1}}, {0, 0}).projectAngle(kcVector<2>(0.6, 0.8), kcXform<2>(), false);
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
  EXPECT_THROW(kcRLEBuffer().locateInBins(slanted, {}, {}), kcBadArgument);
}

}  // namespace
