// Tests of masking run images: against a pel-level reference, geometry kept, refusals.
#include <foundation/exception.h>
#include <foundation/rlebuffer.h>

#include "image_reference.h"
#include "rle_ops_reference.h"

#include <gtest/gtest.h>

#include <limits>

using imgref::Pels;

namespace {

// The mask's value at image position (px, py): its pel there, or 0 outside its rectangle.
unsigned maskValueAt(const Pels& mask, kcPair<long> at, long px, long py) {
  long mx = px - at.x(), my = py - at.y();
  if (mask.empty() || my < 0 || my >= static_cast<long>(mask.size()) || mx < 0 ||
      mx >= static_cast<long>(mask[0].size()))
    return 0;
  return mask[static_cast<std::size_t>(my)][static_cast<std::size_t>(mx)];
}

Pels maskRef(const Pels& image, kcPair<long> at, const Pels& mask, kcPair<long> maskAt, unsigned lo,
             unsigned hi, bool invert) {
  Pels out = image;
  for (std::size_t y = 0; y < out.size(); ++y)
    for (std::size_t x = 0; x < out[y].size(); ++x) {
      unsigned m = maskValueAt(mask, maskAt, at.x() + static_cast<long>(x), at.y() + static_cast<long>(y));
      if ((lo <= m && m <= hi) != invert) out[y][x] = 0;
    }
  return out;
}

class RleMask : public ::testing::Test {
 protected:
  std::mt19937 rng{7301};
};

// ---- against the reference ----

TEST_F(RleMask, Mask_randomImagesAndMasks_matchReference) {
  for (int i = 0; i < 300; ++i) {
    auto [w, h] = opsref::randomSize(rng);
    Pels pels = opsref::randomPels(rng, w, h);
    kcPair<long> at = opsref::randomOffset(rng);
    kcRLEBuffer image = opsref::runsOf(pels, at, rng() % 2 ? &rng : nullptr);

    // A mask that overlaps the image in any way: inside, across an edge, around it, or apart.
    long mw = 1 + static_cast<long>(rng() % static_cast<unsigned>(w + 20));
    long mh = 1 + static_cast<long>(rng() % static_cast<unsigned>(h + 20));
    Pels maskPels = opsref::randomPels(rng, mw, mh);
    kcPair<long> maskAt(at.x() - 10 - mw + static_cast<long>(rng() % static_cast<unsigned>(w + mw + 20)),
                        at.y() - 10 - mh + static_cast<long>(rng() % static_cast<unsigned>(h + mh + 20)));
    kcRLEBuffer mask = opsref::runsOf(maskPels, maskAt, rng() % 2 ? &rng : nullptr);

    unsigned lo = rng() % 4 == 0 ? 0 : rng() % 256, hi = rng() % 4 == 0 ? lo : rng() % 256;
    bool invert = rng() % 2;
    kcRLEBuffer out = image.mask(mask, static_cast<unsigned char>(lo), static_cast<unsigned char>(hi), invert);
    ASSERT_EQ(imgref::layoutError(out, true), "") << i;
    ASSERT_EQ(out.offset(), at);
    ASSERT_TRUE(imgref::pelsOf(out) == maskRef(pels, at, maskPels, maskAt, lo, hi, invert))
        << "case " << i << " " << w << "x" << h << " lo " << lo << " hi " << hi << " invert " << invert;
  }
}

TEST_F(RleMask, Mask_subWindowOfImage_usesImagePositions) {
  Pels pels = opsref::randomPels(rng, 600, 30);
  kcRLEBuffer big = opsref::runsOf(pels, kcPair<long>(-40, 15));
  kcRLEBuffer window = big.subWindow(kcPelRect(230, 20, 300, 12));
  Pels maskPels = opsref::randomPels(rng, 280, 40);
  kcRLEBuffer mask = opsref::runsOf(maskPels, kcPair<long>(240, 0));

  Pels windowPels(12);
  for (std::size_t y = 0; y < 12; ++y) windowPels[y].assign(pels[y + 5].begin() + 270, pels[y + 5].begin() + 570);
  kcRLEBuffer out = window.mask(mask, 0, 0, false);
  EXPECT_EQ(imgref::pelsOf(out), maskRef(windowPels, kcPair<long>(230, 20), maskPels, kcPair<long>(240, 0), 0, 0, false));
}

// ---- the common call and edge cases ----

TEST_F(RleMask, Mask_zeroRangeNotInverted_keepsImageWhereMaskNonZero) {
  // image 5 x 3 at (10, 20); mask 3 x 2 at (11, 21):   .##  over columns 11..13, rows 21..22
  //                                                     ##.
  Pels pels = {{9, 9, 9, 9, 9}, {9, 9, 9, 9, 9}, {9, 9, 9, 9, 9}};
  kcRLEBuffer image = opsref::runsOf(pels, kcPair<long>(10, 20));
  kcRLEBuffer mask = opsref::runsOf(Pels{{0, 1, 1}, {7, 7, 0}}, kcPair<long>(11, 21));
  EXPECT_EQ(imgref::pelsOf(image.mask(mask, 0, 0, false)),
            (Pels{{0, 0, 0, 0, 0}, {0, 0, 9, 9, 0}, {0, 9, 9, 0, 0}}));
  EXPECT_EQ(imgref::pelsOf(image.mask(mask, 0, 0, true)),
            (Pels{{9, 9, 9, 9, 9}, {9, 9, 0, 0, 9}, {9, 0, 0, 9, 9}}));
}

TEST_F(RleMask, Mask_degenerateMask_actsAsAllZero) {
  Pels pels = opsref::randomPels(rng, 300, 4);
  kcRLEBuffer image = opsref::runsOf(pels, kcPair<long>(3, 4));
  EXPECT_EQ(imgref::pelsOf(image.mask(kcRLEBuffer(), 0, 0, false)), Pels(4, std::vector<unsigned char>(300, 0)));
  EXPECT_EQ(imgref::pelsOf(image.mask(kcRLEBuffer(), 1, 255, false)), pels);
  // lo above hi: the range is empty, so nothing is inside it.
  EXPECT_EQ(imgref::pelsOf(image.mask(kcRLEBuffer(), 5, 0, false)), pels);
}

TEST_F(RleMask, Mask_offsetsAtLongExtremes_noOverflow) {
  Pels pels = {{1, 2, 3}};
  kcRLEBuffer image = opsref::runsOf(pels, kcPair<long>(std::numeric_limits<long>::max() - 3, 0));
  kcRLEBuffer mask = opsref::runsOf(Pels{{5, 5}}, kcPair<long>(std::numeric_limits<long>::min(), 0));
  EXPECT_EQ(imgref::pelsOf(image.mask(mask, 0, 0, false)), (Pels{{0, 0, 0}}));
  EXPECT_EQ(imgref::pelsOf(image.mask(mask, 0, 0, true)), pels);
}

TEST_F(RleMask, Mask_result_keepsTransformCacheAndSource) {
  kcRLEBuffer image = opsref::runsOf(Pels{{4, 4}, {4, 0}}, kcPair<long>(-2, 6));
  kc2XformCache cache;
  cache.xform(kc2XformLinear(kcXform<2>(kcMatrix<2>(2, 0, 0, 3), kcVector<2>(1, 1))));
  image.copyXforms(cache);
  kcRLEBuffer mask = opsref::runsOf(Pels{{1}}, kcPair<long>(-2, 6));
  kcRLEBuffer out = image.mask(mask, 0, 0, false);
  EXPECT_EQ(out.xformCache().xform().get(), cache.xform().get());
  EXPECT_EQ(out.size(), image.size());
  EXPECT_EQ(imgref::pelsOf(out), (Pels{{4, 0}, {0, 0}}));
  EXPECT_EQ(imgref::pelsOf(image), (Pels{{4, 4}, {4, 0}}));
}

// ---- refusals ----

TEST_F(RleMask, Mask_degenerateImage_throwsBadArgument) {
  kcRLEBuffer mask = opsref::runsOf(Pels{{1}}, kcPair<long>(0, 0));
  EXPECT_THROW(kcRLEBuffer().mask(mask, 0, 0, false), kcBadArgument);
}

}  // namespace
