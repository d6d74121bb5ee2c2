// The finishing pass: drops the regions that get no blob, numbers the others in raster order of
// their first pel while writing each blob's rows into the store, and writes the entries' tree
// links and the top-level ids.
#include "connect/connect_engine.h"

#include <foundation/assert.h>

#include <limits>

namespace {

inline unsigned char* putRun(unsigned char* out, unsigned char value, unsigned char length) {
  out[0] = value;
  out[1] = length;
  return out + 2;
}

// putSpan(out, value, length): a span of any length as runs of at most 255 pels.
inline unsigned char* putSpan(unsigned char* out, unsigned char value, std::uint64_t length) {
  for (; length > 255; length -= 255) out = putRun(out, value, 255);
  if (length != 0) out = putRun(out, value, static_cast<unsigned char>(length));
  return out;
}

// roomFor(r): the most bytes the rows of region r can take (see kc_BlobStore).
std::uint64_t roomFor(const kc_ConnectRegion& r) {
  const auto width = static_cast<std::uint64_t>(r.xEnd - r.xMin);
  const auto height = static_cast<std::uint64_t>(r.yMax - r.yMin) + 1;
  return 2 * (height * (width / 255 + 3) + 2 * std::uint64_t{r.runs});
}

// finishRow(bytes, b, width): pads the current row with background to the blob's width and ends it.
// runsOf(length): the two-byte runs a span of that length takes.
inline std::uint64_t runsOf(std::uint64_t length) { return (length + 254) / 255; }

// checkRoom(b, runs): the slot holds runs more two-byte runs. The bound (see kc_BlobStore) makes
// this hold; the check keeps a flaw in it from ever writing outside the slot.
inline void checkRoom(const kc_BlobBuild& b, std::uint64_t runs) {
  KC_ASSERT(b.write + 2 * runs <= b.end, "a blob's rows fit the slot its bound reserved");
}

void finishRow(unsigned char* bytes, kc_BlobBuild& b, Column width) {
  KC_ASSERT(b.cursor != 0, "a row of a blob receives a pel before it is finished");
  KC_ASSERT(b.cursor <= width, "a blob row stays inside the blob's width");
  const auto pad = static_cast<std::uint64_t>(width - b.cursor);
  checkRoom(b, runsOf(pad) + 1);
  unsigned char* out = putSpan(bytes + b.write, 0, pad);
  out = putRun(out, 0, 0);
  b.write = static_cast<std::uint64_t>(out - bytes);
}

}  // namespace

void kc_ConnectEngine::finish(kc_BlobStore& store, std::vector<BlobId>& topIds) {
  KC_ASSERT(scanned_ && rowsScanned_ == height_, "the finishing pass follows the scan");
  store.clear();
  store.origin = offset_;
  topIds.clear();
  if (outside_ != kNone) {
    mergeSmallRegions();
    if (regionCount_ > 1) buildFillTree();
    reg(outside_).deleted = true;  // gets no blob
  }
  if (!labelled_) dropRegions();
  std::size_t topCount = 0;
  std::uint64_t bytes = 0;
  const std::size_t count = countBlobs(topCount, bytes);
  KC_ASSERT(bytes <= std::numeric_limits<std::size_t>::max(), "the run store fits the address space");
  store.entries.resize(count);
  topIds.resize(topCount);
  if (count == 0) return;
  numberAndWrite(store, store.reserveRuns(static_cast<std::size_t>(bytes)));
  writeLinks(store, topIds);
}

// dropRegions(): grey-scale background that nothing encloses (it touches the border) gets no
// blob; the foreground regions it enclosed become top level.
void kc_ConnectEngine::dropRegions() {
  for (RegionIndex r = regionList_; r != kNone; r = reg(r).next) {
    Region& g = reg(r);
    if (g.value != 0 || g.parent != kNone) continue;
    g.deleted = true;
    for (RegionIndex c = g.firstChild; c != kNone; c = reg(c).nextSibling) {
      KC_ASSERT(reg(c).value != 0, "a child of an unenclosed background region is foreground");
      reg(c).parent = kNone;
    }
  }
}

