// The finishing pass: the top-level and child orders, and the run-length regions it builds.
// (Ids, parents, labels, pel counts and region pels are cross-checked in connect_crosscheck_test.)
#include "connect/connect_fixture.h"

#include <gtest/gtest.h>

using connecttest::blob;
using connecttest::childrenOf;
using connecttest::draw;
using connecttest::run;

TEST(ConnectFinish, ConnectFinish_blobsSideBySideInTopRow_topListNewestFirst) {
  const connecttest::Output out = run(draw({"#.#",
                                         "..."}), false);
  ASSERT_EQ(out.blobs.size(), 2u);
  EXPECT_EQ(blob(out, 2).left, 2);
  EXPECT_EQ(out.topIds, (std::vector<BlobId>{2, 1}));
  EXPECT_EQ(blob(out, 1).prevSibling, 2u);
  EXPECT_EQ(blob(out, 2).nextSibling, 1u);
}

TEST(ConnectFinish, ConnectFinish_twoHolesClosingInDifferentRows_lastClosedIsFirstChild) {
  const connecttest::Output out = run(draw({"#####",
                                         "#.###",
                                         "###.#",
                                         "#####"}), false);
  ASSERT_EQ(out.blobs.size(), 3u);
  EXPECT_EQ(childrenOf(out, 1), (std::vector<BlobId>{3, 2}));
  EXPECT_EQ(blob(out, 2).prevSibling, 3u);
  EXPECT_EQ(blob(out, 1).numChildren, 2u);
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
