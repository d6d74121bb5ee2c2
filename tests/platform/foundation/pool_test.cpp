// kcFastUnsafeStoragePool: node reuse, block growth, alignment, disjoint nodes and bad arguments.
#include <foundation/exception.h>
#include <foundation/pool.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

TEST(StoragePool, growsByCount_reusesFreedNodesFirst) {
  kcFastUnsafeStoragePool pool(24, 4);
  std::vector<void*> nodes;
  for (int i = 0; i < 9; ++i) nodes.push_back(pool.alloc());
  EXPECT_EQ(pool.blocksAllocated(), 3u);
  pool.free(nodes[2]);
  pool.free(nodes[7]);
  EXPECT_TRUE(pool.alloc() == nodes[7] && pool.alloc() == nodes[2]);
  for (int i = 0; i < 3; ++i) pool.alloc();  // fills the third block
  const auto filled = pool.blocksAllocated();
  pool.alloc();
  EXPECT_TRUE(filled == 3u && pool.blocksAllocated() == 4u);
}

// Each live node holds its own byte: overlapping nodes, or a free-list link written into a live
// node, show as a changed byte.
TEST(StoragePool, randomChurn_alignedDisjointNodes) {
  kcFastUnsafeStoragePool pool(33, 5);
  std::mt19937 random(7);
  std::vector<std::pair<unsigned char*, int>> live;
  for (int step = 0; step < 3000; ++step) {
    if (live.empty() || random() % 3 != 0) {
      auto* p = static_cast<unsigned char*>(pool.alloc());
      ASSERT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignof(std::max_align_t), 0u);
      std::memset(p, step & 0xff, 33);
      live.emplace_back(p, step & 0xff);
    } else {
      std::swap(live[random() % live.size()], live.back());
      pool.free(live.back().first);
      live.pop_back();
    }
  }
  for (auto [p, fill] : live) EXPECT_EQ(p[0] + p[32], 2 * fill);
  EXPECT_EQ(pool.liveNodes(), live.size());
}

TEST(StoragePool, badSizes_throwBadArgument) {
  EXPECT_THROW(kcFastUnsafeStoragePool(0, 256), kcBadArgument);
  EXPECT_THROW(kcFastUnsafeStoragePool(16, 0), kcBadArgument);
  EXPECT_THROW(kcFastUnsafeStoragePool(SIZE_MAX / 4, 8), kcBadArgument);
}

}  // namespace