// countBlobs(top, bytes): regions that get a blob, how many of them are top level, and the run
// store bytes they need. A small top-level region without children is dropped when a cleanup is
// asked for: nothing enclosed it, so neither pruning nor filling reached it.
std::size_t kc_ConnectEngine::countBlobs(std::size_t& topCount, std::uint64_t& bytes) {
  std::size_t count = 0;
  topCount = 0;
  bytes = 0;
  for (RegionIndex r = regionList_; r != kNone; r = reg(r).next) {
    Region& g = reg(r);
    if (g.deleted) continue;
    if (g.parent == kNone) {
      if (isSmall(g) && g.firstChild == kNone) {
        g.deleted = true;
        continue;
      }
      ++topCount;
    }
    ++count;
    bytes += roomFor(g);
  }
  return count;
}

// numberAndWrite(store, bytes): the second pass over the rows. Each row's labels are replayed (the
// labels of a labelled scan are simply the runs in order), then its runs are written: a region's
// first run met gives it the next id, its entry and its slot in the run store; each run goes to
// its column relative to the blob, after a background gap.
void kc_ConnectEngine::numberAndWrite(kc_BlobStore& store, unsigned char* bytes) {
  ws_.builds.resize(store.entries.size());
  storeUsed_ = 0;
  std::vector<kc_ScanRun>* above = &ws_.rowA;
  std::vector<kc_ScanRun>* current = &ws_.rowB;
  LabelId next = outside_ != kNone ? 1 : 0;  // the outside took label 0
  BlobId nextId = 1;
  for (RowIndex y = 0; y < height_; ++y) {
    if (y % 16 == 15) attentionCheck();
    const std::size_t n = readRow(y, *current);
    if (labelled_) {
      for (std::size_t i = 0; i < n; ++i) (*current)[i].label = next++;
    } else {
      replayGreyRow(current->data(), n, y == 0 ? nullptr : above->data(), next);
    }
    writeRow(store, bytes, current->data(), n, y, nextId);
    std::swap(above, current);
  }
  KC_ASSERT(next == ws_.up.size(), "the replay gives out every label of the scan");
  KC_ASSERT(nextId == store.entries.size() + 1, "every counted region was numbered");
  for (std::size_t i = 0; i < store.entries.size(); ++i) {
    KC_ASSERT(ws_.builds[i].row == store.entries[i].height - 1, "a blob's last row is its height");
    finishRow(bytes, ws_.builds[i], store.entries[i].width);
  }
}

// writeRow(store, bytes, row, n, y, nextId): the runs of one row written into their blobs. In
// grey-scale, filled runs following a run are absorbed into its span and take its value, as does
// a run of that value right after a filled one.
void kc_ConnectEngine::writeRow(kc_BlobStore& store, unsigned char* bytes, const kc_ScanRun* row,
                                std::size_t n, RowIndex y, BlobId& nextId) {
  for (std::size_t i = 0; i < n;) {
    const kc_ScanRun& run = row[i];
    const RegionIndex r = regionOf(run.label);
    if (r == kPrunedRegion || reg(r).deleted) {
      ++i;
      continue;
    }
    KC_ASSERT(!fillChains_ || ws_.filled[run.label] == 0, "a filled run is absorbed by the run left of it");
    Region& g = reg(r);
    if (g.id == 0) startBlob(store, g, nextId);
    kc_BlobBuild& b = ws_.builds[g.id - 1];
    const kc_BlobEntry& e = store.entries[g.id - 1];
    const Column relX = run.x - g.xMin;
    const RowIndex relY = y - g.yMin;
    KC_ASSERT(relX >= 0 && relY >= 0, "a run lies inside its region's extents");
    if (relY != b.row) {
      KC_ASSERT(relY == b.row + 1, "the rows of a region are consecutive");
      finishRow(bytes, b, e.width);
      b.cursor = 0;
      b.row = relY;
    }
    std::uint64_t span = static_cast<std::uint64_t>(run.xe - run.x);
    ++i;
    if (fillChains_) span += absorbFilled(row, n, i, r, run.value);
    KC_ASSERT(relX >= b.cursor && static_cast<std::uint64_t>(relX) + span <= static_cast<std::uint64_t>(e.width),
              "the spans of a blob row come left to right inside its width");
    const unsigned char v = labelled_ ? 1 : (run.value != 0 ? run.value : 1);
    const auto gap = static_cast<std::uint64_t>(relX - b.cursor);
    checkRoom(b, runsOf(gap) + runsOf(span));
    unsigned char* out = putSpan(bytes + b.write, 0, gap);
    out = putSpan(out, v, span);
    b.write = static_cast<std::uint64_t>(out - bytes);
    b.cursor = relX + static_cast<Column>(span);
  }
}

