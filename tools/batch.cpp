// Folders expanded into image lists, and the progress line of a batch.
#include "batch.h"

#include "options.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <system_error>

namespace tool {
namespace {

bool isImageName(const std::filesystem::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".png" || ext == ".pgm";
}

template <class Iterator>
void collect(const std::string& folder, std::vector<std::string>& files) {
  std::error_code error;
  Iterator it(folder, error), end;
  for (; !error && it != end; it.increment(error)) {
    std::error_code kind;
    if (it->is_regular_file(kind) && isImageName(it->path())) files.push_back(it->path().string());
  }
  if (error) throw UsageError(folder + ": cannot read the folder: " + error.message());
}

}  // namespace

unsigned threadsPerImage(int asked, std::size_t jobs, std::size_t cores) {
  const std::size_t allowed = std::max<std::size_t>(1, cores / std::max<std::size_t>(jobs, 1));
  return static_cast<unsigned>(asked > 0 ? std::min(static_cast<std::size_t>(asked), allowed) : allowed);
}

std::vector<std::string> expandInputs(const std::vector<std::string>& inputs, bool recursive) {
  std::vector<std::string> out;
  for (const std::string& input : inputs) {
    std::error_code error;
    if (!std::filesystem::is_directory(input, error)) {
      out.push_back(input);
      continue;
    }
    std::vector<std::string> files;
    if (recursive)
      collect<std::filesystem::recursive_directory_iterator>(input, files);
    else
      collect<std::filesystem::directory_iterator>(input, files);
    if (files.empty()) throw UsageError(input + ": the folder holds no .png or .pgm file");
    std::sort(files.begin(), files.end());
    out.insert(out.end(), files.begin(), files.end());
  }
  return out;
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
