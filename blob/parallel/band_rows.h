// The rows of one band of an image, scanned in order by one thread, from which a thread that has
// run out of work may take the lower part as a band of its own.
#pragma once

#include <atomic>
#include <cstdint>

// kc_BandRows: the rows [top, limit) of a band. The band's scan takes its rows one at a time, in
// order (take); another thread may meanwhile cut the band short (split), taking the lower half of
// the rows not yet taken. The last row taken and the limit share one atomic word, which both
// change by compare-and-swap, so every row is taken by exactly one band: the scan never takes a row
// at or past a limit a split set, and a split never gives away a row already taken.
class kc_BandRows {
 public:
  kc_BandRows(std::int32_t top, std::int32_t limit) : top_(top), state_(pack(top, limit)) {}
  kc_BandRows(const kc_BandRows&) = delete;
  kc_BandRows& operator=(const kc_BandRows&) = delete;

  // top(): the band's first row, which is taken from the start.
  std::int32_t top() const { return top_; }
  // limit(): the row past the band's last, as things stand.
  std::int32_t limit() const { return unpackLimit(state_.load(std::memory_order_acquire)); }
  // take(y): for the band's scan, with y the row after the last taken: whether y is the band's
  // (it is taken then); once not, no later row is.
  bool take(std::int32_t y) {
    std::uint64_t s = state_.load(std::memory_order_relaxed);
    for (;;) {
      const std::int32_t limit = unpackLimit(s);
      if (y >= limit) return false;
      if (state_.compare_exchange_weak(s, pack(y, limit), std::memory_order_acq_rel)) return true;
    }
  }
  // left(): the rows not yet taken.
  std::int32_t left() const { return rowsLeft(state_.load(std::memory_order_acquire)); }
  // split(least, end): when at least 2 * least rows are left, the band gives up the lower half of
  // them (the larger half when their count is odd): returns the first row given up, the band's new
  // limit, and sets end to the old one. Else -1, and nothing changes.
  std::int32_t split(std::int32_t least, std::int32_t& end) {
    std::uint64_t s = state_.load(std::memory_order_relaxed);
    for (;;) {
      const std::int32_t left = rowsLeft(s);
      if (left < 2 || left / 2 < least) return -1;
      const std::int32_t mid = unpackTaken(s) + 1 + left / 2;
      if (state_.compare_exchange_weak(s, pack(unpackTaken(s), mid), std::memory_order_acq_rel)) {
        end = unpackLimit(s);
        return mid;
      }
    }
  }

 private:
  static std::uint64_t pack(std::int32_t taken, std::int32_t limit) {
    return std::uint64_t{static_cast<std::uint32_t>(taken)} << 32 | static_cast<std::uint32_t>(limit);
  }
  static std::int32_t unpackTaken(std::uint64_t s) { return static_cast<std::int32_t>(s >> 32); }
  static std::int32_t unpackLimit(std::uint64_t s) { return static_cast<std::int32_t>(s & 0xffffffffu); }
  static std::int32_t rowsLeft(std::uint64_t s) { return unpackLimit(s) - unpackTaken(s) - 1; }

  std::int32_t top_;
  std::atomic<std::uint64_t> state_;  // the last row taken (high half) and the limit (low half)
};
