// The labelled scan: values as labels, 6-connectivity, and the order in which an enclosure
// closes the regions its flood lists.
#include "connect_fixture.h"

#include <gtest/gtest.h>

using connecttest::blob;
using connecttest::childrenOf;
using connecttest::draw;
using connecttest::pelsOf;
using connecttest::run;

TEST(ConnectLabelled, ConnectLabelled_centrePelOfOtherValue_childWithItsValueAsLabel) {
  const kc_ConnectOutput out = run(draw({"555",
                                         "595",
                                         "555"}), true);
  ASSERT_EQ(out.blobs.size(), 2u);
  EXPECT_EQ(blob(out, 1).label, 5);
  EXPECT_EQ(blob(out, 1).pelCount, 8);
  EXPECT_EQ(pelsOf(blob(out, 1)).pels, (std::vector<std::uint8_t>{1, 1, 1, 1, 0, 1, 1, 1, 1}));
  EXPECT_EQ(blob(out, 2).label, 9);
  EXPECT_EQ(blob(out, 2).parent, 1u);
  EXPECT_EQ(out.topIds, (std::vector<BlobId>{1}));
}

TEST(ConnectLabelled, ConnectLabelled_diagonalPairs_onlyUpperLeftToLowerRightJoins) {
  const kc_ConnectOutput joined = run(draw({"10",
                                            "01"}), true);
  EXPECT_EQ(joined.blobs.size(), 3u);  // the 1s join; the 0s do not
  EXPECT_EQ(blob(joined, 1).pelCount, 2);
  const kc_ConnectOutput apart = run(draw({"01",
                                           "10"}), true);
  EXPECT_EQ(apart.blobs.size(), 3u);  // the 0s join; the 1s do not
  EXPECT_EQ(blob(apart, 1).label, 0);
  EXPECT_EQ(blob(apart, 1).pelCount, 2);
}

// The flood starts at the pending region 4 and lists 4, 2, 3 in neighbour-list order; they are
// closed in that order, each put at the front of the ring's child list.
TEST(ConnectLabelled, ConnectLabelled_blockInsideRing_childrenInReverseFloodOrder) {
  const kc_ConnectOutput out = run(draw({"1111",
                                         "1231",
                                         "1441",
                                         "1111"}), true);
  ASSERT_EQ(out.blobs.size(), 4u);
  EXPECT_EQ(childrenOf(out, 1), (std::vector<BlobId>{3, 2, 4}));
}

// A region cut off from the border only by two regions together is a child of neither.
TEST(ConnectLabelled, ConnectLabelled_enclosedByTwoRegionsTogether_staysTopLevel) {
  const kc_ConnectOutput out = run(draw({"11122",
                                         "11322",
                                         "11122"}), true);
  ASSERT_EQ(out.blobs.size(), 3u);
  EXPECT_EQ(blob(out, 3).label, 3);
  EXPECT_EQ(blob(out, 3).parent, 0u);
  EXPECT_EQ(out.topIds.size(), 3u);
}
