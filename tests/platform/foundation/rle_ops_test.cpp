// Tests of masking and of grey-scale erosion and dilation of run images against pel-level
// references, and their refusals.
#include <foundation/exception.h>
#include <foundation/rlebuffer.h>

#include "image_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    imgref::Case image = imgref::randomCase(rng);
    image.runs.copyXforms(cache);
    const kcPair<long> at = image.runs.offset();
    // The mask lies inside the image, across an edge, around it or apart; every tenth is degenerate.
    imgref::Case mask = imgref::randomCase(rng);
    const auto below = [&rng](long n) { return static_cast<long>(rng() % static_cast<unsigned long>(n)); };
    kcPair<long> maskAt(at.x() - mask.runs.width() - 5 + below(image.runs.width() + mask.runs.width() + 10),
                        at.y() - mask.runs.height() - 5 + below(image.runs.height() + mask.runs.height() + 10));
    mask.runs.offset(maskAt);
    if (i % 10 == 0) mask = {Pels{}, kcRLEBuffer()};

    unsigned lo = rng() % 4 == 0 ? 0 : rng() % 256, hi = rng() % 4 == 0 ? lo : rng() % 256;  // lo > hi too
    bool invert = rng() % 2;
    kcRLEBuffer out = image.runs.mask(mask.runs, static_cast<unsigned char>(lo), static_cast<unsigned char>(hi), invert);
    ASSERT_EQ(imgref::layoutError(out, true), "") << i;
    ASSERT_TRUE(out.offset() == at && out.xformCache().xform().get() == cache.xform().get());
    ASSERT_TRUE(imgref::pelsOf(out) == maskRef(image.pels, at, mask.pels, maskAt, lo, hi, invert))
        << "case " << i << " lo " << lo << " hi " << hi << " invert " << invert;
  }
}

TEST(RleMask, Mask_offsetsAtLongExtremes_noOverflow) {
  Pels pels = {{1, 2, 3}};
  kcRLEBuffer image = imgref::runsOf(pels, kcPair<long>(std::numeric_limits<long>::max() - 3, 0));
  kcRLEBuffer mask = imgref::runsOf(Pels{{5, 5}}, kcPair<long>(std::numeric_limits<long>::min(), 0));
  EXPECT_TRUE(imgref::pelsOf(image.mask(mask, 0, 0, false)) == (Pels{{0, 0, 0}}) && imgref::pelsOf(image.mask(mask, 0, 0, true)) == pels);
}


template <class P>
auto& at(P& p, long x, long y) { return p[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)]; }

// Each pel becomes the extreme of the pels under the element that lie inside the image.
Pels morphRef(const Pels& in, kcRLEBuffer::Shape shape, bool isMax) {
  const long h = static_cast<long>(in.size()), w = static_cast<long>(in[0].size());
  const long rx = shape == kcRLEBuffer::eVert1x3 ? 0 : 1, ry = shape == kcRLEBuffer::eHoriz3x1 ? 0 : 1;
  Pels out = in;
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x)
      for (long v = std::max(0L, y - ry); v <= std::min(h - 1, y + ry); ++v)
        for (long u = std::max(0L, x - rx); u <= std::min(w - 1, x + rx); ++u)
          at(out, x, y) = isMax ? std::max(at(out, x, y), at(in, u, v))
                                : std::min(at(out, x, y), at(in, u, v));
  return out;
}

TEST(RleMorph, MinMax_randomImagesEveryShape_matchReference) {
  std::mt19937 rng(5150);
  kc2XformCache cache;
  cache.xform(kc2XformLinear(kcXform<2>(kcMatrix<2>(0, 1, 1, 0), kcVector<2>(5, 0))));
  for (int i = 0; i < 200; ++i) {
    imgref::Case image = imgref::randomCase(rng);
    image.runs.copyXforms(cache);
    for (auto shape : {kcRLEBuffer::eSquare3x3, kcRLEBuffer::eHoriz3x1, kcRLEBuffer::eVert1x3}) {
      for (bool isMax : {false, true}) {
        kcRLEBuffer out = isMax ? image.runs.gmorphMax(shape) : image.runs.gmorphMin(shape);
        ASSERT_EQ(imgref::layoutError(out, true), "") << i;
        ASSERT_TRUE(out.offset() == image.runs.offset() && out.xformCache().xform().get() == cache.xform().get());
        ASSERT_TRUE(imgref::pelsOf(out) == morphRef(image.pels, shape, isMax))
            << "case " << i << " " << out.width() << "x" << out.height() << " shape " << shape << " max " << isMax;
      }
    }
  }
}

TEST(RleOps, degenerateImageOrBadShape_throwsBadArgument) {
  kcRLEBuffer image = imgref::runsOf(Pels{{1}}, kcPair<long>(0, 0));
  EXPECT_THROW(kcRLEBuffer().mask(image, 0, 0, false), kcBadArgument);
  EXPECT_THROW(kcRLEBuffer().gmorphMin(kcRLEBuffer::eSquare3x3), kcBadArgument);
  EXPECT_THROW(kcRLEBuffer().gmorphMax(kcRLEBuffer::eVert1x3), kcBadArgument);
  EXPECT_THROW(image.gmorphMin(static_cast<kcRLEBuffer::Shape>(3)), kcBadArgument);
  EXPECT_THROW(image.gmorphMax(static_cast<kcRLEBuffer::Shape>(-1)), kcBadArgument);
}

}  // namespace
