// Elapsed-time measurement for stage timings: kcTimer over the monotonic steady clock.
#pragma once

#include <chrono>

// kcTimer: measures seconds since its last start(). Not affected by changes of the wall clock.
// A timer is a plain value: copies measure from the same start. Not synchronised; one thread at a
// time may use a given timer.
class kcTimer {
 public:
  // kcTimer(startNow): with startNow true the timer starts at construction; otherwise it stays
  // unstarted until start() and sec() reports 0.
  explicit kcTimer(bool startNow = false);

  // start(): (re)starts the timer from now. Earlier elapsed time is discarded.
  void start();

  // sec(): seconds elapsed since the last start(), as a double; 0 for a timer never started.
  // Never negative. Resolution is the steady clock's (nanoseconds on Linux).
  double sec() const;

  // isStarted(): whether start() has run (or the timer was constructed with startNow true).
  bool isStarted() const { return started_; }

 private:
  std::chrono::steady_clock::time_point begin_{};
  bool started_ = false;
};
