// Single-threaded comparison of our blob analysis with OpenCV on fixed images; prints a Markdown
// table of median times, ratios and peak memory, after checking on each image that both find the
// same regions.
//
//   (ours) kfBlobAnalysis with a hard threshold, then area, centre of mass and image bounding box
//          of every region of the scene (blobs and holes)
//   (b)    threshold + connectedComponentsWithStats, 8-connected (no holes)
//   (c)    threshold + findContours (RETR_CCOMP, CHAIN_APPROX_SIMPLE) + moments and boundingRect of
//          every contour (outer borders and holes)
//   (d)    threshold alone: one vectorised pass over the pels, the floor
// Every side times a steady state: it reuses its outputs from call to call. ours/fastest divides
// our time by that of the faster of (b) and (c), or of (b) when (c) ran past the limit.
//
// A second table times tracing the outline of every region: ours (chain code and perimeter of
// every blob and hole of a fresh scene; alone, and with the analysis) against
//   (e)    threshold + findContours (RETR_CCOMP, CHAIN_APPROX_NONE) + arcLength of every contour
// on parts, glyphs and noise10.
//
// The images are bench::standardSet(), the last being noise50-8192 (minutes on its own). Memory
// columns: the peak resident set (VmHWM) of a fresh process, this program re-executed with
// --peak-memory, that makes the image and runs one route twice; a note under the table gives what
// that process holds once the image is made, the part of each figure that is not the route's.
//
// After the main table comes the process-peak table (process_peak.h): the peak resident set of
// blob-analyze and of an OpenCV child, each analysing noise50-8192 once from a PGM file.
//
// With --threads, a table of its own: ours on 1, 2 and (where there are cores for them) 4 and 8
// threads against (b) given as many (cv::setNumThreads), on parts, noise10, noise50 and noisetop
// (noise over the top half only) at 8192 and parts at 16384, with each side's speed-up over its
// one-thread time, and our analysis call alone (without the loop over the blobs, which stays on the
// caller's thread) with its speed-up.
// Agreement is checked first at every thread count. Then the cells take turns: each turn times
// ours, the call alone and (b) at every thread count once (the counts in turn ascending and
// descending), each after untimed calls lasting at least half a second (kWarmSeconds); each time
// is the median of its turns, and each ratio (speed-up, ours/(b)) the median of the turns' own
// ratios. On a machine whose speed drifts from minute to minute, cells timed one after the other
// for a while each would compare different moments; taking turns, every ratio compares calls made
// seconds apart.
//
// Usage: opencv_compare [--check | --peak-only | --threads] [--min-time SECONDS] [--limit SECONDS]
//                       [--turns N] [--only NAME]
//   --check      agreement only, on 256 x 256 images of every class; exit 1 on any disagreement
//   --peak-only  the process-peak table alone
//   --threads    the threads table alone
//   --turns      timed turns of the threads table, after two untimed ones (default 15)
//   --min-time   time each cell for at least this long (default 1 s; at least 3 runs, at most 200)
//   --limit      give up timing or measuring (c) on an image after this many seconds (default 120)
//   --only       run only the images whose name ("parts-2048", ...) contains NAME; the process-peak
//                table runs when "noise50-8192" contains NAME
// Internal: opencv_compare --peak-memory ROUTE NAME is the memory child (route ours, b or c).
#include "bench_images.h"
#include "process_peak.h"

#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>

#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef BENCH_BUILD_TYPE
#define BENCH_BUILD_TYPE "unknown"
#endif

namespace {

// One foreground region as both sides report it: pel count, bounding box and centroid in pel
// centres (our centre of mass carries +0.5 and is shifted back before the comparison).
struct Region {
  long area, left, top, width, height;
  double cx, cy;
  auto key() const { return std::tie(top, left, area, width, height); }
};

struct Findings {
  std::vector<Region> blobs;
  long holes = 0;
};

// The analysis as a user runs it, into results reused from call to call, with every region
// measured; run() returns a checksum of the measures.
class Ours {
 public:
  explicit Ours(int threads = 1) : threads_(threads) { params_.setSegmentationHardThresh(bench::kThreshold, false); }

  // call(pels): the analysis alone; returns the number of blobs.
  double call(const kcPelBuffer<unsigned char>& pels) {
    kfBlobAnalysis(pels, params_, results_, threads_);
    return static_cast<double>(results_.connectedBlobs()->numBlobs(false));
  }

