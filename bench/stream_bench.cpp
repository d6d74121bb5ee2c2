// The streaming analysis against the whole-image analysis on a tall image of parts: time, the peak
// resident set of a fresh process for each, and how many rows after its last row each tree came
// out; in the library and through blob-analyze, the stream read from a pipe. Prints a Markdown table.
// Usage: stream_bench [--stream-only] [--rounds N] [ROWS [WIDTH]]  (default 65536 x 4096: 256 MiB of
// pels; 5 rounds, each run the fastest of its rounds, the library's runs alternating);
// --stream-only runs the library's stream alone, in this process (for a profiler), and prints its time.
#include "bench_images.h"

#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobstream.h>
#include <blob/blobtool.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long gRows = 65536;
long gWidth = 4096;
const kcPelBuffer<unsigned char>* gTile = nullptr;  // the rows repeat this image of parts

const unsigned char* rowOf(long y) { return gTile->pointToRow(y % gTile->height()); }

kcBlobParams params() {
  kcBlobParams p;
  p.setSegmentationHardThresh(bench::kThreshold, false);
  return p;
}

// What a child reports: seconds, trees, the largest and the total latency in rows.
struct Outcome {
  double seconds = 0;
  long trees = 0;
  long maxLatency = 0;
  double meanLatency = 0;
};

Outcome wholeInLibrary() {
  kcPelBuffer<unsigned char> image(gWidth, gRows);
  for (long y = 0; y < gRows; ++y) std::memcpy(image.pointToRow(y), rowOf(y), static_cast<std::size_t>(gWidth));
  kcBlobResults results;
  const auto start = Clock::now();
  kfBlobAnalysis(image, params(), results);
  Outcome o;
  o.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (const kcBlob* b = results.connectedBlobs()->firstTop(false); b != nullptr; b = b->nextSibling(false)) ++o.trees;
  return o;
}

// streamInLibrary(latency): the stream in bands of 16 rows, each tree taken as it comes; with
// latency, the rows come one at a time and each tree's last row is asked to count how late it came
// (the timed run asks nothing, as the whole-image call measures nothing).
Outcome streamInLibrary(bool latency) {
  const long kBand = latency ? 1 : 16;
  kcBlobStream stream(params(), gWidth);
  kcPelBuffer<unsigned char> band(gWidth, kBand);
  Outcome o;
  long latencies = 0;
  const auto start = Clock::now();
  const auto takeAll = [&] {
    while (auto tree = stream.take()) {
      ++o.trees;
      if (!latency) continue;
      const kcBlob& top = *tree->firstTop(false);
      const long lastRow = static_cast<long>(top.measure(kcBlob::eImageBoundingBoxMaxY)) - 1;  // its lower edge
      const long late = stream.rowsFed() - lastRow - 1;
      o.maxLatency = std::max(o.maxLatency, late);
      latencies += late;
    }
  };
  const long tileRows = gTile->height();
  for (long y = 0; y < gRows; y += kBand) {
    if (y % tileRows + kBand <= tileRows) {  // the band is rows of the tile, as a camera's buffer
      stream.feed(gTile->subWindow(kcPelRect(kcPair<long>(0, y % tileRows), gWidth, kBand)));
    } else {
      for (long r = 0; r < kBand; ++r) std::memcpy(band.pointToRow(r), rowOf(y + r), static_cast<std::size_t>(gWidth));
      stream.feed(band);
    }
    takeAll();
  }
  stream.finish();
  takeAll();
  o.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  o.meanLatency = o.trees ? static_cast<double>(latencies) / static_cast<double>(o.trees) : 0;
  return o;
}

// inChild(work, peakMiB): work() in a fresh process; its outcome and peak resident set.
template <class Work>
Outcome inChild(Work work, double& peakMiB) {
  int fds[2];
  if (pipe(fds) != 0) std::exit(2);
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const Outcome o = work();
    if (write(fds[1], &o, sizeof o) != static_cast<ssize_t>(sizeof o)) _exit(3);
    _exit(0);
  }
  close(fds[1]);
  Outcome o;
  const bool got = read(fds[0], &o, sizeof o) == static_cast<ssize_t>(sizeof o);
  close(fds[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "stream_bench: a child failed\n");
    std::exit(1);
  }
  peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  return o;
}

