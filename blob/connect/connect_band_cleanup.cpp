// The cleanups of grey-scale connectivity in bands, once the bands are joined: the prune and the
// fill as the scan of the whole image applies them when regions close.
#include "connect/connect_engine.h"
#include "connect/connect_records.h"

#include <foundation/assert.h>

#include <algorithm>

void kc_ConnectEngine::pruneJoined(PelCount minPels) {
  KC_ASSERT(scanned_ && !finished_ && !labelled_ && cleanup_ == kc_CleanupKind::eNone && placeholders_ == 0,
            "the prune follows the join of bands scanned without cleanup");
  cleanup_ = kc_CleanupKind::ePrune;
  minPels_ = minPels;
  kc_EntryArray& entries = out_.entries;
  const auto kept = [this](LabelId key) { return ((ws_.bits[key >> 6] >> (key & 63)) & 1) != 0; };
  // unlinkPruned(first): the list from first without its pruned entries; returns the last kept.
  const auto unlinkPruned = [&](std::uint32_t& first) {
    std::uint32_t* link = &first;
    std::uint32_t last = kNone;
    for (std::uint32_t c = first; c != kNone; c = entries[c].nextSibling)
      if (kept(entries[c].key)) {
        *link = c;
        link = &entries[c].nextSibling;
        last = c;
      }
    *link = kNone;
    return last;
  };
  for (std::size_t i = 0; i < entries.size(); ++i) {
    kc_BlobEntry& e = entries[i];
    if (e.firstChild != kNone) unlinkPruned(e.firstChild);
    const PelCount pels = e.pelCount >= 0 ? static_cast<PelCount>(e.pelCount) : e.sumX;
    if (e.firstChild == kNone && isSmall(pels)) {
      drop(static_cast<RetiredIndex>(i));
      ++pruned_;
    }
  }
  for (RegionIndex r = 0; r < slots_; ++r) {
    Region& g = reg(r);
    if (!g.released && g.firstChild != kNone) {
      g.lastChild = unlinkPruned(g.firstChild);
      if (g.firstChild == kNone) g.lastChild = kNone;
    }
  }
}

void kc_ConnectEngine::cleanupInBand(kc_CleanupKind cleanup, PelCount minPels) {
  KC_ASSERT(!scanned_ && !labelled_ && cleanup_ == kc_CleanupKind::eNone, "a grey-scale band cleans up");
  bandCleanup_ = cleanup;
  bandMinPels_ = minPels;
  deferFill_ = cleanup == kc_CleanupKind::eFill;
}

// fillInBand(R, P): the fill of a small region R that the band holds whole, as the whole scan's
// fillRegion: R's children (retired entries, held whole too, so without phantoms) are dropped,
// their pels, sums and extents go to P and their children to P's tail; R merges into P.
void kc_ConnectEngine::fillInBand(RegionIndex r, RegionIndex p) {
  kc_EntryArray& entries = out_.entries;
  for (std::uint32_t c = reg(r).firstChild; c != kNone;) {
    KC_ASSERT((c & kPhantom) == 0, "a region the band holds whole has no phantom children");
    kc_BlobEntry& e = entries[c];
    const kc_FillClose& close = ws_.closes[c];
    Region& g = reg(p);
    g.pelCount += close.pelCount;
    g.sumX += close.sumX;
    g.sumY += close.sumY;
    g.xMin = std::min(g.xMin, e.left);
    g.xEnd = std::max(g.xEnd, e.left + e.width);
    g.yMin = std::min(g.yMin, e.top);
    g.yMax = std::max(g.yMax, e.top + e.height - 1);
    drop(c);
    if (streaming_) {
      appendRuns(ws_.slotRuns[p], ws_.entryRuns[c]);
      ++spent_;
    }
    if (e.firstChild != kNone) {
      if (g.lastChild != kNone) nextChild(g.lastChild) = e.firstChild;
      else g.firstChild = e.firstChild;
      g.lastChild = close.lastChild;
      e.firstChild = kNone;
    }
    c = e.nextSibling;
  }
  reg(r).firstChild = reg(r).lastChild = kNone;
  if (streaming_)  // filled: written with the value of the span on their left
    for (kc_StreamRun& run : ws_.slotRuns[r]) run.filled = true;
  mergeRegions(r, p);
}

// FillSums: a region's pels, sums and extents as fills add to them.
struct kc_ConnectEngine::FillSums {
  PelCount pelCount;
  std::uint64_t sumX, sumY;
  Column xMin, xEnd;
  RowIndex yMin, yMax;
  bool grew;
  void add(const kc_FillClose& c, const kc_BlobEntry& e) {
    pelCount += c.pelCount;
    sumX += c.sumX;
    sumY += c.sumY;
    xMin = std::min(xMin, e.left);
    xEnd = std::max(xEnd, e.left + e.width);
    yMin = std::min(yMin, e.top);
    yMax = std::max(yMax, e.top + e.height - 1);
    grew = true;
  }
  // writeTo(g): the grown count, sums and extent into a region record.
  void writeTo(Region& g) const {
    g.pelCount = pelCount;
    g.sumX = sumX;
    g.sumY = sumY;
    g.xMin = xMin;
    g.xEnd = xEnd;
    g.yMin = yMin;
    g.yMax = yMax;
  }
};