  double run(const kcPelBuffer<unsigned char>& pels) {
    kfBlobAnalysis(pels, params_, results_, threads_);
    const kcBlobSceneDescription* scene = results_.connectedBlobs();
    double sum = 0.0;
    for (long id = 1, n = scene->numBlobs(false); id <= n; ++id) {
      const kcBlob* blob = scene->getBlob(id);
      const kcVector<2> c = blob->centerOfMass();
      const kcPelRect box = blob->imageBoundingBox();
      sum += blob->area() + c.x() + c.y() + static_cast<double>(box.width() + box.ul().x());
    }
    return sum;
  }

  Findings findings() const {
    Findings f;
    const kcBlobSceneDescription* scene = results_.connectedBlobs();
    for (long id = 1, n = scene->numBlobs(false); id <= n; ++id) {
      const kcBlob* blob = scene->getBlob(id);
      if (blob->label() == 0) {
        ++f.holes;
        continue;
      }
      const kcVector<2> c = blob->centerOfMass();
      const kcPelRect box = blob->imageBoundingBox();
      f.blobs.push_back({std::lround(blob->area()), box.ul().x(), box.ul().y(), box.width(), box.height(),
                         c.x() - 0.5, c.y() - 0.5});
    }
    return f;
  }

 private:
  int threads_;
  kcBlobParams params_;
  kcBlobResults results_;
};

// (b): connected components with statistics, into output matrices reused from call to call.
class Components {
 public:
  double run(const cv::Mat& pels) {
    cv::threshold(pels, binary_, bench::kThreshold - 1, 255, cv::THRESH_BINARY);
    const int n = cv::connectedComponentsWithStats(binary_, labels_, stats_, centroids_, 8, CV_32S);
    double sum = 0.0;
    for (int i = 1; i < n; ++i) {
      sum += stats_.at<int>(i, cv::CC_STAT_AREA) + centroids_.at<double>(i, 0) + centroids_.at<double>(i, 1) +
             stats_.at<int>(i, cv::CC_STAT_WIDTH) + stats_.at<int>(i, cv::CC_STAT_LEFT);
    }
    return sum;
  }

  std::vector<Region> regions() const {
    std::vector<Region> out;
    for (int i = 1; i < stats_.rows; ++i) {
      out.push_back({stats_.at<int>(i, cv::CC_STAT_AREA), stats_.at<int>(i, cv::CC_STAT_LEFT),
                     stats_.at<int>(i, cv::CC_STAT_TOP), stats_.at<int>(i, cv::CC_STAT_WIDTH),
                     stats_.at<int>(i, cv::CC_STAT_HEIGHT), centroids_.at<double>(i, 0),
                     centroids_.at<double>(i, 1)});
    }
    return out;
  }

 private:
  cv::Mat binary_, labels_, stats_, centroids_;
};

// (c): two-level contours, with moments and bounding box of each; the binary image, contours and
// hierarchy are reused from call to call.
class Contours {
 public:
  double run(const cv::Mat& pels) {
    cv::threshold(pels, binary_, bench::kThreshold - 1, 255, cv::THRESH_BINARY);
    cv::findContours(binary_, contours_, hierarchy_, cv::RETR_CCOMP, cv::CHAIN_APPROX_SIMPLE);
    double sum = 0.0;
    for (const auto& contour : contours_) {
      const cv::Moments m = cv::moments(contour);
      const cv::Rect box = cv::boundingRect(contour);
      sum += m.m00 + m.m10 + m.m01 + box.width + box.x;
    }
    return sum;
  }

  // Outer borders and hole borders (those with a parent).
  std::pair<long, long> counts() const {
    long holes = 0;
    for (const cv::Vec4i& h : hierarchy_) holes += h[3] >= 0 ? 1 : 0;
    return {static_cast<long>(contours_.size()) - holes, holes};
  }

