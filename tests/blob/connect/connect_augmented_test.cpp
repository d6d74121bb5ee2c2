// The augmented run image: joining of equal runs, terminators, refilling and its refusals.
#include "connect/connect_augmented.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using Row = std::vector<std::pair<int, int>>;  // (value, length) runs

// Rows: the two-byte runs of each row, as filling reads them, and the view over them.
struct Rows {
  Rows(const std::vector<Row>& rows, kcPair<long> offset = {0, 0}, bool binary = true) {
    for (const Row& row : rows) {
      bytes.emplace_back();
      for (auto [v, n] : row) bytes.back().insert(bytes.back().end(), {std::uint8_t(v), std::uint8_t(n)});
      runs += row.size();
      bytes.back().insert(bytes.back().end(), {0, 0});
    }
    for (const auto& b : bytes) starts.push_back(b.data());
    view = kc_RunRowsView{starts.data(), static_cast<std::int32_t>(rows.size()), binary, offset, runs};
  }
  std::vector<std::vector<unsigned char>> bytes;
  std::vector<const unsigned char*> starts;
  std::uint64_t runs = 0;
  kc_RunRowsView view;
};

Row runsOf(const kc_ConnectivityAugmentedRLE& aug, int y) {
  Row row;
  const kc_AugmentedRun* r = aug.row(y);
  for (; r->length != 0; ++r) row.push_back({r->value, static_cast<int>(r->length)});
  EXPECT_TRUE(r->value == 0 && r->link == nullptr) << "a terminator ends row " << y;
  return row;
}

}  // namespace

TEST(ConnectAugmented, ConnectAugmented_equalRunsInARow_joinedIntoOneSpan) {
  const Rows rows({{{7, 255}, {7, 255}, {7, 10}}, {{0, 3}, {5, 2}, {7, 4}, {7, 1}, {0, 255}, {0, 255}}},
                  {0, 0}, false);
  const kc_ConnectivityAugmentedRLE aug(rows.view);
  EXPECT_EQ(runsOf(aug, 0), (Row{{7, 520}}));
  EXPECT_EQ(runsOf(aug, 1), (Row{{0, 3}, {5, 2}, {7, 5}, {0, 510}}));
  EXPECT_EQ(aug.capacity(), 9 + 2);
}

TEST(ConnectAugmented, ConnectAugmented_refill_growsOnlyWhenRunsDoNotFit) {
  kc_ConnectivityAugmentedRLE aug(Rows({{{1, 4}}, {{0, 4}}}).view);
  aug.refill(Rows({{{1, 1}, {0, 1}, {1, 1}, {0, 1}}, {{0, 1}, {1, 1}, {0, 1}, {1, 1}}}).view);
  EXPECT_EQ(aug.capacity(), 10);
  EXPECT_EQ(runsOf(aug, 1), (Row{{0, 1}, {1, 1}, {0, 1}, {1, 1}}));
  const kc_AugmentedRun* storage = aug.storage();
  aug.refill(Rows({{{1, 4}}, {{1, 2}, {0, 2}}}).view);
  EXPECT_EQ(aug.capacity(), 10);
  EXPECT_EQ(aug.storage(), storage);
  EXPECT_EQ(runsOf(aug, 1), (Row{{1, 2}, {0, 2}}));
}

TEST(ConnectAugmented, ConnectAugmented_refillOtherGeometry_throwsAndKeepsRuns) {
  kc_ConnectivityAugmentedRLE aug(Rows({{{1, 2}, {0, 2}}}, {3, 4}).view);
  for (const Rows& other : {Rows({{{1, 4}}}, {4, 4}),             // offset one pel off
                            Rows({{{1, 4}}, {{1, 4}}}, {3, 4}),   // another height
                            Rows({{{2, 4}}}, {3, 4}, false)}) {   // not binary
    EXPECT_THROW(aug.refill(other.view), kc_ConnectivityAugmentedRLE::MismatchedImageSizes);
    EXPECT_EQ(runsOf(aug, 0), (Row{{1, 2}, {0, 2}}));
  }
  EXPECT_TRUE(aug.sameGeometry(Rows({{{0, 9}}}, {3, 4}).view));  // the width does not count
}
