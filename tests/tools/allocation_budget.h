// Test seam: a budget on the bytes the test program asks of operator new, to bound memory by work.
#pragma once

#include <cstddef>

namespace testalloc {

// AllocationBudget(limit): while it lives, the program's operator new counts the bytes requested
// and throws std::bad_alloc once their total would pass limit, so code that allocates for data it
// has not seen fails at once instead of taking the memory. Budgets do not nest; one thread only.
class AllocationBudget {
 public:
  explicit AllocationBudget(std::size_t limit);
  ~AllocationBudget();
  AllocationBudget(const AllocationBudget&) = delete;
  AllocationBudget& operator=(const AllocationBudget&) = delete;
};

}  // namespace testalloc