 private:
  cv::Mat binary_;
  std::vector<std::vector<cv::Point>> contours_;
  std::vector<cv::Vec4i> hierarchy_;
};

// blobsDiffer(): empty when our blobs match the connected components one for one (pel count,
// bounding box, centroid), else the first difference.
std::string blobsDiffer(std::vector<Region> ours, std::vector<Region> components) {
  std::ostringstream why;
  if (ours.size() != components.size()) {
    why << "blobs: ours " << ours.size() << ", components " << components.size();
    return why.str();
  }
  const auto byKey = [](const Region& a, const Region& b) { return a.key() < b.key(); };
  std::sort(ours.begin(), ours.end(), byKey);
  std::sort(components.begin(), components.end(), byKey);
  for (std::size_t i = 0; i < components.size(); ++i) {
    const Region& a = ours[i];
    const Region& b = components[i];
    if (a.key() != b.key() || std::abs(a.cx - b.cx) > 1e-6 || std::abs(a.cy - b.cy) > 1e-6) {
      why << "blob at (" << b.left << ", " << b.top << "): area " << a.area << " vs " << b.area << ", centre ("
          << a.cx << ", " << a.cy << ") vs (" << b.cx << ", " << b.cy << ")";
      return why.str();
    }
  }
  return {};
}

// countsDiffer(): empty when our blob and hole counts match the outer and hole contours.
std::string countsDiffer(const Findings& ours, long outer, long holes) {
  if (static_cast<long>(ours.blobs.size()) == outer && ours.holes == holes) return {};
  std::ostringstream why;
  why << "blobs/holes: ours " << ours.blobs.size() << "/" << ours.holes << ", contours " << outer << "/" << holes;
  return why.str();
}

// median(samples): the middle sample (the upper of the two middle ones for an even count).
double median(std::vector<double> samples) {
  std::nth_element(samples.begin(), samples.begin() + static_cast<long>(samples.size() / 2), samples.end());
  return samples[samples.size() / 2];
}

// Median wall time of one call in steady state. Two untimed calls first (an analysis into reused
// results reaches its steady memory use at the third call); then calls repeat until minTime has
// passed, at least 3 and at most 200 times, or once when a warm-up call took 10 x minTime.
struct Timing {
  double seconds;
  int runs;
};

volatile double gSink = 0.0;  // keeps every checksum alive

// prepare, when given, runs untimed before each call (and counts toward minTime).
Timing timeRuns(const std::function<double()>& run, double minTime, const std::function<void()>& prepare = {}) {
  using Clock = std::chrono::steady_clock;
  const auto seconds = [](Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); };
  const auto call = [&] {
    if (prepare) prepare();
    return run();
  };
  const Clock::time_point first = Clock::now();
  gSink = gSink + call();
  gSink = gSink + call();
  const std::size_t least = seconds(first) >= 20 * minTime ? 1 : 3;
  std::vector<double> samples;
  const Clock::time_point start = Clock::now();
  while (samples.size() < 200 && (samples.size() < least || seconds(start) < minTime)) {
    if (prepare) prepare();
    const Clock::time_point t0 = Clock::now();
    gSink = gSink + run();
    samples.push_back(seconds(t0));
  }
  return {median(samples), static_cast<int>(samples.size())};
}

// What a contour run in a child process reports back.
struct ContourReport {
  long outer = 0;
  long holes = 0;
  Timing timing{0.0, 0};
  bool finished = false;
};

// readToEnd(fd, out, limit): appends what fd delivers to out until its end; false when the end
// did not come within limit seconds or reading failed.
bool readToEnd(int fd, std::string& out, double limit) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(limit));
  char buffer[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd ready{fd, POLLIN, 0};
    if (left <= 0 || poll(&ready, 1, static_cast<int>(left)) != 1) return false;
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got == 0) return true;
    if (got < 0 && errno != EINTR) return false;
    if (got > 0) out.append(buffer, static_cast<std::size_t>(got));
  }
}

// childOutput(body, limit): runs body(fd) in a forked child, which writes its report to fd and then
// exits or replaces itself (a body that returns counts as a failure). Returns what the child wrote
// when it closed fd and exited with status 0 within limit seconds; nothing when it failed or ran
// out of time, in which case it is killed.
std::optional<std::string> childOutput(const std::function<void(int)>& body, double limit) {
  int fds[2];
  if (pipe(fds) != 0) return std::nullopt;
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    body(fds[1]);
    _exit(1);
  }
  close(fds[1]);
  std::string out;
  const bool complete = child > 0 && readToEnd(fds[0], out, limit);
  close(fds[0]);
  if (child < 0) return std::nullopt;
  if (!complete) kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  if (!complete || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return out;
}