// runTool(args, feedPipe, peakMiB, lines, maxLatency): blob-analyze with args, its output lines
// counted and dropped; with feedPipe the image is written to its standard input as a PGM, row by
// row, and maxLatency is the most of "rows" less the last column (imageBoundingBoxMaxY: the row
// after the blob's last) over the CSV rows of top-level blobs. Returns seconds.
double runTool(const std::vector<std::string>& args, bool feedPipe, double& peakMiB, long& lines, long& maxLatency) {
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) std::exit(2);
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[1]);
    close(out[0]);
    std::vector<char*> argv{const_cast<char*>(BENCH_BLOB_ANALYZE)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(BENCH_BLOB_ANALYZE, argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  if (feedPipe && fork() == 0) {  // the writer, so that reading the output cannot block it
    close(out[0]);
    const std::string header = "P5\n" + std::to_string(gWidth) + " " + std::to_string(gRows) + "\n255\n";
    bool ok = write(in[1], header.data(), header.size()) == static_cast<ssize_t>(header.size());
    for (long y = 0; ok && y < gRows; ++y) ok = write(in[1], rowOf(y), static_cast<std::size_t>(gWidth)) == gWidth;
    _exit(ok ? 0 : 1);
  }
  close(in[1]);
  lines = 0;
  maxLatency = 0;
  char buffer[1 << 16];
  std::string line;
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) {
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] != '\n') {
        line += buffer[i];
        continue;
      }
      if (feedPipe && lines > 0) {  // tree,rows,id,parent,...,imageBoundingBoxMaxY; a tree's top blob
        std::size_t at[3] = {line.find(',')};
        at[1] = line.find(',', at[0] + 1);
        at[2] = line.find(',', at[1] + 1);
        if (std::atol(line.c_str() + at[2] + 1) == 0) {
          const long rows = std::atol(line.c_str() + at[0] + 1);
          maxLatency = std::max(maxLatency, rows - std::atol(line.c_str() + line.rfind(',') + 1));
        }
      }
      ++lines;
      line.clear();
    }
  }
  close(out[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (feedPipe) wait(nullptr);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "stream_bench: blob-analyze failed\n");
    std::exit(1);
  }
  peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const bool streamOnly = argc > 1 && std::strcmp(argv[1], "--stream-only") == 0;
  if (streamOnly) --argc, ++argv;
  long rounds = 5;
  if (argc > 2 && std::strcmp(argv[1], "--rounds") == 0) {
    rounds = std::atol(argv[2]);
    argc -= 2, argv += 2;
  }
  if (argc > 1) gRows = std::atol(argv[1]);
  if (argc > 2) gWidth = std::atol(argv[2]);
  if (gRows < 16 || gWidth < 16 || rounds < 1) {
    std::fprintf(stderr, "usage: stream_bench [--stream-only] [--rounds N] [ROWS [WIDTH]]  (at least 16 each)\n");
    return 2;
  }
  const kcPelBuffer<unsigned char> tile = bench::makeImage(bench::ImageClass::eParts, gWidth);
  gTile = &tile;
  if (streamOnly) {
    const Outcome o = streamInLibrary(false);
    std::printf("stream: %.3f s, %ld trees\n", o.seconds, o.trees);
    return 0;
  }
  // Each run the fastest of its rounds and the largest peak; the library's runs alternate, so that
  // a busy moment of the machine does not fall on one side only.
  double wholePeak = 0, streamPeak = 0, latencyPeak = 0;
  const auto fastest = [](const Outcome& a, const Outcome& b) { return a.seconds <= b.seconds ? a : b; };
  Outcome whole, stream;
  for (long r = 0; r < rounds; ++r) {
    double peak = 0;
    const Outcome w = inChild(wholeInLibrary, peak);
    whole = r == 0 ? w : fastest(whole, w);
    wholePeak = std::max(wholePeak, peak);
    const Outcome s = inChild([] { return streamInLibrary(false); }, peak);
    stream = r == 0 ? s : fastest(stream, s);
    streamPeak = std::max(streamPeak, peak);
  }
  const Outcome late = inChild([] { return streamInLibrary(true); }, latencyPeak);

  // The program: the whole image from a PGM file, the stream from a pipe.
  const std::string file = (std::filesystem::temp_directory_path() / ("stream_bench_" + std::to_string(getpid()) + ".pgm")).string();
  {
    std::FILE* f = std::fopen(file.c_str(), "wb");
    if (f == nullptr) return 1;
    std::fprintf(f, "P5\n%ld %ld\n255\n", gWidth, gRows);
    for (long y = 0; y < gRows; ++y) std::fwrite(rowOf(y), 1, static_cast<std::size_t>(gWidth), f);
    std::fclose(f);
  }
  double toolWholePeak = 0, toolStreamPeak = 0, toolWhole = 0, toolStream = 0;
  long wholeLines = 0, streamLines = 0, toolLatency = 0, unused = 0;
  for (long r = 0; r < rounds; ++r) {
    double peak = 0;
    const double w = runTool({"--format", "csv", "--measures", "area,imageBoundingBoxMaxY", "--threads", "1", file},
                             false, peak, wholeLines, unused);
    toolWhole = r == 0 ? w : std::min(toolWhole, w);
    toolWholePeak = std::max(toolWholePeak, peak);
    long latency = 0;
    const double s = runTool({"--stream", "--format", "csv", "--measures", "area,imageBoundingBoxMaxY", "/dev/stdin"},
                             true, peak, streamLines, latency);
    toolStream = r == 0 ? s : std::min(toolStream, s);
    toolLatency = std::max(toolLatency, latency);
    toolStreamPeak = std::max(toolStreamPeak, peak);
  }
  std::filesystem::remove(file);

  std::printf("%ld x %ld parts (%.0f MiB of pels), one thread, the fastest of %ld rounds\n\n", gRows, gWidth,
              static_cast<double>(gRows) * static_cast<double>(gWidth) / 1048576.0, rounds);
  std::printf("| run | seconds | peak MiB | trees or lines | stream throughput / whole |\n|---|---:|---:|---:|---:|\n");
  std::printf("| library, whole image | %.3f | %.0f | %ld | |\n", whole.seconds, wholePeak, whole.trees);
  std::printf("| library, stream (bands of 16 rows) | %.3f | %.0f | %ld | %.2f |\n", stream.seconds, streamPeak,
              stream.trees, whole.seconds / stream.seconds);
  std::printf("| blob-analyze, PGM file | %.3f | %.0f | %ld | |\n", toolWhole, toolWholePeak, wholeLines);
  std::printf("| blob-analyze --stream, pipe | %.3f | %.0f | %ld | %.2f |\n", toolStream, toolStreamPeak, streamLines,
              toolWhole / toolStream);
  std::printf("\nLatency, in rows after a tree's last row (1: the row after it), the rows fed one at a time: the"
              " library %.2f on average, %ld at most (asking each tree's last row, that run took %.3f s);"
              " blob-analyze --stream %ld at most.\n",
              late.meanLatency, late.maxLatency, late.seconds, toolLatency);
  return whole.trees == stream.trees && late.trees == stream.trees ? 0 : 1;
}
