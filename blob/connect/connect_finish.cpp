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

void finishRow(unsigned char* bytes, kc_BlobBuild& b) {
  KC_ASSERT(b.cursor != 0, "a row of a blob receives a pel before it is finished");
  KC_ASSERT(b.cursor <= b.width, "a blob row stays inside the blob's width");
  const auto pad = static_cast<std::uint64_t>(b.width - b.cursor);
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
  std::size_t topCount = 0;
  std::uint64_t bytes = 0;
  const std::size_t count = countBlobs(topCount, bytes);
  KC_ASSERT(bytes <= std::numeric_limits<std::size_t>::max(), "the run store fits the address space");
  store.entries.reserve(count);
  ws_.builds.clear();
  ws_.builds.reserve(count);
  topIds.resize(topCount);
  if (count == 0) return;
  numberAndWrite(store, store.reserveRuns(static_cast<std::size_t>(bytes)));
  KC_ASSERT(store.entries.size() == count, "every counted region was numbered");
  writeLinks(store, topIds);
}

// countBlobs(top, bytes): regions that get a blob (the others are marked deleted), how many of them
// are top level, and the run store bytes they need, in one walk of the region list. Grey-scale
// background that nothing encloses (it touches the border) gets no blob, and the foreground
// regions it enclosed become top level. A small top-level region without children is dropped when
// a cleanup is asked for: nothing enclosed it, so neither pruning nor filling reached it.
std::size_t kc_ConnectEngine::countBlobs(std::size_t& topCount, std::uint64_t& bytes) {
  std::size_t count = 0;
  topCount = 0;
  bytes = 0;
  // A small top-level region is dropped (false) or counted as top level.
  const auto keepTop = [&](Region& g) {
    if (isSmall(g) && g.firstChild == kNone) {
      g.deleted = true;
      return false;
    }
    ++topCount;
    return true;
  };
  for (RegionIndex r = firstInList(); r != kNone; r = nextInList(r)) {
    Region& g = reg(r);
    ws_.blobIds[r] = 0;
    if (g.deleted) continue;
    if (!labelled_ && g.value == 0 && g.parent == kNone) {
      g.deleted = true;
      // The regions it enclosed become top level; those the walk passed already (the list holds
      // the newest records first) are counted again here.
      for (RegionIndex c = g.firstChild; c != kNone; c = ws_.siblings[c]) {
        Region& child = reg(c);
        KC_ASSERT(child.value != 0, "a child of an unenclosed background region is foreground");
        child.parent = kNone;
        const bool passed = c > r;  // grey-scale: the list runs from the last slot down
        if (passed && !keepTop(child)) {
          --count;
          bytes -= roomFor(child);
        }
      }
      continue;
    }
    if (g.parent == kNone && !keepTop(g)) continue;
    ++count;
    bytes += roomFor(g);
  }
  return count;
}

// numberAndWrite(store, bytes): the second pass over the rows. Each row's runs get their blob: a run
// inherits it where the scan gave it an existing label (from the run left of it or above it), and a
// label new in the scan is looked up once; the runs of a labelled scan all have new labels. A
// region's first pel in raster order always starts a new label, so the lookup numbers the regions
// in that order. Then each run is written at its column relative to its blob, after a background
// gap.
void kc_ConnectEngine::numberAndWrite(kc_BlobStore& store, unsigned char* bytes) {
  storeUsed_ = 0;
  std::vector<kc_ScanRun>* above = &ws_.rowA;
  std::vector<kc_ScanRun>* current = &ws_.rowB;
  LabelId next = outside_ != kNone ? 1 : 0;  // the outside took label 0
  for (RowIndex y = 0; y < height_; ++y) {
    if (y % 16 == 15) attentionCheck();
    const std::size_t n = readRow(y, *current);
    kc_ScanRun* row = current->data();
    if (labelled_) {
      for (std::size_t i = 0; i < n; ++i) buildOfNewLabel(store, row[i], next++);
    } else {
      replayGreyRow(store, row, n, y == 0 ? nullptr : above->data(), next);
    }
    writeRow(bytes, row, n, y);
    std::swap(above, current);
  }
  KC_ASSERT(next == ws_.up.size(), "the replay gives out every label of the scan");
  for (kc_BlobBuild& b : ws_.builds) {
    KC_ASSERT(b.row == reg(b.region).yMax - b.yMin, "a blob's last row is its height");
    finishRow(bytes, b);
  }
}

// buildOfNewLabel(store, run, label): the run's blob is the one its label's region gets (kNone for
// a pruned or dropped region), started here when this is the region's first run; the fill mark is
// the label's own.
void kc_ConnectEngine::buildOfNewLabel(kc_BlobStore& store, kc_ScanRun& run, LabelId label) {
  run.filled = fillChains_ && ws_.filled[label] != 0;
  const RegionIndex r = regionOf(label);
  if (r == kPrunedRegion || reg(r).deleted) {
    run.label = kNone;
    return;
  }
  if (ws_.blobIds[r] == 0) startBlob(store, r);
  run.label = ws_.blobIds[r] - 1;
}

