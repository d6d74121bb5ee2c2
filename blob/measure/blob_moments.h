// Moment arithmetic of one region: the weighted centroid pass over the runs, the second moments
// from the projections, client moments and principal axes. Internal: used by the blob's moment
// measures (blob_moments.cpp) and their tests.
#pragma once

#include <foundation/geometry.h>
#include <foundation/rlebuffer.h>

#include <cstdint>
#include <vector>

namespace kc_Moments {

// RegionSums: what one pass over a region's runs yields. Each pel counts with its run's value.
struct RegionSums {
  std::uint64_t weight = 0;  // sum of value x length over every run
  double centroidX = 0.0;    // weighted mean of the pel centres, image coordinates
  double centroidY = 0.0;
};

// sumRegion(region, origin): the weighted pel total and centroid of region, whose first pel lies
// at image position origin. A region without weight (degenerate, or all values 0) gives weight 0
// and the centroid of its first pel, origin + (0.5, 0.5). Sums are 64-bit integers and doubles:
// they never wrap, and stay exact while the weighted coordinate sums are below 2^53.
// Cost: one pass over the runs.
RegionSums sumRegion(const kcRLEBuffer& region, const kcPair<long>& origin);
// sumRows(first, height, origin): the same over height rows that lie one after another from
// first (each ended by its terminator, the next right after it); first may be null when height
// is 0.
RegionSums sumRows(const unsigned char* first, long height, const kcPair<long>& origin);

// sumPels(sumX, sumY, pels, origin): the same from a region's pel sums (each pel weighs 1): sumX
// and sumY the sums over its pels of their column and row counted from origin, pels >= 1 their
// number. Gives exactly what sumRows gives for such a region while 2 sumX and sumY are below 2^53.
inline RegionSums sumPels(std::uint64_t sumX, std::uint64_t sumY, std::uint64_t pels, const kcPair<long>& origin) {
  // As sumOver computes them: twice the sum of the pel columns, halved, and the sum of the rows.
  RegionSums out;
  out.weight = pels;
  // Below 2^53 the signed conversions give the same doubles, without the unsigned ones' branches.
  const auto exact = [](std::uint64_t v) { return static_cast<double>(static_cast<std::int64_t>(v)); };
  const double total = exact(pels);
  out.centroidX = static_cast<double>(origin.x()) + (exact(2 * sumX) / 2.0 / total + 0.5);
  out.centroidY = static_cast<double>(origin.y()) + (exact(sumY) / total + 0.5);
  return out;
}

// projectionTotal(p): the sum of the entries of a projection, which is the region's weight.
std::uint64_t projectionTotal(const std::vector<std::uint64_t>& p);

// secondMoment(p): the sum over the region's pels, each a unit square weighted by its value, of
// the squared distance from the centroid along one axis: sum of weight x ((centre - centroid)^2 +
// 1/12). p is the projection onto that axis (entry j: the weights at position j from the region's
// first pel); the weight is p's total. With n = sum p[j], S1 = sum j p[j] and S2 = sum j^2 p[j]
// (integers, kept exact) this is (12 (n S2 - S1^2) + n^2) / (12 n), rounded once to the nearest
// double; 0 when p's total is 0. Requires a non-empty p (internal assertion). Cost: linear in
// p's length.
double secondMoment(const std::vector<std::uint64_t>& p);

// mixedMoment(diag, columns, rows): the sum over the pels of weight x (x - cx)(y - cy) at pel
// centres, from the diagonal projection (entry i: the weights of the pels with (x - origin.x) +
// (y - origin.y) = i) and the column and row projections: with XY = (sum i^2 diag[i] - X2 - Y2) / 2
// it is (n XY - X1 Y1) / n, rounded once, so exactly 0 when the products cancel (any region
// symmetric about a row or a column). 0 when the projections have no weight or do not fit one
// region (as loaded from a damaged archive). Cost: linear in the projections' lengths.
double mixedMoment(const std::vector<std::uint64_t>& diag, const std::vector<std::uint64_t>& columns,
                   const std::vector<std::uint64_t>& rows);

// Second: a symmetric second-moment matrix [[xx, xy], [xy, yy]].
struct Second {
  double xx = 0.0;
  double yy = 0.0;
  double xy = 0.0;
};

// clientSecond(m, a, areaScale): the moments m taken to client units through the linear map with
// matrix a, whose client area of one pel is areaScale: areaScale x (a m a^T), in double arithmetic
// from the rounded image moments (the transform's entries are doubles, so nothing more is exact).
// A diagonal matrix keeps a product sum of 0 at 0, and equal moments equal when it scales both
// axes alike.
Second clientSecond(const Second& m, const kcMatrix<2>& a, double areaScale);

// Principal: the principal moments (min <= max) and the angle of the principal axis, in
// (-pi/2, pi/2].
struct Principal {
  double min = 0.0;
  double max = 0.0;
  double angle = 0.0;
};

// principalAxes(m): the eigen-decomposition of m. When m.xy is exactly 0 and m.xx equals m.yy
// exactly, the angle is 0 and both moments are m.xx (the image moments are exact, so every region
// symmetric under a quarter turn or a reflection in a diagonal and an axis lands here). Otherwise
// the general branch; an angle that comes out as -pi/2 (a product sum of -0, or one rounding
// there) is pi/2, so the angle always lies in (-pi/2, pi/2].
Principal principalAxes(const Second& m);

}  // namespace kc_Moments
