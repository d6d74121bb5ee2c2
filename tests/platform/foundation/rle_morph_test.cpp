// Tests of grey-scale erosion and dilation of run images against a pel-level reference, and refusals.
#include <foundation/exception.h>
#include <foundation/rlebuffer.h>

#include "rle_ops_reference.h"

#include <gtest/gtest.h>

#include <algorithm>

using imgref::Pels;

namespace {

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
    opsref::Case image = opsref::randomCase(rng);
    image.runs.copyXforms(cache);
    for (auto shape : {kcRLEBuffer::eSquare3x3, kcRLEBuffer::eHoriz3x1, kcRLEBuffer::eVert1x3}) {
      for (bool isMax : {false, true}) {
        kcRLEBuffer out = isMax ? image.runs.gmorphMax(shape) : image.runs.gmorphMin(shape);
        ASSERT_EQ(imgref::layoutError(out, true), "") << i;
        ASSERT_EQ(out.offset(), image.runs.offset());
        ASSERT_EQ(out.xformCache().xform().get(), cache.xform().get());
        ASSERT_TRUE(imgref::pelsOf(out) == morphRef(image.pels, shape, isMax))
            << "case " << i << " " << out.width() << "x" << out.height() << " shape " << shape << " max " << isMax;
      }
    }
  }
}

TEST(RleMorph, MinMax_degenerateOrBadShape_throwsBadArgument) {
  kcRLEBuffer image = opsref::runsOf(Pels{{1}}, kcPair<long>(0, 0));
  EXPECT_THROW(kcRLEBuffer().gmorphMin(kcRLEBuffer::eSquare3x3), kcBadArgument);
  EXPECT_THROW(kcRLEBuffer().gmorphMax(kcRLEBuffer::eVert1x3), kcBadArgument);
  EXPECT_THROW(image.gmorphMin(static_cast<kcRLEBuffer::Shape>(3)), kcBadArgument);
  EXPECT_THROW(image.gmorphMax(static_cast<kcRLEBuffer::Shape>(-1)), kcBadArgument);
}

}  // namespace
