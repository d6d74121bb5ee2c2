// Tests of masking run images against a pel-level reference, and its refusals.
#include <foundation/exception.h>
#include <foundation/rlebuffer.h>

#include "rle_ops_reference.h"

#include <gtest/gtest.h>

#include <limits>

using imgref::Pels;

namespace {

// Pels whose mask value (the mask's pel at the same image position, 0 outside it) passes the
// range test are cleared.
Pels maskRef(const Pels& image, kcPair<long> at, const Pels& mask, kcPair<long> maskAt, unsigned lo,
             unsigned hi, bool invert) {
  Pels out = image;
  for (std::size_t y = 0; y < out.size(); ++y)
    for (std::size_t x = 0; x < out[y].size(); ++x) {
      long mx = at.x() + static_cast<long>(x) - maskAt.x(), my = at.y() + static_cast<long>(y) - maskAt.y();
      bool inside = !mask.empty() && my >= 0 && my < static_cast<long>(mask.size()) && mx >= 0 &&
                    mx < static_cast<long>(mask[0].size());
      unsigned m = inside ? mask[static_cast<std::size_t>(my)][static_cast<std::size_t>(mx)] : 0;
      if ((lo <= m && m <= hi) != invert) out[y][x] = 0;
    }
  return out;
}

TEST(RleMask, Mask_randomImagesAndMasks_matchReference) {
  std::mt19937 rng(7301);
  kc2XformCache cache;
  cache.xform(kc2XformLinear(kcXform<2>(kcMatrix<2>(2, 0, 0, 3), kcVector<2>(1, 1))));
  for (int i = 0; i < 300; ++i) {
    opsref::Case image = opsref::randomCase(rng);
    image.runs.copyXforms(cache);
    const kcPair<long> at = image.runs.offset();
    // The mask lies inside the image, across an edge, around it or apart; every tenth is degenerate.
    opsref::Case mask = opsref::randomCase(rng);
    const auto below = [&rng](long n) { return static_cast<long>(rng() % static_cast<unsigned long>(n)); };
    kcPair<long> maskAt(at.x() - mask.runs.width() - 5 + below(image.runs.width() + mask.runs.width() + 10),
                        at.y() - mask.runs.height() - 5 + below(image.runs.height() + mask.runs.height() + 10));
    mask.runs.offset(maskAt);
    if (i % 10 == 0) mask = {Pels{}, kcRLEBuffer()};

    unsigned lo = rng() % 4 == 0 ? 0 : rng() % 256, hi = rng() % 4 == 0 ? lo : rng() % 256;  // lo > hi too
    bool invert = rng() % 2;
    kcRLEBuffer out = image.runs.mask(mask.runs, static_cast<unsigned char>(lo), static_cast<unsigned char>(hi), invert);
    ASSERT_EQ(imgref::layoutError(out, true), "") << i;
    ASSERT_EQ(out.offset(), at);
    ASSERT_EQ(out.xformCache().xform().get(), cache.xform().get());
    ASSERT_TRUE(imgref::pelsOf(out) == maskRef(image.pels, at, mask.pels, maskAt, lo, hi, invert))
        << "case " << i << " lo " << lo << " hi " << hi << " invert " << invert;
  }
}

TEST(RleMask, Mask_offsetsAtLongExtremes_noOverflow) {
  Pels pels = {{1, 2, 3}};
  kcRLEBuffer image = opsref::runsOf(pels, kcPair<long>(std::numeric_limits<long>::max() - 3, 0));
  kcRLEBuffer mask = opsref::runsOf(Pels{{5, 5}}, kcPair<long>(std::numeric_limits<long>::min(), 0));
  EXPECT_EQ(imgref::pelsOf(image.mask(mask, 0, 0, false)), (Pels{{0, 0, 0}}));
  EXPECT_EQ(imgref::pelsOf(image.mask(mask, 0, 0, true)), pels);
}

TEST(RleMask, Mask_degenerateImage_throwsBadArgument) {
  EXPECT_THROW(kcRLEBuffer().mask(opsref::runsOf(Pels{{1}}, kcPair<long>(0, 0)), 0, 0, false), kcBadArgument);
}

}  // namespace
