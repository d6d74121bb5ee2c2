// The streaming analysis against the analysis of the whole image: each tree handed out holds the
// same blobs, measures and links, whatever the bands; its refusals.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobstream.h>
#include <blob/blobtool.h>
#include <foundation/attention.h>
#include <foundation/pelbuffer.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "archive_fixture.h"
#include "connect/connect_fixture.h"

namespace {

using Scene = kcBlobSceneDescription;
using Key = std::tuple<long, long, long>;  // label, first pel x, y: one region of the whole image

Key keyOf(const kcBlob& b) {
  std::vector<keBlobDirection> code;
  const kcPair<long> start = b.boundaryChainCode(code);
  return {b.label(), start.x(), start.y()};
}

kcPelBuffer<unsigned char> rowsOf(const connecttest::Grid& g, int y0, int y1) {
  kcPelBuffer<unsigned char> band(g.width, y1 - y0);
  for (int y = y0; y < y1; ++y)
    for (int x = 0; x < g.width; ++x) band.pointToRow(y - y0)[x] = g.at(x, y);
  return band;
}

// expectSame(b, whole): b (of a streamed tree) answers as whole (of the whole image) does.
void expectSame(const kcBlob& b, const kcBlob& whole) {
  for (int m = 0; m < 43; ++m) {
    const double got = b.measure(static_cast<kcBlob::Measure>(m)), want = whole.measure(static_cast<kcBlob::Measure>(m));
    ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << "measure " << m << ": " << got << " against " << want;
  }
  std::vector<keBlobDirection> code, wholeCode;
  b.boundaryChainCode(code);
  whole.boundaryChainCode(wholeCode);
  ASSERT_EQ(code, wholeCode);
  ASSERT_EQ(b.parent() == nullptr, whole.parent() == nullptr);
  if (b.parent() != nullptr) {
    ASSERT_EQ(keyOf(*b.parent()), keyOf(*whole.parent()));
  }
}

// A tall bar ends while a ring beside it still holds a dot waiting in its hole: the dot's runs join
// the ring's tree when the hole closes.
const connecttest::Grid kBarBesideNest = connecttest::draw({
    "#.#.#.#.#.#.#.#.#.#.......", "##.#.#.#.#.#.#.#.#.#......", "#.#.#.#.#.#.#.#.#.#.......",
    "##.#.#.#.#.#.#.#.#.#......", "#.#.#.#.#.#.#.#.#.#.......", "##.#.#.#.#.#.#.#.#.#......",
    "#.#.#.#.#.#.#.#.#.#.......", "##.#.#.#.#.#.#.#.#.#......", "#.....................###.",
    "#....................#...#", "#....................#.#.#", "#....................#...#",
    "#....................#...#", ".....................#...#", ".....................#...#",
    "......................###."});

// A ring 604 pels wide around a bar of 300 pels of value 2: runs longer than a run byte holds.
connecttest::Grid wideNest() {
  std::vector<std::string> rows(7, std::string(610, '.'));
  for (std::size_t x = 2; x < 606; ++x) rows[1][x] = rows[5][x] = '#';
  for (std::size_t y = 2; y < 5; ++y) rows[y][2] = rows[y][605] = '#';
  for (std::size_t x = 100; x < 400; ++x) rows[3][x] = '2';
  return connecttest::draw(rows);
}

// A tall image of sparse noise with frames down it: the blobs inside a frame wait for it to close
// while the rows go on, so that a stream renumbers its labels and rows with trees still waiting.
connecttest::Grid framedNoise(std::mt19937& rng) {
  const int w = 20 + static_cast<int>(rng() % 30), h = 1500 + static_cast<int>(rng() % 1000);
  connecttest::Grid g{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w * h))};
  const unsigned long density = 10 + rng() % 25;
  for (std::uint8_t& p : g.pels) p = rng() % 100 < density ? static_cast<std::uint8_t>(1 + rng() % 255) : 0;
  for (int y0 = 20 + static_cast<int>(rng() % 100); y0 + 62 < h; y0 += 150 + static_cast<int>(rng() % 250)) {
    const int y1 = std::min(h - 2, y0 + 60 + static_cast<int>(rng() % 300));
    for (int x = 2; x < w - 2; ++x) g.pels[static_cast<std::size_t>(y0 * w + x)] = g.pels[static_cast<std::size_t>(y1 * w + x)] = 255;
    for (int y = y0; y <= y1; ++y) g.pels[static_cast<std::size_t>(y * w + 2)] = g.pels[static_cast<std::size_t>(y * w + w - 3)] = 255;
  }
  return g;
}

