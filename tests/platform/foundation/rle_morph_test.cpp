// Tests of grey-scale erosion and dilation of run images: against a pel-level reference for every
// element, the square as the two lines in turn, small pictures, and refusals.
#include <foundation/exception.h>
#include <foundation/rlebuffer.h>

#include "image_reference.h"
#include "rle_ops_reference.h"

#include <gtest/gtest.h>

#include <algorithm>

using imgref::Pels;

namespace {

// Each pel becomes the extreme of the pels within reach (dx, dy) that lie inside the image.
Pels morphRef(const Pels& in, kcRLEBuffer::Shape shape, bool isMax) {
  const long h = static_cast<long>(in.size()), w = static_cast<long>(in[0].size());
  const long rx = shape == kcRLEBuffer::eVert1x3 ? 0 : 1;
  const long ry = shape == kcRLEBuffer::eHoriz3x1 ? 0 : 1;
  Pels out = in;
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      unsigned char best = in[y][x];
      for (long v = std::max(0L, y - ry); v <= std::min(h - 1, y + ry); ++v)
        for (long u = std::max(0L, x - rx); u <= std::min(w - 1, x + rx); ++u)
          best = isMax ? std::max(best, in[v][u]) : std::min(best, in[v][u]);
      out[y][x] = best;
    }
  return out;
}

kcRLEBuffer apply(const kcRLEBuffer& image, kcRLEBuffer::Shape shape, bool isMax) {
  return isMax ? image.gmorphMax(shape) : image.gmorphMin(shape);
}

Pels picture(std::initializer_list<const char*> rows) {
  Pels out;
  for (const char* r : rows) {
    out.emplace_back();
    for (; *r; ++r) out.back().push_back(*r == '#' ? 1 : 0);
  }
  return out;
}

constexpr kcRLEBuffer::Shape kShapes[] = {kcRLEBuffer::eSquare3x3, kcRLEBuffer::eHoriz3x1, kcRLEBuffer::eVert1x3};

class RleMorph : public ::testing::Test {
 protected:
  std::mt19937 rng{5150};
};

// ---- against the reference ----

TEST_F(RleMorph, MinMax_randomImagesEveryShape_matchReference) {
  for (int i = 0; i < 200; ++i) {
    auto [w, h] = opsref::randomSize(rng);
    Pels pels = opsref::randomPels(rng, w, h);
    kcPair<long> at = opsref::randomOffset(rng);
    kcRLEBuffer image = opsref::runsOf(pels, at, rng() % 2 ? &rng : nullptr);
    for (kcRLEBuffer::Shape shape : kShapes) {
      for (bool isMax : {false, true}) {
        kcRLEBuffer out = apply(image, shape, isMax);
        ASSERT_EQ(imgref::layoutError(out, true), "") << i;
        ASSERT_EQ(out.offset(), at);
        ASSERT_TRUE(imgref::pelsOf(out) == morphRef(pels, shape, isMax))
            << "case " << i << " " << w << "x" << h << " shape " << shape << " max " << isMax;
      }
    }
  }
}

TEST_F(RleMorph, MinMax_subWindow_ignoresPelsOutsideWindow) {
  Pels pels = opsref::randomPels(rng, 520, 20);
  kcRLEBuffer window = opsref::runsOf(pels, kcPair<long>(0, 0)).subWindow(kcPelRect(3, 2, 515, 16));
  Pels inside(16);
  for (std::size_t y = 0; y < 16; ++y) inside[y].assign(pels[y + 2].begin() + 3, pels[y + 2].end() - 2);
  for (kcRLEBuffer::Shape shape : kShapes) {
    EXPECT_EQ(imgref::pelsOf(window.gmorphMin(shape)), morphRef(inside, shape, false)) << shape;
    EXPECT_EQ(imgref::pelsOf(window.gmorphMax(shape)), morphRef(inside, shape, true)) << shape;
  }
}

