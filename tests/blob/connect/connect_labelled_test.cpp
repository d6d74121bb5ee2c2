// The labelled scan: the order in which an enclosure closes the regions its flood lists.
// (Topology is cross-checked against the pel-level reference in connect_crosscheck_test.)
#include "connect/connect_fixture.h"

#include <gtest/gtest.h>

// The flood starts at the pending region 4 and lists 4, 2, 3 in neighbour-list order; they are
// closed in that order, each put at the front of the ring's child list.
TEST(ConnectLabelled, ConnectLabelled_blockInsideRing_childrenInReverseFloodOrder) {
  const connecttest::Output out = connecttest::run(connecttest::draw({"1111",
                                                                   "1231",
                                                                   "1441",
                                                                   "1111"}), true);
  ASSERT_EQ(out.blobs.size(), 4u);
  EXPECT_EQ(connecttest::childrenOf(out, 1), (std::vector<BlobId>{3, 2, 4}));
}
