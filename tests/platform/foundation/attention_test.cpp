// kcAttention: countdowns of nested scopes, and the cancellation points of the image operations.
#include <foundation/attention.h>
#include <foundation/pelbuffer.h>
#include <foundation/rlebuffer.h>

#include <gtest/gtest.h>

#include <functional>

#include "attention_checks.h"

namespace {

// Calls check() up to limit times; returns how many calls passed before one threw.
int passingChecks(int limit) {
  int i = 0;
  try {
    for (; i < limit; ++i) kcAttention::check();
  } catch (const kcAttention::Abandoned&) {
  }
  return i;
}

TEST(Attention, countdown_exactlyNPass_nestedScopesAllCount) {
  kcAttention::Scope outer;
  outer.abandonAfter(5);
  {
    kcAttention::Scope inner;
    inner.abandonAfter(2);
    EXPECT_EQ(passingChecks(10), 2);  // the third check throws and counts for outer too
    inner.abandonAfter(10);
    EXPECT_EQ(passingChecks(3), 0) << "a new countdown does not revive a due scope";
  }
  EXPECT_EQ(passingChecks(10), 1);  // outer saw 4 checks
  kcAttention::Scope fresh;
  EXPECT_EQ(passingChecks(3), 0) << "an inner scope cannot mask an outer one";
}

// Each operation checks at least once per 16 rows, and an abandoned one leaves its target as it was.
TEST(Attention, imageOperations_checkEvery16Rows_abandonLeavesTargetUnchanged) {
  constexpr long kRows = 16 * 8;
  kcPelBuffer<unsigned char> pels(40, kRows);
  for (long y = 0; y < kRows; ++y)
    for (long x = 0; x < 40; ++x) pels.pointToRow(y)[x] = static_cast<unsigned char>((x * 7 + y * 3) % 256);
  kcRLEBuffer runs, target;
  runs.encode(pels);
  const kcRLEBuffer before = runs;
  const std::function<void()> ops[] = {
      [&] { target.encode(pels); }, [&] { target.encode(pels, 100, false); }, [&] { target.encodePercent(pels, 5, 5, 50, false); },
      [&] { target = runs.mask(runs, 0, 0, false); }, [&] { target = runs.gmorphMin(kcRLEBuffer::eSquare3x3); },
      [&] { runs.projectHoriz(); }, [&] { runs.projectVert(); }, [&] { target = runs.subWindow(kcPelRect(1, 1, 30, kRows - 2)); }};
  for (std::size_t i = 0; i < std::size(ops); ++i) {
    target = before;
    {
      kcAttention::Scope scope;
      scope.requestAbandon();
      EXPECT_THROW(ops[i](), kcAttention::Abandoned) << i;
    }
    EXPECT_TRUE(target == before && attention_checks::checksMadeBy(ops[i]) >= static_cast<unsigned long>(kRows / 16 - 1)) << i;
  }
}

}  // namespace