// contoursLimited(): one checking call of (c) and then its timing, in a child process that is
// killed after limit seconds; finished is false then. Some contour hierarchies take minutes.
ContourReport contoursLimited(const cv::Mat& mat, double minTime, double limit) {
  const std::optional<std::string> out = childOutput([&](int fd) {
    Contours contours;
    contours.run(mat);
    ContourReport report;
    std::tie(report.outer, report.holes) = contours.counts();
    report.timing = timeRuns([&] { return contours.run(mat); }, minTime);
    report.finished = true;
    const ssize_t written = write(fd, &report, sizeof report);
    _exit(written == static_cast<ssize_t>(sizeof report) ? 0 : 1);
  }, limit);
  ContourReport report;
  if (out && out->size() == sizeof report) std::memcpy(&report, out->data(), sizeof report);
  return report;
}

// What a route's memory child reports, in MiB.
struct PeakMemory {
  double baseline = 0.0;  // resident set once the image is made, before the route runs
  double peak = 0.0;      // peak resident set of the process after two runs of the route
  bool finished = false;
};

// peakMemory(route, image, limit): the figures of a memory child (runPeakMemory) for the route
// ("ours", "b" or "c") on the named image of the standard set; finished is false when it failed or
// was killed after limit seconds. The forked child replaces itself with a fresh copy of this
// program: a plain fork would inherit this process's resident pages, and its peak with them.
PeakMemory peakMemory(const std::string& route, const std::string& image, double limit) {
  const std::optional<std::string> out = childOutput([&](int fd) {
    if (dup2(fd, STDOUT_FILENO) < 0) return;
    close(fd);
    execl("/proc/self/exe", "opencv_compare", "--peak-memory", route.c_str(), image.c_str(),
          static_cast<char*>(nullptr));
  }, limit);
  long baseline = 0, peak = 0;
  if (!out || std::sscanf(out->c_str(), "%ld %ld", &baseline, &peak) != 2) return {};
  return {static_cast<double>(baseline) / 1024.0, static_cast<double>(peak) / 1024.0, true};
}

// statusKiB(key): the value of the "key: N kB" line of /proc/self/status; -1 when there is none.
long statusKiB(const std::string& key) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key + ":", 0) == 0) return std::atol(line.c_str() + key.size() + 1);
  }
  return -1;
}

std::string cpuName() {
  std::ifstream in("/proc/cpuinfo");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return "unknown CPU";
}

std::string fixed(double value, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", digits, value);
  return text;
}

struct Options {
  bool check = false;
  bool peakOnly = false;
  bool threads = false;
  double minTime = 1.0;
  double limit = 120.0;
  int turns = 15;
  std::string only;
  std::string memoryRoute, memoryImage;  // --peak-memory: this process is a memory child
};

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--check") o.check = true;
    else if (arg == "--peak-only") o.peakOnly = true;
    else if (arg == "--threads") o.threads = true;
    else if (arg == "--min-time" && i + 1 < argc) o.minTime = std::atof(argv[++i]);
    else if (arg == "--only" && i + 1 < argc) o.only = argv[++i];
    else if (arg == "--limit" && i + 1 < argc) o.limit = std::atof(argv[++i]);
    else if (arg == "--turns" && i + 1 < argc) o.turns = std::max(1, std::atoi(argv[++i]));
    else if (arg == "--peak-memory" && i + 2 < argc) {
      o.memoryRoute = argv[++i];
      o.memoryImage = argv[++i];
    } else {
      std::fprintf(stderr, "usage: opencv_compare [--check | --peak-only | --threads] [--min-time SECONDS] "
                           "[--limit SECONDS] [--turns N] [--only NAME]\n");
      std::exit(2);
    }
  }
  return o;
}

cv::Mat wrap(const kcPelBuffer<unsigned char>& pels) {
  return cv::Mat(static_cast<int>(pels.height()), static_cast<int>(pels.width()), CV_8UC1, pels.pointToRow(0),
                 static_cast<std::size_t>(pels.rowStride()));
}

// checkImage(): runs every side once; empty when they agree, else the first difference.
std::string checkImage(const kcPelBuffer<unsigned char>& pels, const cv::Mat& mat, Ours& ours,
                       Components& components, Contours& contours) {
  ours.run(pels);
  components.run(mat);
  contours.run(mat);
  const Findings found = ours.findings();
  std::string why = blobsDiffer(found.blobs, components.regions());
  if (why.empty()) std::apply([&](long outer, long holes) { why = countsDiffer(found, outer, holes); }, contours.counts());
  return why;
}

