// Quantile positions along a projection, as the oriented extents use them. Internal: used by the
// blob's extents and their tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kc_Extents {

// Quantiles: positions along a projection, in bins from its start.
struct Quantiles {
  double low = 0.0;     // where the excluded amount at the low end ends
  double median = 0.0;  // where half of the total lies on either side
  double high = 0.0;    // where the excluded amount at the high end begins
};

// quantiles(p, n, total, exclusion, b, c): with h = total / 2, the median position; and, unless
// exclusion > h (then low = high = 0), the positions that leave exclusion at each end, measured
// into the first and last bin holding weight, whose empty parts are b and c of a bin (0 <= b, c
// < 1: the real-valued projection's fill fractions, 0 for pel projections). The walks never read
// outside p: an amount that the bins cannot reach puts the position at the projection's end.
// Requires total > 0 and exclusion >= 0. Cost: linear in n.
template <class T>
Quantiles quantiles(const T* p, std::size_t n, double total, double exclusion, double b, double c);

extern template Quantiles quantiles<std::uint64_t>(const std::uint64_t*, std::size_t, double, double, double,
                                                   double);
extern template Quantiles quantiles<double>(const double*, std::size_t, double, double, double, double);

}  // namespace kc_Extents
