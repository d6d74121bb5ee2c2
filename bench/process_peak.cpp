// Process-peak comparison of opencv_compare: the image file, the measured child processes, the
// counting of their findings and the table.
#include "process_peak.h"

#include "bench_images.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#if !defined(BENCH_BLOB_ANALYZE) || !defined(BENCH_OPENCV_PEAK_CHILD)
#error "BENCH_BLOB_ANALYZE and BENCH_OPENCV_PEAK_CHILD: the programs' paths, set by bench/CMakeLists.txt"
#endif

namespace bench {
namespace {

// What the signal handler removes, and the child it kills, while a ScratchImage lives.
char gScratchFile[4096];
char gScratchFolder[4096];
volatile std::sig_atomic_t gChild = 0;

void removeScratchAndRaise(int signal) {
  if (gChild > 0) kill(gChild, SIGKILL);
  unlink(gScratchFile);
  rmdir(gScratchFolder);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// A new temporary folder holding the image file; the destructor removes both, and so does
// SIGINT or SIGTERM meanwhile (the signal then ends the program as it would have).
class ScratchImage {
 public:
  ScratchImage() {
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) {
      failure_ = "no temporary folder: " + error.message();
      return;
    }
    std::string pattern = (base / "opencv_compare.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      failure_ = pattern + ": " + std::strerror(errno);
      return;
    }
    folder_ = pattern;
    file_ = folder_ + "/" + kPeakImage.name() + ".pgm";
    arm();
  }
  ~ScratchImage() {
    disarm();
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }
  ScratchImage(const ScratchImage&) = delete;
  ScratchImage& operator=(const ScratchImage&) = delete;

  // write(pels): pels as a binary PGM (P5, maxval 255) in file(); false, with failure() set, when
  // there is no folder or the file could not be written.
  bool write(const kcPelBuffer<unsigned char>& pels) {
    if (folder_.empty()) return false;
    std::ofstream out(file_, std::ios::binary);
    out << "P5\n" << pels.width() << ' ' << pels.height() << "\n255\n";
    for (long y = 0; y < pels.height() && out; ++y) {
      out.write(reinterpret_cast<const char*>(pels.pointToRow(y)), pels.width());
    }
    out.close();
    if (out.fail()) failure_ = file_ + ": cannot be written";
    return !out.fail();
  }

  const std::string& file() const { return file_; }
  const std::string& failure() const { return failure_; }

 private:
  void arm() {
    if (file_.size() >= sizeof gScratchFile) return;  // the destructor alone removes them then
    std::memcpy(gScratchFile, file_.c_str(), file_.size() + 1);
    std::memcpy(gScratchFolder, folder_.c_str(), folder_.size() + 1);
    struct sigaction action {};
    action.sa_handler = removeScratchAndRaise;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &oldInt_);
    sigaction(SIGTERM, &action, &oldTerm_);
    armed_ = true;
  }
  void disarm() {
    if (!armed_) return;
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
    gScratchFile[0] = gScratchFolder[0] = '\0';
    armed_ = false;
  }

  std::string folder_, file_, failure_;
  struct sigaction oldInt_ {}, oldTerm_ {};
  bool armed_ = false;
};

// Counts the rows of a CSV report as it arrives: blobs (label not 0) and holes. The label field is
// found by its place from the end of the header, so that commas in the file name cannot shift it.
class CsvTally {
 public:
  void feed(std::string_view data) {
    for (std::size_t end; (end = data.find('\n')) != std::string_view::npos; data.remove_prefix(end + 1)) {
      if (partial_.empty()) {
        line(data.substr(0, end));
      } else {
        partial_.append(data.substr(0, end));
        line(partial_);
        partial_.clear();
      }
    }
    partial_.append(data);
  }

  // valid(): the header named a label field, every row had it, and nothing followed the last line break.
  bool valid() const { return fromEnd_ >= 0 && !shortRows_ && partial_.empty(); }
  long blobs() const { return blobs_; }
  long holes() const { return holes_; }

