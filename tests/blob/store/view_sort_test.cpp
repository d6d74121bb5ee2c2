// The views' heap sort: the order it leaves equal keys in, which the views show, and random keys
// with many ties ordered as a permutation.
#include "store/view_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

namespace {

std::vector<BlobId> sorted(const std::vector<double>& keys, bool ascending) {
  std::vector<kc_ViewKey> items;
  for (double key : keys) items.push_back({key, static_cast<BlobId>(items.size() + 1)});
  kf_ViewSort(items.data(), items.size(), ascending);
  std::vector<BlobId> ids;
  for (const kc_ViewKey& k : items) ids.push_back(k.id);
  return ids;
}

// Worked by hand through the procedure's sift-downs; a NaN is placed by the comparisons.
TEST(ViewSort, equalKeysAndNaN_procedureOrderEitherWay_randomKeysAPermutationInOrder) {
  const struct {
    std::vector<double> keys;
    bool ascending;
    std::vector<BlobId> want;
  } cases[] = {{{7, 7, 7, 7}, false, {2, 3, 4, 1}},
               {{7, 7, 7, 7}, true, {2, 3, 4, 1}},
               {{1, 1, 1}, false, {2, 3, 1}},
               {{3, 1, 4, 1, 5, 9, 2, 6}, false, {6, 8, 5, 3, 1, 7, 4, 2}},
               {{3, 1, 4, 1, 5, 9, 2, 6}, true, {2, 4, 7, 1, 3, 5, 8, 6}},
               {{std::numeric_limits<double>::quiet_NaN(), 1}, true, {1, 2}},  // 1 sifts above the NaN and back
               {{}, false, {}}};
  for (const auto& c : cases) EXPECT_EQ(sorted(c.keys, c.ascending), c.want) << ::testing::PrintToString(c.keys);
  std::mt19937 rng(17);
  for (int round = 0; round < 1000; ++round) {
    std::vector<double> keys(rng() % 40);
    for (double& key : keys) key = static_cast<double>(rng() % 5) - 1;
    const bool ascending = rng() % 2 == 0;
    const std::vector<BlobId> ids = sorted(keys, ascending);
    std::vector<double> got, want = keys;
    for (BlobId id : ids) got.push_back(keys.at(static_cast<std::size_t>(id - 1)));
    ascending ? std::sort(want.begin(), want.end()) : std::sort(want.rbegin(), want.rend());
    std::vector<BlobId> all(keys.size()), seen = ids;
    std::iota(all.begin(), all.end(), BlobId{1});
    std::sort(seen.begin(), seen.end());
    ASSERT_TRUE(got == want && seen == all) << "round " << round;
  }
}

}  // namespace
