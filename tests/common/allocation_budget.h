// Test seams on operator new: a budget on the bytes asked for, to bound memory by work, and a meter
// of the bytes held, to bound what a routine keeps at once.
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

// HeldBytes: while it lives, follows the bytes held through operator new (blocks allocated less
// blocks freed, each as large as malloc made it). peak() is their highest total above what was
// held when it began; blocks allocated before and freed during count as a drop. Meters do not
// nest; one thread only.
class HeldBytes {
 public:
  HeldBytes();
  ~HeldBytes();
  HeldBytes(const HeldBytes&) = delete;
  HeldBytes& operator=(const HeldBytes&) = delete;

  std::size_t peak() const;
};

}  // namespace testalloc
