// Grey-scale connectivity in bands against the one-thread engine: every entry field, the top
// level and the retired count on random images split into many thin bands, without cleanup, with
// the prune and with the fill; the bands' child lists linked in part by the pass over every entry;
// threads done with their bands taking rows from the others' (in about half the images).
#include "connect/connect_bands.h"
#include "connect/connect_fixture.h"
#include "parallel/work_pool.h"

#include <foundation/rlebuffer.h>

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <tuple>

namespace {

auto fields(const kc_BlobEntry& e) {
  return std::tuple(e.sumX, e.sumY, e.left, e.top, e.width, e.height, e.parent, e.nextSibling, e.firstChild,
                    e.pelCount, e.key, int{e.label}, int{e.flags});
}

// nest(g, rng, x0, y0, x1, y1, v, depth, rings): in that rectangle a block, or a frame one or two
// pels thick around one nest or a row of nests, mostly with bars between them hanging from its top:
// the parts of its hole merge below the bars after the rings in them closed. The frames' pel
// counts (about) go to rings.
void nest(connecttest::Grid& g, std::mt19937& rng, int x0, int y0, int x1, int y1, std::uint8_t v, int depth,
          std::vector<PelCount>& rings) {
  const auto below = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const auto fill = [&g](int a0, int b0, int a1, int b1, std::uint8_t value) {
    for (int y = b0; y <= b1; ++y)
      for (int x = a0; x <= a1; ++x) g.pels[static_cast<std::size_t>(y * g.width + x)] = value;
  };
  if (x1 - x0 < 2 || y1 - y0 < 2) return;
  if (depth == 0 || below(3) == 0) return fill(x0, y0, x1, y1, v);
  const int t = below(4) == 0 ? 2 : 1, gap = 1 + below(12);
  fill(x0, y0, x1, y0 + t - 1, v);
  fill(x0, y1 - t + 1, x1, y1, v);
  fill(x0, y0, x0 + t - 1, y1, v);
  fill(x1 - t + 1, y0, x1, y1, v);
  rings.push_back(static_cast<PelCount>(2 * t * (x1 - x0 + y1 - y0)));
  const int ix0 = x0 + t + gap, iy0 = y0 + t + gap, ix1 = x1 - t - gap, iy1 = y1 - t - gap;
  if (ix1 - ix0 < 16 || iy1 - iy0 < 6 || below(3) == 0) return nest(g, rng, ix0, iy0, ix1, iy1, v, depth - 1, rings);
  const int parts = 2 + below(3), end = iy1 - below(3);
  for (int k = 0, left = ix0; k < parts; ++k) {
    const int right = ix0 + (ix1 - ix0 + 1) * (k + 1) / parts - 1;  // the bar ends the part
    if (k + 1 < parts && below(3) != 0) fill(right, y0, right, end, v);
    nest(g, rng, left, iy0, right - (k + 1 < parts ? 1 + gap : 0), end - 1 - below(3), v, depth - 1, rings);
    left = right + 1 + gap;
  }
}

// nestedFrames(rng, width, height, rings): a nest over most of the image and a few small blocks,
// over sparse specks: rings small beside the holes they close, holes within rings within holes.
connecttest::Grid nestedFrames(std::mt19937& rng, int width, int height, std::vector<PelCount>& rings) {
  connecttest::Grid g{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width * height))};
  for (auto& p : g.pels) p = rng() % 50 == 0 ? static_cast<std::uint8_t>(1 + rng() % 3) : 0;
  const auto below = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  nest(g, rng, below(width / 8 + 1), below(height / 8 + 1), width - 1 - below(width / 8 + 1),
       height - 1 - below(height / 8 + 1), static_cast<std::uint8_t>(1 + rng() % 3), 6, rings);
  for (int k = below(8); k > 0; --k) {  // blocks, and rings within one band, smaller than their holes
    const int x0 = below(width), y0 = below(height), x1 = std::min(width - 1, x0 + 6 + below(10)),
              y1 = std::min(height - 1, y0 + 6 + below(10));
    const std::uint8_t v = rng() % 3 == 0 ? 0 : 1;
    const bool ring = x1 - x0 > 5 && y1 - y0 > 5 && rng() % 2 == 0;
    if (ring) rings.push_back(static_cast<PelCount>(2 * (x1 - x0 + y1 - y0)));
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x)
        if (!ring || y == y0 || y == y1 || x == x0 || x == x1) g.pels[static_cast<std::size_t>(y * width + x)] = v;
  }
  return g;
}

