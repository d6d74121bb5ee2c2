// Quantile positions along a projection, as the oriented extents use them. Internal: used by the
// blob's extents and their tests.
#pragma once

#include <foundation/rlebuffer.h>

#include <cstddef>
#include <cstdint>

namespace kc_Extents {

// Quantiles: positions along a projection, in bins from its start.
struct Quantiles {
  double low = 0.0;     // where the excluded amount at the low end ends
  double median = 0.0;  // where half of the total lies on either side
  double high = 0.0;    // where the excluded amount at the high end begins
};

// quantiles(p, n, total, exclusion): with h = total / 2, the median position; and, unless
// exclusion > h (then low = high = 0), the positions that leave exclusion at each end. Each walk
// stops in the bin where its amount is reached and interpolates linearly inside it, which is exact
// for pel rows and columns (their pels fill each bin evenly). The walks never read outside p: an
// amount that the bins cannot reach puts the position at the projection's end. Requires total > 0
// and exclusion >= 0. Cost: linear in n.
Quantiles quantiles(const std::uint64_t* p, std::size_t n, double total, double exclusion);

// quantiles(region, projection, total, exclusion): the same positions along projection, the type 0
// projection of region: the walks pick the bins as above, then each position is solved inside its
// bin from the runs reaching it (kcRLEBuffer::locateInBins, one pass for all three). Error: within
// 5e-7 bin of the exact position of the pel squares, up to rounding of the weights (relative
// 1e-15 per bin walked), so far inside 0.01 bin; at exclusion 0 the box ends are the extreme pel
// corners exactly. Throws kcBadArgument when projection is not of type 0 or not of region's size.
// Cost: linear in the bins plus one pass over the runs of the rows reaching the three bins.
Quantiles quantiles(const kcRLEBuffer& region, const kcRLEBuffer::AngleProjection& projection, double total,
                    double exclusion);

}  // namespace kc_Extents
