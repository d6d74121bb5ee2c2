// kcFastUnsafeStoragePool: block growth, bump allocation and the intrusive free list.
#include <foundation/assert.h>
#include <foundation/exception.h>
#include <foundation/pool.h>

#include <functional>
#include <limits>
#include <new>

namespace {

constexpr std::size_t kAlign = alignof(std::max_align_t);
static_assert(kAlign >= alignof(void*), "a freed node holds a pointer");

}  // namespace

void kcFastUnsafeStoragePool::BlockDeleter::operator()(std::byte* block) const noexcept {
  ::operator delete(block, std::align_val_t{kAlign});
}

kcFastUnsafeStoragePool::kcFastUnsafeStoragePool(std::size_t size, std::size_t count)
    : stride_(0), count_(count) {
  if (size == 0) throw kcBadArgument(L"A storage pool needs a node size above 0.");
  if (count == 0) throw kcBadArgument(L"A storage pool needs a block count above 0.");
  constexpr std::size_t maxBytes = std::numeric_limits<std::ptrdiff_t>::max();
  if (size > maxBytes - (kAlign - 1)) throw kcBadArgument(L"The storage pool's node size is too large.");
  stride_ = (size + kAlign - 1) / kAlign * kAlign;
  if (count > maxBytes / stride_) throw kcBadArgument(L"The storage pool's block would be too large.");
}

kcFastUnsafeStoragePool::~kcFastUnsafeStoragePool() = default;

void* kcFastUnsafeStoragePool::alloc() {
  void* node;
  if (freeList_ != nullptr) {
    node = freeList_;
    freeList_ = freeList_->next;
  } else if (next_ != end_) {
    node = next_;
    next_ += stride_;
  } else {
    node = grow();
  }
  ++live_;
  return node;
}

void* kcFastUnsafeStoragePool::grow() {
  blocks_.reserve(blocks_.size() + 1);  // may throw before anything changes
  const std::size_t bytes = stride_ * count_;
  Block block(static_cast<std::byte*>(::operator new(bytes, std::align_val_t{kAlign})));
  std::byte* first = block.get();
  blocks_.push_back(std::move(block));
  next_ = first + stride_;
  end_ = first + bytes;
  return first;
}

void kcFastUnsafeStoragePool::free(void* p) {
  if (p == nullptr) return;
#ifndef NDEBUG
  KC_ASSERT(owns(p), "a node given back to a storage pool came from that pool");
#endif
  KC_ASSERT(live_ > 0, "a storage pool has a live node to take back");
  freeList_ = ::new (p) FreeNode{freeList_};
  --live_;
}

bool kcFastUnsafeStoragePool::owns(const void* p) const {
  const std::byte* q = static_cast<const std::byte*>(p);
  const std::size_t bytes = stride_ * count_;
  for (const Block& block : blocks_) {
    const std::byte* first = block.get();
    // std::less gives a total order over unrelated pointers.
    if (std::less<const std::byte*>()(q, first) || !std::less<const std::byte*>()(q, first + bytes))
      continue;
    return static_cast<std::size_t>(q - first) % stride_ == 0;
  }
  return false;
}