 private:
  void line(std::string_view text) {
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    if (fromEnd_ == kNoHeader) {
      fromEnd_ = kNoLabel;
      long fields = 0, label = -1;
      for (std::size_t start = 0, end = 0; end != std::string_view::npos; start = end + 1, ++fields) {
        end = text.find(',', start);
        if (text.substr(start, end - start) == "label") label = fields;
      }
      if (label >= 0) fromEnd_ = fields - 1 - label;
      return;
    }
    for (long skip = 0; skip < fromEnd_; ++skip) {
      const std::size_t comma = text.rfind(',');
      if (comma == std::string_view::npos) {
        shortRows_ = true;
        return;
      }
      text = text.substr(0, comma);
    }
    (text.substr(text.rfind(',') + 1) == "0" ? holes_ : blobs_) += 1;
  }

  static constexpr long kNoHeader = -1, kNoLabel = -2;
  std::string partial_;
  long fromEnd_ = kNoHeader;  // fields after the label field
  long blobs_ = 0, holes_ = 0;
  bool shortRows_ = false;
};

using Clock = std::chrono::steady_clock;
using Consumer = std::function<void(std::string_view)>;

long millisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return std::max(0L, static_cast<long>(left));
}

// drainUntil(fd, deadline, consume): hands what fd delivers to consume until its end; false when
// the end did not come before the deadline or reading failed.
bool drainUntil(int fd, Clock::time_point deadline, const Consumer& consume) {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const long left = millisecondsLeft(deadline);
    if (left == 0) return false;
    pollfd ready{fd, POLLIN, 0};
    const int polled = poll(&ready, 1, static_cast<int>(std::min(left, 60000L)));
    if (polled < 0 && errno != EINTR) return false;
    if (polled <= 0) continue;
    const ssize_t got = read(fd, buffer.data(), buffer.size());
    if (got == 0) return true;
    if (got < 0 && errno != EINTR) return false;
    if (got > 0) consume(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
  }
}

// waitUntil(child, deadline, status, usage): reaps the child with wait4; false when it had not
// ended by the deadline.
bool waitUntil(pid_t child, Clock::time_point deadline, int& status, rusage& usage) {
  for (;;) {
    const pid_t done = wait4(child, &status, WNOHANG, &usage);
    if (done == child) return true;
    if ((done < 0 && errno != EINTR) || millisecondsLeft(deadline) == 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// One measured child: its peak resident set when it exited with status 0 in time, else why not.
struct ChildPeak {
  bool finished = false;
  double mebibytes = 0.0;  // ru_maxrss
  std::string failure;
};

// measureChild(args, consume): runs the program args[0] with args in a fresh process (fork, then
// exec) whose standard output goes to consume; kills it after kPeakChildLimit seconds.
ChildPeak measureChild(const std::vector<std::string>& args, const Consumer& consume) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return {false, 0.0, std::string("no pipe: ") + std::strerror(errno)};
  const Clock::time_point deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kPeakChildLimit));
  const pid_t child = fork();
  if (child == 0) {
    if (dup2(fds[1], STDOUT_FILENO) >= 0) execv(argv[0], argv.data());
    _exit(127);
  }
  const int forkError = errno;
  close(fds[1]);
  if (child < 0) {
    close(fds[0]);
    return {false, 0.0, std::string("no fork: ") + std::strerror(forkError)};
  }
  gChild = child;
  int status = 0;
  rusage usage{};
  const bool inTime = drainUntil(fds[0], deadline, consume) && waitUntil(child, deadline, status, usage);
  close(fds[0]);
  if (!inTime) {
    kill(child, SIGKILL);
    wait4(child, &status, 0, &usage);
  }
  gChild = 0;
  if (!inTime) {
    return {false, 0.0, "killed: not done within " + std::to_string(static_cast<long>(kPeakChildLimit)) + " s"};
  }
  if (WIFSIGNALED(status)) return {false, 0.0, "ended by signal " + std::to_string(WTERMSIG(status))};
  if (WEXITSTATUS(status) == 127) return {false, 0.0, "exit status 127 (could it be started?)"};
  if (WEXITSTATUS(status) != 0) return {false, 0.0, "exit status " + std::to_string(WEXITSTATUS(status))};
  return {true, static_cast<double>(usage.ru_maxrss) / 1024.0, {}};
}

