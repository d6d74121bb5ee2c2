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
RegionSums sumPels(std::uint64_t sumX, std::uint64_t sumY, std::uint64_t pels, const kcPair<long>& origin);

// projectionTotal(p): the sum of the entries of a projection, which is the region's weight.
std::uint64_t projectionTotal(const std::vector<std::uint64_t>& p);

// secondMoment(p, c): the sum over the region's pels, each a unit square weighted by its value,
// of the squared distance from the centroid along one axis: sum of weight x ((centre - centroid)^2
// + 1/12). p is the projection onto that axis (entry j: the weights at position j from the
// region's first pel); c the centroid's distance from that first pel's edge (e.g. centroidX -
// origin.x); the weight is p's total. Requires a non-empty p (internal assertion).
// Cost: linear in p's length.
double secondMoment(const std::vector<std::uint64_t>& p, double c);

// mixedMoment(diag, d, sumXX, sumYY): the sum over the pels of weight x (x - cx)(y - cy) at pel
// centres. diag is the diagonal projection (entry i: the weights of the pels with
// (x - origin.x) + (y - origin.y) = i); d = (cx - origin.x) + (cy - origin.y) - 1; sumXX and sumYY
// are secondMoment along x and y. Cost: linear in diag's length.
double mixedMoment(const std::vector<std::uint64_t>& diag, double d, double sumXX, double sumYY);

// Second: a symmetric second-moment matrix [[xx, xy], [xy, yy]].
struct Second {
  double xx = 0.0;
  double yy = 0.0;
  double xy = 0.0;
};

// clientSecond(m, a, areaScale): the moments m taken to client units through the linear map with
// matrix a, whose client area of one pel is areaScale: areaScale x (a m a^T).
Second clientSecond(const Second& m, const kcMatrix<2>& a, double areaScale);

// Principal: the principal moments (min <= max) and the angle of the principal axis, in
// (-pi/2, pi/2].
struct Principal {
  double min = 0.0;
  double max = 0.0;
  double angle = 0.0;
};

// principalAxes(m): the eigen-decomposition of m. When m.xy is exactly 0 and m.xx equals m.yy
// exactly, the angle is 0 and both moments are m.xx; any other matrix takes the general branch,
// so a residue of rounding in m.xy gives an angle of +-pi/4 for an isotropic region.
Principal principalAxes(const Second& m);

}  // namespace kc_Moments
