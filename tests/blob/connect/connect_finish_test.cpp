// The order of the top level and of each child list, which the reference leaves open, and the
// run-length rows of the finishing pass. (Ids, parents, labels, pel counts and region pels are
// cross-checked in connect_crosscheck_test.)
#include "connect/connect_fixture.h"

#include <gtest/gtest.h>

#include <numeric>

using connecttest::blob;
using connecttest::childrenOf;
using connecttest::draw;
using connecttest::run;
using Ids = std::vector<BlobId>;

// Two blobs, then 1500 (a long top level is sorted another way).
TEST(ConnectFinish, ConnectFinish_blobsSideBySideInTopRow_topListNewestFirst) {
  for (const int n : {2, 1500}) {
    connecttest::Grid g{2 * n - 1, 1, {}};
    for (int x = 0; x < g.width; ++x) g.pels.push_back(x % 2 == 0);
    Ids want(static_cast<std::size_t>(n));
    std::iota(want.rbegin(), want.rend(), BlobId{1});
    EXPECT_EQ(run(g, false).topIds, want);
  }
}

// The bottom row joins the U's arms: the joining run takes the left arm's label, then meets the
// right arm, so the right arm's record survives. It was created after the blob between the arms,
// so the U now stands before that blob in the top-level list.
TEST(ConnectFinish, ConnectGrey_uShapeJoinedBelow_rightArmSurvives) {
  const connecttest::Output out = run(draw({"#.#.#",
                                            "#...#",
                                            "#####"}), false);
  EXPECT_EQ(blob(out, 1).width, 5);  // blob 1 is the U
  EXPECT_EQ(out.topIds, (Ids{1, 2}));
}

TEST(ConnectFinish, ConnectFinish_twoHolesClosingInDifferentRows_lastClosedIsFirstChild) {
  const connecttest::Output out = run(draw({"#####",
                                            "#.###",
                                            "###.#",
                                            "#####"}), false);
  EXPECT_EQ(childrenOf(out, 1), (Ids{3, 2}));
}

// The flood starts at the pending region 4 and lists 4, 2, 3 in neighbour-list order; they are
// closed in that order, each put at the front of the ring's child list.
TEST(ConnectFinish, ConnectLabelled_blockInsideRing_childrenInReverseFloodOrder) {
  const connecttest::Output out = run(draw({"1111",
                                            "1231",
                                            "1441",
                                            "1111"}), true);
  EXPECT_EQ(childrenOf(out, 1), (Ids{3, 2, 4}));
}

// A blob 600 pels wide: its spans and its gaps are split at 255 pels, every row covering the
// blob's full width.
TEST(ConnectFinish, ConnectFinish_blobWiderThan255_runsSplitAt255) {
  connecttest::Grid g{600, 2, std::vector<std::uint8_t>(1200, 0)};
  std::fill(g.pels.begin(), g.pels.begin() + 601, 1);
  g.pels[1199] = 1;
  const connecttest::Output out = run(g, false);
  ASSERT_EQ(out.blobs.size(), 1u);
  std::vector<std::vector<int>> rows;  // value * 1000 + length
  for (const unsigned char* start : blob(out, 1).rowStarts) {
    rows.emplace_back();
    for (const unsigned char* r = start; r[1] != 0; r += 2) rows.back().push_back(r[0] * 1000 + r[1]);
  }
  EXPECT_EQ(rows, (std::vector<std::vector<int>>{{1255, 1255, 1090}, {1001, 255, 255, 88, 1001}}));
}
