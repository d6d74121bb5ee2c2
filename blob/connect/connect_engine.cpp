// The engine's records: label sets, region creation, retirement and release, merge, close with its
// cleanup, and the scan's row loop.
#include "connect/connect_engine.h"
#include "connect/connect_records.h"
#include "parallel/work_pool.h"

#include <foundation/assert.h>
#include <foundation/exception.h>
#include <foundation/rlebuffer.h>

#include <algorithm>
#include <limits>

kc_ConnectEngine::kc_ConnectEngine(const kcRLEBuffer& image, kc_ConnectWorkspace& workspace,
                                   kc_BlobStore& out, bool labelled, kc_CleanupKind cleanup,
                                   PelCount minPels)
    : rows_(image.pointToRat()),
      offset_(image.offset()),
      width_(static_cast<Column>(image.width())),
      height_(static_cast<RowIndex>(image.height())),
      numRuns_(image.numRuns()),
      binary_(image.isBinary()),
      labelled_(labelled),
      cleanup_(cleanup),
      minPels_(cleanup == kc_CleanupKind::eNone ? 0 : minPels),
      retireOnClose_(cleanup != kc_CleanupKind::eFill),
      edgeLists_(cleanup == kc_CleanupKind::eFill),
      ws_(workspace),
      out_(out) {
  KC_ASSERT(!image.isDegenerate(), "the image to connect has at least one pel");
  // Labels, slots and retired indices are 31-bit: every one stems from a run.
  if (image.numRuns() >= static_cast<std::uint64_t>(kGone))
    throw kcBadArgument(L"The run-length image has too many runs for connectivity analysis.");
  const auto width = static_cast<std::uint64_t>(image.width());
  startRun(static_cast<std::size_t>(std::min(width, image.numRuns())));
}

void kc_ConnectEngine::attentionCheck() { kf_CheckStop(); }

// startRun(rowRuns): the workspace emptied for a run (capacities kept), with room for rows of that
// many runs; the store emptied.
void kc_ConnectEngine::startRun(std::size_t rowRuns) {
  // Room for readRow's markers and for the runs past them that scanBinaryRow reads hints from.
  if (ws_.rowA.size() < rowRuns + kAhead) ws_.rowA.resize(rowRuns + kAhead);
  if (ws_.rowB.size() < rowRuns + kAhead) ws_.rowB.resize(rowRuns + kAhead);
  ws_.up.clear();
  ws_.regions.clear();
  ws_.freeSlots.clear();
  ws_.siblings.clear();
  ws_.labelled.clear();
  ws_.nodes.clear();
  ws_.freeNodes.clear();
  ws_.index.clear();
  ws_.bits.clear();
  ws_.nextLabel.clear();
  ws_.chainHead.clear();
  ws_.chainTail.clear();
  ws_.filled.clear();
  ws_.closes.clear();
  ws_.order.clear();
  ws_.slotRuns.clear();
  ws_.entryRuns.clear();
  ws_.completed.clear();
  ws_.metAbove.clear();
  out_.entries.clear();
  out_.origin = offset_;
}

kc_WorkspaceNeeds kf_WorkspaceNeeds(const kc_ConnectWorkspace& ws) {
  kc_WorkspaceNeeds n;
  n.rowRuns = std::min(ws.rowA.capacity(), ws.rowB.capacity());
  n.up = ws.up.capacity();
  n.regions = ws.regions.capacity();
  n.freeSlots = ws.freeSlots.capacity();
  n.siblings = ws.siblings.capacity();
  n.labelled = ws.labelled.capacity();
  n.nodes = ws.nodes.capacity();
  n.freeNodes = ws.freeNodes.capacity();
  n.indexSlots = ws.index.capacity();
  n.stack = ws.stack.capacity();
  n.listed = ws.listed.capacity();
  n.bits = ws.bits.capacity();
  n.counts = ws.counts.capacity();
  n.order = ws.order.capacity();
  n.scratch = ws.scratch.capacity();
  n.counts2 = ws.counts2.capacity();
  return n;
}

void kf_ReserveWorkspace(kc_ConnectWorkspace& ws, const kc_WorkspaceNeeds& n) {
  ws.rowA.reserve(n.rowRuns);
  ws.rowB.reserve(n.rowRuns);
  ws.up.reserve(n.up);
  ws.regions.reserve(n.regions);
  ws.freeSlots.reserve(n.freeSlots);
  ws.siblings.reserve(n.siblings);
  ws.labelled.reserve(n.labelled);
  ws.nodes.reserve(n.nodes);
  ws.freeNodes.reserve(n.freeNodes);
  ws.index.reserve(n.indexSlots);
  ws.stack.reserve(n.stack);
  ws.listed.reserve(n.listed);
  ws.bits.reserve(n.bits);
  ws.counts.reserve(n.counts);
  ws.order.reserve(n.order);
  ws.scratch.reserve(n.scratch);
  ws.counts2.reserve(n.counts2);
}

void kc_ConnectEngine::recordLabels(std::vector<LabelId>& labels) {
  KC_ASSERT(!scanned_, "labels are recorded from the start of the scan");
  labels.clear();
  labels.reserve(static_cast<std::size_t>(numRuns_));
  runLabels_ = &labels;
  fillChains_ = !labelled_ && cleanup_ == kc_CleanupKind::eFill;
}

