// The finishing pass: drops the regions that get no blob, numbers the others in raster order of
// their first pel, builds each blob's rows in chunks, and writes the tree links and top-level ids.
#include "connect/connect_engine.h"

#include <foundation/assert.h>

#include <cstring>
#include <limits>
#include <utility>

namespace {

// Where a blob's rows are being written: the current chunk's next byte and free room, in two-byte
// runs. A row needs at most width + 1 runs, so a new chunk is taken only at a row boundary.
struct BlobBuild {
  unsigned char* write = nullptr;
  std::size_t roomLeft = 0;
  std::size_t rowRuns = 0;
  std::size_t chunkRuns = 0;
  Column cursor = 0;
  RowIndex currentRow = 0;
};

inline void putRun(BlobBuild& b, unsigned char value, unsigned char length) {
  b.write[0] = value;
  b.write[1] = length;
  b.write += 2;
  ++b.rowRuns;
}

// putSpan(b, value, length): a span of any length as runs of at most 255 pels.
inline void putSpan(BlobBuild& b, unsigned char value, std::uint64_t length) {
  for (; length > 255; length -= 255) putRun(b, value, 255);
  if (length != 0) putRun(b, value, static_cast<unsigned char>(length));
}

// newChunk(out, b): the first chunk, or a further one, which moves the first into chunks.
void newChunk(kc_BlobOutput& out, BlobBuild& b) {
  std::vector<unsigned char>* chunk = &out.firstChunk;
  if (!out.chunks.empty() || !out.firstChunk.empty()) {
    if (out.chunks.empty()) out.chunks.push_back(std::move(out.firstChunk));
    chunk = &out.chunks.emplace_back();  // moving chunks keeps their storage, so rows stay valid
  }
  chunk->resize(2 * b.chunkRuns);
  b.write = chunk->data();
  b.roomLeft = b.chunkRuns;
}

// finishRow(out, b): pads the row with background to the blob's width and ends it.
void finishRow(const kc_BlobOutput& out, BlobBuild& b) {
  KC_ASSERT(b.rowRuns != 0, "a row of a blob receives a pel before it is finished");
  KC_ASSERT(b.cursor <= out.width, "a blob row stays inside the blob's width");
  putSpan(b, 0, static_cast<std::uint64_t>(out.width - b.cursor));
  putRun(b, 0, 0);
  KC_ASSERT(b.rowRuns <= b.roomLeft, "a blob row fits the room left in its chunk");
  b.roomLeft -= b.rowRuns;
  b.rowRuns = 0;
}

// startBlob(r, o, b): the blob's size, its row table and its first chunk of height + 8 x width
// runs.
void startBlob(const kc_ConnectRegion& r, kc_BlobOutput& o, BlobBuild& b) {
  o.width = r.xEnd - r.xMin;
  o.height = r.yMax - r.yMin + 1;
  b.chunkRuns = static_cast<std::size_t>(o.height) + 8 * static_cast<std::size_t>(o.width);
  o.rowStarts.resize(static_cast<std::size_t>(o.height));
  newChunk(o, b);
  o.rowStarts[0] = b.write;
}

// moveToRow(o, b, relY): finishes the current row and starts the next, in a new chunk when the
// current one might not hold it.
void moveToRow(kc_BlobOutput& o, BlobBuild& b, RowIndex relY) {
  KC_ASSERT(relY == b.currentRow + 1, "the rows of a region are consecutive");
  finishRow(o, b);
  if (b.roomLeft < static_cast<std::size_t>(o.width) + 1) newChunk(o, b);
  b.cursor = 0;
  b.currentRow = relY;
  o.rowStarts[static_cast<std::size_t>(relY)] = b.write;
}

// absorbFilled(run, r, value): the pels of the filled runs from run on, each with a following run
// of value; run moves past them.
std::uint64_t absorbFilled(const kc_AugmentedRun*& run, kc_ConnectRegion* r, std::uint8_t value) {
  std::uint64_t span = 0;
  while (run->length != 0 && run->link != nullptr && run->link->filled != 0) {
    KC_ASSERT(regionOf(run->link) == r, "a filled run belongs to the region left of it");
    span += run->length;
    ++run;
    if (run->length != 0 && run->value == value) {
      KC_ASSERT(regionOf(run->link) == r, "a run after a filled one belongs to its region");
      span += run->length;
      ++run;
    }
  }
  return span;
}

// writeSpan(o, b, relX, v, span): a background gap up to relX, then span pels of value v.
void writeSpan(const kc_BlobOutput& o, BlobBuild& b, Column relX, unsigned char v, std::uint64_t span) {
  KC_ASSERT(relX >= b.cursor, "the runs of a blob row come left to right");
  KC_ASSERT(static_cast<std::uint64_t>(relX) + span <= static_cast<std::uint64_t>(o.width),
            "a span stays inside the blob's width");
  putSpan(b, 0, static_cast<std::uint64_t>(relX - b.cursor));
  putSpan(b, v, span);
  b.cursor = relX + static_cast<Column>(span);
}

}  // namespace

kc_ConnectOutput kc_ConnectEngine::finish() {
  KC_ASSERT(scanned_ && rowsScanned_ == image_.height(), "the finishing pass follows the scan");
  if (outside_ != nullptr) {
    mergeSmallRegions();
    if (regionCount_ > 1) buildFillTree();
    outside_->deleted = true;  // gets no blob; its record and list go with the pools
  }
  if (!labelled_) dropRegions();
  std::size_t topCount = 0;
  const std::size_t count = countBlobs(topCount);
  kc_ConnectOutput out;
  out.blobs.resize(count);
  out.topIds.resize(topCount);
  if (count == 0) return out;
  numberAndBuild(out);
  writeLinks(out);
  return out;
}

