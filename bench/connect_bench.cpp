// Timing of the connectivity engine alone (the scan, and the scan with the finishing pass) on fixed
// 2048 x 2048 images; reports maximal runs per second and the time per image.
#include "connect/connect_bands.h"
#include "connect/connect_engine.h"  // the engine alone, without the scene

#include <blob/blobdesc.h>

#include <foundation/pelbuffer.h>
#include <foundation/rlebuffer.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <string>

namespace {

constexpr long kSide = 2048;

using Painter = std::function<std::uint8_t(long x, long y)>;

kcRLEBuffer paint(const Painter& pel) {
  kcPelBuffer<unsigned char> pels(kSide, kSide);
  for (long y = 0; y < kSide; ++y)
    for (long x = 0; x < kSide; ++x) pels.pointToRow(y)[x] = pel(x, y);
  kcRLEBuffer rle;
  rle.encode(pels);
  return rle;
}

// A few hundred square rings (each with a hole holding a dot) on a grid.
std::uint8_t objects(long x, long y) {
  const long cx = x % 100, cy = y % 100;
  const bool ring = cx >= 20 && cx < 80 && cy >= 20 && cy < 80 && !(cx >= 30 && cx < 70 && cy >= 30 && cy < 70);
  const bool dot = cx >= 45 && cx < 55 && cy >= 45 && cy < 55;
  return ring || dot ? 1 : 0;
}

// A square spiral of one-pel lines one pel apart: concentric rings, each cut once on its left
// edge, with a bridge through the gap beside each cut to the next ring inwards.
std::uint8_t spiral(long x, long y) {
  const long d = std::min(std::min(x, y), std::min(kSide - 1 - x, kSide - 1 - y));
  const bool cutOrBridge = x == d && y == d + 2;
  return (d % 2 == 0) != cutOrBridge ? 1 : 0;
}

const kcRLEBuffer& image(const std::string& name) {
  static std::map<std::string, kcRLEBuffer> cache;
  auto it = cache.find(name);
  if (it != cache.end()) return it->second;
  std::mt19937 rng(12345);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Painter p;
  if (name == "objects") p = objects;
  else if (name == "noise10") p = [&](long, long) { return u(rng) < 0.10 ? std::uint8_t{1} : std::uint8_t{0}; };
  else if (name == "noise50") p = [&](long, long) { return u(rng) < 0.50 ? std::uint8_t{1} : std::uint8_t{0}; };
  else if (name == "checker") p = [](long x, long y) { return static_cast<std::uint8_t>((x + y) % 2); };
  else if (name == "spiral") p = spiral;
  else if (name == "empty") p = [](long, long) { return std::uint8_t{0}; };
  else if (name == "full") p = [](long, long) { return std::uint8_t{1}; };
  else p = [](long x, long y) { return static_cast<std::uint8_t>(x % 2 == 1 && y % 2 == 1); };  // specks
  return cache.emplace(name, paint(p)).first->second;
}

// joinedRuns(rle): the maximal runs of the image, which the engine's rates count.
std::uint64_t joinedRuns(const kcRLEBuffer& rle) {
  std::vector<kc_ScanRun> row;
  std::uint64_t runs = 0;
  for (long y = 0; y < rle.height(); ++y) runs += kf_ReadAugmentedRow(rle.pointToRow(y), row);
  return runs;
}

// connect(state, name, labelled, cleanup, finish): one engine run per iteration on a reused
// workspace and store, the scan alone or with the finishing pass.
void connect(benchmark::State& state, const std::string& name, bool labelled, kc_CleanupKind cleanup,
             bool finish) {
  const kcRLEBuffer& rle = image(name);
  const std::uint64_t runs = joinedRuns(rle);
  kc_ConnectWorkspace workspace;
  kc_BlobStore store;
  std::vector<BlobId> topIds;
  for (auto _ : state) {
    kc_ConnectEngine engine(rle, workspace, store, labelled, cleanup, 2);
    engine.scan();
    if (finish) engine.finish(topIds);
    benchmark::DoNotOptimize(store.entries.size());
  }
  state.counters["runs/s"] = benchmark::Counter(static_cast<double>(runs), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["runs"] = static_cast<double>(runs);
  if (finish) state.counters["blobs"] = static_cast<double>(store.size());
}

// bands(state, name, cleanup, threads): grey-scale connectivity in bands on that many threads (one:
// the engine alone), scan and finish, with the cleanup at a minimum of 5 pels.
void bands(benchmark::State& state, const std::string& name, kc_CleanupKind cleanup, unsigned threads) {
  const kcRLEBuffer& rle = image(name);
  kc_ConnectWorkspace workspace;
  kc_BlobStore store;
  std::vector<BlobId> topIds;
  for (auto _ : state) {
    kf_ConnectInBands(rle, workspace, store, topIds, threads, cleanup, 5);
    benchmark::DoNotOptimize(store.entries.size());
  }
  state.counters["blobs"] = static_cast<double>(store.size());
}

// The whole analysis through the scene, blobs and their regions included, for comparison.
void scene(benchmark::State& state, const std::string& name, bool labelled) {
  const kcRLEBuffer& rle = image(name);
  kcBlobSceneDescription scene;
  for (auto _ : state) {
    if (labelled) scene.connectComponentsLabelled(rle, kcBlobSceneDescription::eNone, 0);
    else scene.connectComponentsGreyScale(rle, 1, false, kcBlobSceneDescription::eNone, 0);
  }
  state.counters["blobs"] = static_cast<double>(scene.numBlobs(false));
}

void registerAll() {
  const char* names[] = {"objects", "noise10", "noise50", "checker", "spiral", "empty", "full", "specks"};
  for (const char* n : names) {
    benchmark::RegisterBenchmark((std::string("scan-grey/") + n).c_str(), connect, n, false, kc_CleanupKind::eNone,
                                 false)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("grey/") + n).c_str(), connect, n, false, kc_CleanupKind::eNone, true)
        ->Unit(benchmark::kMillisecond);
  }
  for (const char* n : {"objects", "noise10", "noise50", "specks"}) {
    benchmark::RegisterBenchmark((std::string("labelled/") + n).c_str(), connect, n, true, kc_CleanupKind::eNone, true)
        ->Unit(benchmark::kMillisecond);
  }
  const std::pair<const char*, kc_CleanupKind> cleanups[] = {{"prune", kc_CleanupKind::ePrune},
                                                             {"fill", kc_CleanupKind::eFill}};
  for (const auto& [c, kind] : cleanups) {
    benchmark::RegisterBenchmark((std::string("grey-") + c + "/specks").c_str(), connect, "specks", false, kind, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("labelled-") + c + "/specks").c_str(), connect, "specks", true, kind,
                                 true)
        ->Unit(benchmark::kMillisecond);
  }
  for (const char* n : {"noise10", "noise50"})
    for (const auto& [c, kind] : cleanups)
      for (unsigned threads : {1u, 2u})
        benchmark::RegisterBenchmark((std::string("bands-") + c + "/" + n + "/threads:" + std::to_string(threads)).c_str(),
                                     bands, n, kind, threads)
            ->Unit(benchmark::kMillisecond);
  for (const char* n : {"objects", "noise50", "specks"}) {
    benchmark::RegisterBenchmark((std::string("scene-grey/") + n).c_str(), scene, n, false)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("scene-labelled/specks", scene, "specks", true)->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  registerAll();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
