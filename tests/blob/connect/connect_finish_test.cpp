// The order of the top level and of each child list, which the reference leaves open, and the
// run-length rows of the finishing pass. (Ids, parents, labels, pel counts and region pels are
// cross-checked in connect_crosscheck_test.)
#include "connect/connect_fixture.h"

#include <gtest/gtest.h>

#include <numeric>

using connecttest::blob;
using connecttest::childrenOf;
using connecttest::draw;
using connecttest::run;
using Ids = std::vector<BlobId>;

// Each list holds the newest surviving record first. Blobs side by side: right to left. The U's
// bottom row takes the left arm's label, then meets the right arm, whose record survives: created
// after the blob between the arms, it stands before that blob. Two holes closing in different rows:
// the last closed is the first child. The labelled flood starts at the pending region 4 and lists
// 4, 2, 3 in neighbour-list order, each closed put at the front of the ring's child list.
TEST(ConnectFinish, ConnectFinish_drawnScenes_listsNewestRecordFirst) {
  const struct {
    connecttest::Grid g;
    bool labelled;
    BlobId parent;  // 0: the top level
    Ids want;
  } cases[] = {{draw({"#.#"}), false, 0, {2, 1}},
               {draw({"#.#.#", "#...#", "#####"}), false, 0, {1, 2}},
               {draw({"#####", "#.###", "###.#", "#####"}), false, 1, {3, 2}},
               {draw({"1111", "1231", "1441", "1111"}), true, 1, {3, 2, 4}}};
  for (const auto& c : cases) {
    const connecttest::Output out = run(c.g, c.labelled);
    EXPECT_EQ(c.parent == 0 ? out.topIds : childrenOf(out, c.parent), c.want) << ::testing::PrintToString(c.g.pels);
  }
  // Long top levels take other routes: placed by serial when most records are top level, radix
  // passes when few are (each blob here holds 8 holes), in slices on several threads.
  connecttest::Grid g{2999, 1, {}};
  for (int x = 0; x < g.width; ++x) g.pels.push_back(x % 2 == 0);
  Ids want(1500);
  std::iota(want.rbegin(), want.rend(), BlobId{1});
  EXPECT_EQ(run(g, false).topIds, want);
  const int cells = 4200;  // "#################." over "#.#.#.#.#.#.#.#.#." over the first
  connecttest::Grid holed{cells * 18, 3, {}};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < holed.width; ++x) holed.pels.push_back(x % 18 != 17 && (y != 1 || x % 2 == 0));
  want.resize(cells);
  std::iota(want.rbegin(), want.rend(), BlobId{1});
  for (unsigned threads : {1u, 3u}) {
    const kcRLEBuffer image = connecttest::encode(holed);
    kc_ConnectWorkspace ws;
    kc_BlobStore store;
    Ids top;
    kc_ConnectEngine engine(image, ws, store, false, kc_CleanupKind::eNone, 0);
    engine.scan();
    engine.finish(top, threads);
    EXPECT_EQ(top, want) << threads << " threads";
  }
}

// A blob 600 pels wide: its spans and its gaps are split at 255 pels, every row covering the
// blob's full width.
TEST(ConnectFinish, ConnectFinish_blobWiderThan255_runsSplitAt255) {
  connecttest::Grid g{600, 2, std::vector<std::uint8_t>(1200, 0)};
  std::fill(g.pels.begin(), g.pels.begin() + 601, 1);
  g.pels[1199] = 1;
  const connecttest::Output out = run(g, false);
  ASSERT_EQ(out.blobs.size(), 1u);
  std::vector<std::vector<int>> rows;  // value * 1000 + length
  for (const unsigned char* start : blob(out, 1).rowStarts) {
    rows.emplace_back();
    for (const unsigned char* r = start; r[1] != 0; r += 2) rows.back().push_back(r[0] * 1000 + r[1]);
  }
  EXPECT_EQ(rows, (std::vector<std::vector<int>>{{1255, 1255, 1090}, {1001, 255, 255, 88, 1001}}));
}
