// kcTimer: start and read over std::chrono::steady_clock.
#include <foundation/timer.h>

kcTimer::kcTimer(bool startNow) {
  if (startNow) start();
}

void kcTimer::start() {
  begin_ = std::chrono::steady_clock::now();
  started_ = true;
}

double kcTimer::sec() const {
  if (!started_) return 0.0;
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - begin_;
  return elapsed.count() > 0.0 ? elapsed.count() : 0.0;
}
