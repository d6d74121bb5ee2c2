// Counting the cancellation points of an operation: how many kcAttention::check() calls it makes.
#pragma once

#include <foundation/attention.h>

namespace attention_checks {

// checksMadeBy(op, limit): the number of check() calls op makes, found by letting the first n
// pass for n = 0, 1, ... until op completes; limit + 1 when it still throws after limit. op must
// behave the same on every call.
template <class Op>
unsigned long checksMadeBy(Op op, unsigned long limit = 64) {
  for (unsigned long n = 0; n <= limit; ++n) {
    kcAttention::Scope scope;
    scope.abandonAfter(n);
    try {
      op();
      return n;
    } catch (const kcAttention::Abandoned&) {
    }
  }
  return limit + 1;
}

}  // namespace attention_checks