// newSlot(): a new record slot at the end, with what the run keeps beside each (newRegion fills it).
RegionIndex kc_ConnectEngine::newSlot() {
  const auto r = static_cast<RegionIndex>(ws_.regions.size());
  ws_.regions.emplace_back();
  slots_ = r + 1;
  if (!retireOnClose_) ws_.siblings.push_back(kNone);
  if (labelled_) ws_.labelled.emplace_back();
  if (streaming_) ws_.slotRuns.emplace_back();
  if (fillChains_) {
    ws_.chainHead.push_back(kNone);
    ws_.chainTail.push_back(kNone);
  }
  return r;
}

// newOutside(): the region that stands for everything beyond the image border (labelled fill).
RegionIndex kc_ConnectEngine::newOutside() {
  const RegionIndex r = newRegion(0, 0, 0, 0);
  Region& g = reg(r);
  g.xMin = std::numeric_limits<Column>::max();
  g.xEnd = 0;
  g.yMin = std::numeric_limits<RowIndex>::max();
  g.yMax = 0;
  return r;
}

// mergeRegions(A, B): A is absorbed, B survives (the caller picks B: the region of the run
// above, or the region a cleanup keeps). A's labels join B's set (and follow B's chain); A's
// neighbours and children pass to B; the extents and sums add up; A's slot is freed.
void kc_ConnectEngine::mergeRegions(RegionIndex a, RegionIndex b) {
  KC_ASSERT(a != b, "a region is merged into another region");
  Region& ga = reg(a);
  Region& gb = reg(b);
  KC_ASSERT(!ga.closed, "a closed region is never absorbed");
  if (ga.root < gb.root) {
    ws_.up[gb.root] = ga.root;
    ws_.up[ga.root] = kRootFlag | b;
    gb.root = ga.root;
  } else {
    ws_.up[ga.root] = gb.root;
  }
  gb.firstLabel = std::min(gb.firstLabel, ga.firstLabel);
  if (fillChains_) {
    ws_.nextLabel[ws_.chainTail[b]] = ws_.chainHead[a];
    ws_.chainTail[b] = ws_.chainTail[a];
  }
  if (labelled_) mergeNeighbours(a, b);
  if (ga.firstChild != kNone) {
    if (gb.lastChild != kNone) nextChild(gb.lastChild) = ga.firstChild;
    else gb.firstChild = ga.firstChild;
    gb.lastChild = ga.lastChild;
  }
  gb.xMin = std::min(gb.xMin, ga.xMin);
  gb.xEnd = std::max(gb.xEnd, ga.xEnd);
  gb.yMin = std::min(gb.yMin, ga.yMin);
  gb.yMax = std::max(gb.yMax, ga.yMax);
  gb.pelCount += ga.pelCount;
  gb.sumX += ga.sumX;
  gb.sumY += ga.sumY;
  if (streaming_) joinRuns(a, b);
  freeSlot(a);
}

// pruneRegion(R): R's pels belong to no region any more: its label set stops resolving to a
// region (the rows skip such runs), and R leaves every neighbour list.
void kc_ConnectEngine::pruneRegion(RegionIndex r) {
  ws_.up[reg(r).root] = kRootFlag | kGone;
  if (labelled_ && listOf(r).head != kNone) detachNeighbours(r);
  if (streaming_) releaseRuns(ws_.slotRuns[r]);
  freeSlot(r);
}

// fillRegion(R, P): R's children are merged into P (their children become P's), R's labels are
// marked filled and R is merged into P. Under the fill every region stays open until the finish.
void kc_ConnectEngine::fillRegion(RegionIndex r, RegionIndex p) {
  for (std::uint32_t c = reg(r).firstChild; c != kNone;) {
    const std::uint32_t next = ws_.siblings[c];
    ws_.siblings[c] = kNone;
    reg(c).closed = false;
    mergeRegions(c, p);
    c = next;
  }
  reg(r).firstChild = reg(r).lastChild = kNone;
  if (fillChains_)
    for (LabelId l = ws_.chainHead[r]; l != kNone; l = ws_.nextLabel[l]) ws_.filled[l] = 1;
  mergeRegions(r, p);
}

// readRow(y, out): out has room for any row and its markers (startRun): a row has at most
// min(width, runs of the image) runs.
std::size_t kc_ConnectEngine::readRow(RowIndex y, std::vector<kc_ScanRun>& out) const {
  const std::size_t n = kf_ReadRuns(rows_[y], out.data());
  constexpr Column kPast = std::numeric_limits<Column>::max();
  out[n] = out[n + 1] = kc_ScanRun{kPast, kPast, kNone, 0};
  return n;
}

void kc_ConnectEngine::recordRow(const kc_ScanRun* row, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) runLabels_->push_back(row[i].label);
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
  if (runLabels_ != nullptr) recordRow(current->data(), n);
  rowsScanned_ = 1;
  lastRow_ = current;
  lastRowCount_ = n;
  if (rowHook_) rowHook_(0);
  for (RowIndex y = 1; y < height_; ++y) {
    if (attend_ && y % 16 == 15) attentionCheck();
    std::swap(above, current);
    n = readRow(y, *current);
    if (labelled_) scanLabelledRow(y, current->data(), n, above->data());
    else scanUnlabelledRow(y, current->data(), n, above->data());
    if (runLabels_ != nullptr) recordRow(current->data(), n);
    rowsScanned_ = y + 1;
    lastRow_ = current;
    lastRowCount_ = n;
    if (rowHook_) rowHook_(y);
  }
#ifndef NDEBUG
  checkInvariants();
#endif
}
