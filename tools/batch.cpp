// The threads of a batch and its progress line.
#include "batch.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace tool {

unsigned threadsPerImage(int asked, std::size_t jobs, std::size_t cores) {
  const std::size_t allowed = std::max<std::size_t>(1, cores / std::max<std::size_t>(jobs, 1));
  return static_cast<unsigned>(asked > 0 ? std::min(static_cast<std::size_t>(asked), allowed) : allowed);
}

ProgressLine::ProgressLine(std::size_t total, bool active) : total_(total), active_(active) {}

std::string ProgressLine::text(std::size_t done, std::size_t total, double seconds) {
  constexpr std::size_t kBar = 24;
  const std::size_t filled = total == 0 ? kBar : done * kBar / total;
  std::string line = "[" + std::string(filled, '#') + std::string(kBar - filled, '.') + "] " + std::to_string(done) +
                     "/" + std::to_string(total) + " images";
  if (done > 0 && seconds > 0) {
    const double rate = static_cast<double>(done) / seconds;
    const long left = static_cast<long>(static_cast<double>(total - done) / rate + 0.5);
    char tail[64];
    std::snprintf(tail, sizeof tail, "  %.1f/s  %ld:%02ld left", rate, left / 60, left % 60);
    line += tail;
  }
  return line;
}

void ProgressLine::done(std::size_t count) {
  if (!active_) return;
  const auto now = std::chrono::steady_clock::now();
  if (count < total_ && shown_ && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
  lastDrawn_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  std::cerr << "\r\033[K" << text(count, total_, seconds) << std::flush;
  shown_ = true;
}

void ProgressLine::clear() {
  if (shown_) std::cerr << "\r\033[K" << std::flush;
  shown_ = false;
}

}  // namespace tool
