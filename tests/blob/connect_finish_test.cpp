// The finishing pass: numbering in raster order, the top-level and child orders, blob fields and
// the run-length regions it builds.
#include "connect_fixture.h"

#include <gtest/gtest.h>

using connecttest::blob;
using connecttest::childrenOf;
using connecttest::draw;
using connecttest::Grid;
using connecttest::pelsOf;
using connecttest::run;

TEST(ConnectFinish, ConnectFinish_blobsSideBySideInTopRow_idsLeftToRightTopListNewestFirst) {
  const kc_ConnectOutput out = run(draw({"#.#",
                                         "..."}), false);
  ASSERT_EQ(out.blobs.size(), 2u);
  EXPECT_EQ(blob(out, 1).left, 0);
  EXPECT_EQ(blob(out, 2).left, 2);
  EXPECT_EQ(out.topIds, (std::vector<BlobId>{2, 1}));
  EXPECT_EQ(blob(out, 1).prevSibling, 2u);
  EXPECT_EQ(blob(out, 2).nextSibling, 1u);
  EXPECT_EQ(blob(out, 2).prevSibling, 0u);
}

TEST(ConnectFinish, ConnectFinish_higherStartingBlob_hasSmallerId) {
  const kc_ConnectOutput out = run(draw({"...#",
                                         ".#..",
                                         "..#."}), false);
  ASSERT_EQ(out.blobs.size(), 2u);  // the two lower pels touch diagonally
  EXPECT_EQ(blob(out, 1).left, 3);
  EXPECT_EQ(blob(out, 2).left, 1);
  EXPECT_EQ(blob(out, 2).top, 1);
}

TEST(ConnectFinish, ConnectFinish_ringAroundOnePel_holeIsChildWithOnePelOfValueOne) {
  const kc_ConnectOutput out = run(draw({"###",
                                         "#.#",
                                         "###"}), false);
  ASSERT_EQ(out.blobs.size(), 2u);
  EXPECT_EQ(out.topIds, (std::vector<BlobId>{1}));
  EXPECT_EQ(childrenOf(out, 1), (std::vector<BlobId>{2}));
  EXPECT_EQ(blob(out, 1).numChildren, 1u);
  const kc_BlobOutput& hole = blob(out, 2);
  EXPECT_EQ(hole.parent, 1u);
  EXPECT_EQ(hole.label, 0);
  EXPECT_EQ(hole.pelCount, 1);
  EXPECT_EQ(pelsOf(hole).pels, (std::vector<std::uint8_t>{1}));
  EXPECT_EQ(pelsOf(blob(out, 1)).pels, (std::vector<std::uint8_t>{1, 1, 1, 1, 0, 1, 1, 1, 1}));
}

TEST(ConnectFinish, ConnectFinish_twoHolesClosingInDifferentRows_lastClosedIsFirstChild) {
  const kc_ConnectOutput out = run(draw({"#####",
                                         "#.###",
                                         "###.#",
                                         "#####"}), false);
  ASSERT_EQ(out.blobs.size(), 3u);
  EXPECT_EQ(childrenOf(out, 1), (std::vector<BlobId>{3, 2}));
  EXPECT_EQ(blob(out, 3).nextSibling, 2u);
  EXPECT_EQ(blob(out, 2).prevSibling, 3u);
}

TEST(ConnectFinish, ConnectFinish_mixedForegroundValues_oneWeightedBlobKeepingValues) {
  const kc_ConnectOutput grey = run(draw({"579"}), false);
  ASSERT_EQ(grey.blobs.size(), 1u);
  EXPECT_EQ(blob(grey, 1).label, 1);
  EXPECT_EQ(blob(grey, 1).pelCount, -1);
  EXPECT_EQ(pelsOf(blob(grey, 1)).pels, (std::vector<std::uint8_t>{5, 7, 9}));
  const kc_ConnectOutput binary = run(draw({"#.#"}), false);
  EXPECT_EQ(blob(binary, 2).label, 1);
  EXPECT_EQ(blob(binary, 2).pelCount, 1);
}

TEST(ConnectFinish, ConnectFinish_emptyAndFullImages_noBlobAndOneBlob) {
  EXPECT_TRUE(run(draw({"...", "..."}), false).blobs.empty());
  EXPECT_TRUE(run(draw({"...", "..."}), false).topIds.empty());
  const kc_ConnectOutput full = run(draw({"##", "##"}), false);
  ASSERT_EQ(full.blobs.size(), 1u);
  EXPECT_EQ(full.topIds, (std::vector<BlobId>{1}));
  EXPECT_EQ(blob(full, 1).numChildren, 0u);
}

// A blob 600 pels wide: its own spans and its gaps are split at 255 pels, and every row covers
// the blob's full width.
TEST(ConnectFinish, ConnectFinish_blobWiderThan255_runsSplitAt255) {
  Grid g;
  g.width = 600;
  g.height = 2;
  g.pels.assign(1200, 0);
  for (int x = 0; x < 600; ++x) g.pels[static_cast<std::size_t>(x)] = 1;
  g.pels[600] = g.pels[1199] = 1;
  const kc_ConnectOutput out = run(g, false);
  ASSERT_EQ(out.blobs.size(), 1u);
  const kc_BlobOutput& b = blob(out, 1);
  EXPECT_EQ(b.width, 600);
  std::vector<std::vector<int>> rows;
  for (const unsigned char* start : b.rowStarts) {
    rows.emplace_back();
    for (const unsigned char* r = start; r[1] != 0; r += 2) rows.back().push_back(r[0] * 1000 + r[1]);
  }
  EXPECT_EQ(rows[0], (std::vector<int>{1255, 1255, 1090}));
  EXPECT_EQ(rows[1], (std::vector<int>{1001, 255, 255, 88, 1001}));
}
