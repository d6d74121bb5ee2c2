// Grey-scale connectivity in bands against the one-thread engine: every entry field, the top
// level and the retired count on random images split into many thin bands, without cleanup, with
// the prune and with the fill.
#include "connect/connect_bands.h"
#include "connect/connect_fixture.h"
#include "parallel/work_pool.h"

#include <foundation/rlebuffer.h>

#include <gtest/gtest.h>

#include <random>
#include <tuple>

namespace {

auto fields(const kc_BlobEntry& e) {
  return std::tuple(e.sumX, e.sumY, e.left, e.top, e.width, e.height, e.parent, e.nextSibling, e.firstChild,
                    e.pelCount, e.key, int{e.label}, int{e.flags});
}

TEST(ConnectBands, ConnectBands_randomImagesInThinBands_matchOneThread) {
  const kc_BandMinimum small(1, 1);
  std::mt19937 rng(20261207);
  kc_ConnectWorkspace ws, bandWs;  // reused from image to image, as a scene reuses its own
  kc_BlobStore one, banded;
  std::vector<BlobId> oneTop, bandTop;
  for (int i = 0; i < 600 && !::testing::Test::HasFailure(); ++i) {
    const auto side = [&rng](unsigned few, unsigned many) {
      const unsigned n = rng() % 4 == 0 ? few : many;
      return 1 + static_cast<int>(rng() % n);
    };
    const connecttest::Grid g = connecttest::randomGrid(rng, side(3, 600), side(8, 200));
    const long x = static_cast<long>(rng() % 2001) - 1000, y = static_cast<long>(rng() % 2001) - 1000;
    const kcRLEBuffer image = connecttest::encode(g, {x, y});
    const unsigned threads = 2 + static_cast<unsigned>(rng() % 7);
    const auto cleanup = static_cast<kc_CleanupKind>(rng() % 3);
    const PelCount minPels = rng() % 4 == 0 ? rng() % 3000 : rng() % 60;  // large: fills nested ones
    SCOPED_TRACE(::testing::Message() << "image " << i << " " << g.width << "x" << g.height << " threads " << threads
                                      << " cleanup " << static_cast<int>(cleanup) << " min " << minPels);
    kc_ConnectEngine engine(image, ws, one, false, cleanup, minPels);
    engine.scan();
    engine.finish(oneTop);
    EXPECT_EQ(kf_ConnectInBands(image, bandWs, banded, bandTop, threads, cleanup, minPels), engine.retired());
    EXPECT_EQ(oneTop, bandTop);
    EXPECT_EQ(one.origin, banded.origin);
    ASSERT_EQ(one.entries.size(), banded.entries.size());
    for (std::size_t b = 0; b < one.entries.size() && !::testing::Test::HasFailure(); ++b)
      EXPECT_EQ(fields(one.entries[b]), fields(banded.entries[b])) << "blob " << b + 1;
  }
}

}  // namespace
