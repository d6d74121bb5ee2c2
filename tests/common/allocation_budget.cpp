// Test seams: the test program's operator new and delete, which enforce the AllocationBudget and
// feed the HeldBytes meter while one lives.
#include "common/allocation_budget.h"

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace {

struct Budget {
  bool armed = false;
  std::size_t requested = 0;
  std::size_t limit = 0;
} gBudget;

struct Meter {
  bool armed = false;
  long long held = 0;
  long long peak = 0;
} gMeter;

}  // namespace

void* operator new(std::size_t size) {
  if (gBudget.armed) {
    gBudget.requested += size;
    if (gBudget.requested > gBudget.limit) throw std::bad_alloc();
  }
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  if (gMeter.armed) {
    gMeter.held += static_cast<long long>(malloc_usable_size(block));
    gMeter.peak = std::max(gMeter.peak, gMeter.held);
  }
  return block;
}

void operator delete(void* block) noexcept {
  if (gMeter.armed && block != nullptr) gMeter.held -= static_cast<long long>(malloc_usable_size(block));
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }

// The nothrow forms too, so that every single-object block is taken and given back here.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void operator delete(void* block, const std::nothrow_t&) noexcept { operator delete(block); }

namespace testalloc {

AllocationBudget::AllocationBudget(std::size_t limit) { gBudget = {true, 0, limit}; }
AllocationBudget::~AllocationBudget() { gBudget.armed = false; }

HeldBytes::HeldBytes() { gMeter = {true, 0, 0}; }
HeldBytes::~HeldBytes() { gMeter.armed = false; }
std::size_t HeldBytes::peak() const { return static_cast<std::size_t>(gMeter.peak); }

}  // namespace testalloc