// fillJoined(minPels). The scan of the whole image under the fill keeps every region open and fills
// a small region R when it closes: R's children merge into its encloser P (their children become
// P's, appended at P's tail then) and R merges into P. Nothing else the scan does depends on that:
// no later run touches a closed region or its children (so none meets their labels resolving to
// P), and the only decision that reads pels is the fill's own, when a region closes and its count
// (its children closed before it) is final. So a band fills the regions it holds whole as they
// close (fillInBand) and defers the others: each kept or deferred closed region is an entry, in the
// order of closing (children before their encloser), a deferred one with its phantom in its
// encloser's child list where the fill would have appended. One pass in entry order, then over the open regions, rebuilds each child list as that
// scan leaves it: a filled child leaves, its phantom gives way to the children of its children;
// their pels and sums (as resolved before) join the region's, and a closed region small by the sum
// is filled in turn. The filled and merged entries are dropped, and then leave the store
// (dropFilled), so that the finish walks only the entries the whole scan retires.
void kc_ConnectEngine::fillJoined(PelCount minPels) {
  KC_ASSERT(scanned_ && !finished_ && deferFill_ && cleanup_ == kc_CleanupKind::eNone && placeholders_ == 0 &&
                ws_.closes.size() == out_.entries.size(),
            "the fill follows the join of bands that deferred it");
  cleanup_ = kc_CleanupKind::eFill;
  minPels_ = minPels;
  kc_EntryArray& entries = out_.entries;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    kc_BlobEntry& e = entries[i];
    kc_FillClose& c = ws_.closes[i];
    FillSums sums{c.pelCount, c.sumX, c.sumY, e.left, e.left + e.width, e.top, e.top + e.height - 1, false};
    c.lastChild = resolveChildren(e.firstChild, sums);
    if (isSmall(sums.pelCount)) drop(static_cast<RetiredIndex>(i));
    if (sums.grew) rewriteEntry(static_cast<RetiredIndex>(i), sums);
  }
  for (RegionIndex r = 0; r < slots_; ++r) {
    Region& g = reg(r);
    if (g.released) continue;
    FillSums sums{g.pelCount, g.sumX, g.sumY, g.xMin, g.xEnd, g.yMin, g.yMax, false};
    g.lastChild = resolveChildren(g.firstChild, sums);
    sums.writeTo(g);
  }
  dropFilled();
  deferFill_ = false;
}

// dropFilled(): after the fill of joined bands, the entries it dropped leave the store and the rest
// close up in order, their links and those of the open regions renumbered (ws_.closes holds the
// new places). No kept list names a dropped entry.
void kc_ConnectEngine::dropFilled() {
  kc_EntryArray& entries = out_.entries;
  std::uint32_t kept = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const LabelId key = entries[i].key;
    ws_.closes[i].phantomNext = ((ws_.bits[key >> 6] >> (key & 63)) & 1) != 0 ? kept++ : kNone;
  }
  const auto renumber = [this](std::uint32_t v) { return v == kNone ? kNone : ws_.closes[v].phantomNext; };
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::uint32_t to = ws_.closes[i].phantomNext;
    if (to == kNone) continue;
    kc_BlobEntry& e = entries[to];  // to <= i: nothing still to be read is overwritten
    e = entries[i];
    e.firstChild = renumber(e.firstChild);
    e.nextSibling = renumber(e.nextSibling);
  }
  entries.resize(kept);
  for (RegionIndex r = 0; r < slots_; ++r) {
    Region& g = reg(r);
    if (g.released) continue;
    g.firstChild = renumber(g.firstChild);
    g.lastChild = renumber(g.lastChild);
  }
}

// resolveChildren(first, sums): the child list from first as the fill leaves it (see fillJoined);
// what the filled children bring is added to sums. Returns its last child.
std::uint32_t kc_ConnectEngine::resolveChildren(std::uint32_t& first, FillSums& sums) {
  kc_EntryArray& entries = out_.entries;
  const auto kept = [this](std::uint32_t i) {
    const LabelId key = out_.entries[i].key;
    return ((ws_.bits[key >> 6] >> (key & 63)) & 1) != 0;
  };
  std::uint32_t head = kNone, last = kNone;
  const auto append = [&](std::uint32_t from, std::uint32_t to) {
    if (last == kNone) head = from;
    else entries[last].nextSibling = from;
    last = to;
  };
  for (std::uint32_t v = first; v != kNone;) {
    if ((v & kPhantom) == 0) {
      const std::uint32_t next = entries[v].nextSibling;
      if (kept(v)) append(v, v);
      v = next;
      continue;
    }
    const std::uint32_t c = v & ~kPhantom;
    v = ws_.closes[c].phantomNext;
    if (kept(c)) continue;
    sums.add(ws_.closes[c], entries[c]);
    for (std::uint32_t k = entries[c].firstChild; k != kNone; k = entries[k].nextSibling) {
      sums.add(ws_.closes[k], entries[k]);
      drop(k);
      if (entries[k].firstChild != kNone) append(entries[k].firstChild, ws_.closes[k].lastChild);
    }
  }
  if (last != kNone) entries[last].nextSibling = kNone;
  first = head;
  return last;
}

// rewriteEntry(i, sums): entry i (its sibling link kept) and its pel count and sums beside it as
// retire() makes them of its region grown to sums.
void kc_ConnectEngine::rewriteEntry(RetiredIndex i, const FillSums& sums) {
  kc_BlobEntry& e = out_.entries[i];
  Region g{};
  sums.writeTo(g);
  g.firstLabel = e.key;
  g.serial = e.parent;
  g.firstChild = e.firstChild;
  g.value = e.label;  // the region's value, or 0 / 1 where the label is that (all writeEntry reads)
  const std::uint32_t sibling = e.nextSibling;
  e = kc_BlobEntry{};
  writeEntry(e, g);
  e.nextSibling = sibling;
  kc_FillClose& c = ws_.closes[i];
  c.pelCount = sums.pelCount;
  c.sumX = sums.sumX;
  c.sumY = sums.sumY;
}