TEST(BlobStream, BlobStream_randomImagesInAnyBands_treesAsTheWholeImage) {
  std::mt19937 rng(34);
  for (int round = 0; round < 166; ++round) {  // the last six tall (framedNoise)
    const bool tall = round >= 160;
    const connecttest::Grid grid =
        round == 0                 ? kBarBesideNest
        : round == 1 || round == 3 ? wideNest()
        : tall ? framedNoise(rng)
               : connecttest::randomGrid(rng, 1 + static_cast<int>(rng() % 90), 1 + static_cast<int>(rng() % 70));
    const int w = grid.width, h = grid.height;
    kcBlobParams params;
    switch (tall ? 0 : rng() % 3) {  // tall: the frames stay blobs
      case 0: params.setSegmentationNone(static_cast<unsigned char>(1 + rng() % 3)); break;
      case 1: params.setSegmentationHardThresh(static_cast<unsigned char>(rng() % 256), rng() % 2 == 0); break;
      default: params.setSegmentationSoftThresh(40, 200, 4, rng() % 2 == 0);
    }
    if (rng() % 3 == 0) {
      params.connectivityCleanup(rng() % 2 ? Scene::ePrune : Scene::eFill);
      params.connectivityMinPels(1 + static_cast<long>(rng() % 12));
    }
    if (round % 4 == 3 && !tall) params.connectivityType(Scene::eLabelled);
    kcBlobResults whole;
    kfBlobAnalysis(connecttest::pels(grid), params, whole);
    const Scene& scene = *whole.connectedBlobs();
    std::map<Key, const kcBlob*> byKey;
    for (const kcBlob* b : scene.allBlobs(false)) byKey[keyOf(*b)] = b;
    for (const int band : {1, 7, h}) {
      SCOPED_TRACE(::testing::Message() << "round " << round << ", " << w << " x " << h << ", bands of " << band);
      kcBlobStream stream(params, w);
      std::map<Key, int> seen;
      long expected = 0;
      std::pair<long, long> lastTop(-1, -1);  // labelled: trees in raster order of their first pels
      const auto takeAll = [&] {
        long number = 0;
        while (auto tree = stream.take(&number)) {
          ASSERT_EQ(number, ++expected);
          ASSERT_NE(tree->firstTop(false), nullptr);
          ASSERT_EQ(tree->firstTop(false)->nextSibling(false), nullptr);  // one top-level blob
          if (params.connectivityType() == Scene::eLabelled) {
            const auto [label, x, y] = keyOf(*tree->firstTop(false));
            ASSERT_LT(lastTop, std::make_pair(y, x));
            lastTop = {y, x};
          }
          if (number == 1 && band == 7) {  // a tree stores and loads as an analysed scene does
            Scene back;
            const archive_fixture::Fingerprint before = archive_fixture::answers(*tree);
            archive_fixture::load(archive_fixture::stored(*tree), back);
            ASSERT_TRUE(archive_fixture::answers(back) == before);
          }
          for (const kcBlob* b : tree->allBlobs(false)) {
            const auto found = byKey.find(keyOf(*b));
            ASSERT_NE(found, byKey.end());
            ++seen[found->first];
            expectSame(*b, *found->second);
          }
        }
      };
      for (int y = 0; y < h; y += band) {
        stream.feed(rowsOf(grid, y, std::min(h, y + band)));
        takeAll();
      }
      stream.finish();
      takeAll();
      ASSERT_EQ(seen.size(), byKey.size());
      for (const auto& [key, count] : seen) ASSERT_EQ(count, 1);
      ASSERT_EQ(stream.rowsHeld(), 0);
    }
  }
}