int runCheck(const Options& options) {
  int checked = 0, failures = 0;
  for (const bench::ImageSpec& entry : bench::smallSet(256)) {
    if (entry.name().find(options.only) == std::string::npos) continue;
    ++checked;
    const kcPelBuffer<unsigned char> pels = bench::makeImage(entry.kind, entry.side);
    const cv::Mat mat = wrap(pels);
    Ours ours;
    Components components;
    Contours contours;
    const std::string why = checkImage(pels, mat, ours, components, contours);
    std::printf("%-14s %s\n", entry.name().c_str(), why.empty() ? "agrees" : ("DIFFERS: " + why).c_str());
    failures += why.empty() ? 0 : 1;
  }
  std::printf("%d passed, %d failed\n", checked - failures, failures);
  return failures == 0 ? 0 : 1;
}

// runPeakMemory(): the memory child. Makes the image, notes the resident set, runs the route twice
// (as the timing does before it measures), then prints "baseline peak" in KiB on stdout: VmRSS
// after making the image and VmHWM at the end. Returns 2 for an unknown route or image.
int runPeakMemory(const Options& options) {
  const std::vector<bench::ImageSpec> set = bench::standardSet();
  const auto entry = std::find_if(set.begin(), set.end(),
                                  [&](const bench::ImageSpec& e) { return e.name() == options.memoryImage; });
  const std::string& route = options.memoryRoute;
  if (entry == set.end() || (route != "ours" && route != "b" && route != "c")) return 2;
  const kcPelBuffer<unsigned char> pels = bench::makeImage(entry->kind, entry->side);
  const cv::Mat mat = wrap(pels);
  const long baseline = statusKiB("VmRSS");
  Ours ours;
  Components components;
  Contours contours;
  for (int run = 0; run < 2; ++run) {
    gSink = gSink + (route == "ours" ? ours.run(pels) : route == "b" ? components.run(mat) : contours.run(mat));
  }
  std::printf("%ld %ld\n", baseline, statusKiB("VmHWM"));
  return 0;
}

// Memory of ours, (b) and (c) on one image.
using MemoryRow = std::array<PeakMemory, 3>;

// peakMemories(image, limit): the memory of each route; only (c) has the time limit, as in the timing.
MemoryRow peakMemories(const std::string& image, double limit) {
  constexpr double kUnlimited = 1e6;  // seconds
  return {peakMemory("ours", image, kUnlimited), peakMemory("b", image, kUnlimited), peakMemory("c", image, limit)};
}

std::string mebibytes(const PeakMemory& memory) { return memory.finished ? fixed(memory.peak, 1) : "—"; }

// printRow(): measures, checks and times one image and prints its row. Returns the row's memory,
// or nothing when the results differ (a row saying so is printed then).
std::optional<MemoryRow> printRow(const bench::ImageSpec& entry, const Options& options) {
  // Before this process makes the image, so that its memory and a child's peak are not held at once.
  const MemoryRow memory = peakMemories(entry.name(), options.limit);
  const kcPelBuffer<unsigned char> pels = bench::makeImage(entry.kind, entry.side);
  const cv::Mat mat = wrap(pels);
  Ours ours;
  Components components;
  ours.run(pels);
  components.run(mat);
  const Findings found = ours.findings();
  const ContourReport c = contoursLimited(mat, options.minTime, options.limit);
  std::string why = blobsDiffer(found.blobs, components.regions());
  if (why.empty() && c.finished) why = countsDiffer(found, c.outer, c.holes);
  if (!why.empty()) {
    std::printf("| %s | results differ: %s |\n", entry.name().c_str(), why.c_str());
    return std::nullopt;
  }
  cv::Mat binary;
  const Timing a = timeRuns([&] { return ours.run(pels); }, options.minTime);
  const Timing b = timeRuns([&] { return components.run(mat); }, options.minTime);
  const Timing d = timeRuns([&] {
    cv::threshold(mat, binary, bench::kThreshold - 1, 255, cv::THRESH_BINARY);
    return static_cast<double>(binary.data[0]);
  }, options.minTime);
  const std::string cTime = c.finished ? fixed(c.timing.seconds * 1e3, 2) : "> " + fixed(options.limit * 1e3, 0);
  const std::string cRatio = c.finished ? fixed(a.seconds / c.timing.seconds, 2) : "< " + fixed(a.seconds / options.limit, 2);
  const double fastest = c.finished ? std::min(b.seconds, c.timing.seconds) : b.seconds;
  std::printf("| %s | %zu | %ld | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", entry.name().c_str(),
              found.blobs.size(), found.holes, fixed(a.seconds * 1e3, 2).c_str(), fixed(b.seconds * 1e3, 2).c_str(),
              cTime.c_str(), fixed(d.seconds * 1e3, 3).c_str(), fixed(a.seconds / b.seconds, 2).c_str(),
              cRatio.c_str(), fixed(a.seconds / fastest, 2).c_str(), fixed(a.seconds / d.seconds, 1).c_str(),
              mebibytes(memory[0]).c_str(), mebibytes(memory[1]).c_str(), mebibytes(memory[2]).c_str());
  return memory;
}

