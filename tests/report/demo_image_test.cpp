// The demo image: parts separate cleanly from the background and form the promised tree of regions.
#include <report/demo_image.h>
#include "common/reference_labeller.h"

#include <gtest/gtest.h>

namespace {

TEST(DemoImage, grey_valuesLeaveAGapBetweenPartsAndBackground) {
  const report::GreyImage image = report::makeDemoImage();
  ASSERT_EQ(image.pels.size(), static_cast<std::size_t>(image.width * image.height));
  int darkestPart = 255, brightestBackground = 0;
  for (unsigned char pel : image.pels) {
    EXPECT_TRUE(pel <= 70 || pel >= 150) << int(pel);
    if (pel >= 150) darkestPart = std::min(darkestPart, int(pel));
    if (pel <= 70) brightestBackground = std::max(brightestBackground, int(pel));
  }
  EXPECT_LT(darkestPart, 200);  // shaded, not flat
  EXPECT_GT(brightestBackground, 30);
}

TEST(DemoImage, regions_sevenPartsTheDiscsJoinedAndFourLevels) {
  // Parts: plate, the joined discs, ring, island, ellipse, the edge part, the speck. Holes: the
  // plate's two, the ring's inside (holding the island) and the island's own.
  const auto blobs = reference::blobs(report::makeDemoImage());
  EXPECT_EQ(std::count_if(blobs.begin(), blobs.end(), [](const auto& b) { return b.label == 1; }), 7);
  EXPECT_EQ(std::count_if(blobs.begin(), blobs.end(), [](const auto& b) { return b.label == 0; }), 4);
  long deepest = 0;
  for (const auto& blob : blobs) {
    long depth = 1;
    for (long p = blob.parent; p != 0; p = blobs[static_cast<std::size_t>(p - 1)].parent) ++depth;
    deepest = std::max(deepest, depth);
  }
  EXPECT_EQ(deepest, 4);
}

}  // namespace
