// Batches of blob-analyze: the threads each image gets, and the progress line.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace tool {

// threadsPerImage(asked, jobs, cores): the threads each image is analysed on when jobs images are
// analysed at once: asked (0: as many as the cores allow), capped so that jobs x threads stays
// within cores; at least 1.
unsigned threadsPerImage(int asked, std::size_t jobs, std::size_t cores);

// ProgressLine: "[######....] 12/200 images  35.2/s  0:05 left" on standard error, redrawn in place
// at most ten times a second, when active; nothing otherwise.
class ProgressLine {
 public:
  ProgressLine(std::size_t total, bool active);
  ~ProgressLine() { clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // done(count): count images are done; redraws when due (always for the last).
  void done(std::size_t count);
  // clear(): removes the line (before other text is written to the terminal).
  void clear();

  // text(done, total, seconds): the line for done of total images after seconds.
  static std::string text(std::size_t done, std::size_t total, double seconds);

 private:
  std::size_t total_;
  bool active_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point lastDrawn_{};
};

}  // namespace tool
