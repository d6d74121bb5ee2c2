// kcFastUnsafeStoragePool: node reuse, alignment, disjoint nodes and bad arguments.
#include <foundation/exception.h>
#include <foundation/pool.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

// Each live node holds its own byte: overlapping nodes, or a free-list link written into a live
// node, show as a changed byte. Freed nodes are used again: the blocks hold no more than the most
// nodes ever live at once.
TEST(StoragePool, randomChurn_alignedDisjointNodes) {
  kcFastUnsafeStoragePool pool(33, 5);
  std::mt19937 random(7);
  std::vector<std::pair<unsigned char*, int>> live;
  std::size_t most = 0;
  for (int step = 0; step < 3000; ++step) {
    if (live.empty() || random() % 3 != 0) {
      auto* p = static_cast<unsigned char*>(pool.alloc());
      ASSERT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignof(std::max_align_t), 0u);
      std::memset(p, step & 0xff, 33);
      live.emplace_back(p, step & 0xff);
      most = std::max(most, live.size());
    } else {
      std::swap(live[random() % live.size()], live.back());
      pool.free(live.back().first);
      live.pop_back();
    }
  }
  for (auto [p, fill] : live) EXPECT_EQ(p[0] + p[32], 2 * fill);
  EXPECT_EQ(pool.liveNodes(), live.size());
  EXPECT_EQ(pool.blocksAllocated(), (most + 4) / 5);
}

TEST(StoragePool, badSizes_throwBadArgument) {
  EXPECT_THROW(kcFastUnsafeStoragePool(0, 256), kcBadArgument);
  EXPECT_THROW(kcFastUnsafeStoragePool(16, 0), kcBadArgument);
  EXPECT_THROW(kcFastUnsafeStoragePool(SIZE_MAX / 4, 8), kcBadArgument);
}

}  // namespace
