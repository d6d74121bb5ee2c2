// Test seam: the foundation test program's operator new, which counts blocks while a count is on.
#include "allocation_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> gCounting{false};
std::atomic<unsigned long> gBlocks{0};

}  // namespace

// Every unaligned form is replaced, so that none pairs a sanitizer's allocation with free().
void* operator new(std::size_t size) {
  if (gCounting.load(std::memory_order_relaxed)) gBlocks.fetch_add(1, std::memory_order_relaxed);
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return ::operator new(size, tag); }

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace allocation_count {

void start() {
  gBlocks = 0;
  gCounting = true;
}

unsigned long stop() {
  gCounting = false;
  return gBlocks;
}

}  // namespace allocation_count
