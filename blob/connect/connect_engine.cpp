// The engine's records: label sets, region creation and release, merge, close with its cleanup,
// and the scan's row loop.
#include "connect/connect_engine.h"

#include <foundation/assert.h>
#include <foundation/attention.h>
#include <foundation/exception.h>
#include <foundation/rlebuffer.h>

#include <algorithm>
#include <limits>

kc_ConnectEngine::kc_ConnectEngine(const kcRLEBuffer& image, kc_ConnectWorkspace& workspace,
                                   bool labelled, kc_CleanupKind cleanup, PelCount minPels)
    : rows_(image.pointToRat()),
      offset_(image.offset()),
      width_(static_cast<Column>(image.width())),
      height_(static_cast<RowIndex>(image.height())),
      binary_(image.isBinary()),
      labelled_(labelled),
      cleanup_(cleanup),
      minPels_(cleanup == kc_CleanupKind::eNone ? 0 : minPels),
      fillChains_(!labelled && cleanup == kc_CleanupKind::eFill),
      ws_(workspace) {
  KC_ASSERT(!image.isDegenerate(), "the image to connect has at least one pel");
  // Labels, region slots and blob ids are 31-bit: every one stems from a run.
  if (image.numRuns() >= static_cast<std::uint64_t>(kPrunedRegion))
    throw kcBadArgument(L"The run-length image has too many runs for connectivity analysis.");
  const auto width = static_cast<std::uint64_t>(image.width());
  const auto rowRuns = static_cast<std::size_t>(std::min(width, image.numRuns()));
  if (ws_.rowA.size() < rowRuns) ws_.rowA.resize(rowRuns);
  if (ws_.rowB.size() < rowRuns) ws_.rowB.resize(rowRuns);
  ws_.up.clear();
  ws_.regions.clear();
  ws_.siblings.clear();
  ws_.blobIds.clear();
  ws_.freeSlots.clear();
  ws_.labelled.clear();
  ws_.nodes.clear();
  ws_.freeNodes.clear();
  ws_.index.clear();
  ws_.nextLabel.clear();
  ws_.firstLabel.clear();
  ws_.lastLabel.clear();
  ws_.filled.clear();
}

void kc_ConnectEngine::attentionCheck() { kcAttention::check(); }

LabelId kc_ConnectEngine::newLabel(RegionIndex r) {
  const auto label = static_cast<LabelId>(ws_.up.size());
  ws_.up.push_back(kRootFlag | r);
  if (fillChains_) {
    ws_.nextLabel.push_back(kNone);
    ws_.filled.push_back(0);
  }
  return label;
}

RegionIndex kc_ConnectEngine::newRegion(std::uint8_t value, Column x, RowIndex y, Column n) {
  RegionIndex r;
  if (labelled_ && !ws_.freeSlots.empty()) {
    r = ws_.freeSlots.back();
    ws_.freeSlots.pop_back();
  } else {
    r = static_cast<RegionIndex>(ws_.regions.size());
    ws_.regions.emplace_back();
    ws_.siblings.push_back(kNone);
    ws_.blobIds.push_back(0);
    if (labelled_) ws_.labelled.emplace_back();
    if (fillChains_) {
      ws_.firstLabel.push_back(kNone);
      ws_.lastLabel.push_back(kNone);
    }
  }
  const LabelId label = newLabel(r);
  Region& g = reg(r);
  g = Region{static_cast<PelCount>(n), 1, x, x + n, y, y, label, 1, kNone, kNone, kNone, value, false, false};
  ws_.siblings[r] = kNone;
  if (labelled_) {
    ws_.labelled[r] = kc_LabelledRegion{};
    ws_.labelled[r].next = regionList_;
    ws_.labelled[r].serial = ++serial_;
    if (regionList_ != kNone) ws_.labelled[regionList_].prev = r;
    regionList_ = r;
  }
  if (fillChains_) ws_.firstLabel[r] = ws_.lastLabel[r] = label;
  ++regionCount_;
  return r;
}

// newOutside(): the region that stands for everything beyond the image border (labelled fill).
RegionIndex kc_ConnectEngine::newOutside() {
  const RegionIndex r = newRegion(0, 0, 0, 0);
  Region& g = reg(r);
  g.runs = 0;
  g.xMin = std::numeric_limits<Column>::max();
  g.xEnd = 0;
  g.yMin = std::numeric_limits<RowIndex>::max();
  g.yMax = 0;
  return r;
}

// releaseRegion(r): takes r off the region list (and, in labelled connectivity, frees its slot).
// Its labels stay: runs still point at them, and they resolve to whatever now stands for r's pels.
void kc_ConnectEngine::releaseRegion(RegionIndex r) {
  Region& g = reg(r);
  g.released = true;
  --regionCount_;
  if (labelled_) {
    const kc_LabelledRegion& l = ws_.labelled[r];
    if (l.prev != kNone) ws_.labelled[l.prev].next = l.next;
    else regionList_ = l.next;
    if (l.next != kNone) ws_.labelled[l.next].prev = l.prev;
    ws_.freeSlots.push_back(r);
  }
}