// Trees measured and released on another thread while the stream goes on (their run arrays go back
// to the stream from there) answer as the whole image's blobs do.
TEST(BlobStream, BlobStream_treesReleasedOnAnotherThread_sameBlobs) {
  std::mt19937 rng(36);
  const connecttest::Grid grid = framedNoise(rng);
  kcBlobResults whole;
  kfBlobAnalysis(connecttest::pels(grid), kcBlobParams(), whole);
  std::map<Key, const kcBlob*> byKey;
  for (const kcBlob* b : whole.connectedBlobs()->allBlobs(false)) byKey[keyOf(*b)] = b;
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<std::unique_ptr<Scene>> queue;  // a null scene: the end
  std::size_t seen = 0;
  std::thread measurer([&] {
    for (;;) {
      std::unique_lock<std::mutex> lock(mutex);
      ready.wait(lock, [&] { return !queue.empty(); });
      std::unique_ptr<Scene> tree = std::move(queue.front());
      queue.pop_front();
      lock.unlock();
      if (tree == nullptr) return;
      for (const kcBlob* b : tree->allBlobs(false)) {
        const auto found = byKey.find(keyOf(*b));
        ASSERT_NE(found, byKey.end());
        ++seen;
        expectSame(*b, *found->second);
      }
    }
  });
  kcBlobStream stream(kcBlobParams(), grid.width);
  const auto handOver = [&](std::unique_ptr<Scene> tree) {
    const std::lock_guard<std::mutex> lock(mutex);
    queue.push_back(std::move(tree));
    ready.notify_one();
  };
  for (int y = 0; y < grid.height; y += 7) {
    stream.feed(rowsOf(grid, y, std::min(grid.height, y + 7)));
    while (auto tree = stream.take()) handOver(std::move(tree));
  }
  stream.finish();
  while (auto tree = stream.take()) handOver(std::move(tree));
  handOver(nullptr);
  measurer.join();
  EXPECT_EQ(seen, byKey.size());
}

// Whole-image connectivity: one tree, at finish(), as the analysis of the whole image gives it;
// the stream keeps the rows from the one above the first pel that is not 0, and no others.
TEST(BlobStream, BlobStream_wholeImage_oneTreeAtTheEnd) {
  std::mt19937 rng(35);
  for (int round = 0; round < 40; ++round) {
    connecttest::Grid grid = connecttest::randomGrid(rng, 1 + static_cast<int>(rng() % 60), 1 + static_cast<int>(rng() % 50));
    const auto at = [&grid](int x, int y) -> std::uint8_t& { return grid.pels[static_cast<std::size_t>(y * grid.width + x)]; };
    const int blank = static_cast<int>(rng() % static_cast<unsigned>(grid.height + 1));  // rows made 0 at the top
    const bool edges = rng() % 2 == 0;  // and the edge columns, so that some blobs are interior
    for (int y = 0; y < grid.height; ++y)
      for (int x = 0; x < grid.width; ++x)
        if (y < blank || (edges && (x == 0 || x == grid.width - 1))) at(x, y) = 0;
    int first = 0;  // the first row with a pel that is not 0
    const auto zeroRow = [&](int y) {
      for (int x = 0; x < grid.width; ++x)
        if (at(x, y) != 0) return false;
      return true;
    };
    while (first < grid.height && zeroRow(first)) ++first;
    kcBlobParams params;
    params.connectivityType(Scene::eWholeImageGreyScale);
    params.setSegmentationNone(static_cast<unsigned char>(1 + rng() % 3));
    kcBlobResults whole;
    kfBlobAnalysis(connecttest::pels(grid), params, whole);
    for (const int band : {1, 7, grid.height}) {
      SCOPED_TRACE(::testing::Message() << "round " << round << ", bands of " << band);
      kcBlobStream stream(params, grid.width);
      for (int y = 0; y < grid.height; y += band) {
        stream.feed(rowsOf(grid, y, std::min(grid.height, y + band)));
        ASSERT_EQ(stream.ready(), 0u);
        const long fed = stream.rowsFed();  // the rows from the one above the first pel
        ASSERT_EQ(stream.rowsHeld(), fed <= first ? std::min(fed, 1L) : fed - std::max(first - 1, 0));
      }
      stream.finish();
      long number = 0;
      const auto tree = stream.take(&number);
      ASSERT_EQ(tree != nullptr, whole.connectedBlobs()->numBlobs(false) == 1);
      ASSERT_EQ(stream.rowsHeld(), 0);
      if (tree == nullptr) continue;
      ASSERT_EQ(number, 1);
      ASSERT_EQ(tree->numBlobs(false), 1);
      const kcBlob& b = *tree->getBlob(1);
      const kcBlob& want = *whole.connectedBlobs()->getBlob(1);
      ASSERT_EQ(b.imageBoundingBox(), want.imageBoundingBox());
      for (int m = 0; m < 43; ++m) {  // those that need a boundary are refused on both sides
        const auto answer = [m](const kcBlob& blob) -> std::pair<bool, double> {
          try {
            return {true, blob.measure(static_cast<kcBlob::Measure>(m))};
          } catch (const kcBlob::BadMeasure&) {
            return {false, 0.0};
          }
        };
        const auto got = answer(b), expected = answer(want);
        ASSERT_EQ(got.first, expected.first) << "measure " << m;
        ASSERT_EQ(std::memcmp(&got.second, &expected.second, sizeof got.second), 0) << "measure " << m;
      }
    }
  }
}

