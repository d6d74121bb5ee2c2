// Cost of the filtered and sorted view, per blob, on the 2048 x 2048 glyphs image (every blob and
// hole): filtered and sorted by area, or by the width of the box oriented at 0.3 rad.
//   first:   the first view after an analysis (the measures are computed as the view needs them);
//   rebuild: the view after a filter change, the measures cached;
// each for the list of all shown blobs (allBlobs(true)) and for the whole shown tree (the top level
// and the children of every blob).
#include "bench_images.h"

#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>

#include <benchmark/benchmark.h>

#include <string>

namespace {

struct Analysed {
  kcPelBuffer<unsigned char> pels = bench::makeImage(bench::ImageClass::eGlyphs, 2048);
  kcBlobParams params;
  kcBlobResults results;

  Analysed() { params.setSegmentationHardThresh(bench::kThreshold, false); }
  kcBlobSceneDescription& analyse(kcBlob::Measure m) {
    kfBlobAnalysis(pels, params, results);
    kcBlobSceneDescription& scene = *results.connectedBlobs();
    scene.extremaAngle(kcRadian(0.3));
    scene.clearFilters();
    scene.setFilter(m, 2, 1e9, false);
    scene.setSort(m, kcBlobSceneDescription::eDescending);
    return scene;
  }
};

// view(scene, tree): reads the view: every shown blob, or the whole shown tree.
long view(const kcBlobSceneDescription& scene, bool tree) {
  if (!tree) return static_cast<long>(scene.allBlobs(true).size());
  long reached = 0;
  for (const kcBlob* b = scene.firstTop(true); b != nullptr; b = b->nextSibling(true)) ++reached;
  for (const kcBlob* parent : scene.allBlobs(false))
    for (const kcBlob* b = parent->firstChild(true); b != nullptr; b = b->nextSibling(true)) ++reached;
  return reached;
}

void perBlob(benchmark::State& state, const kcBlobSceneDescription& scene) {
  state.counters["blobs"] = static_cast<double>(scene.numBlobs(false));
  state.counters["shown"] = static_cast<double>(scene.numBlobs(true));
  state.counters["s/blob"] =
      benchmark::Counter(static_cast<double>(scene.numBlobs(false)),
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void first(benchmark::State& state, Analysed* a, kcBlob::Measure m, bool tree) {
  for (auto _ : state) {
    state.PauseTiming();
    const kcBlobSceneDescription& scene = a->analyse(m);
    state.ResumeTiming();
    benchmark::DoNotOptimize(view(scene, tree));
  }
  perBlob(state, *a->results.connectedBlobs());
}

void rebuild(benchmark::State& state, Analysed* a, kcBlob::Measure m, bool tree) {
  kcBlobSceneDescription& scene = a->analyse(m);
  view(scene, tree);
  double low = 2;
  for (auto _ : state) {
    low = low == 2 ? 3 : 2;  // every pass sees a changed filter
    scene.unSetFilter(m);
    scene.setFilter(m, low, 1e9, false);
    benchmark::DoNotOptimize(view(scene, tree));
  }
  perBlob(state, scene);
}

}  // namespace

int main(int argc, char** argv) {
  static Analysed glyphs;
  for (kcBlob::Measure m : {kcBlob::eArea, kcBlob::eBoundingBoxWidth}) {
    for (bool tree : {false, true}) {
      const std::string label = std::string(kfBlobMeasureName(m)) + (tree ? "/tree" : "/all");
      // A fixed number of passes: each first pass waits for an untimed analysis.
      benchmark::RegisterBenchmark(("first/" + label).c_str(), first, &glyphs, m, tree)->Iterations(10);
      benchmark::RegisterBenchmark(("rebuild/" + label).c_str(), rebuild, &glyphs, m, tree);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
