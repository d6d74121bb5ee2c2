// Tests of pel filling: kfPelSet and kfPelCombine_U8 against a pel-by-pel reference.
#include <foundation/exception.h>
#include <foundation/pelfill.h>

#include "image_reference.h"

#include <gtest/gtest.h>

using imgref::Pels;

namespace {

TEST(PelSet, SubWindow_fillsOnlyTheWindow) {
  kcPelBuffer<unsigned char> image(6, 4);
  kcPelBuffer<unsigned char> window = image.subWindow(kcPelRect(1, 1, 3, 2));
  kfPelSet(window, 5);
  EXPECT_EQ(imgref::pelsOf(image),
            (Pels{{0, 0, 0, 0, 0, 0}, {0, 5, 5, 5, 0, 0}, {0, 5, 5, 5, 0, 0}, {0, 0, 0, 0, 0, 0}}));
  kcPelBuffer<unsigned char> unbound;
  EXPECT_THROW(kfPelSet(unbound, 1), kcBadArgument);
}

// Reference: paint region pel by pel at its image position shifted by shift.
void paintReference(Pels& pels, const kcPair<long>& imageAt, const kcRLEBuffer& region,
                    const kcPair<long>& shift, const std::vector<unsigned char>& map, unsigned char skip) {
  Pels values = imgref::pelsOf(region);
  for (long y = 0; y < region.height(); ++y) {
    for (long x = 0; x < region.width(); ++x) {
      long ix = region.offset().x() + shift.x() + x - imageAt.x();
      long iy = region.offset().y() + shift.y() + y - imageAt.y();
      if (iy < 0 || iy >= static_cast<long>(pels.size()) || ix < 0 || ix >= static_cast<long>(pels[0].size())) continue;
      unsigned char m = map[values[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)]];
      if (m != skip) pels[static_cast<std::size_t>(iy)][static_cast<std::size_t>(ix)] = m;
    }
  }
}

TEST(PelCombine, RandomRegions_matchReferenceWithClipping) {
  std::mt19937 rng(99);
  for (int i = 0; i < 150; ++i) {
    kcPelBuffer<unsigned char> image(1 + static_cast<long>(rng() % 300), 1 + static_cast<long>(rng() % 30));
    imgref::fillRandom(image, rng, 256, 5);
    image.offset(kcPair<long>(static_cast<long>(rng() % 100) - 50, static_cast<long>(rng() % 100) - 50));
    kcPelBuffer<unsigned char> source = imgref::randomImage(rng);
    source.offset(kcPair<long>(image.offset().x() + static_cast<long>(rng() % 400) - 200,
                               image.offset().y() + static_cast<long>(rng() % 60) - 30));
    kcRLEBuffer region;
    region.encode(source);
    kcPair<long> shift(static_cast<long>(rng() % 21) - 10, static_cast<long>(rng() % 21) - 10);
    std::vector<unsigned char> map(256);
    for (auto& m : map) m = static_cast<unsigned char>(rng() % 4);
    auto skip = static_cast<unsigned char>(rng() % 4);
    Pels expected = imgref::pelsOf(image);
    paintReference(expected, image.offset(), region, shift, map, skip);
    kfPelCombine_U8(image, region, shift, map, skip);
    ASSERT_EQ(imgref::pelsOf(image), expected) << "case " << i;
  }
}

TEST(PelCombine, HoleMap_paintsZeroWhereRegionIsOne) {
  // A region of 0 outside and 1 inside, painted with the map [1, 0] and skip 1.
  kcPelBuffer<unsigned char> holePels(3, 1);
  holePels.pointToRow(0)[1] = 1;
  holePels.offset(kcPair<long>(1, 0));
  kcRLEBuffer hole;
  hole.encode(holePels);
  kcPelBuffer<unsigned char> image(5, 1);
  kfPelSet(image, 7);
  kfPelCombine_U8(image, hole, kcPair<long>(0, 0), {1, 0}, 1);
  EXPECT_EQ(imgref::pelsOf(image), (Pels{{7, 7, 0, 7, 7}}));
}

TEST(PelCombine, MapTooShortForRegion_refusedNothingPainted) {
  kcPelBuffer<unsigned char> pels(4, 2);
  pels.pointToRow(0)[0] = 1;
  pels.pointToRow(1)[3] = 2;  // value 2 needs a map of 3 entries
  kcRLEBuffer region;
  region.encode(pels);
  kcPelBuffer<unsigned char> image(4, 2);
  kfPelSet(image, 9);
  EXPECT_THROW(kfPelCombine_U8(image, region, kcPair<long>(0, 0), {5, 6}, 0), kcBadArgument);
  EXPECT_THROW(kfPelCombine_U8(image, region, kcPair<long>(0, 0), {}, 0), kcBadArgument);
  EXPECT_EQ(imgref::pelsOf(image), (Pels{{9, 9, 9, 9}, {9, 9, 9, 9}}));
  kcPelBuffer<unsigned char> unbound;
  EXPECT_THROW(kfPelCombine_U8(unbound, region, kcPair<long>(0, 0), {0, 1, 2}, 0), kcBadArgument);
  kfPelCombine_U8(image, kcRLEBuffer(), kcPair<long>(0, 0), {}, 0);  // degenerate: nothing to paint
  EXPECT_EQ(image.pointToRow(0)[0], 9);
}

}  // namespace