// mergeRegions(A, B): A is absorbed, B survives (the caller picks B: the region of the run
// above, or the region a cleanup keeps). A's labels join B's set (and follow B's chain); A's
// neighbours and children pass to B; the extents and counts add up; A is released.
void kc_ConnectEngine::mergeRegions(RegionIndex a, RegionIndex b) {
  KC_ASSERT(a != b, "a region is merged into another region");
  Region& ga = reg(a);
  Region& gb = reg(b);
  KC_ASSERT(ga.parent == kNone, "a closed region is never absorbed");
  if (ga.setSize > gb.setSize) {
    ws_.up[gb.root] = ga.root;
    ws_.up[ga.root] = kRootFlag | b;
    gb.root = ga.root;
  } else {
    ws_.up[ga.root] = gb.root;
  }
  gb.setSize += ga.setSize;
  if (fillChains_) {
    ws_.nextLabel[ws_.lastLabel[b]] = ws_.firstLabel[a];
    ws_.lastLabel[b] = ws_.lastLabel[a];
  }
  if (labelled_ && (listOf(a).head != kNone || listOf(b).head != kNone)) moveNeighbours(a, b);

  // The children keep a label of A as their parent, which now resolves to B.
  if (ga.firstChild != kNone) {
    if (gb.lastChild != kNone) ws_.siblings[gb.lastChild] = ga.firstChild;
    else gb.firstChild = ga.firstChild;
    gb.lastChild = ga.lastChild;
  }
  gb.xMin = std::min(gb.xMin, ga.xMin);
  gb.xEnd = std::max(gb.xEnd, ga.xEnd);
  gb.yMin = std::min(gb.yMin, ga.yMin);
  gb.yMax = std::max(gb.yMax, ga.yMax);
  gb.pelCount += ga.pelCount;
  gb.runs += ga.runs;
  releaseRegion(a);
}

// adoptChild(P, R): R goes to the front of P's child list.
void kc_ConnectEngine::adoptChild(RegionIndex parent, RegionIndex child) {
  Region& p = reg(parent);
  Region& c = reg(child);
  c.parent = p.root;
  ws_.siblings[child] = p.firstChild;
  p.firstChild = child;
  if (p.lastChild == kNone) p.lastChild = child;
}

// closeRegion(R, P): R is enclosed for good by P. It becomes P's child unless the cleanup
// removes it: a small childless region is pruned, a small region is filled.
void kc_ConnectEngine::closeRegion(RegionIndex r, RegionIndex p) {
  KC_ASSERT(r != kNone && r != kPrunedRegion && p != kNone && r != p,
            "a pending region is enclosed by another");
  const Region& g = reg(r);
  KC_ASSERT(g.parent == kNone, "a region is enclosed once");
  const bool keep = cleanup_ == kc_CleanupKind::eNone || !isSmall(g) ||
                    (cleanup_ == kc_CleanupKind::ePrune && g.firstChild != kNone);
  if (keep) adoptChild(p, r);
  else if (cleanup_ == kc_CleanupKind::ePrune) pruneRegion(r);
  else fillRegion(r, p);
}

// pruneRegion(R): R's pels belong to no region any more. Its label set stops resolving to a
// region (the finishing pass skips such runs), and R leaves every neighbour list.
void kc_ConnectEngine::pruneRegion(RegionIndex r) {
  ws_.up[reg(r).root] = kRootFlag | kPrunedRegion;
  if (labelled_ && listOf(r).head != kNone) detachNeighbours(r);
  releaseRegion(r);
}

// fillRegion(R, P): R's children are merged into P (their children become P's), R's labels are
// marked filled and R is merged into P.
void kc_ConnectEngine::fillRegion(RegionIndex r, RegionIndex p) {
  for (RegionIndex c = reg(r).firstChild; c != kNone;) {
    const RegionIndex next = ws_.siblings[c];
    ws_.siblings[c] = kNone;
    reg(c).parent = kNone;
    mergeRegions(c, p);
    c = next;
  }
  reg(r).firstChild = reg(r).lastChild = kNone;
  if (fillChains_)
    for (LabelId l = ws_.firstLabel[r]; l != kNone; l = ws_.nextLabel[l]) ws_.filled[l] = 1;
  mergeRegions(r, p);
}

// readRow(y, out): row y's maximal runs into out, which the constructor made large enough for any
// row (a row has at most min(width, runs of the image) of them).
std::size_t kc_ConnectEngine::readRow(RowIndex y, std::vector<kc_ScanRun>& out) const {
  kc_ScanRun* const first = out.data();
  kc_ScanRun* last = first - 1;  // the run being joined
  Column x = 0;
  for (const unsigned char* src = rows_[y]; src[1] != 0; src += 2) {
    const Column xe = x + src[1];
    if (last >= first && last->value == src[0]) last->xe = xe;
    else *++last = kc_ScanRun{x, xe, kNone, src[0], false};
    x = xe;
  }
  return static_cast<std::size_t>(last + 1 - first);
}

void kc_ConnectEngine::scan() {
  KC_ASSERT(!scanned_, "a connectivity run scans once");
  scanned_ = true;
  std::vector<kc_ScanRun>* above = &ws_.rowA;
  std::vector<kc_ScanRun>* current = &ws_.rowB;
  std::size_t n = readRow(0, *current);
  if (labelled_) {
    if (cleanup_ == kc_CleanupKind::eFill) outside_ = newOutside();
    scanLabelledFirstRow(current->data(), n);
  } else {
    scanGreyFirstRow(current->data(), n);
  }
  rowsScanned_ = 1;
  lastRow_ = current;
  lastRowCount_ = n;
  if (rowHook_) rowHook_(0);
  for (RowIndex y = 1; y < height_; ++y) {
    if (y % 16 == 15) attentionCheck();
    std::swap(above, current);
    n = readRow(y, *current);
    if (labelled_) scanLabelledRow(y, current->data(), n, above->data());
    else scanGreyRow(y, current->data(), n, above->data());
    rowsScanned_ = y + 1;
    lastRow_ = current;
    lastRowCount_ = n;
    if (rowHook_) rowHook_(y);
  }
#ifndef NDEBUG
  checkInvariants();
#endif
}