// dropRegions(): grey-scale background that nothing encloses (it touches the border) gets no
// blob; the foreground regions it enclosed become top level.
void kc_ConnectEngine::dropRegions() {
  for (kc_ConnectRegion* r = regionList_; r != nullptr; r = r->nextRegion) {
    if (r->value != 0 || r->parent != nullptr) continue;
    r->deleted = true;
    for (kc_ConnectRegion* c = r->firstChild; c != nullptr; c = c->nextSibling) {
      KC_ASSERT(c->value != 0, "a child of an unenclosed background region is foreground");
      c->parent = nullptr;
    }
  }
}

// countBlobs(top): regions that get a blob, and how many of them are top level. A small top-level
// region without children is dropped when a cleanup is asked for: nothing enclosed it, so neither
// pruning nor filling reached it.
std::size_t kc_ConnectEngine::countBlobs(std::size_t& topCount) {
  std::size_t count = 0;
  topCount = 0;
  for (kc_ConnectRegion* r = regionList_; r != nullptr; r = r->nextRegion) {
    if (r->deleted) continue;
    if (r->parent != nullptr) {
      ++count;
    } else if (isSmall(r) && r->firstChild == nullptr) {
      r->deleted = true;
    } else {
      ++count;
      ++topCount;
    }
  }
  return count;
}

// numberAndBuild(out): one raster pass over the runs. A region's first run met gives it the next
// id and its first chunk; each run is written at its column relative to the blob, after a
// background gap. In grey-scale, filled runs following a run are absorbed into its span and take
// its value, as does a run of that value right after a filled one.
void kc_ConnectEngine::numberAndBuild(kc_ConnectOutput& out) {
  std::vector<BlobBuild> builds(out.blobs.size());
  BlobId nextId = 1;
  for (RowIndex y = 0; y < image_.height(); ++y) {
    if (y % 16 == 15) attentionCheck();
    Column x = 0;
    for (const kc_AugmentedRun* run = image_.row(y); run->length != 0;) {
      kc_ConnectRegion* r = run->link != nullptr ? regionOf(run->link) : nullptr;
      if (r == nullptr || r->deleted) {
        x += static_cast<Column>(run->length);
        ++run;
        continue;
      }
      KC_ASSERT(run->link->filled == 0, "a filled run is absorbed by the run left of it");
      if (r->id == 0) {
        KC_ASSERT(nextId <= out.blobs.size(), "every numbered region was counted");
        r->id = nextId++;
        startBlob(*r, out.blobs[r->id - 1], builds[r->id - 1]);
      }
      kc_BlobOutput& o = out.blobs[r->id - 1];
      BlobBuild& b = builds[r->id - 1];
      const Column relX = x - r->xMin;
      const RowIndex relY = y - r->yMin;
      KC_ASSERT(relX >= 0 && relY >= 0, "a run lies inside its region's extents");
      if (relY != b.currentRow) moveToRow(o, b, relY);
      const std::uint8_t value = run->value;
      const unsigned char v = labelled_ ? 1 : (value != 0 ? value : 1);
      std::uint64_t span = run->length;
      ++run;
      if (!labelled_) span += absorbFilled(run, r, value);
      writeSpan(o, b, relX, v, span);
      x += static_cast<Column>(span);
    }
  }
  KC_ASSERT(nextId == out.blobs.size() + 1, "every counted region was numbered");
  for (std::size_t i = 0; i < builds.size(); ++i) {
    KC_ASSERT(builds[i].currentRow == out.blobs[i].height - 1, "a blob's last row is its height");
    finishRow(out.blobs[i], builds[i]);
  }
}

// writeLinks(out): walks the region list from its head: top-level blobs in that order, each
// region's children in child-list order.
void kc_ConnectEngine::writeLinks(kc_ConnectOutput& out) {
  const bool weighted = !image_.isBinary() && !labelled_;
  const kcPair<long> offset = image_.offset();
  std::size_t top = 0;
  for (kc_ConnectRegion* r = regionList_; r != nullptr; r = r->nextRegion) {
    if (r->id == 0) continue;
    kc_BlobOutput& b = out.blobs[r->id - 1];
    b.id = r->id;
    const bool fitsRecord = r->pelCount <= static_cast<PelCount>(std::numeric_limits<std::int32_t>::max());
    if (weighted) {
      b.label = r->value == 0 ? 0 : 1;
      b.pelCount = r->value == 0 && fitsRecord ? static_cast<std::int32_t>(r->pelCount) : -1;
    } else {
      b.label = r->value;
      b.pelCount = fitsRecord ? static_cast<std::int32_t>(r->pelCount) : -1;
    }
    b.left = r->xMin + offset.first;
    b.top = r->yMin + offset.second;
    if (r->parent == nullptr) {
      KC_ASSERT(top < out.topIds.size(), "every top-level region was counted");
      if (top != 0) {
        const BlobId p = out.topIds[top - 1];
        out.blobs[p - 1].nextSibling = r->id;
        b.prevSibling = p;
      }
      out.topIds[top++] = r->id;
    }
    BlobId previous = 0;
    for (kc_ConnectRegion* c = r->firstChild; c != nullptr; c = c->nextSibling) {
      if (c->id == 0) continue;
      kc_BlobOutput& cb = out.blobs[c->id - 1];
      cb.parent = r->id;
      cb.prevSibling = previous;
      cb.nextSibling = 0;
      if (previous != 0) out.blobs[previous - 1].nextSibling = c->id;
      else b.firstChild = c->id;
      ++b.numChildren;
      previous = c->id;
    }
  }
  KC_ASSERT(top == out.topIds.size(), "every top-level region was listed");
}
