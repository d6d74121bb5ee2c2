// Test helpers of the connectivity tests: pel grids drawn as text or made at random, their
// run-length images, one engine run with the invariant check after every row, and blob regions
// decoded to pels.
#pragma once

#include "connect/connect_engine.h"

#include <foundation/pelbuffer.h>
#include <foundation/rlebuffer.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace connecttest {

// Grid: pels [y * width + x].
struct Grid {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pels;
  std::uint8_t at(int x, int y) const { return pels[static_cast<std::size_t>(y * width + x)]; }
};

// draw(rows): '.' is 0, '#' is 1, a digit its value, a letter 10 + its place in the alphabet.
template <class Rows = std::initializer_list<const char*>>
Grid draw(const Rows& rows) {
  Grid g;
  for (const std::string_view row : rows) {
    g.width = static_cast<int>(row.size()), ++g.height;
    for (char c : row)
      g.pels.push_back(static_cast<std::uint8_t>(c == '#' ? 1 : c >= 'a' ? 10 + c - 'a' : c >= '0' ? c - '0' : 0));
  }
  return g;
}

// randomGrid(rng, width, height): a density of non-zero pels and a range of values (binary, a few,
// the full byte) picked per image, as noise or as runs up to 700 pels long; every third image
// rectangles and frames over that (holes, nesting, regions across the whole image).
inline Grid randomGrid(std::mt19937& rng, int width, int height) {
  Grid g{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width * height))};
  const unsigned long range = std::array{1ul, 3ul, 255ul}[rng() % 3], density = 5 + rng() % 91;
  const unsigned long span = rng() % 3 == 0 ? 1 + rng() % 700 : 1;
  const auto value = [&] { return static_cast<std::uint8_t>(1 + rng() % range); };
  for (std::size_t p = 0; p < g.pels.size();) {
    const std::uint8_t v = rng() % 100 < density ? value() : 0;
    for (unsigned long k = 1 + rng() % span; k > 0 && p < g.pels.size(); --k) g.pels[p++] = v;
  }
  const auto below = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  for (int k = rng() % 3 == 0 ? below(40) : 0; k > 0; --k) {
    const int x0 = below(width), y0 = below(height), x1 = x0 + below(width - x0), y1 = y0 + below(height - y0);
    const std::uint8_t v = rng() % 2 ? value() : 0;
    const bool frame = rng() % 2 == 0;
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x)
        if (!frame || y == y0 || y == y1 || x == x0 || x == x1) g.pels[static_cast<std::size_t>(y * width + x)] = v;
  }
  return g;
}

// pels(g, offset), encode(g, offset): the grid as a pel image and as a run-length image.
inline kcPelBuffer<unsigned char> pels(const Grid& g, kcPair<long> offset = {0, 0}) {
  kcPelBuffer<unsigned char> image(g.width, g.height);
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width; ++x) image.pointToRow(y)[x] = g.at(x, y);
  image.offset(offset);
  return image;
}

inline kcRLEBuffer encode(const Grid& g, kcPair<long> offset = {0, 0}) {
  kcRLEBuffer rle;
  rle.encode(pels(g, offset));
  return rle;
}

// BlobView: one blob of an engine run as the tests read it (left and top are image positions).
struct BlobView {
  BlobId id = 0;
  std::uint8_t label = 0;
  std::int32_t pelCount = -1;
  long left = 0, top = 0;
  int width = 0, height = 0;
  BlobId parent = 0, nextSibling = 0, firstChild = 0;
  std::vector<const unsigned char*> rowStarts;  // into the run's store
};

// Output: the blobs of one engine run in id order, the top-level ids, and the store they live in.
struct Output {
  std::vector<BlobView> blobs;
  std::vector<BlobId> topIds;
  std::shared_ptr<kc_BlobStore> store;
};

// viewsOf(store): every blob of a store as BlobViews.
inline std::vector<BlobView> viewsOf(kc_BlobStore& store) {
  std::vector<BlobView> views;
  for (std::size_t i = 0; i < store.size(); ++i) {
    const kc_BlobEntry& e = store.entry(static_cast<BlobId>(i + 1));
    BlobView v{static_cast<BlobId>(i + 1), e.label, e.pelCount, store.origin.x() + e.left,
               store.origin.y() + e.top, e.width, e.height, e.parent, e.nextSibling, e.firstChild, {}};
    const unsigned char* row = store.rows(static_cast<BlobId>(i + 1));
    for (int y = 0; y < e.height; ++y) {
      v.rowStarts.push_back(row);
      while (row[1] != 0) row += 2;
      row += 2;
    }
    views.push_back(std::move(v));
  }
  return views;
}

// run(g, labelled, cleanup, minPels, edgeLists): one engine run with its rows written, checking the
// invariants after every row on small images; edgeLists: keepEdgeNeighbours().
inline Output run(const Grid& g, bool labelled, kc_CleanupKind cleanup = kc_CleanupKind::eNone,
                  PelCount minPels = 0, bool edgeLists = false) {
  const kcRLEBuffer rle = encode(g);
  kc_ConnectWorkspace ws;
  Output out;
  out.store = std::make_shared<kc_BlobStore>();
  std::vector<LabelId> labels;
  kc_ConnectEngine engine(rle, ws, *out.store, labelled, cleanup, minPels);
  if (g.width * g.height <= 4096) engine.rowHook([&engine](RowIndex) { engine.checkInvariants(); });
  if (edgeLists) engine.keepEdgeNeighbours();
  engine.recordLabels(labels);
  engine.scan();
  engine.finish(out.topIds);
  engine.writeRows();
  out.blobs = viewsOf(*out.store);
  return out;
}

// pelsOf(blob): the blob's region as a width x height grid of the values written.
inline Grid pelsOf(const BlobView& b) {
  Grid g{b.width, b.height, {}};
  for (const unsigned char* row : b.rowStarts) {
    for (const unsigned char* r = row; r[1] != 0; r += 2) g.pels.insert(g.pels.end(), r[1], r[0]);
    EXPECT_EQ(g.pels.size() % static_cast<std::size_t>(b.width), 0u) << "a row covers the blob's width";
  }
  return g;
}

// Shorthands for the tree links of blob id.
inline const BlobView& blob(const Output& out, BlobId id) { return out.blobs.at(id - 1); }
inline std::vector<BlobId> childrenOf(const Output& out, BlobId id) {
  std::vector<BlobId> ids;
  for (BlobId c = blob(out, id).firstChild; c != 0 && ids.size() <= out.blobs.size();
       c = blob(out, c).nextSibling)
    ids.push_back(c);
  return ids;
}

}  // namespace connecttest
