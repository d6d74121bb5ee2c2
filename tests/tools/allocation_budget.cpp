// Test seam: the test program's operator new, which enforces the AllocationBudget while one lives.
#include "allocation_budget.h"

#include <cstdlib>
#include <new>

namespace {

struct Budget {
  bool armed = false;
  std::size_t requested = 0;
  std::size_t limit = 0;
} gBudget;

}  // namespace

void* operator new(std::size_t size) {
  if (gBudget.armed) {
    gBudget.requested += size;
    if (gBudget.requested > gBudget.limit) throw std::bad_alloc();
  }
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace testalloc {

AllocationBudget::AllocationBudget(std::size_t limit) { gBudget = {true, 0, limit}; }
AllocationBudget::~AllocationBudget() { gBudget.armed = false; }

}  // namespace testalloc
