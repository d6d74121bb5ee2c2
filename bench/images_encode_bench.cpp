// Timing of the run-length encoders on 2048 x 2048 images, with a memcpy of the pels as the floor.
#include <foundation/rlebuffer.h>

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr long kSide = 2048;

// sparseImage: a few hundred filled discs and rectangles of bright values on a dark background.
kcPelBuffer<unsigned char> sparseImage() {
  kcPelBuffer<unsigned char> image(kSide, kSide);
  std::mt19937 rng(2048);
  for (long y = 0; y < kSide; ++y) std::memset(image.pointToRow(y), 20, kSide);
  for (int i = 0; i < 300; ++i) {
    long cx = static_cast<long>(rng() % kSide), cy = static_cast<long>(rng() % kSide);
    long r = 4 + static_cast<long>(rng() % 30);
    auto value = static_cast<unsigned char>(150 + rng() % 100);
    bool disc = rng() % 2;
    for (long y = std::max(0L, cy - r); y < std::min(kSide, cy + r); ++y) {
      unsigned char* row = image.pointToRow(y);
      for (long x = std::max(0L, cx - r); x < std::min(kSide, cx + r); ++x) {
        if (!disc || (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) row[x] = value;
      }
    }
  }
  return image;
}

// noiseImage: each pel bright with probability percent / 100, else dark.
kcPelBuffer<unsigned char> noiseImage(int percent) {
  kcPelBuffer<unsigned char> image(kSide, kSide);
  std::mt19937 rng(static_cast<unsigned>(percent));
  for (long y = 0; y < kSide; ++y) {
    unsigned char* row = image.pointToRow(y);
    for (long x = 0; x < kSide; ++x) row[x] = rng() % 100 < static_cast<unsigned>(percent) ? 200 : 10;
  }
  return image;
}

const kcPelBuffer<unsigned char>& imageFor(int kind) {
  static const kcPelBuffer<unsigned char> images[] = {sparseImage(), noiseImage(10), noiseImage(50)};
  return images[kind];
}

const char* const kKinds[] = {"sparse", "noise10", "noise50"};

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
