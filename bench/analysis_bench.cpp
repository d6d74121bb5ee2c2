// Timing of the everyday call (threshold, connectivity) on fixed 2048 x 2048 images, and of the
// moment measures of every blob of the result; reports pels per second and blobs per second.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>

#include <foundation/pelbuffer.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace {

constexpr long kSide = 2048;

// parts(): a few hundred bright discs and squares of varying grey on a dark background.
const kcPelBuffer<unsigned char>& parts() {
  static const kcPelBuffer<unsigned char> image = [] {
    kcPelBuffer<unsigned char> pels(kSide, kSide);
    std::mt19937 rng(2048);
    for (long y = 0; y < kSide; ++y) std::memset(pels.pointToRow(y), 20, kSide);
    for (int i = 0; i < 300; ++i) {
      const long cx = static_cast<long>(rng() % kSide), cy = static_cast<long>(rng() % kSide);
      const long r = 4 + static_cast<long>(rng() % 30);
      const auto value = static_cast<unsigned char>(150 + rng() % 100);
      const bool disc = rng() % 2;
      for (long y = std::max(0L, cy - r); y < std::min(kSide, cy + r); ++y)
        for (long x = std::max(0L, cx - r); x < std::min(kSide, cx + r); ++x)
          if (!disc || (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r)
            pels.pointToRow(y)[x] = value;
    }
    return pels;
  }();
  return image;
}

kcBlobParams params(bool soft) {
  kcBlobParams p;
  if (soft)
    p.setSegmentationSoftThresh(100, 160, 7, false);
  else
    p.setSegmentationHardThresh(128, false);
  return p;
}

void analysis(benchmark::State& state, bool soft) {
  const kcBlobParams p = params(soft);
  kcBlobResults results;
  for (auto _ : state) kfBlobAnalysis(parts(), p, results);
  state.counters["pels/s"] = benchmark::Counter(double(kSide) * kSide,
                                                benchmark::Counter::kIsIterationInvariantRate);
  state.counters["blobs"] = double(results.connectedBlobs()->numBlobs(false));
}

// Every moment measure of every blob, from fresh caches each time (a new analysis).
void moments(benchmark::State& state) {
  const kcBlobParams p = params(true);
  kcBlobResults results;
  double sum = 0;
  long blobs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    kfBlobAnalysis(parts(), p, results);
    state.ResumeTiming();
    for (const kcBlob* b : results.connectedBlobs()->allBlobs(false)) {
      sum += b->area() + b->centerOfMass().x() + b->inertia().first + b->elongation() +
             b->angle().toDouble();
    }
    blobs = results.connectedBlobs()->numBlobs(false);
  }
  benchmark::DoNotOptimize(sum);
  state.counters["blobs/s"] =
      benchmark::Counter(double(blobs), benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK_CAPTURE(analysis, hardThreshold, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(analysis, softThreshold, true)->Unit(benchmark::kMillisecond);
BENCHMARK(moments)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