// startBlob(store, g, nextId): region g's first run was met: it gets the next id, its entry's
// extents and the next slot of the run store.
void kc_ConnectEngine::startBlob(kc_BlobStore& store, Region& g, BlobId& nextId) {
  KC_ASSERT(nextId <= store.entries.size(), "every numbered region was counted");
  g.id = nextId++;
  kc_BlobEntry& e = store.entries[g.id - 1];
  e = kc_BlobEntry{};
  e.runs = storeUsed_;
  e.left = g.xMin;
  e.top = g.yMin;
  e.width = g.xEnd - g.xMin;
  e.height = g.yMax - g.yMin + 1;
  storeUsed_ += roomFor(g);
  ws_.builds[g.id - 1] = kc_BlobBuild{e.runs, storeUsed_, 0, 0};
}

// absorbFilled(row, n, i, r, value): the pels of the filled runs from row[i] on, each with a
// following run of value; i moves past them.
std::uint64_t kc_ConnectEngine::absorbFilled(const kc_ScanRun* row, std::size_t n, std::size_t& i,
                                            RegionIndex r, std::uint8_t value) {
  std::uint64_t span = 0;
  while (i < n && ws_.filled[row[i].label] != 0) {
    KC_ASSERT(regionOf(row[i].label) == r, "a filled run belongs to the region left of it");
    span += static_cast<std::uint64_t>(row[i].xe - row[i].x);
    ++i;
    if (i < n && row[i].value == value) {
      KC_ASSERT(regionOf(row[i].label) == r, "a run after a filled one belongs to its region");
      span += static_cast<std::uint64_t>(row[i].xe - row[i].x);
      ++i;
    }
  }
  return span;
}

// writeLinks(store, topIds): walks the region list from its head: top-level blobs in that order,
// each region's children in child-list order; labels and pel counts.
void kc_ConnectEngine::writeLinks(kc_BlobStore& store, std::vector<BlobId>& topIds) {
  const bool weighted = !binary_ && !labelled_;
  std::size_t top = 0;
  for (RegionIndex r = regionList_; r != kNone; r = reg(r).next) {
    const Region& g = reg(r);
    if (g.id == 0) continue;
    kc_BlobEntry& b = store.entries[g.id - 1];
    const bool fitsEntry = g.pelCount <= static_cast<PelCount>(std::numeric_limits<std::int32_t>::max());
    if (weighted) {
      b.label = g.value == 0 ? 0 : 1;
      b.pelCount = g.value == 0 && fitsEntry ? static_cast<std::int32_t>(g.pelCount) : -1;
    } else {
      b.label = g.value;
      b.pelCount = fitsEntry ? static_cast<std::int32_t>(g.pelCount) : -1;
    }
    if (g.parent == kNone) {
      KC_ASSERT(top < topIds.size(), "every top-level region was counted");
      if (top != 0) {
        const BlobId p = topIds[top - 1];
        store.entries[p - 1].nextSibling = g.id;
        b.prevSibling = p;
      }
      topIds[top++] = g.id;
    }
    BlobId previous = 0;
    for (RegionIndex c = g.firstChild; c != kNone; c = reg(c).nextSibling) {
      const BlobId cid = reg(c).id;
      if (cid == 0) continue;
      kc_BlobEntry& cb = store.entries[cid - 1];
      cb.parent = g.id;
      cb.prevSibling = previous;
      cb.nextSibling = 0;
      if (previous != 0) store.entries[previous - 1].nextSibling = cid;
      else b.firstChild = cid;
      ++b.numChildren;
      previous = cid;
    }
  }
  KC_ASSERT(top == topIds.size(), "every top-level region was listed");
}