// Fed row by row, a tree comes out with the row after its last row once the background around it
// reaches an edge: the dot inside the U waits for the U's inside to open at the bottom. The rows
// held reach back to the first row of the oldest blob still open or waiting.
TEST(BlobStream, BlobStream_rowByRow_treesOutWhenNothingCanTouchThem) {
  const connecttest::Grid picture = connecttest::draw({
      "............",
      ".##.........",
      ".##..#####..",
      ".....#...#..",
      "..#..#.#.#..",
      ".....#...#..",
      ".....#...#..",
      "............"});
  kcBlobStream stream(kcBlobParams(), 12);
  std::vector<std::tuple<long, long, long>> out;  // rows fed, first pel x, y
  std::vector<long> held;
  for (int y = 0; y < picture.height; ++y) {
    stream.feed(rowsOf(picture, y, y + 1));
    held.push_back(stream.rowsHeld());
    while (auto tree = stream.take()) {
      const auto [label, x, top] = keyOf(*tree->firstTop(false));
      out.emplace_back(stream.rowsFed(), x, top);
    }
  }
  const std::vector<std::tuple<long, long, long>> expected = {{4, 1, 1}, {6, 2, 4}, {8, 7, 4}, {8, 5, 2}};
  EXPECT_EQ(out, expected);
  EXPECT_EQ(held, (std::vector<long>{0, 1, 2, 2, 3, 4, 5, 0}));
  // Along the edges: the U's inside reaches the right edge in row 4, which lets the dot out; the U
  // and the bar touch the left edge, so nothing encloses them: each is out with the row after it.
  const connecttest::Grid edges = connecttest::draw({
      "########", "#......#", "#..#...#", "#......#", "#.......", "#.......", "........", "##......", "........"});
  kcBlobStream along(kcBlobParams(), 8);
  out.clear();
  for (int y = 0; y < edges.height; ++y) {
    along.feed(rowsOf(edges, y, y + 1));
    while (auto tree = along.take()) {
      const auto [label, x, top] = keyOf(*tree->firstTop(false));
      out.emplace_back(along.rowsFed(), x, top);
    }
  }
  EXPECT_EQ(out, (std::vector<std::tuple<long, long, long>>{{5, 3, 2}, {7, 0, 0}, {9, 0, 7}}));
  // A row of more blobs than a word of marks holds: each is out with the row after it.
  const connecttest::Grid dots = connecttest::draw({".#.#.#.#.#.#.#.#.#", ".#.#.#.#.#.#.#.#.#", ".................."});
  kcBlobStream many(kcBlobParams(), dots.width);
  std::vector<long> when;
  for (int y = 0; y < dots.height; ++y) {
    many.feed(rowsOf(dots, y, y + 1));
    while (many.take()) when.push_back(many.rowsFed());
  }
  EXPECT_EQ(when, std::vector<long>(9, 3));
}

TEST(BlobStream, BlobStream_unsupportedSettingsAndBadRows_refused) {
  const auto refused = [](auto call) { EXPECT_THROW(call(), kcBlobDefs::BadParams); };
  kcBlobParams percent, morph, plain;
  percent.setSegmentationHardThresh(5L, 5L, 50L, false);
  morph.morph({static_cast<keBlobParamsMorphOp>(0)});
  for (const kcBlobParams* p : {&percent, &morph}) refused([&] { kcBlobStream(*p, 10); });
  refused([&] { kcBlobStream(plain, 0); });
  kcBlobStream stream(plain, 4);
  refused([&] { stream.feed(kcPelBuffer<unsigned char>(5, 2)); });
  refused([&] { stream.feed(kcPelBuffer_const<unsigned char>()); });
  {
    kcAttention::Scope scope;
    scope.requestAbandon();
    kcPelBuffer<unsigned char> rows(4, 40);
    EXPECT_THROW(stream.feed(rows), kcAttention::Abandoned);
  }
  refused([&] { stream.feed(kcPelBuffer<unsigned char>(4, 1)); });
  refused([&] { stream.finish(); });
  kcBlobStream ended(plain, 4);
  ended.finish();
  refused([&] { ended.feed(kcPelBuffer<unsigned char>(4, 1)); });
}

}  // namespace
