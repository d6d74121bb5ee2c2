// Fixed-size node storage: kcFastUnsafeStoragePool hands out equal-sized nodes from large blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// kcFastUnsafeStoragePool: storage for many nodes of one size, as used for short-lived graph
// records (labels, regions) that are created and dropped in large numbers during one run.
//
// Nodes are carved from blocks of `count` nodes each; a new block is taken only when no freed node
// and no untouched node of the last block is left, so `count` is a growth step, never a capacity.
// free() puts a node on a free list that alloc() serves first (most recently freed first).
// The destructor releases every block at once: nodes need not be freed one by one, and any object
// placed in a node must be trivially destructible or be destroyed by its owner before the pool dies.
//
// Not thread-safe: one thread at a time may use a pool. Not copyable or movable.
class kcFastUnsafeStoragePool {
 public:
  // kcFastUnsafeStoragePool(size, count): nodes of at least size bytes, blocks of count nodes.
  // Throws kcBadArgument when size or count is 0, or when one block would not fit in memory
  // (size rounded up to the node stride, times count, overflows). Allocates nothing yet.
  kcFastUnsafeStoragePool(std::size_t size, std::size_t count);
  ~kcFastUnsafeStoragePool();

  kcFastUnsafeStoragePool(const kcFastUnsafeStoragePool&) = delete;
  kcFastUnsafeStoragePool& operator=(const kcFastUnsafeStoragePool&) = delete;

  // alloc(): a node of nodeSize() uninitialised bytes, aligned to alignof(std::max_align_t). Valid
  // until it is passed to free() or the pool is destroyed. Constant time; takes a new block (one
  // heap allocation, which may throw std::bad_alloc and leaves the pool unchanged) when the pool has
  // no node left.
  void* alloc();

  // free(p): returns node p to the pool for reuse. p must come from alloc() of this pool and not
  // have been freed since; a null p is ignored. Constant time; debug builds check that p lies on a
  // node of this pool (kcInvariantFailure otherwise). Freeing a node twice is not detected.
  void free(void* p);

  // owns(p): whether p is the start of a node in one of this pool's blocks (freed or not).
  // Cost grows with the number of blocks; meant for checks, not hot paths.
  bool owns(const void* p) const;

  // nodeSize(): bytes per node: size rounded up to a multiple of alignof(std::max_align_t).
  std::size_t nodeSize() const { return stride_; }
  // blockCount(): nodes per block (the count given at construction).
  std::size_t blockCount() const { return count_; }
  // blocksAllocated(): blocks taken so far (each holds blockCount() nodes).
  std::size_t blocksAllocated() const { return blocks_.size(); }
  // liveNodes(): nodes handed out by alloc() and not yet freed.
  std::size_t liveNodes() const { return live_; }

 private:
  struct FreeNode {
    FreeNode* next;
  };
  struct BlockDeleter {
    void operator()(std::byte* block) const noexcept;
  };
  using Block = std::unique_ptr<std::byte[], BlockDeleter>;

  void* grow();  // cold path: takes a new block and returns its first node

  std::size_t stride_;
  std::size_t count_;
  std::vector<Block> blocks_;
  FreeNode* freeList_ = nullptr;
  std::byte* next_ = nullptr;  // first untouched node of the last block
  std::byte* end_ = nullptr;   // end of the last block
  std::size_t live_ = 0;
};