// baselineOf(): the resident set once the image is made, from the first route that finished.
std::string baselineOf(const std::string& name, const MemoryRow& memory) {
  for (const PeakMemory& route : memory) {
    if (route.finished) return name + " " + fixed(route.baseline, 1) + " MiB";
  }
  return name + " —";
}

// outlines(scene): the chain and perimeter of every region of a freshly analysed scene; a checksum.
double outlines(const kcBlobSceneDescription& scene, long& steps) {
  double sum = 0.0;
  steps = 0;
  for (long id = 1, n = scene.numBlobs(false); id <= n; ++id) {
    const kcBlob* blob = scene.getBlob(id);
    steps += blob->numSteps();
    sum += blob->perimeter();
  }
  return sum;
}

// (e): contours of every border with all their points, and the length of each; the outputs are
// reused from call to call.
double contourLengths(const cv::Mat& pels, cv::Mat& binary, std::vector<std::vector<cv::Point>>& contours,
                      std::vector<cv::Vec4i>& hierarchy) {
  cv::threshold(pels, binary, bench::kThreshold - 1, 255, cv::THRESH_BINARY);
  cv::findContours(binary, contours, hierarchy, cv::RETR_CCOMP, cv::CHAIN_APPROX_NONE);
  double sum = 0.0;
  for (const auto& contour : contours) sum += cv::arcLength(contour, true);
  return sum;
}

// runOutlines(options): the second table: tracing every outline, ours against (e).
void runOutlines(const Options& options) {
  std::printf("\n| image | regions | steps | ours trace ms | ours analysis + trace ms | (e) ms | trace/(e) "
              "| analysis + trace/(e) |\n|---|---:|---:|---:|---:|---:|---:|---:|\n");
  const std::vector<bench::ImageSpec> images = {{bench::ImageClass::eParts, 2048}, {bench::ImageClass::eParts, 4096},
                                                {bench::ImageClass::eGlyphs, 2048}, {bench::ImageClass::eNoise10, 2048}};
  for (const bench::ImageSpec& entry : images) {
    if (entry.name().find(options.only) == std::string::npos) continue;
    const kcPelBuffer<unsigned char> pels = bench::makeImage(entry.kind, entry.side);
    const cv::Mat mat = wrap(pels);
    kcBlobParams params;
    params.setSegmentationHardThresh(bench::kThreshold, false);
    kcBlobResults results;
    long steps = 0;
    const Timing trace = timeRuns([&] { return outlines(*results.connectedBlobs(), steps); }, options.minTime,
                                  [&] { kfBlobAnalysis(pels, params, results); });
    const Timing whole = timeRuns([&] {
      kfBlobAnalysis(pels, params, results);
      return outlines(*results.connectedBlobs(), steps);
    }, options.minTime);
    cv::Mat binary;
    std::vector<std::vector<cv::Point>> contours;
    std::vector<cv::Vec4i> hierarchy;
    const Timing e = timeRuns([&] { return contourLengths(mat, binary, contours, hierarchy); }, options.minTime);
    std::printf("| %s | %ld | %ld | %s | %s | %s | %s | %s |\n", entry.name().c_str(),
                results.connectedBlobs()->numBlobs(false), steps, fixed(trace.seconds * 1e3, 2).c_str(),
                fixed(whole.seconds * 1e3, 2).c_str(), fixed(e.seconds * 1e3, 2).c_str(),
                fixed(trace.seconds / e.seconds, 2).c_str(), fixed(whole.seconds / e.seconds, 2).c_str());
    std::fflush(stdout);
  }
  std::printf("\nSteps: the chain steps of our outlines (pel edges). (e): OpenCV `threshold` + `findContours` "
              "(RETR_CCOMP, CHAIN_APPROX_NONE) + `arcLength` of every contour.\n");
}