TEST_F(RleMorph, Square_equalsHorizontalThenVertical) {
  for (int i = 0; i < 60; ++i) {
    auto [w, h] = opsref::randomSize(rng);
    kcRLEBuffer image = opsref::runsOf(opsref::randomPels(rng, w, h), kcPair<long>(0, 0));
    EXPECT_EQ(image.gmorphMin(kcRLEBuffer::eSquare3x3),
              image.gmorphMin(kcRLEBuffer::eHoriz3x1).gmorphMin(kcRLEBuffer::eVert1x3));
    EXPECT_EQ(image.gmorphMax(kcRLEBuffer::eSquare3x3),
              image.gmorphMax(kcRLEBuffer::eVert1x3).gmorphMax(kcRLEBuffer::eHoriz3x1));
  }
}

// ---- small pictures worked out by hand ----

TEST_F(RleMorph, Erode_blockTouchingEdge_edgeNeighboursIgnored) {
  kcRLEBuffer image = opsref::runsOf(picture({"###..",
                                              "###..",
                                              "###.#"}), kcPair<long>(0, 0));
  EXPECT_EQ(imgref::pelsOf(image.gmorphMin(kcRLEBuffer::eSquare3x3)), picture({"##...",
                                                                               "##...",
                                                                               "##..."}));
  EXPECT_EQ(imgref::pelsOf(image.gmorphMin(kcRLEBuffer::eVert1x3)), picture({"###..",
                                                                             "###..",
                                                                             "###.."}));
  EXPECT_EQ(imgref::pelsOf(image.gmorphMax(kcRLEBuffer::eHoriz3x1)), picture({"####.",
                                                                              "####.",
                                                                              "#####"}));
}

TEST_F(RleMorph, Dilate_singlePel_growsToElement) {
  kcRLEBuffer image = opsref::runsOf(picture({".....",
                                              "..#..",
                                              "....."}), kcPair<long>(0, 0));
  EXPECT_EQ(imgref::pelsOf(image.gmorphMax(kcRLEBuffer::eSquare3x3)), picture({".###.",
                                                                               ".###.",
                                                                               ".###."}));
  EXPECT_EQ(imgref::pelsOf(image.gmorphMax(kcRLEBuffer::eVert1x3)), picture({"..#..",
                                                                             "..#..",
                                                                             "..#.."}));
}

TEST_F(RleMorph, MinMax_onePelImage_unchanged) {
  kcRLEBuffer image = opsref::runsOf(Pels{{77}}, kcPair<long>(4, 4));
  for (kcRLEBuffer::Shape shape : kShapes) {
    EXPECT_EQ(imgref::pelsOf(image.gmorphMin(shape)), (Pels{{77}}));
    EXPECT_EQ(imgref::pelsOf(image.gmorphMax(shape)), (Pels{{77}}));
  }
}

TEST_F(RleMorph, MinMax_result_keepsTransformCache) {
  kcRLEBuffer image = opsref::runsOf(Pels{{1, 2}, {3, 4}}, kcPair<long>(9, -9));
  kc2XformCache cache;
  cache.xform(kc2XformLinear(kcXform<2>(kcMatrix<2>(0, 1, 1, 0), kcVector<2>(5, 0))));
  image.copyXforms(cache);
  EXPECT_EQ(image.gmorphMin(kcRLEBuffer::eSquare3x3).xformCache().xform().get(), cache.xform().get());
  EXPECT_EQ(image.gmorphMax(kcRLEBuffer::eHoriz3x1).xformCache().xform().get(), cache.xform().get());
}

// ---- refusals ----

TEST_F(RleMorph, MinMax_degenerateImage_throwsBadArgument) {
  EXPECT_THROW(kcRLEBuffer().gmorphMin(kcRLEBuffer::eSquare3x3), kcBadArgument);
  EXPECT_THROW(kcRLEBuffer().gmorphMax(kcRLEBuffer::eVert1x3), kcBadArgument);
}

TEST_F(RleMorph, MinMax_shapeOutOfRange_throwsBadArgument) {
  kcRLEBuffer image = opsref::runsOf(Pels{{1}}, kcPair<long>(0, 0));
  EXPECT_THROW(image.gmorphMin(static_cast<kcRLEBuffer::Shape>(3)), kcBadArgument);
  EXPECT_THROW(image.gmorphMax(static_cast<kcRLEBuffer::Shape>(-1)), kcBadArgument);
}

}  // namespace
