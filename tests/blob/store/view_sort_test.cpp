// The views' heap sort: the order it leaves equal keys in, which the views show.
#include "store/view_sort.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Worked by hand through the procedure's sift-downs.
TEST(ViewSort, equalKeys_procedureOrderEitherWay) {
  const struct {
    std::vector<double> keys;
    bool ascending;
    std::vector<BlobId> want;
  } cases[] = {{{7, 7, 7, 7}, false, {2, 3, 4, 1}}, {{7, 7, 7, 7}, true, {2, 3, 4, 1}},
               {{1, 1, 1}, false, {2, 3, 1}},       {{3, 1, 4, 1, 5, 9, 2, 6}, false, {6, 8, 5, 3, 1, 7, 4, 2}}};
  for (const auto& c : cases) {
    std::vector<kc_ViewKey> items;
    for (double key : c.keys) items.push_back({key, static_cast<BlobId>(items.size() + 1)});
    kf_ViewSort(items.data(), items.size(), c.ascending);
    std::vector<BlobId> ids;
    for (const kc_ViewKey& k : items) ids.push_back(k.id);
    EXPECT_EQ(ids, c.want) << ::testing::PrintToString(c.keys);
  }
}

}  // namespace
