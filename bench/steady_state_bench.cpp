// Heap use and time of the everyday call in steady state, through a counting operator new/delete.
//
// The call: hard threshold 128, kfBlobAnalysis into a reused kcBlobResults, then area, centre of
// mass and image bounding box of every region (blobs and holes) through getBlob, on 2048 x 2048
// images of several classes (bench_images) and the checkerboard at 1024 x 1024 too; the runs_
// variants analyse the run-length image instead (encoded once), so that their counts are the
// connectivity's and the scene's alone. Two untimed calls come first. Counters:
//   allocs/iter          calls of operator new (any form, library included) per timed call
//   bytes/iter           bytes those calls asked for, per timed call
//   analysisAllocs/iter  the calls made inside kfBlobAnalysis alone, per timed call
//   regions              regions of the scene; regions/s: those per second of the whole call
//   liveB/region         heap held right after an analysis, before any measure, above what was held
//                        before the results object existed, divided by the regions
//   measuredB/region     the same once area, centre of mass and image bounding box were asked of
//                        every region: what a user of the everyday call pays
//   peakB/region         the most heap held at any moment of one analysis (the results holding the
//                        previous scene when it starts), above the same base, divided by the regions
// Held heap counts the usable size of each block (malloc_usable_size), so it includes the
// allocator's rounding but not its headers or free lists; the last three are taken from one more
// untimed call after the timed ones.
#include "bench_images.h"

#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <new>
#include <utility>

#include <malloc.h>

namespace {

// What the replaced operators have done since the program started.
struct HeapCounters {
  std::atomic<long> calls{0};  // successful allocations
  std::atomic<long> bytes{0};  // bytes asked for by those
  std::atomic<long> held{0};   // usable bytes allocated minus usable bytes freed
  std::atomic<long> peak{0};   // the highest held value since the last resetPeak()
};

HeapCounters gHeap;

constexpr auto kRelaxed = std::memory_order_relaxed;

void notePeak(long held) {
  long seen = gHeap.peak.load(kRelaxed);
  while (held > seen && !gHeap.peak.compare_exchange_weak(seen, held, kRelaxed)) {
  }
}

void resetPeak() { gHeap.peak.store(gHeap.held.load(kRelaxed), kRelaxed); }

// countedAlloc(size, align): a counted block of size bytes (at least 1) aligned to align (0 for
// the default); null when the system has no memory.
void* countedAlloc(std::size_t size, std::size_t align) noexcept {
  void* block = nullptr;
  if (align <= __STDCPP_DEFAULT_NEW_ALIGNMENT__) block = std::malloc(size == 0 ? 1 : size);
  else if (posix_memalign(&block, align, size == 0 ? 1 : size) != 0) block = nullptr;
  if (block == nullptr) return nullptr;
  gHeap.calls.fetch_add(1, kRelaxed);
  gHeap.bytes.fetch_add(static_cast<long>(size), kRelaxed);
  const auto usable = static_cast<long>(malloc_usable_size(block));
  notePeak(gHeap.held.fetch_add(usable, kRelaxed) + usable);
  return block;
}

// allocOrThrow(size, align): countedAlloc that calls the new-handler until it succeeds and throws
// std::bad_alloc when there is no handler, as the standard operator new does.
void* allocOrThrow(std::size_t size, std::size_t align) {
  for (;;) {
    if (void* block = countedAlloc(size, align)) return block;
    const std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    handler();
  }
}

void* allocOrNull(std::size_t size, std::size_t align) noexcept {
  try {
    return allocOrThrow(size, align);
  } catch (...) {
    return nullptr;
  }
}

void countedFree(void* block) noexcept {
  if (block == nullptr) return;
  gHeap.held.fetch_sub(static_cast<long>(malloc_usable_size(block)), kRelaxed);
  std::free(block);
}

}  // namespace

