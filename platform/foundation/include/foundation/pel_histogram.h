// Histograms of 8-bit pel images, and the value at a percentage of the range their tails leave:
// the thresholds of kcRLEBuffer's percentage encoders, for callers that count the pels themselves
// (in parts, on several threads) and encode with absolute thresholds.
#pragma once

#include <foundation/pelbuffer.h>

#include <array>
#include <cstdint>

using kcPelHistogram = std::array<std::uint64_t, 256>;

// kf_PelHistogram(image): the number of pels of each value. Calls kcAttention::check() as the
// encoders do. Throws kcBadArgument when image is unbound.
kcPelHistogram kf_PelHistogram(const kcPelBuffer_const<unsigned char>& image);

// kf_PercentValue(histogram, lowTailPercent, hiTailPercent, percent): the value that
// encodePercent(image, lowTailPercent, hiTailPercent, percent, ...) thresholds at for an image of
// this histogram (its low and high thresholds of the soft form likewise): lowTailPercent and
// hiTailPercent percent of the pels cut off the ends, then percent of the value range left,
// rounded; 0 for an empty histogram. Throws kcBadArgument with the encoders' messages when a
// tail or percent is outside 0..100 or the tails add up to more than 100.
unsigned char kf_PercentValue(const kcPelHistogram& histogram, long lowTailPercent, long hiTailPercent,
                              long percent);
