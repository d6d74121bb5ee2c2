// The augmented run image: joining of equal runs, terminators, refilling and its refusals.
#include "connect_augmented.h"
#include "connect_fixture.h"

#include <foundation/rlebuffer.h>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using Row = std::vector<std::pair<int, int>>;  // (value, length) runs

// image(rows, width, offset): a run image adopting exactly these runs (not canonical).
kcRLEBuffer image(const std::vector<Row>& rows, long width, kcPair<long> offset = {0, 0}) {
  std::vector<unsigned char> chunk;
  std::vector<std::size_t> starts;
  for (const Row& row : rows) {
    starts.push_back(chunk.size());
    for (auto [v, n] : row) {
      chunk.push_back(static_cast<unsigned char>(v));
      chunk.push_back(static_cast<unsigned char>(n));
    }
    chunk.push_back(0);
    chunk.push_back(0);
  }
  std::vector<const unsigned char*> rowStarts;
  for (std::size_t s : starts) rowStarts.push_back(chunk.data() + s);
  kcRLEBuffer rle;
  rle.becomeOwner(width, rowStarts, chunk);
  rle.offset(offset);
  return rle;
}

Row runsOf(const kc_ConnectivityAugmentedRLE& aug, int y) {
  Row row;
  const kc_AugmentedRun* r = aug.row(y);
  for (; r->length != 0; ++r) row.push_back({r->value, static_cast<int>(r->length)});
  EXPECT_EQ(r->value, 0);
  EXPECT_EQ(r->link, nullptr);
  return row;
}

}  // namespace

TEST(ConnectAugmented, ConnectAugmented_equalRunsInARow_joinedIntoOneSpan) {
  const kc_ConnectivityAugmentedRLE aug(
      image({{{7, 255}, {7, 255}, {7, 10}}, {{0, 3}, {5, 2}, {7, 4}, {7, 1}, {0, 255}, {0, 255}}}, 520));
  EXPECT_EQ(runsOf(aug, 0), (Row{{7, 520}}));
  EXPECT_EQ(runsOf(aug, 1), (Row{{0, 3}, {5, 2}, {7, 5}, {0, 510}}));
  EXPECT_EQ(aug.height(), 2);
  EXPECT_GE(aug.capacity(), 9 + 2);
}

TEST(ConnectAugmented, ConnectAugmented_oneRowImage_rowsEndWithNull) {
  const kc_ConnectivityAugmentedRLE aug(image({{{1, 4}}}, 4));
  EXPECT_EQ(runsOf(aug, 0), (Row{{1, 4}}));
  EXPECT_THROW(aug.row(1), kcInvariantFailure);
}

TEST(ConnectAugmented, ConnectAugmented_refill_growsOnlyWhenRunsDoNotFit) {
  kc_ConnectivityAugmentedRLE aug(image({{{1, 4}}, {{0, 4}}}, 4));
  const int small = aug.capacity();
  aug.refill(image({{{1, 1}, {0, 1}, {1, 1}, {0, 1}}, {{0, 1}, {1, 1}, {0, 1}, {1, 1}}}, 4));
  EXPECT_GT(aug.capacity(), small);
  EXPECT_EQ(runsOf(aug, 1), (Row{{0, 1}, {1, 1}, {0, 1}, {1, 1}}));
  const int large = aug.capacity();
  const kc_AugmentedRun* storage = aug.storage();
  aug.refill(image({{{1, 4}}, {{1, 2}, {0, 2}}}, 4));
  EXPECT_EQ(aug.capacity(), large);
  EXPECT_EQ(aug.storage(), storage);
  EXPECT_EQ(runsOf(aug, 1), (Row{{1, 2}, {0, 2}}));
}

TEST(ConnectAugmented, ConnectAugmented_refillOtherGeometry_throwsAndKeepsRuns) {
  kc_ConnectivityAugmentedRLE aug(image({{{1, 2}, {0, 2}}}, 4, {3, 4}));
  const auto refused = [&](const kcRLEBuffer& other) {
    EXPECT_FALSE(aug.sameGeometry(other));
    EXPECT_THROW(aug.refill(other), kc_ConnectivityAugmentedRLE::MismatchedImageSizes);
    EXPECT_EQ(runsOf(aug, 0), (Row{{1, 2}, {0, 2}}));
    EXPECT_EQ(aug.offset(), (kcPair<long>{3, 4}));
  };
  refused(image({{{1, 4}}}, 4, {4, 4}));              // offset one pel off
  refused(image({{{1, 4}}, {{1, 4}}}, 4, {3, 4}));    // another height
  refused(image({{{2, 4}}}, 4, {3, 4}));              // not binary
  EXPECT_TRUE(aug.sameGeometry(image({{{0, 9}}}, 9, {3, 4})));  // the width does not count
}
