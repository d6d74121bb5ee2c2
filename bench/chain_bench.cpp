// Timing of the boundary measures: the outline trace and the perimeter of every blob and hole of
// 2048 x 2048 comparison images, on fresh caches each time; reports chain steps per second.
#include "bench_images.h"

#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>

#include <benchmark/benchmark.h>

namespace {

void outlines(benchmark::State& state, bench::ImageClass kind) {
  const kcPelBuffer<unsigned char> pels = bench::makeImage(kind, 2048);
  kcBlobParams params;
  params.setSegmentationHardThresh(bench::kThreshold, false);
  kcBlobResults results;
  long steps = 0;
  double sum = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    kfBlobAnalysis(pels, params, results);  // fresh caches
    state.ResumeTiming();
    const kcBlobSceneDescription& scene = *results.connectedBlobs();
    steps = 0;
    for (long id = 1, n = scene.numBlobs(false); id <= n; ++id) {
      const kcBlob* blob = scene.getBlob(id);
      steps += blob->numSteps();
      sum += blob->perimeter();
    }
  }
  benchmark::DoNotOptimize(sum);
  state.counters["regions"] = static_cast<double>(results.connectedBlobs()->numBlobs(false));
  state.counters["steps/s"] = benchmark::Counter(static_cast<double>(steps), benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK_CAPTURE(outlines, parts, bench::ImageClass::eParts)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(outlines, glyphs, bench::ImageClass::eGlyphs)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(outlines, noise10, bench::ImageClass::eNoise10)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
