// Cost of each blob measure through measure(m), per blob, over every blob and hole of the 2048 x
// 2048 parts and glyphs images: first on fresh caches (the scene is analysed again, untimed, before
// each pass), then once cached. The oriented extents are asked at an extrema angle of 0.3 with 5 %
// excluded, so they project along a slanted axis.
#include "bench_images.h"

#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>

#include <benchmark/benchmark.h>

#include <string>

namespace {

struct Analysed {
  kcPelBuffer<unsigned char> pels;
  kcBlobParams params;
  kcBlobResults results;

  explicit Analysed(bench::ImageClass kind) : pels(bench::makeImage(kind, 2048)) {
    params.setSegmentationHardThresh(bench::kThreshold, false);
    analyse();
  }
  const kcBlobSceneDescription& analyse() {
    kfBlobAnalysis(pels, params, results);
    kcBlobSceneDescription& scene = *results.connectedBlobs();
    scene.extremaAngle(kcRadian(0.3));
    scene.extremaExcludeAreaPercent(5);
    return scene;
  }
};

double everyBlob(const kcBlobSceneDescription& scene, kcBlob::Measure m) {
  double sum = 0.0;
  for (long id = 1, n = scene.numBlobs(false); id <= n; ++id) sum += scene.getBlob(id)->measure(m);
  return sum;
}

void perBlob(benchmark::State& state, const kcBlobSceneDescription& scene) {
  state.counters["blobs"] = static_cast<double>(scene.numBlobs(false));
  state.counters["s/blob"] =
      benchmark::Counter(static_cast<double>(scene.numBlobs(false)),
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void first(benchmark::State& state, Analysed* a, kcBlob::Measure m) {
  for (auto _ : state) {
    state.PauseTiming();
    const kcBlobSceneDescription& scene = a->analyse();
    state.ResumeTiming();
    benchmark::DoNotOptimize(everyBlob(scene, m));
  }
  perBlob(state, *a->results.connectedBlobs());
}

void cached(benchmark::State& state, Analysed* a, kcBlob::Measure m) {
  const kcBlobSceneDescription& scene = a->analyse();
  everyBlob(scene, m);
  for (auto _ : state) benchmark::DoNotOptimize(everyBlob(scene, m));
  perBlob(state, scene);
}

}  // namespace

int main(int argc, char** argv) {
  static Analysed parts(bench::ImageClass::eParts), glyphs(bench::ImageClass::eGlyphs);
  for (auto [image, name] : {std::pair{&parts, "parts"}, std::pair{&glyphs, "glyphs"}}) {
    for (int i = 0; i <= kcBlob::eAspectPrincipal; ++i) {
      const auto m = static_cast<kcBlob::Measure>(i);
      const std::string label = std::string(name) + "/" + kfBlobMeasureName(m);
      // A fixed number of passes: each first pass waits for an untimed analysis.
      benchmark::RegisterBenchmark(("first/" + label).c_str(), first, image, m)->Iterations(10);
      benchmark::RegisterBenchmark(("cached/" + label).c_str(), cached, image, m);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
