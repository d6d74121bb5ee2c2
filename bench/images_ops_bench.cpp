// Timing of run-image masking and grey morphology on 2048 x 2048 images, with a memcpy of the pels
// as the floor.
#include <foundation/rlebuffer.h>

#include "bench_images.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr long kSide = 2048;

// discMask: non-zero inside a centred disc covering about 60% of the image.
kcRLEBuffer discMask() {
  kcPelBuffer<unsigned char> image(kSide, kSide);
  const long c = kSide / 2, r = 900;
  for (long y = 0; y < kSide; ++y) {
    unsigned char* row = image.pointToRow(y);
    for (long x = 0; x < kSide; ++x) row[x] = (x - c) * (x - c) + (y - c) * (y - c) <= r * r ? 1 : 0;
  }
  kcRLEBuffer mask;
  mask.encode(image);
  return mask;
}

const kcPelBuffer<unsigned char>& imageFor(int kind) {
  static const kcPelBuffer<unsigned char> images[] = {bench::makeImage(bench::ImageClass::eParts, kSide), bench::makeImage(bench::ImageClass::eNoise10, kSide),
       bench::makeImage(bench::ImageClass::eNoise50, kSide)};
  return images[kind];
}

const kcRLEBuffer& runsFor(int kind) {
  static const std::vector<kcRLEBuffer> runs = [] {
    std::vector<kcRLEBuffer> all(3);
    for (int k = 0; k < 3; ++k) all[static_cast<std::size_t>(k)].encode(imageFor(k));
    return all;
  }();
  return runs[static_cast<std::size_t>(kind)];
}

const char* const kKinds[] = {"parts", "noise10", "noise50"};

void setLabel(benchmark::State& state, int kind) {
  state.SetLabel(kKinds[kind]);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kSide * kSide);
  state.counters["runs"] = static_cast<double>(runsFor(kind).numRuns());
}

void BM_Memcpy(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  const auto& image = imageFor(kind);
  std::vector<unsigned char> copy(static_cast<std::size_t>(kSide * kSide));
  for (auto _ : state) {
    for (long y = 0; y < kSide; ++y) std::memcpy(copy.data() + y * kSide, image.pointToRow(y), kSide);
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  setLabel(state, kind);
}

void BM_Mask(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  const kcRLEBuffer& image = runsFor(kind);
  static const kcRLEBuffer mask = discMask();
  for (auto _ : state) {
    kcRLEBuffer out = image.mask(mask, 0, 0, false);
    benchmark::DoNotOptimize(out.numRuns());
  }
  setLabel(state, kind);
}

// range(0): image kind; range(1): shape; range(2): 1 for dilation, 0 for erosion.
void BM_Morph(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  const auto shape = static_cast<kcRLEBuffer::Shape>(state.range(1));
  const bool dilate = state.range(2) != 0;
  const kcRLEBuffer& image = runsFor(kind);
  for (auto _ : state) {
    kcRLEBuffer out = dilate ? image.gmorphMax(shape) : image.gmorphMin(shape);
    benchmark::DoNotOptimize(out.numRuns());
  }
  setLabel(state, kind);
}

}  // namespace

BENCHMARK(BM_Memcpy)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Mask)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Morph)
    ->ArgsProduct({{0, 1, 2}, {0, 1, 2}, {0, 1}})
    ->ArgNames({"image", "shape", "max"})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