// peakInFreshProcess(): the process-peak table from a fresh copy of this program (--peak-only), so
// that its children are forked from a small process. Returns that copy's exit status; 1 when it
// could not run.
int peakInFreshProcess() {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    execl("/proc/self/exe", "opencv_compare", "--peak-only", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return 1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

// kWarmSeconds: the untimed calls before each cell of the threads table last at least this long.
constexpr double kWarmSeconds = 0.5;

// runThreads(): the threads table. Returns 1 when a side disagrees at some thread count.
int runThreads(const Options& options) {
  using Clock = std::chrono::steady_clock;
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  std::printf("Machine: %s, %u cores; OpenCV %s; build %s, %s.\n\n", cpuName().c_str(), cores, CV_VERSION,
              BENCH_BUILD_TYPE, __VERSION__);
  std::printf("| image | threads | ours ms | (b) ms | ours/(b) | ours speed-up | (b) speed-up | call ms | call speed-up |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  const std::vector<bench::ImageSpec> set = {{bench::ImageClass::eParts, 8192}, {bench::ImageClass::eNoise10, 8192},
                                             {bench::ImageClass::eNoise50, 8192}, {bench::ImageClass::eNoiseTop, 8192},
                                             {bench::ImageClass::eParts, 16384}};
  int failures = 0;
  for (const bench::ImageSpec& entry : set) {
    if (entry.name().find(options.only) == std::string::npos) continue;
    const kcPelBuffer<unsigned char> pels = bench::makeImage(entry.kind, entry.side);
    const cv::Mat mat = wrap(pels);
    std::vector<int> counts;
    for (int threads : {1, 2, 4, 8})
      if (threads == 1 || static_cast<unsigned>(threads) <= cores) counts.push_back(threads);
    // One side of ours per count, each with its results, and one (b) whose outputs every count reuses.
    std::vector<std::unique_ptr<Ours>> sides;
    for (int threads : counts) sides.push_back(std::make_unique<Ours>(threads));
    Components components;
    std::string why;
    for (std::size_t k = 0; k < counts.size() && why.empty(); ++k) {
      cv::setNumThreads(counts[k]);
      sides[k]->run(pels);
      components.run(mat);
      why = blobsDiffer(sides[k]->findings().blobs, components.regions());
      if (!why.empty()) std::printf("| %s | %d | DIFFERS: %s |\n", entry.name().c_str(), counts[k], why.c_str());
    }
    if (!why.empty()) {
      ++failures;
      continue;
    }
    // samples[k]: ours, the call alone and (b) at counts[k], one of each per timed turn: after
    // untimed calls lasting kWarmSeconds (one at least), the median of calls[k] of them, enough to
    // last 50 ms (as the last untimed turn found), at most 25. The untimed calls reach the steady
    // state: the first call of (b) at two threads on noise10 after a call of ours often takes
    // several times as long as the next, and after (b)'s two-thread call on noise10 our next two
    // calls at two threads take a tenth longer than the third and later ones (our calls at one
    // thread only the next), which charged the whole, timed first, and not the call alone. The half
    // second narrows that excess of the whole over the call and the loop but does not end it in every
    // run: the whole also pays for the worker idle through the caller's loop, which now and then
    // joins the next call's encoding ten milliseconds or more late.
    std::vector<std::array<std::vector<double>, 3>> samples(counts.size());
    std::vector<std::array<int, 3>> calls(counts.size(), {1, 1, 1});
    const auto timed = [](const std::function<double()>& run, int n) {
      const Clock::time_point warm = Clock::now();
      do gSink = gSink + run();
      while (std::chrono::duration<double>(Clock::now() - warm).count() < kWarmSeconds);
      std::vector<double> each;
      for (int i = 0; i < n; ++i) {
        const Clock::time_point t0 = Clock::now();
        gSink = gSink + run();
        each.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
      }
      return median(each);
    };
    for (int turn = -2; turn < options.turns; ++turn) {  // two untimed turns reach the steady state
      for (std::size_t j = 0; j < counts.size(); ++j) {
        const std::size_t k = turn % 2 == 0 ? j : counts.size() - 1 - j;
        cv::setNumThreads(counts[k]);
        const double times[3] = {timed([&] { return sides[k]->run(pels); }, calls[k][0]),
                                 timed([&] { return sides[k]->call(pels); }, calls[k][1]),
                                 timed([&] { return components.run(mat); }, calls[k][2])};
        // OpenCV's workers keep spinning for a while after a call, which would take cores from
        // the next call of ours: they are left to fall asleep first.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        for (std::size_t r = 0; r < 3; ++r) {
          if (turn >= 0) samples[k][r].push_back(times[r]);
          else calls[k][r] = static_cast<int>(std::clamp(std::ceil(0.05 / times[r]), 1.0, 25.0));
        }
      }
    }
    // Times are medians over the turns; every ratio is the median of the turns' own ratios, so a
    // spell of the machine that slows a whole turn leaves it alone. ratio(): its quartiles.
    const auto ratio = [&](std::size_t k, std::size_t r, std::size_t k2, std::size_t r2) {
      std::vector<double> each;
      for (std::size_t i = 0; i < samples[k][r].size(); ++i) each.push_back(samples[k][r][i] / samples[k2][r2][i]);
      std::sort(each.begin(), each.end());
      return std::array<double, 3>{each[each.size() / 4], each[each.size() / 2], each[each.size() * 3 / 4]};
    };
    for (std::size_t k = 0; k < counts.size(); ++k) {
      const std::array<double, 3> whole = ratio(0, 0, k, 0), call = ratio(0, 1, k, 1);
      std::printf("| %s | %d | %.1f | %.1f | %.2f | %.2f (%.2f–%.2f) | %.2f | %.1f | %.2f (%.2f–%.2f) |\n",
                  entry.name().c_str(), counts[k], 1e3 * median(samples[k][0]), 1e3 * median(samples[k][2]),
                  ratio(k, 0, k, 2)[1], whole[1], whole[0], whole[2], ratio(0, 2, k, 2)[1], 1e3 * median(samples[k][1]),
                  call[1], call[0], call[2]);
    }
    std::fflush(stdout);
  }
  cv::setNumThreads(1);
  std::printf("\nTimes: median of %d turns in steady state (after two untimed ones); each turn times ours, the call"
              " alone and (b) at every thread count (after untimed calls lasting %g s, the median of as many calls"
              " as last 50 ms), so that every cell's calls are seconds apart from the others'; outputs reused from"
              " call to call; ours is the analysis with area, centre of mass and"
              " bounding box of every blob and hole; (b) threshold + connectedComponentsWithStats; call: our"
              " analysis alone, into the same results. Speed-up (the side's one-thread time over its time) and"
              " ours/(b): each the median over the turns of that turn's own ratio, in brackets their quartiles.\n",
              options.turns, kWarmSeconds);
  return failures == 0 ? 0 : 1;
}

int runTable(const Options& options) {
  std::printf("Machine: %s; OpenCV %s with %d thread(s); build %s, %s.\n\n", cpuName().c_str(), CV_VERSION,
              cv::getNumThreads(), BENCH_BUILD_TYPE, __VERSION__);
  std::printf("| image | blobs | holes | ours ms | (b) ms | (c) ms | (d) ms | ours/(b) | ours/(c) | ours/fastest "
              "| ours/(d) | ours MiB | (b) MiB | (c) MiB |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  int failures = 0;
  std::string baselines;
  for (const bench::ImageSpec& entry : bench::standardSet()) {
    if (entry.name().find(options.only) == std::string::npos) continue;
    const std::optional<MemoryRow> memory = printRow(entry, options);
    if (memory) baselines += (baselines.empty() ? "" : ", ") + baselineOf(entry.name(), *memory);
    failures += memory ? 0 : 1;
    std::fflush(stdout);
  }
  std::printf("\nTimes: median of one call in steady state; both sides reuse their outputs (our results object;"
              " OpenCV's binary image, labels, stats, centroids, contours and hierarchy) from call to call."
              " ours/fastest: ours against the faster of (b) and (c), against (b) alone where (c) ran past the"
              " limit.\n");
  std::printf("\nMiB: peak resident set (VmHWM) of a fresh process that makes the image and runs the route twice;"
              " — when it failed or ran past the limit. Of that, the process holds once the image is made: %s"
              " (the pels: side x side bytes).\n", baselines.c_str());
  if (bench::kPeakImage.name().find(options.only) != std::string::npos) failures += peakInFreshProcess() == 0 ? 0 : 1;
  runOutlines(options);
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse(argc, argv);
  cv::setNumThreads(1);
  if (!options.memoryRoute.empty()) return runPeakMemory(options);
  if (options.peakOnly) return bench::runProcessPeak();
  if (options.threads) return runThreads(options);
  return options.check ? runCheck(options) : runTable(options);
}
