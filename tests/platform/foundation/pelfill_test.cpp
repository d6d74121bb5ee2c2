// Tests of pel filling: kfPelSet and kfPelCombine_U8 against a pel-by-pel reference.
#include <foundation/exception.h>
#include <foundation/pelfill.h>

#include "image_reference.h"

#include <gtest/gtest.h>

using imgref::Pels;

namespace {

using Image = kcPelBuffer<unsigned char>;

TEST(PelCombine, RandomRegions_matchReferenceWithClipping) {
  std::mt19937 rng(99);
  for (int i = 0; i < 150; ++i) {
    Image image(1 + static_cast<long>(rng() % 300), 1 + static_cast<long>(rng() % 30));
    imgref::fillRandom(image, rng, 256, 5);
    image.offset(kcPair<long>(static_cast<long>(rng() % 100) - 50, static_cast<long>(rng() % 100) - 50));
    Image source = imgref::randomImage(rng);
    source.offset(kcPair<long>(image.offset().x() + static_cast<long>(rng() % 400) - 200,
                               image.offset().y() + static_cast<long>(rng() % 60) - 30));
    kcRLEBuffer region;
    region.encode(source);
    kcPair<long> shift(static_cast<long>(rng() % 21) - 10, static_cast<long>(rng() % 21) - 10);
    std::vector<unsigned char> map(256);
    for (auto& m : map) m = static_cast<unsigned char>(rng() % 4);
    auto skip = static_cast<unsigned char>(rng() % 4);
    // Reference: every pel of the region at its image position, shifted, if inside the image.
    Pels expected = imgref::pelsOf(image), values = imgref::pelsOf(source);
    for (long y = 0; y < source.height(); ++y)
      for (long x = 0; x < source.width(); ++x) {
        long ix = source.offset().x() + shift.x() + x - image.offset().x();
        long iy = source.offset().y() + shift.y() + y - image.offset().y();
        unsigned char m = map[values[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)]];
        if (ix >= 0 && iy >= 0 && ix < image.width() && iy < image.height() && m != skip)
          expected[static_cast<std::size_t>(iy)][static_cast<std::size_t>(ix)] = m;
      }
    kfPelCombine_U8(image, region, shift, map, skip);
    ASSERT_EQ(imgref::pelsOf(image), expected) << "case " << i;
  }
}

// A fill of a window sets only the window; a map too short for the region's values is refused with
// nothing painted.
TEST(PelSetAndCombine, WindowFilled_mapTooShortRefusedNothingPainted_unboundRefused) {
  Image image(4, 2), unbound;
  Image window = image.subWindow(kcPelRect(1, 1, 2, 1));
  kfPelSet(image, 9);
  kfPelSet(window, 2);  // values 2 and 9: a map of 2 entries is short
  kcRLEBuffer region;
  region.encode(image);
  EXPECT_THROW(kfPelCombine_U8(image, region, kcPair<long>(0, 0), {5, 6}, 0), kcBadArgument);
  EXPECT_EQ(imgref::pelsOf(image), (Pels{{9, 9, 9, 9}, {9, 2, 2, 9}}));
  EXPECT_THROW(kfPelCombine_U8(unbound, region, kcPair<long>(0, 0), {0, 1, 2}, 0), kcBadArgument);
  EXPECT_THROW(kfPelSet(unbound, 1), kcBadArgument);
}

}  // namespace
