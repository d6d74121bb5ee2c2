// kcAttention: scopes, requests from other threads, deadlines, countdowns, nesting, the exception,
// and the cancellation points of the image operations.
#include <foundation/attention.h>
#include <foundation/pelbuffer.h>
#include <foundation/rlebuffer.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "attention_checks.h"

namespace {

using namespace std::chrono_literals;

// Calls check() up to limit times; returns how many calls passed before one threw.
int passingChecks(int limit) {
  int i = 0;
  try {
    for (; i < limit; ++i) kcAttention::check();
  } catch (const kcAttention::Abandoned&) {
  }
  return i;
}

TEST(Attention, requestFromOtherThread_stopsThatThreadOnly) {
  kcAttention::Handle handle;
  std::atomic<bool> started{false};
  int passed = -1, passedAfter = -1;
  std::thread worker([&] {
    kcAttention::Scope scope(handle);
    started = true;
    passed = passingChecks(1 << 30);
    passedAfter = passingChecks(3);  // due stays due
  });
  while (!started) std::this_thread::yield();
  EXPECT_NO_THROW(kcAttention::check());  // the worker's scope does not govern this thread
  handle.requestAbandon();
  worker.join();
  EXPECT_LT(passed, 1 << 30);
  EXPECT_EQ(passedAfter, 0);
}

TEST(Attention, deadline_dueOncePassed) {
  kcAttention::Scope timed;
  timed.deadline(kcAttention::Clock::now() + 1h);  // no window a busy machine could miss
  EXPECT_NO_THROW(kcAttention::check());
  const kcAttention::Clock::time_point soon = kcAttention::Clock::now() + 5ms;
  timed.deadline(soon);
  std::this_thread::sleep_until(soon + 1ms);
  EXPECT_THROW(kcAttention::check(), kcAttention::Abandoned);
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

TEST(Attention, scopeEndedOutOfOrder_innerStillGoverns) {
  kcAttention::Scope top;
  std::optional<kcAttention::Scope> middle(std::in_place);
  kcAttention::Scope bottom;
  middle.reset();
  bottom.abandonAfter(1);
  EXPECT_EQ(passingChecks(10), 1);
}

TEST(Attention, abandoned_numberMessageRegistered) {
  std::unique_ptr<kcPersistent> made(kc_Instantiator::create("kcAttention::Abandoned"));
  auto* error = dynamic_cast<kcAttention::Abandoned*>(made.get());
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->errorNumber(), 0x10000030L);
  EXPECT_EQ(error->message(), L"The operation was abandoned.");
}

TEST(Attention, imageOperations_checkEvery16Rows_abandonLeavesTargetUnchanged) {
  constexpr long kRows = 16 * 8;
  kcPelBuffer<unsigned char> pels(40, kRows);
  for (long y = 0; y < kRows; ++y)
    for (long x = 0; x < 40; ++x) pels.pointToRow(y)[x] = static_cast<unsigned char>((x * 7 + y * 3) % 256);
  kcRLEBuffer runs;
  runs.encode(pels);
  const kcRLEBuffer before = runs;
  kcRLEBuffer target;
  const std::vector<std::pair<const char*, std::function<void()>>> ops = {
      {"encode", [&] { target.encode(pels); }},
      {"encode threshold", [&] { target.encode(pels, 100, false); }},
      {"encode map", [&] { target.encode(pels, std::vector<unsigned char>(256, 3)); }},
      {"encode soft", [&] { target.encode(pels, 10, 200, 4, false); }},
      {"encode percent", [&] { target.encodePercent(pels, 5, 5, 50, false); }},
      {"mask", [&] { target = runs.mask(runs, 0, 0, false); }},
      {"erode", [&] { target = runs.gmorphMin(kcRLEBuffer::eSquare3x3); }},
      {"dilate", [&] { target = runs.gmorphMax(kcRLEBuffer::eHoriz3x1); }},
      {"rows", [&] { runs.projectHoriz(); }},
      {"columns", [&] { runs.projectVert(); }},
      {"window", [&] { target = runs.subWindow(kcPelRect(1, 1, 30, kRows - 2)); }},
  };
  for (const auto& [name, op] : ops) {
    target = before;
    {
      kcAttention::Scope scope;
      scope.requestAbandon();
      EXPECT_THROW(op(), kcAttention::Abandoned) << name;
    }
    EXPECT_EQ(target, before) << name << ": an abandoned operation leaves its target as it was";
    EXPECT_GE(attention_checks::checksMadeBy(op), kRows / 16 - 1) << name;
  }
}

}  // namespace
