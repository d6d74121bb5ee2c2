// Timing of the run-length encoders on 2048 x 2048 images, with a memcpy of the pels as the floor.
#include <foundation/rlebuffer.h>

#include "bench_images.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr long kSide = 2048;

const kcPelBuffer<unsigned char>& imageFor(int kind) {
  static const kcPelBuffer<unsigned char> images[] = {bench::makeImage(bench::ImageClass::eParts, kSide), bench::makeImage(bench::ImageClass::eNoise10, kSide),
       bench::makeImage(bench::ImageClass::eNoise50, kSide)};
  return images[kind];
}

const char* const kKinds[] = {"parts", "noise10", "noise50"};

void setLabel(benchmark::State& state, int kind) {
  state.SetLabel(kKinds[kind]);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kSide * kSide);
}

void BM_Memcpy(benchmark::State& state) {
  const auto& image = imageFor(static_cast<int>(state.range(0)));
  std::vector<unsigned char> copy(static_cast<std::size_t>(kSide * kSide));
  for (auto _ : state) {
    for (long y = 0; y < kSide; ++y) std::memcpy(copy.data() + y * kSide, image.pointToRow(y), kSide);
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  setLabel(state, static_cast<int>(state.range(0)));
}

void BM_EncodeHardThreshold(benchmark::State& state) {
  const auto& image = imageFor(static_cast<int>(state.range(0)));
  kcRLEBuffer rle;
  for (auto _ : state) {
    rle.encode(image, 128, false);
    benchmark::DoNotOptimize(rle.numRuns());
  }
  setLabel(state, static_cast<int>(state.range(0)));
  state.counters["runs"] = static_cast<double>(rle.numRuns());
}

void BM_EncodePlain(benchmark::State& state) {
  const auto& image = imageFor(static_cast<int>(state.range(0)));
  kcRLEBuffer rle;
  for (auto _ : state) {
    rle.encode(image);
    benchmark::DoNotOptimize(rle.numRuns());
  }
  setLabel(state, static_cast<int>(state.range(0)));
  state.counters["runs"] = static_cast<double>(rle.numRuns());
}

void BM_EncodeSoftThreshold(benchmark::State& state) {
  const auto& image = imageFor(static_cast<int>(state.range(0)));
  kcRLEBuffer rle;
  for (auto _ : state) {
    rle.encode(image, 100, 180, 7, false);
    benchmark::DoNotOptimize(rle.numRuns());
  }
  setLabel(state, static_cast<int>(state.range(0)));
}

}  // namespace

BENCHMARK(BM_Memcpy)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EncodeHardThreshold)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EncodePlain)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EncodeSoftThreshold)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
