// Cleanup: the labelled fill's merging into the largest neighbour, its tree and its cover of the
// image. (Grey-scale pruning and filling, and labelled pruning, are cross-checked against the
// pel-level reference in connect_crosscheck_test.)
#include "connect/connect_fixture.h"

#include <gtest/gtest.h>

#include <random>

using connecttest::blob;
using connecttest::draw;
using connecttest::Grid;
using connecttest::run;

constexpr auto kFill = kc_CleanupKind::eFill;

// A small region joins its largest neighbour: inside the 3s it becomes part of them; between
// two it joins the larger, or on a tie the first in its neighbour list (the left one, met first);
// when it alone kept two regions of one value apart, they become one blob. One region smaller
// than minPels leaves no blob.
TEST(ConnectCleanup, ConnectCleanup_labelledFillSmallRegion_joinsLargestNeighbour) {
  struct Case {
    Grid g;
    PelCount minPels;
    std::vector<std::int32_t> pelCounts;
  };
  const Case cases[] = {{draw({"3333", "3773", "3333"}), 5, {12}},
                        {draw({"115222", "115222"}), 3, {4, 8}},
                        {draw({"11522", "11522"}), 3, {6, 4}},
                        {draw({"11511", "11511"}), 3, {10}},
                        {draw({"111"}), 4, {}}};
  for (const Case& c : cases) {
    std::vector<std::int32_t> counts;
    for (const connecttest::BlobView& b : run(c.g, true, kFill, c.minPels).blobs) counts.push_back(b.pelCount);
    EXPECT_EQ(counts, c.pelCounts) << ::testing::PrintToString(c.g.pels);
  }
  EXPECT_EQ(blob(run(cases[0].g, true, kFill, 5), 1).label, 3);
}

// The fill builds the tree from the neighbour graph: a region hangs on the region that alone
// separates it from the outside; one cut off by two regions together stays top level.
TEST(ConnectCleanup, ConnectCleanup_labelledFillNestedRegions_treeByArticulation) {
  const connecttest::Output out = run(draw({"11111", "12221", "12321", "12221", "11111"}), true, kFill, 1);
  ASSERT_EQ(out.blobs.size(), 3u);
  EXPECT_TRUE(out.topIds == std::vector<BlobId>{1} && blob(out, 2).parent == 1 && blob(out, 3).parent == 2);
  EXPECT_EQ(run(draw({"11122", "11322", "11122"}), true, kFill, 1).topIds.size(), 3u);
}

// 200000 regions in a row make a search 200000 levels deep; it must not use the call stack.
TEST(ConnectCleanup, ConnectCleanup_labelledFillLongAlternatingRow_noStackOverflow) {
  Grid g{200000, 1, {}};
  for (int x = 0; x < g.width; ++x) g.pels.push_back(static_cast<std::uint8_t>(1 + x % 2));
  EXPECT_EQ(run(g, true, kFill, 1).topIds.size(), 200000u);
}

// On random images every blob of the labelled fill reaches minPels and the blobs cover every
// pel once (unless the image is one region smaller than minPels).
TEST(ConnectCleanup, ConnectCleanup_labelledFillRandomImages_coverImageWithLargeRegions) {
  std::mt19937 rng(7);
  for (int i = 0; i < 300 && !::testing::Test::HasFailure(); ++i) {
    const Grid g = connecttest::randomGrid(rng, 1 + static_cast<int>(rng() % 40), 1 + static_cast<int>(rng() % 40));
    const PelCount minPels = 1 + rng() % 8;
    SCOPED_TRACE(i);
    const connecttest::Output out = run(g, true, kFill, minPels);
    std::vector<int> owners(g.pels.size(), 0);
    for (const connecttest::BlobView& b : out.blobs) {
      EXPECT_GE(static_cast<PelCount>(b.pelCount), minPels);
      const Grid pels = connecttest::pelsOf(b);
      for (int p = 0; p < b.width * b.height; ++p)
        owners[static_cast<std::size_t>((b.top + p / b.width) * g.width + b.left + p % b.width)] += pels.pels[static_cast<std::size_t>(p)] != 0;
    }
    const bool once = std::all_of(owners.begin(), owners.end(), [](int n) { return n == 1; });
    EXPECT_TRUE(once || (out.blobs.empty() && g.pels.size() < minPels));
  }
}
