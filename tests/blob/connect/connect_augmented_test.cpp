// The augmented rows (equal runs joined into maximal spans) and the geometry the cached engine
// state accepts.
#include "connect/connect_augmented.h"

#include <foundation/rlebuffer.h>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using Row = std::vector<std::pair<int, int>>;  // (value, length) runs

// joined(runs): the maximal runs read from a row of two-byte runs (value, length).
Row joined(const Row& runs) {
  std::vector<unsigned char> bytes;
  for (auto [v, n] : runs) bytes.insert(bytes.end(), {std::uint8_t(v), std::uint8_t(n)});
  bytes.insert(bytes.end(), {0, 0});
  std::vector<kc_ScanRun> out(1);  // grows as needed
  const std::size_t n = kf_ReadAugmentedRow(bytes.data(), out);
  Row row;
  for (std::size_t i = 0; i < n; ++i) {
    EXPECT_EQ(out[i].x, i == 0 ? 0 : out[i - 1].xe) << "runs follow one another";
    row.push_back({out[i].value, out[i].xe - out[i].x});
  }
  return row;
}

kcRLEBuffer image(long width, long height, kcPair<long> offset, unsigned char value) {
  kc_RLERowWriter writer(width, height);
  for (long y = 0; y < height; ++y) {
    writer.put(value, static_cast<std::uint32_t>(width));
    writer.endRow();
  }
  return writer.finish(offset, kc2XformCache());
}

}  // namespace

TEST(ConnectAugmented, ConnectAugmented_equalRunsInARow_joinedIntoOneSpan) {
  EXPECT_EQ(joined({{7, 255}, {7, 255}, {7, 10}}), (Row{{7, 520}}));
  EXPECT_EQ(joined({{0, 3}, {5, 2}, {7, 4}, {7, 1}, {0, 255}, {0, 255}}), (Row{{0, 3}, {5, 2}, {7, 5}, {0, 510}}));
}

TEST(ConnectAugmented, ConnectAugmented_refillOtherGeometry_throwsAndKeepsState) {
  kc_ConnectivityAugmentedRLE aug(image(4, 1, {3, 4}, 1));
  kc_ConnectWorkspace* workspace = &aug.workspace();
  for (const kcRLEBuffer& other : {image(4, 1, {4, 4}, 1),    // offset one pel off
                                   image(4, 2, {3, 4}, 1),    // another height
                                   image(4, 1, {3, 4}, 2)}) {  // not binary
    EXPECT_FALSE(aug.sameGeometry(other));
    EXPECT_THROW(aug.refill(other), kc_ConnectivityAugmentedRLE::MismatchedImageSizes);
  }
  EXPECT_TRUE(aug.sameGeometry(image(9, 1, {3, 4}, 0)));  // the width does not count
  aug.refill(image(9, 1, {3, 4}, 0));
  EXPECT_EQ(&aug.workspace(), workspace);
}