// writeRow(bytes, row, n, y): the runs of one row written into their blobs. In
// grey-scale, filled runs following a run are absorbed into its span and take its value, as does
// a run of that value right after a filled one.
void kc_ConnectEngine::writeRow(unsigned char* bytes, const kc_ScanRun* row, std::size_t n, RowIndex y) {
  for (std::size_t i = 0; i < n;) {
    const kc_ScanRun& run = row[i];
    if (run.label == kNone) {
      ++i;
      continue;
    }
    KC_ASSERT(!run.filled, "a filled run is absorbed by the run left of it");
    kc_BlobBuild& b = ws_.builds[run.label];
    const Column relX = run.x - b.xMin;
    const RowIndex relY = y - b.yMin;
    KC_ASSERT(relX >= 0 && relY >= 0, "a run lies inside its region's extents");
    if (relY != b.row) {
      KC_ASSERT(relY == b.row + 1, "the rows of a region are consecutive");
      finishRow(bytes, b);
      b.cursor = 0;
      b.row = relY;
    }
    std::uint64_t span = static_cast<std::uint64_t>(run.xe - run.x);
    ++i;
    if (fillChains_) span += absorbFilled(row, n, i, run.label, run.value);
    KC_ASSERT(relX >= b.cursor && static_cast<std::uint64_t>(relX) + span <= static_cast<std::uint64_t>(b.width),
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

// startBlob(store, r): the first run of region r was met: it gets the next id, its entry (extents,
// label, pel count), its kc_BlobBuild and the next slot of the run store.
void kc_ConnectEngine::startBlob(kc_BlobStore& store, RegionIndex r) {
  Region& g = reg(r);
  KC_ASSERT(ws_.builds.size() < ws_.builds.capacity(), "every numbered region was counted");
  const auto id = static_cast<BlobId>(ws_.builds.size() + 1);
  ws_.blobIds[r] = id;
  kc_BlobEntry e;  // links 0
  e.runs = storeUsed_;
  e.left = g.xMin;
  e.top = g.yMin;
  e.width = g.xEnd - g.xMin;
  e.height = g.yMax - g.yMin + 1;
  // Labels: in grey-scale connectivity of an image that is not binary, holes are 0 and blobs 1
  // (whose pel count the measures learn as a weighted sum); otherwise the region's value.
  const bool fitsEntry = g.pelCount <= static_cast<PelCount>(std::numeric_limits<std::int32_t>::max());
  const bool weighted = !binary_ && !labelled_;
  e.label = weighted ? (g.value == 0 ? 0 : 1) : g.value;
  e.pelCount = fitsEntry && !(weighted && g.value != 0) ? static_cast<std::int32_t>(g.pelCount) : -1;
  store.entries.push_back(e);  // ids come in order: entry id - 1
  const std::uint64_t start = storeUsed_;
  storeUsed_ += roomFor(g);
  ws_.builds.push_back(kc_BlobBuild{start, storeUsed_, g.xMin, g.yMin, e.width, 0, 0, r});
}

// absorbFilled(row, n, i, blob, value): the pels of the filled runs from row[i] on, each with a
// following run of value; i moves past them.
std::uint64_t kc_ConnectEngine::absorbFilled(const kc_ScanRun* row, std::size_t n, std::size_t& i,
                                            std::uint32_t blob, std::uint8_t value) {
  std::uint64_t span = 0;
  while (i < n && row[i].filled) {
    KC_ASSERT(row[i].label == blob, "a filled run belongs to the region left of it");
    span += static_cast<std::uint64_t>(row[i].xe - row[i].x);
    ++i;
    if (i < n && row[i].value == value) {
      KC_ASSERT(row[i].label == blob, "a run after a filled one belongs to its region");
      span += static_cast<std::uint64_t>(row[i].xe - row[i].x);
      ++i;
    }
  }
  return span;
}

// writeLinks(store, topIds): walks the region list from its head: top-level blobs in that order,
// each region's children in child-list order.
void kc_ConnectEngine::writeLinks(kc_BlobStore& store, std::vector<BlobId>& topIds) {
  std::size_t top = 0;
  for (RegionIndex r = firstInList(); r != kNone; r = nextInList(r)) {
    const Region& g = reg(r);
    const BlobId id = ws_.blobIds[r];
    if (id == 0) continue;
    kc_BlobEntry& b = store.entries[id - 1];
    if (g.parent == kNone) {
      KC_ASSERT(top < topIds.size(), "every top-level region was counted");
      if (top != 0) {
        const BlobId p = topIds[top - 1];
        store.entries[p - 1].nextSibling = id;
        b.prevSibling = p;
      }
      topIds[top++] = id;
    }
    BlobId previous = 0;
    for (RegionIndex c = g.firstChild; c != kNone; c = ws_.siblings[c]) {
      const BlobId cid = ws_.blobIds[c];
      if (cid == 0) continue;
      kc_BlobEntry& cb = store.entries[cid - 1];
      cb.parent = id;
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
