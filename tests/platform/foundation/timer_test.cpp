// kcTimer: unstarted reads, elapsed time and restart.
#include <foundation/timer.h>

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(Timer, unstartedZero_startedMeasures_restartDiscards) {
  kcTimer idle(false), timer(true);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(idle.sec(), 0.0);
  const double first = timer.sec();
  EXPECT_GE(first, 0.050);
  EXPECT_LT(first, 10.0);
  timer.start();
  EXPECT_LT(timer.sec(), first);
}

}  // namespace
