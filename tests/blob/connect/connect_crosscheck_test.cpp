// The connectivity engine against the pel-level reference on seeded random images.
#include "connect/connect_fixture.h"
#include "connect/connect_reference.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using connecttest::Grid;

// randomGrid(rng, maxSide): sizes 1 x 1 to maxSide x maxSide; a density of non-zero pels and a
// value range picked per image (binary, a few values, the full byte).
Grid randomGrid(std::mt19937& rng, int maxSide) {
  std::uniform_int_distribution<int> side(1, maxSide);
  Grid g;
  g.width = side(rng);
  g.height = side(rng);
  static const double densities[] = {0.05, 0.3, 0.5, 0.7, 0.95};
  static const int ranges[] = {1, 3, 255};
  const double density = densities[rng() % 5];
  const int range = ranges[rng() % 3];
  std::bernoulli_distribution on(density);
  std::uniform_int_distribution<int> val(1, range);
  g.pels.resize(static_cast<std::size_t>(g.width * g.height));
  for (auto& p : g.pels) p = on(rng) ? static_cast<std::uint8_t>(val(rng)) : 0;
  if (rng() % 3 == 0) {  // overlapping rectangles over the noise: rings, holes and nesting
    for (int k = static_cast<int>(rng() % 40); k > 0; --k) {
      const auto below = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
      const int x0 = below(g.width), y0 = below(g.height);
      const int x1 = x0 + below(g.width - x0), y1 = y0 + below(g.height - y0);
      const std::uint8_t v = rng() % 2 ? static_cast<std::uint8_t>(val(rng)) : 0;
      for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) g.pels[static_cast<std::size_t>(y * g.width + x)] = v;
    }
  }
  return g;
}

// The sanitizer build runs a quarter of the images.
#ifdef __SANITIZE_ADDRESS__
constexpr int kShare = 4;
#else
constexpr int kShare = 1;
#endif

void crossCheck(bool labelled, kc_CleanupKind cleanup, int images, int maxSide, unsigned seed) {
  std::mt19937 rng(seed);
  images /= kShare;
  for (int i = 0; i < images; ++i) {
    const Grid g = randomGrid(rng, i % 10 == 0 ? maxSide : maxSide / 4);
    const PelCount minPels = cleanup == kc_CleanupKind::eNone ? 0 : rng() % (i % 2 ? 12 : 60);
    SCOPED_TRACE(::testing::Message() << "image " << i << " " << g.width << "x" << g.height
                                      << " minPels " << minPels);
    const connecttest::Output out = connecttest::run(g, labelled, cleanup, minPels);
    connectref::compare(out, connectref::reference(g, labelled, cleanup, minPels));
    if (::testing::Test::HasFailure()) return;
  }
}

}  // namespace

TEST(ConnectCrossCheck, ConnectCrossCheck_greyRandomImages_matchReference) {
  crossCheck(false, kc_CleanupKind::eNone, 1500, 200, 1);
}
TEST(ConnectCrossCheck, ConnectCrossCheck_greyPruneRandomImages_matchReference) {
  crossCheck(false, kc_CleanupKind::ePrune, 800, 120, 2);
}
TEST(ConnectCrossCheck, ConnectCrossCheck_greyFillRandomImages_matchReference) {
  crossCheck(false, kc_CleanupKind::eFill, 800, 120, 3);
}
TEST(ConnectCrossCheck, ConnectCrossCheck_labelledRandomImages_matchReference) {
  crossCheck(true, kc_CleanupKind::eNone, 1500, 200, 4);
}
TEST(ConnectCrossCheck, ConnectCrossCheck_labelledPruneRandomImages_matchReference) {
  crossCheck(true, kc_CleanupKind::ePrune, 800, 120, 5);
}

// A few images of a hundred thousand regions and more: nearly a checkerboard (one blob holding
// most pels as holes), and noise of every value in labelled connectivity (most pels a region).
TEST(ConnectCrossCheck, ConnectCrossCheck_hundredThousandRegions_matchReference) {
  std::mt19937 rng(6);
  Grid g;
  g.width = g.height = 460;
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width; ++x) g.pels.push_back(static_cast<std::uint8_t>((x + y) % 2 != 0 || rng() % 50 == 0));
  for (const auto& [labelled, cleanup] : {std::pair{false, kc_CleanupKind::eNone}, std::pair{false, kc_CleanupKind::eFill}}) {
    const connecttest::Output out = connecttest::run(g, labelled, cleanup, 2);
    EXPECT_GT(out.blobs.size(), cleanup == kc_CleanupKind::eNone ? 100000u : 0u);
    connectref::compare(out, connectref::reference(g, labelled, cleanup, 2));
  }
  for (auto& p : g.pels) p = static_cast<std::uint8_t>(rng() % 256);
  const connecttest::Output out = connecttest::run(g, true);
  EXPECT_GT(out.blobs.size(), 100000u);
  connectref::compare(out, connectref::reference(g, true, kc_CleanupKind::eNone, 0));
}