// residentMiB(): this process's resident set (VmRSS); 0 when unknown.
double residentMiB() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return 0.0;
}

std::string shown(bool finished, double value, const char* format) {
  if (!finished) return "—";
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// measureBoth(file): prints the table of both children on file; returns 0 when they agree.
int measureBoth(const std::string& file) {
  const double forkingMiB = residentMiB();
  CsvTally tally;
  // One thread each, as OpenCV's child (setNumThreads(1)).
  const ChildPeak ours = measureChild({BENCH_BLOB_ANALYZE, "--format", "csv", "--measures", "area", "--threads", "1", file},
                                      [&](std::string_view data) { tally.feed(data); });
  std::string printed;
  const ChildPeak opencv = measureChild({BENCH_OPENCV_PEAK_CHILD, file},
                                        [&](std::string_view data) { printed.append(data); });
  char* end = nullptr;
  const long components = std::strtol(printed.c_str(), &end, 10);
  const bool oursCounted = ours.finished && tally.valid();
  const bool opencvCounted = opencv.finished && end != printed.c_str();
  std::printf("\n| image | ours peak MiB | OpenCV peak MiB | ours/OpenCV | ours blobs | ours holes | OpenCV blobs |\n"
              "|---|---:|---:|---:|---:|---:|---:|\n");
  std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", kPeakImage.name().c_str(),
              shown(ours.finished, ours.mebibytes, "%.1f").c_str(),
              shown(opencv.finished, opencv.mebibytes, "%.1f").c_str(),
              shown(ours.finished && opencv.finished, ours.mebibytes / opencv.mebibytes, "%.2f").c_str(),
              shown(oursCounted, static_cast<double>(tally.blobs()), "%.0f").c_str(),
              shown(oursCounted, static_cast<double>(tally.holes()), "%.0f").c_str(),
              shown(opencvCounted, static_cast<double>(components), "%.0f").c_str());
  std::printf("\nPeak MiB: ru_maxrss (wait4) of a fresh process (fork + exec) that reads the image from a binary PGM "
              "file and analyses it once on one thread, program and libraries included: ours `blob-analyze --format csv "
              "--measures area --threads 1 FILE`, its CSV read through a pipe (blobs: rows of label other than 0); OpenCV `imread` (grey) + "
              "`threshold` + `connectedComponentsWithStats` (8-connected, CV_32S) in a program of OpenCV alone "
              "(opencv_peak_child). — when a child failed or ran past %.0f s. The figure also covers the child's copy "
              "of the forking process before exec, which held %.1f MiB.\n", kPeakChildLimit, forkingMiB);
  if (!ours.finished) std::fprintf(stderr, "opencv_compare: blob-analyze: %s\n", ours.failure.c_str());
  if (!opencv.finished) std::fprintf(stderr, "opencv_compare: opencv_peak_child: %s\n", opencv.failure.c_str());
  if (!oursCounted || !opencvCounted) return 1;
  if (tally.blobs() == components) return 0;
  std::fprintf(stderr, "opencv_compare: %s: results differ: ours %ld blobs, OpenCV %ld\n", kPeakImage.name().c_str(),
               tally.blobs(), components);
  return 1;
}

}  // namespace

int runProcessPeak() {
  try {
    ScratchImage scratch;
    if (!scratch.write(makeImage(kPeakImage.kind, kPeakImage.side))) {
      std::fprintf(stderr, "opencv_compare: process peak: %s\n", scratch.failure().c_str());
      return 1;
    }
    const int status = measureBoth(scratch.file());
    std::fflush(stdout);
    return status;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "opencv_compare: process peak: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "opencv_compare: process peak: the image could not be made\n");
  }
  return 1;
}

}  // namespace bench
