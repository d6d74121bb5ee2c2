// Cleanup of small regions: pruning and filling at close time, the labelled fill's merging into
// the largest neighbour and its tree, and the dropping of small top-level regions.
#include "connect_fixture.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

using connecttest::blob;
using connecttest::childrenOf;
using connecttest::draw;
using connecttest::Grid;
using connecttest::pelsOf;
using connecttest::run;

namespace {
constexpr auto kPrune = kc_CleanupKind::ePrune;
constexpr auto kFill = kc_CleanupKind::eFill;
}  // namespace

TEST(ConnectCleanup, ConnectCleanup_twoPelHole_prunedLeavesGapFilledTakesLeftValue) {
  const Grid binary = draw({"#####",
                            "#..##",
                            "#####"});
  const kc_ConnectOutput pruned = run(binary, false, kPrune, 5);
  ASSERT_EQ(pruned.blobs.size(), 1u);
  EXPECT_EQ(blob(pruned, 1).numChildren, 0u);
  EXPECT_EQ(blob(pruned, 1).pelCount, 13);
  EXPECT_EQ(pelsOf(blob(pruned, 1)).pels[6], 0);
  const kc_ConnectOutput filled = run(binary, false, kFill, 5);
  ASSERT_EQ(filled.blobs.size(), 1u);
  EXPECT_EQ(blob(filled, 1).numChildren, 0u);
  EXPECT_EQ(blob(filled, 1).pelCount, 15);

  const kc_ConnectOutput values = run(draw({"11111",
                                            "15..7",
                                            "11111"}), false, kFill, 5);
  ASSERT_EQ(values.blobs.size(), 1u);
  EXPECT_EQ(pelsOf(blob(values, 1)).pels,
            (std::vector<std::uint8_t>{1, 1, 1, 1, 1, 1, 5, 5, 5, 7, 1, 1, 1, 1, 1}));
}

// A 28-pel hole around a 36-pel blob, minPels 30: pruning keeps the hole since it has a child;
// filling merges the hole and the blob inside into the ring.
TEST(ConnectCleanup, ConnectCleanup_smallHoleAroundLargeBlob_pruneKeepsFillMerges) {
  const Grid g = draw({"##########",
                       "#........#",
                       "#.######.#",
                       "#.######.#",
                       "#.######.#",
                       "#.######.#",
                       "#.######.#",
                       "#.######.#",
                       "#........#",
                       "##########"});
  const kc_ConnectOutput pruned = run(g, false, kPrune, 30);
  ASSERT_EQ(pruned.blobs.size(), 3u);
  EXPECT_EQ(blob(pruned, 2).pelCount, 28);
  EXPECT_EQ(blob(pruned, 3).parent, 2u);
  const kc_ConnectOutput filled = run(g, false, kFill, 30);
  ASSERT_EQ(filled.blobs.size(), 1u);
  EXPECT_EQ(blob(filled, 1).pelCount, 100);
  EXPECT_EQ(blob(filled, 1).numChildren, 0u);
  EXPECT_EQ(pelsOf(blob(filled, 1)).pels, std::vector<std::uint8_t>(100, 1));
}

TEST(ConnectCleanup, ConnectCleanup_smallTopLevelBlob_goneUnlessNoCleanup) {
  const Grid g = draw({"###..",
                       "....."});
  EXPECT_EQ(run(g, false, kc_CleanupKind::eNone, 5).blobs.size(), 1u);
  EXPECT_TRUE(run(g, false, kPrune, 5).blobs.empty());
  EXPECT_TRUE(run(g, false, kFill, 5).blobs.empty());
  EXPECT_TRUE(run(g, true, kFill, 11).blobs.empty());  // one labelled region, smaller than minPels
}

TEST(ConnectCleanup, ConnectCleanup_labelledFillSmallRegionInside_joinsSurroundingRegion) {
  const kc_ConnectOutput out = run(draw({"3333",
                                         "3773",
                                         "3333"}), true, kFill, 5);
  ASSERT_EQ(out.blobs.size(), 1u);
  EXPECT_EQ(blob(out, 1).label, 3);
  EXPECT_EQ(blob(out, 1).pelCount, 12);
  EXPECT_EQ(blob(out, 1).numChildren, 0u);
}