TEST(ConnectBands, ConnectBands_randomImagesInThinBands_matchOneThread) {
  const kc_BandMinimum small(1, 1);
  std::mt19937 rng(20261207);
  kc_ConnectWorkspace ws, bandWs;  // reused from image to image, as a scene reuses its own
  ws.walkLimit = std::numeric_limits<std::size_t>::max();  // each child list walked whole
  kc_BlobStore one, banded;
  std::vector<BlobId> oneTop, bandTop;
  int split = 0;  // images on which a thread took rows from another's band
  for (int i = 0; i < 600 && !::testing::Test::HasFailure(); ++i) {
    const auto side = [&rng](unsigned few, unsigned many) {
      const unsigned n = rng() % 4 == 0 ? few : many;
      return 1 + static_cast<int>(rng() % n);
    };
    const bool frames = rng() % 3 == 0;  // with the fill
    std::vector<PelCount> rings;
    const connecttest::Grid g = frames ? nestedFrames(rng, 16 + side(3, 300), 16 + side(8, 200), rings)
                                       : connecttest::randomGrid(rng, side(3, 600), side(8, 200));
    const long x = static_cast<long>(rng() % 2001) - 1000, y = static_cast<long>(rng() % 2001) - 1000;
    const kcRLEBuffer image = connecttest::encode(g, {x, y});
    // Half the frames in two bands, tall enough to hold inner rings whole.
    const unsigned threads = frames && i % 2 == 0 ? 2 : 2 + static_cast<unsigned>(rng() % 7);
    const auto cleanup = frames ? kc_CleanupKind::eFill : static_cast<kc_CleanupKind>(rng() % 3);
    // Frames: just above one of the rings, so that it and smaller ones are filled and larger ones kept.
    const PelCount ring = rings.empty() ? 0 : rings[i % 4 == 0 ? rings.size() - 1 : rng() % rings.size()];
    const unsigned long most = frames ? ring / 4 + 2 : rng() % 4 == 0 ? 3000 : 60;
    const PelCount minPels = (frames ? ring : 0) + rng() % most;
    // The bands' lists walked this far: the rest of one list, or of several, linked otherwise.
    bandWs.walkLimit = std::size_t{1} << rng() % 10;
    SCOPED_TRACE(::testing::Message() << "image " << i << " " << g.width << "x" << g.height << " threads " << threads
                                      << " cleanup " << static_cast<int>(cleanup) << " min " << minPels << " walk "
                                      << bandWs.walkLimit);
    kc_ConnectEngine engine(image, ws, one, false, cleanup, minPels);
    engine.scan();
    engine.finish(oneTop);
    EXPECT_EQ(kf_ConnectInBands(image, bandWs, banded, bandTop, threads, cleanup, minPels), engine.retired());
    split += bandWs.bandsScanned > kf_Bands(g.width, g.height, threads) ? 1 : 0;
    EXPECT_EQ(oneTop, bandTop);
    EXPECT_EQ(one.origin, banded.origin);
    ASSERT_EQ(one.entries.size(), banded.entries.size());
    for (std::size_t b = 0; b < one.entries.size() && !::testing::Test::HasFailure(); ++b)
      EXPECT_EQ(fields(one.entries[b]), fields(banded.entries[b])) << "blob " << b + 1;
  }
  EXPECT_GT(split, 0);
}

}  // namespace
