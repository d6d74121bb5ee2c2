// The record operations of the connectivity scans that run for nearly every run: labels, new
// regions, freed slots, closing with its cleanup and retirement. Inline so that the scans'
// loops call none of them; included by the engine's sources only.
#pragma once

#include "connect/connect_engine.h"

#include <foundation/assert.h>

#include <limits>
#include <utility>

inline LabelId kc_ConnectEngine::newLabel(RegionIndex r) {
  const auto label = static_cast<LabelId>(ws_.up.size());
  ws_.up.push_back(kRootFlag | r);
  if ((label & 63) == 0) ws_.bits.push_back(0);
  if (fillChains_) {
    ws_.nextLabel.push_back(kNone);
    ws_.filled.push_back(0);
  }
  return label;
}

template <bool kPlain>
inline RegionIndex kc_ConnectEngine::newRegion(std::uint8_t value, Column x, RowIndex y, Column n) {
  RegionIndex r;
  if (!ws_.freeSlots.empty()) [[likely]] {
    r = ws_.freeSlots.back();
    ws_.freeSlots.pop_back();
  } else {
    r = newSlot();
  }
  const LabelId label = newLabel(r);
  const auto pels = static_cast<std::uint64_t>(n);
  const auto first = static_cast<std::uint64_t>(x);
  ws_.regions[r] = Region{pels,  pels * first + pels * (pels - 1) / 2,
                          pels * static_cast<std::uint64_t>(y), x, x + n, y, y, label, label, serial_++,
                          kNone, kNone, value, false, false, false};
  if constexpr (!kPlain) {
    if (!retireOnClose_) ws_.siblings[r] = kNone;
    if (labelled_) ws_.labelled[r] = kc_LabelledRegion{};
    if (fillChains_) ws_.chainHead[r] = ws_.chainTail[r] = label;
  }
  ++regionCount_;
  return r;
}

// kf_ReadRuns(src, first): the maximal runs of one row of two-byte runs (adjacent runs of one value
// joined) from first on; their number.
inline std::size_t kf_ReadRuns(const unsigned char* src, kc_ScanRun* first) {
  kc_ScanRun* last = first - 1;  // the run being joined
  Column x = 0;
  for (; src[1] != 0; src += 2) {
    const Column xe = x + src[1];
    if (last >= first && last->value == src[0]) last->xe = xe;
    else *++last = kc_ScanRun{x, xe, kNone, src[0]};
    x = xe;
  }
  return static_cast<std::size_t>(last + 1 - first);
}

// keepRun(r, run, y): see connect_engine.h.
[[gnu::always_inline]] inline void kc_ConnectEngine::keepRun(RegionIndex r, const kc_ScanRun& run, RowIndex y) {
  if (reachesEdge(reg(r))) return;
  std::vector<kc_StreamRun>& runs = ws_.slotRuns[r];
  if (runs.capacity() == 0 && !ws_.spareRuns.empty()) {
    runs.swap(ws_.spareRuns.back());
    ws_.spareRuns.pop_back();
  }
  runs.push_back(kc_StreamRun{y, run.x, run.xe, run.value, false});
}

// freeSlot(r): the slot holds no region any more and is reused by the next new region. Its labels
// stay: runs still point at them, and they resolve to wherever r's pels went.
inline void kc_ConnectEngine::freeSlot(RegionIndex r) {
  reg(r).released = true;
  --regionCount_;
  ws_.freeSlots.push_back(r);
}

// adoptChild(P, R): R is closed and goes to the front of P's child list; it retires at once unless
// the fill cleanup may still absorb it. Without a cleanup, a region enclosed by background that
// reaches the left, right or top edge (which nothing can enclose) is top level for sure: it goes
// to the top-level list (ws_.order) instead, so that the finishing pass need not walk that
// background's list, which holds most regions of a noisy image.
template <bool kPlain>
inline void kc_ConnectEngine::adoptChild(RegionIndex parent, RegionIndex child) {
  reg(child).closed = true;
  if ((kPlain || plain()) && reachesEdge(reg(parent))) {
    const std::uint32_t serial = reg(child).serial;
    if (serial < placeholders_) seamTops_.push_back(ws_.order.size());
    ws_.order.push_back(std::uint64_t{serial} << 32 | retire<kPlain>(child));
    return;
  }
  const std::uint32_t ref = kPlain || retireOnClose_ ? retire<kPlain>(child) : child;
  Region& p = reg(parent);
  nextChild(ref) = p.firstChild;
  p.firstChild = ref;
  if (p.lastChild == kNone) p.lastChild = ref;
}

