// The demo image: parts separate cleanly from the background and form the promised tree of regions.
#include "demo_image.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Counts the 8-connected regions of foreground pels (pel >= 128) and the 4-connected regions of
// background pels, by flood fill.
std::pair<int, int> countRegions(const tool::GreyImage& image) {
  std::vector<int> mark(image.pels.size(), 0);
  int foreground = 0, background = 0;
  for (std::size_t start = 0; start < image.pels.size(); ++start) {
    if (mark[start] != 0) continue;
    const bool fore = image.pels[start] >= 128;
    ++(fore ? foreground : background);
    std::vector<std::size_t> stack{start};
    mark[start] = 1;
    while (!stack.empty()) {
      const long x = static_cast<long>(stack.back() % static_cast<std::size_t>(image.width));
      const long y = static_cast<long>(stack.back() / static_cast<std::size_t>(image.width));
      stack.pop_back();
      for (long dy = -1; dy <= 1; ++dy) {
        for (long dx = -1; dx <= 1; ++dx) {
          const long nx = x + dx, ny = y + dy;
          if ((dx == 0 && dy == 0) || (!fore && dx != 0 && dy != 0)) continue;
          if (nx < 0 || ny < 0 || nx >= image.width || ny >= image.height) continue;
          const auto n = static_cast<std::size_t>(ny * image.width + nx);
          if (mark[n] == 0 && (image.pels[n] >= 128) == fore) mark[n] = 1, stack.push_back(n);
        }
      }
    }
  }
  return {foreground, background};
}

TEST(DemoImage, grey_valuesLeaveAGapBetweenPartsAndBackground) {
  const tool::GreyImage image = tool::makeDemoImage();
  ASSERT_EQ(image.pels.size(), static_cast<std::size_t>(image.width * image.height));
  int darkest = 255, brightest = 0;
  for (unsigned char pel : image.pels) {
    EXPECT_TRUE(pel <= 70 || pel >= 150) << int(pel);
    if (pel >= 150) darkest = std::min(darkest, int(pel));
    if (pel <= 70) brightest = std::max(brightest, int(pel));
  }
  EXPECT_LT(darkest, 200);  // the parts are shaded, not flat
  EXPECT_GT(brightest, 30);
}

TEST(DemoImage, regions_sevenPartsTheDiscsJoinedAndFourHoles) {
  // Parts: plate, the joined discs, ring, island, ellipse, the edge part, the speck.
  // Background: the outside, the plate's two holes, the ring's inside and the island's hole.
  EXPECT_EQ(countRegions(tool::makeDemoImage()), (std::pair<int, int>{7, 5}));
}

}  // namespace