// The replaceable allocation functions, every form, all counted.
void* operator new(std::size_t n) { return allocOrThrow(n, 0); }
void* operator new[](std::size_t n) { return allocOrThrow(n, 0); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocOrNull(n, 0); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocOrNull(n, 0); }
void* operator new(std::size_t n, std::align_val_t a) { return allocOrThrow(n, static_cast<std::size_t>(a)); }
void* operator new[](std::size_t n, std::align_val_t a) { return allocOrThrow(n, static_cast<std::size_t>(a)); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocOrNull(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocOrNull(n, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept { countedFree(p); }
void operator delete[](void* p) noexcept { countedFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { countedFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { countedFree(p); }
void operator delete(void* p, std::size_t) noexcept { countedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { countedFree(p); }
void operator delete(void* p, std::align_val_t) noexcept { countedFree(p); }
void operator delete[](void* p, std::align_val_t) noexcept { countedFree(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { countedFree(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { countedFree(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { countedFree(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { countedFree(p); }

namespace {

constexpr long kSide = 2048;

// image(kind, side): the class's side x side image, made on first use and kept for the program's life.
const kcPelBuffer<unsigned char>& image(bench::ImageClass kind, long side) {
  static std::map<std::pair<bench::ImageClass, long>, kcPelBuffer<unsigned char>> made;
  const auto key = std::make_pair(kind, side);
  const auto found = made.find(key);
  return found != made.end() ? found->second : made.emplace(key, bench::makeImage(kind, side)).first->second;
}

// measureAll(scene): area, centre of mass and image bounding box of every region; a checksum.
double measureAll(const kcBlobSceneDescription& scene) {
  double sum = 0.0;
  for (long id = 1, n = scene.numBlobs(false); id <= n; ++id) {
    const kcBlob* blob = scene.getBlob(id);
    const kcVector<2> c = blob->centerOfMass();
    const kcPelRect box = blob->imageBoundingBox();
    sum += blob->area() + c.x() + c.y() + static_cast<double>(box.width() + box.ul().x());
  }
  return sum;
}

double perRegion(long bytes, long regions) {
  return regions > 0 ? static_cast<double>(bytes) / static_cast<double>(regions) : 0.0;
}

// steadyState(state, kind, fromRuns, side): the everyday call on the class's image, or (fromRuns)
// the same analysis of its run-length image, encoded once beforehand: connectivity and scene alone.
void steadyState(benchmark::State& state, bench::ImageClass kind, bool fromRuns, long side = kSide) {
  const kcPelBuffer<unsigned char>& pels = image(kind, side);
  kcRLEBuffer runs;
  runs.encode(pels, bench::kThreshold, false);
  const auto analyse = [&](kcBlobParams& p, kcBlobResults& r) {
    if (fromRuns) kfBlobAnalysis(runs, p, r);
    else kfBlobAnalysis(pels, p, r);
  };
  kcBlobParams params;
  params.setSegmentationHardThresh(bench::kThreshold, false);
  const long base = gHeap.held.load(kRelaxed);
  kcBlobResults results;
  double sum = 0.0;
  for (int warmUp = 0; warmUp < 2; ++warmUp) {
    analyse(params, results);
    sum += measureAll(*results.connectedBlobs());
  }
  long analysisCalls = 0;
  const long calls = gHeap.calls.load(kRelaxed), bytes = gHeap.bytes.load(kRelaxed);
  for (auto _ : state) {
    const long before = gHeap.calls.load(kRelaxed);
    analyse(params, results);
    analysisCalls += gHeap.calls.load(kRelaxed) - before;
    sum += measureAll(*results.connectedBlobs());
  }
  const long allCalls = gHeap.calls.load(kRelaxed) - calls, allBytes = gHeap.bytes.load(kRelaxed) - bytes;
  resetPeak();
  analyse(params, results);
  const long live = gHeap.held.load(kRelaxed) - base, peak = gHeap.peak.load(kRelaxed) - base;
  sum += measureAll(*results.connectedBlobs());
  const long measured = gHeap.held.load(kRelaxed) - base;
  const long regions = results.connectedBlobs()->numBlobs(false);
  benchmark::DoNotOptimize(sum);
  using Counter = benchmark::Counter;
  state.counters["allocs/iter"] = Counter(static_cast<double>(allCalls), Counter::kAvgIterations);
  state.counters["bytes/iter"] = Counter(static_cast<double>(allBytes), Counter::kAvgIterations, Counter::kIs1024);
  state.counters["analysisAllocs/iter"] = Counter(static_cast<double>(analysisCalls), Counter::kAvgIterations);
  state.counters["regions"] = static_cast<double>(regions);
  state.counters["regions/s"] = Counter(static_cast<double>(regions), Counter::kIsIterationInvariantRate);
  state.counters["liveB/region"] = perRegion(live, regions);
  state.counters["measuredB/region"] = perRegion(measured, regions);
  state.counters["peakB/region"] = perRegion(peak, regions);
}

BENCHMARK_CAPTURE(steadyState, parts, bench::ImageClass::eParts, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(steadyState, noise10, bench::ImageClass::eNoise10, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(steadyState, noise50, bench::ImageClass::eNoise50, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(steadyState, checker, bench::ImageClass::eChecker, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(steadyState, checker1024, bench::ImageClass::eChecker, false, 1024)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(steadyState, glyphs, bench::ImageClass::eGlyphs, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(steadyState, runs_parts, bench::ImageClass::eParts, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(steadyState, runs_noise50, bench::ImageClass::eNoise50, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(steadyState, runs_checker, bench::ImageClass::eChecker, true)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
