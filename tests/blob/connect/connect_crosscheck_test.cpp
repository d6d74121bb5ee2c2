// The connectivity engine against the pel-level reference on seeded random images.
#include "connect/connect_fixture.h"
#include "connect/connect_reference.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>

namespace {

using connecttest::Grid;

// The sanitizer build runs a quarter of the images.
#ifdef __SANITIZE_ADDRESS__
constexpr int kShare = 4;
#else
constexpr int kShare = 1;
#endif

// crossCheck: images 1 x 1 to maxSide x maxSide, one in ten of full size, the rest up to a quarter.
void crossCheck(bool labelled, kc_CleanupKind cleanup, int images, int maxSide, unsigned seed) {
  std::mt19937 rng(seed);
  for (int i = 0; i < images / kShare && !::testing::Test::HasFailure(); ++i) {
    const int side = i % 10 == 0 ? maxSide : maxSide / 4;
    const Grid g = connecttest::randomGrid(rng, 1 + static_cast<int>(rng() % static_cast<unsigned>(side)), 1 + static_cast<int>(rng() % static_cast<unsigned>(side)));
    const PelCount minPels = cleanup == kc_CleanupKind::eNone ? 0 : rng() % (i % 2 ? 12 : 60);
    SCOPED_TRACE(::testing::Message() << "image " << i << " " << g.width << "x" << g.height << " minPels " << minPels);
    const connecttest::Output out = connecttest::run(g, labelled, cleanup, minPels);
    connectref::compare(out, connectref::reference(g, labelled, cleanup, minPels));
  }
}

}  // namespace

TEST(ConnectCrossCheck, ConnectCrossCheck_greyRandomImages_matchReference) {
  crossCheck(false, kc_CleanupKind::eNone, 1500, 200, 1);
}
// Random images rarely hold a thin enclosed region around a larger hole: a ring of 12 pels around
// 13, which the prune keeps at minPels 13 for its hole.
TEST(ConnectCrossCheck, ConnectCrossCheck_greyPruneRandomImages_matchReference) {
  crossCheck(false, kc_CleanupKind::ePrune, 800, 120, 2);
  const Grid ring = connecttest::draw(
      {".........", "....#....", "...#.#...", "..#...#..", ".#.....#.", "..#...#..", "...#.#...", "....#....", "........."});
  connectref::compare(connecttest::run(ring, false, kc_CleanupKind::ePrune, 13),
                      connectref::reference(ring, false, kc_CleanupKind::ePrune, 13));
}
// The comb-shaped hole has three labels to its ring's one, so the fill leaves the ring's set rooted
// at a filled label: the ring's runs below it must still be written as its own.
TEST(ConnectCrossCheck, ConnectCrossCheck_greyFillRandomImages_matchReference) {
  crossCheck(false, kc_CleanupKind::eFill, 800, 120, 3);
  const Grid comb = connecttest::draw(
      {".........", ".#######.", ".#.#.#.#.", ".#.....#.", ".#######.", ".#.....#.", ".#######.", "........."});
  connectref::compare(connecttest::run(comb, false, kc_CleanupKind::eFill, 10),
                      connectref::reference(comb, false, kc_CleanupKind::eFill, 10));
}
TEST(ConnectCrossCheck, ConnectCrossCheck_labelledRandomImages_matchReference) {
  crossCheck(true, kc_CleanupKind::eNone, 1500, 200, 4);
}
TEST(ConnectCrossCheck, ConnectCrossCheck_labelledPruneRandomImages_matchReference) {
  crossCheck(true, kc_CleanupKind::ePrune, 800, 120, 5);
}

// Without the fill, regions on the image's edge keep no neighbour lists: every blob's fields and
// links, so the order of every child list too (which the reference leaves open), as with the
// lists kept. Half the images are noise of a few values near the density where regions grow
// large, which makes long child lists.
TEST(ConnectCrossCheck, ConnectCrossCheck_labelledWithoutEdgeLists_sameTreeInOrder) {
  std::mt19937 rng(6);
  const auto fields = [](const connecttest::BlobView& b) {
    return std::tuple(b.label, b.pelCount, b.left, b.top, b.width, b.height, b.parent, b.nextSibling, b.firstChild);
  };
  for (int i = 0; i < 300 / kShare && !::testing::Test::HasFailure(); ++i) {
    const int width = 1 + static_cast<int>(rng() % 150), height = 1 + static_cast<int>(rng() % 150);
    Grid g = connecttest::randomGrid(rng, width, height);
    if (i % 2 == 0)
      for (std::uint8_t& v : g.pels) v = rng() % 2 ? 0 : static_cast<std::uint8_t>(1 + rng() % 3);
    const kc_CleanupKind cleanup = i % 3 == 0 ? kc_CleanupKind::ePrune : kc_CleanupKind::eNone;
    const PelCount minPels = cleanup == kc_CleanupKind::eNone ? 0 : rng() % 12;
    SCOPED_TRACE(::testing::Message() << "image " << i << " " << width << "x" << height);
    const connecttest::Output lean = connecttest::run(g, true, cleanup, minPels);
    const connecttest::Output kept = connecttest::run(g, true, cleanup, minPels, true);
    EXPECT_EQ(lean.topIds, kept.topIds);
    ASSERT_EQ(lean.blobs.size(), kept.blobs.size());
    for (std::size_t b = 0; b < lean.blobs.size(); ++b)
      EXPECT_EQ(fields(lean.blobs[b]), fields(kept.blobs[b])) << "blob " << b + 1;
  }
}
