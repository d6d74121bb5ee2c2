// The grey-scale scan: which record survives a merge. (Topology is cross-checked against the
// pel-level reference in connect_crosscheck_test.)
#include "connect/connect_fixture.h"

#include <gtest/gtest.h>

// The bottom row joins the U's arms: the joining run takes the left arm's label, then meets the
// right arm, so the right arm's record survives. It was created after the blob between the arms,
// so the U now stands before that blob in the top-level list.
TEST(ConnectGrey, ConnectGrey_uShapeJoinedBelow_rightArmSurvives) {
  const connecttest::Output out = connecttest::run(connecttest::draw({"#.#.#",
                                                                   "#...#",
                                                                   "#####"}), false);
  ASSERT_EQ(out.blobs.size(), 2u);
  EXPECT_EQ(out.blobs[0].width, 5);  // blob 1 is the U
  EXPECT_EQ(out.topIds, (std::vector<BlobId>{1, 2}));
}