// closeRegion(R, P): R is enclosed for good by P. It becomes P's child unless the cleanup
// removes it: a small childless region is pruned, a small region is filled.
template <bool kPlain>
inline void kc_ConnectEngine::closeRegion(RegionIndex r, RegionIndex p) {
  KC_ASSERT(isOpen(r) && isOpen(p) && r != p, "a pending region is enclosed by another");
  const Region& g = reg(r);
  KC_ASSERT(!g.closed, "a region is enclosed once");
  if constexpr (kPlain) {
    adoptChild<true>(p, r);
    return;
  }
  if (bandCleanup_ != kc_CleanupKind::eNone && g.firstLabel >= placeholders_) {  // the band's own
    if (g.pelCount >= bandMinPels_ || (bandCleanup_ == kc_CleanupKind::ePrune && g.firstChild != kNone)) adoptChild(p, r);
    else if (bandCleanup_ == kc_CleanupKind::ePrune) pruneRegion(r);
    else fillInBand(r, p);
    return;
  }
  const bool keep = cleanup_ == kc_CleanupKind::eNone || !isSmall(g.pelCount) ||
                    (cleanup_ == kc_CleanupKind::ePrune && g.firstChild != kNone);
  if (keep) {
    adoptChild(p, r);
    if (deferFill_) addPhantom(p);
  } else if (cleanup_ == kc_CleanupKind::ePrune) pruneRegion(r);
  else fillRegion(r, p);
}

// addPhantom(P): after adoptChild(P, R) of a band that defers the fill: R's phantom goes to the end
// of P's child list, where the fill puts R's grandchildren should R turn out small.
inline void kc_ConnectEngine::addPhantom(RegionIndex parent) {
  Region& p = reg(parent);
  const std::uint32_t phantom = kPhantom | p.firstChild;
  nextChild(p.lastChild) = phantom;
  p.lastChild = phantom;
}

// retire(r): the region's entry goes to the output store as a scene shows it, but for its links:
// children and next sibling as retired indices, its record's serial in parent; its first
// label is its key, marked in the workspace's bits as the first label of a blob (the finishing
// pass unmarks those that get none). Its labels resolve to the entry from now on and its slot is
// freed. Labels: in grey-scale connectivity of an image that is not binary, holes are label 0 and
// blobs label 1 and weigh their pels by value (the measures learn their weight; until the
// finishing pass ends, sumX holds their pel count); otherwise the label is the region's value and
// every pel weighs 1, and the pel sums become relative to the rectangle where the centroid they
// give is exact (both below 2^53, as doubles hold them).
template <bool kPlain>
inline RetiredIndex kc_ConnectEngine::retire(RegionIndex r) {
  const Region& g = reg(r);
  KC_ASSERT(out_.entries.size() < kGone, "retired regions fit 31 bits");
  const auto index = static_cast<RetiredIndex>(out_.entries.size());
  if (g.firstLabel < placeholders_) seamRetired_.emplace_back(index, g);
  writeEntry(out_.entries.emplace_back(), g);
  if constexpr (!kPlain) {
    if (streaming_) ws_.entryRuns.push_back(std::move(ws_.slotRuns[r]));
    if (deferFill_) ws_.closes.push_back(kc_FillClose{g.pelCount, g.sumX, g.sumY, kNone, g.lastChild});
  }
  ws_.bits[g.firstLabel >> 6] |= std::uint64_t{1} << (g.firstLabel & 63);
  ws_.up[g.root] = kRootFlag | index;
  if constexpr (!kPlain) {
    if (labelled_) clearNeighbours(r);
  }
  freeSlot(r);
  return index;
}

// writeEntry(e, g): e (value-initialised) as retire() makes it of region g.
inline void kc_ConnectEngine::writeEntry(kc_BlobEntry& e, const Region& g) const {
  e.left = g.xMin;
  e.top = g.yMin;
  e.width = g.xEnd - g.xMin;
  e.height = g.yMax - g.yMin + 1;
  e.parent = g.serial;  // until the links are made
  e.nextSibling = kNone;
  e.firstChild = g.firstChild;
  e.key = g.firstLabel;
  constexpr auto kMaxCount = static_cast<PelCount>(std::numeric_limits<std::int32_t>::max());
  const bool weighted = !binary_ && !labelled_ && g.value != 0;
  e.label = binary_ || labelled_ ? g.value : (g.value == 0 ? 0 : 1);
  if (weighted || g.pelCount > kMaxCount) {
    e.pelCount = -1;
    e.sumX = g.pelCount;
  } else {
    const PelCount n = g.pelCount;
    e.pelCount = static_cast<std::int32_t>(n);
    constexpr std::uint64_t kExact = std::uint64_t{1} << 53;
    const auto most = [n](std::int32_t extent) { return static_cast<std::uint64_t>(extent - 1) * n; };
    if (most(e.width) < kExact / 2 && most(e.height) < kExact) {
      e.sumX = g.sumX - static_cast<std::uint64_t>(e.left) * n;
      e.sumY = g.sumY - static_cast<std::uint64_t>(e.top) * n;
      e.flags = kc_BlobEntry::kPelSums;
    }
  }
}