// A small region between two others joins the larger one, or on a tie the one first in its
// neighbour list (the left one, met first by the scan); one that alone kept two regions of one
// value apart makes them one blob.
TEST(ConnectCleanup, ConnectCleanup_labelledFillBetweenTwo_largerOrFirstNeighbourWins) {
  const kc_ConnectOutput larger = run(draw({"115222",
                                            "115222"}), true, kFill, 3);
  ASSERT_EQ(larger.blobs.size(), 2u);
  EXPECT_EQ(blob(larger, 2).label, 2);
  EXPECT_EQ(blob(larger, 2).width, 4);  // the 5s joined the 2s (6 pels) rather than the 1s (4)
  EXPECT_EQ(blob(larger, 2).pelCount, 8);
  const kc_ConnectOutput tie = run(draw({"11522",
                                         "11522"}), true, kFill, 3);
  ASSERT_EQ(tie.blobs.size(), 2u);
  EXPECT_EQ(blob(tie, 1).width, 3);
  EXPECT_EQ(blob(tie, 1).pelCount, 6);
  const kc_ConnectOutput joined = run(draw({"11511",
                                            "11511"}), true, kFill, 3);
  ASSERT_EQ(joined.blobs.size(), 1u);
  EXPECT_EQ(blob(joined, 1).pelCount, 10);
  EXPECT_EQ(blob(joined, 1).label, 1);
}

// The fill builds the tree from the neighbour graph: a region hangs on the region that alone
// separates it from the outside.
TEST(ConnectCleanup, ConnectCleanup_labelledFillNestedRegions_treeByArticulation) {
  const kc_ConnectOutput out = run(draw({"11111",
                                         "12221",
                                         "12321",
                                         "12221",
                                         "11111"}), true, kFill, 1);
  ASSERT_EQ(out.blobs.size(), 3u);
  EXPECT_EQ(out.topIds, (std::vector<BlobId>{1}));
  EXPECT_EQ(blob(out, 2).parent, 1u);
  EXPECT_EQ(blob(out, 3).parent, 2u);
  const kc_ConnectOutput together = run(draw({"11122",
                                              "11322",
                                              "11122"}), true, kFill, 1);
  EXPECT_EQ(together.topIds.size(), 3u);
}

// 200000 regions in a row make a search 200000 levels deep; it must not use the call stack.
TEST(ConnectCleanup, ConnectCleanup_labelledFillLongAlternatingRow_noStackOverflow) {
  Grid g;
  g.width = 200000;
  g.height = 1;
  for (int x = 0; x < g.width; ++x) g.pels.push_back(static_cast<std::uint8_t>(1 + x % 2));
  const kc_ConnectOutput out = run(g, true, kFill, 1);
  EXPECT_EQ(out.blobs.size(), 200000u);
  EXPECT_EQ(out.topIds.size(), 200000u);
}

// Properties of the labelled fill on random images: every blob reaches minPels, the blobs cover
// every pel once, and each blob's parent is the region that alone separates it from the border.
TEST(ConnectCleanup, ConnectCleanup_labelledFillRandomImages_coverImageWithLargeRegions) {
  std::mt19937 rng(7);
  for (int i = 0; i < 300; ++i) {
    Grid g;
    g.width = 1 + static_cast<int>(rng() % 40);
    g.height = 1 + static_cast<int>(rng() % 40);
    const int values = 2 + static_cast<int>(rng() % 4);
    for (int k = 0; k < g.width * g.height; ++k) g.pels.push_back(static_cast<std::uint8_t>(rng() % values));
    const PelCount minPels = 1 + rng() % 8;
    SCOPED_TRACE(::testing::Message() << "image " << i);
    const kc_ConnectOutput out = run(g, true, kFill, minPels);
    std::vector<int> owner(g.pels.size(), 0);
    for (const kc_BlobOutput& b : out.blobs) {
      EXPECT_GE(static_cast<PelCount>(b.pelCount), minPels);
      const Grid pels = pelsOf(b);
      for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x)
          if (pels.at(x, y) != 0) {
            int& o = owner[static_cast<std::size_t>((b.top + y) * g.width + b.left + x)];
            EXPECT_EQ(o, 0) << "a pel belongs to one blob";
            o = static_cast<int>(b.id);
          }
    }
    const bool whole = std::count(owner.begin(), owner.end(), 0) == 0;
    EXPECT_TRUE(whole || (out.blobs.empty() && g.pels.size() < minPels));
    if (::testing::Test::HasFailure()) return;
  }
}
