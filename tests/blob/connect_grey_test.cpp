// The grey-scale scan: which record survives a merge, and the invariants after every row.
#include "connect_fixture.h"

#include <gtest/gtest.h>

using connecttest::blob;
using connecttest::childrenOf;
using connecttest::draw;
using connecttest::run;

// The bottom row joins the U's arms: the joining run takes the left arm's label, then meets the
// right arm, so the right arm's record survives. It was created after the blob between the arms,
// so the U now stands before that blob in the top-level list.
TEST(ConnectGrey, ConnectGrey_uShapeJoinedBelow_rightArmSurvives) {
  const kc_ConnectOutput out = run(draw({"#.#.#",
                                         "#...#",
                                         "#####"}), false);
  ASSERT_EQ(out.blobs.size(), 2u);
  EXPECT_EQ(blob(out, 1).width, 5);  // the U
  EXPECT_EQ(out.topIds, (std::vector<BlobId>{1, 2}));
}

// Background inside a U is a hole only once foreground closes it above as well.
TEST(ConnectGrey, ConnectGrey_uOpenAboveOrClosed_holeOnlyWhenClosed) {
  EXPECT_EQ(run(draw({"#.#",
                      "###"}), false).blobs.size(), 1u);
  const kc_ConnectOutput closed = run(draw({".....",
                                            ".###.",
                                            ".#.#.",
                                            ".###.",
                                            "....."}), false);
  ASSERT_EQ(closed.blobs.size(), 2u);
  EXPECT_EQ(childrenOf(closed, 1), (std::vector<BlobId>{2}));
}

// Nested rings: blob, hole, blob, hole, each the only child of the one before.
TEST(ConnectGrey, ConnectGrey_ringInsideRing_fourLevels) {
  const kc_ConnectOutput out = run(draw({"#######",
                                         "#.....#",
                                         "#.###.#",
                                         "#.#.#.#",
                                         "#.###.#",
                                         "#.....#",
                                         "#######"}), false);
  ASSERT_EQ(out.blobs.size(), 4u);
  for (BlobId id = 2; id <= 4; ++id) EXPECT_EQ(blob(out, id).parent, id - 1);
  EXPECT_EQ(blob(out, 2).label, 0);
  EXPECT_EQ(blob(out, 3).label, 1);
  EXPECT_EQ(blob(out, 2).pelCount, 16);
}

// A hole touching the border is part of the dropped outer background.
TEST(ConnectGrey, ConnectGrey_backgroundReachingBorder_isNoHole) {
  const kc_ConnectOutput out = run(draw({"###",
                                         "#..",
                                         "###"}), false);
  ASSERT_EQ(out.blobs.size(), 1u);
  EXPECT_EQ(blob(out, 1).numChildren, 0u);
}
