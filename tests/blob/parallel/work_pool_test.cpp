// The worker pool: every task once on several threads, the first failure stopping the rest, the
// caller's cancellation reaching the workers, and threads started once, not per run.
#include "parallel/work_pool.h"

#include <foundation/attention.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

TEST(WorkPool, WorkPool_tasksOfConcurrentRuns_eachRunOnceAndWorkersReused) {
  kc_WorkPool& pool = kc_WorkPool::shared();
  for (unsigned threads : {1u, 2u, 3u, 8u}) {
    std::vector<std::atomic<int>> counts(1000);
    const auto body = [&](std::size_t t) { counts[t].fetch_add(1); };
    std::thread other([&] { pool.run(500, threads, [&](std::size_t t) { counts[500 + t].fetch_add(1); }); });
    pool.run(500, threads, body);
    other.join();
    for (std::size_t t = 0; t < counts.size(); ++t) ASSERT_EQ(counts[t].load(), 1) << threads << " threads, task " << t;
  }
  const unsigned started = pool.workers();
  EXPECT_LE(started, 7u);
  for (int i = 0; i < 50; ++i) pool.run(8, 8, [](std::size_t) {});
  EXPECT_EQ(pool.workers(), started);
}

TEST(WorkPool, WorkPool_failingTask_stopsTheOthersAndIsRethrownOnce) {
  std::atomic<int> started{0};
  const auto body = [&](std::size_t t) {
    started.fetch_add(1);
    if (t == 3) throw std::runtime_error("task 3");
    for (int i = 0; i < 2000; ++i) {  // a long task that polls, as the engine does
      kf_CheckStop();
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  };
  try {
    kc_WorkPool::shared().run(1000, 4, body);
    FAIL() << "the failure did not reach the caller";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "task 3");
  }
  EXPECT_LT(started.load(), 20);
}

// A task never told to stop gives up after 5 s, far past the deadline even under a sanitizer on
// busy cores, so that the fault fails the counts instead of hanging the suite.
TEST(WorkPool, WorkPool_callersDeadline_abandonsEveryThread) {
  std::atomic<int> started{0}, stopped{0};
  kcAttention::Scope scope;
  const kcAttention::Clock::time_point now = kcAttention::Clock::now(), giveUp = now + std::chrono::seconds(5);
  scope.deadline(now + std::chrono::milliseconds(20));
  const auto spin = [&](std::size_t) {
    started.fetch_add(1);
    try {
      while (kcAttention::Clock::now() < giveUp) kf_CheckStop();
    } catch (const kc_WorkStopped&) {
      stopped.fetch_add(1);
      throw;
    }
  };
  EXPECT_THROW(kc_WorkPool::shared().run(2, 2, spin), kcAttention::Abandoned);
  EXPECT_TRUE(started.load() < 2 || stopped.load() == 1) << "a worker that joined in time is stopped";
}

}  // namespace
