// Test seam: counting the heap blocks the foundation test program asks of operator new.
#pragma once

namespace allocation_count {

// start(): counts from 0 every block asked for from now on, on any thread. stop(): ends the count
// and returns it. Counts do not nest.
void start();
unsigned long stop();

// blocksAllocatedBy(op): the blocks op asks for. op must not throw.
template <class Op>
unsigned long blocksAllocatedBy(Op op) {
  start();
  op();
  return stop();
}

}  // namespace allocation_count
