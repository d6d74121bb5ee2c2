// Streams: grey-scale connectivity over rows that arrive in bands, the runs of each region kept
// with it, and each tree taken out with its entries and runs once it is complete.
#include "connect/connect_engine.h"
#include "connect/connect_records.h"
#include "connect/connect_rows.h"

#include <foundation/assert.h>
#include <foundation/exception.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <utility>

namespace {

// Rows of a tree's blob sorted by insertion up to this many runs, by std::sort past it.
constexpr std::size_t kInsertionRuns = 16;

// A tree's runs of one region are taken over as they are from this many on, copied below it.
constexpr std::size_t kTakenOver = 4096;

// Compaction waits until this many labels or entries were made, or this many rows scanned.
constexpr std::size_t kCompactFrom = std::size_t{1} << 10;
constexpr RowIndex kRebaseRows = RowIndex{1} << 30;

// TreeRowMaker: the rows of a tree taken out of a stream, made when first needed from the runs its
// regions kept (runs[ranges[i].first .. ranges[i].second) are blob i + 1's, in no order), as walkRows
// writes them: each blob row its spans from the left, gaps and the rest of its width as
// background; a filled run is absorbed into the span on its left and takes its value, as does a
// run of that value right after it.
class TreeRowMaker : public kc_RowMaker {
 public:
  std::vector<kc_StreamRun> runs;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
  std::shared_ptr<kc_StreamRunPool> pool;  // where runs's room goes back

  ~TreeRowMaker() override {
    if (pool) pool->give(runs);
  }

  void make(kc_BlobStore& store) const override {
    std::vector<unsigned char> bytes;
    std::vector<std::uint64_t> offsets;
    std::vector<kc_StreamRun> sorted;
    std::vector<std::uint32_t> counts;
    bytes.reserve(runs.size() * 6 + store.size() * 4);
    for (BlobId id = 1; id <= store.size(); ++id) {
      const kc_BlobEntry& e = store.entry(id);
      offsets.push_back(bytes.size());
      // The runs by row (a count per row), then by column within each row.
      const auto height = static_cast<std::size_t>(e.height);
      counts.assign(height + 1, 0);
      const auto first = runs.begin() + ranges[id - 1].first, last = runs.begin() + ranges[id - 1].second;
      for (auto it = first; it < last; ++it) ++counts[static_cast<std::size_t>(it->y - e.top) + 1];
      for (std::size_t r = 1; r <= height; ++r) counts[r] += counts[r - 1];
      sorted.resize(static_cast<std::size_t>(last - first));
      for (auto it = first; it < last; ++it) sorted[counts[static_cast<std::size_t>(it->y - e.top)]++] = *it;
      for (std::size_t r = 0, begin = 0; r < height; begin = counts[r++]) writeRow(e, sorted, begin, counts[r], bytes);
    }
    unsigned char* out = store.reserveRuns(bytes.size());
    std::memcpy(out, bytes.data(), bytes.size());
    store.rowOffsets.swap(offsets);
  }

 private:
  // writeRow(e, sorted, begin, end, bytes): one row of blob e from its runs sorted[begin, end).
  static void writeRow(const kc_BlobEntry& e, std::vector<kc_StreamRun>& sorted, std::size_t begin, std::size_t end,
                       std::vector<unsigned char>& bytes) {
    const auto first = sorted.begin() + static_cast<std::ptrdiff_t>(begin);
    const auto last = sorted.begin() + static_cast<std::ptrdiff_t>(end);
    const auto byColumn = [](const kc_StreamRun& a, const kc_StreamRun& b) { return a.x < b.x; };
    if (end - begin > kInsertionRuns) {
      std::sort(first, last, byColumn);
    } else {
      for (auto it = first; it < last; ++it)
        for (auto j = it; j != first && byColumn(*j, *(j - 1)); --j) std::swap(*j, *(j - 1));
    }
    Column cursor = 0;  // relative to the blob's left
    Column spanX = -1;  // the open span: its start (-1: none), end and value
    Column spanEnd = 0;
    unsigned char spanValue = 0;
    const auto flush = [&] {
      if (spanX < 0) return;
      kf_PutSpan(bytes, 0, static_cast<std::uint64_t>(spanX - cursor));
      kf_PutSpan(bytes, spanValue != 0 ? spanValue : 1, static_cast<std::uint64_t>(spanEnd - spanX));
      cursor = spanEnd;
      spanX = -1;
    };
    bool afterFilled = false;
    for (auto it = first; it < last; ++it) {
      const Column x = it->x - e.left, xe = it->xe - e.left;
      if (it->filled || (afterFilled && x == spanEnd && it->value == spanValue)) {
        KC_ASSERT(spanX >= 0 && x == spanEnd, "a filled run follows a span of its blob");
        spanEnd = xe;
        afterFilled = it->filled;
        continue;
      }
      KC_ASSERT(spanX < 0 || x >= spanEnd, "the runs of a blob row do not overlap");
      flush();
      spanX = x;
      spanEnd = xe;
      spanValue = it->value;
      afterFilled = false;
    }
    KC_ASSERT(spanX >= 0, "every row of a blob has a pel of it");
    flush();
    kf_PutSpan(bytes, 0, static_cast<std::uint64_t>(e.width - cursor));
    bytes.push_back(0);
    bytes.push_back(0);
  }
};

}  // namespace

std::vector<kc_StreamRun> kc_StreamRunPool::take(std::size_t n) {
  std::vector<kc_StreamRun> runs;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::size_t last = spare_.size(), first = last > 4 ? last - 4 : 0;
    for (std::size_t i = last; i-- > first;) {
      if (spare_[i].capacity() < n) continue;
      runs.swap(spare_[i]);
      room_ -= runs.capacity();
      spare_[i].swap(spare_.back());
      spare_.pop_back();
      return runs;
    }
  }
  runs.reserve(n);
  return runs;
}

void kc_StreamRunPool::give(std::vector<kc_StreamRun>& runs) noexcept {
  runs.clear();
  const std::size_t room = runs.capacity();
  if (room == 0 || room > kLargest) return;
  const std::lock_guard<std::mutex> lock(mutex_);
  if (spare_.size() == kMaxArrays || room_ + room > kMaxRuns) return;
  spare_.emplace_back().swap(runs);  // within the reserved capacity: cannot throw
  room_ += room;
}

kc_ConnectEngine::kc_ConnectEngine(StreamTag, Column width, kc_ConnectWorkspace& workspace, kc_BlobStore& out,
                                   kc_CleanupKind cleanup, PelCount minPels)
    : rows_(nullptr),
      offset_(0, 0),
      width_(width),
      height_(std::numeric_limits<RowIndex>::max()),
      numRuns_(0),
      binary_(true),
      labelled_(false),
      cleanup_(kc_CleanupKind::eNone),
      minPels_(0),
      retireOnClose_(true),
      edgeLists_(false),
      streaming_(true),
      ws_(workspace),
      out_(out) {
  KC_ASSERT(width > 0, "a stream's rows have pels");
  startRun(static_cast<std::size_t>(width));
  if (cleanup != kc_CleanupKind::eNone) cleanupInBand(cleanup, minPels);
}

void kc_ConnectEngine::streamRows(const unsigned char* const* rows, std::size_t count, bool binary) {
  KC_ASSERT(streaming_ && !finished_, "rows go to a stream that has not ended");
  binary_ = binary_ && binary;
  for (std::size_t k = 0; k < count; ++k) {
    const RowIndex y = rowsScanned_;
    if (y == std::numeric_limits<RowIndex>::max())  // compaction counts rows from the first held
      throw kcBadArgument(L"A stream holds a region taller than 2147483646 rows, more than an analysis can count.");
    if (y % 16 == 15) attentionCheck();
    std::vector<kc_ScanRun>* current = lastRow_ == &ws_.rowB ? &ws_.rowA : &ws_.rowB;
    const std::size_t n = kf_ReadRuns(rows[k], current->data());
    if (y == 0) {
      scanGreyFirstRow<true>(current->data(), n);
    } else {
      if (ws_.metAbove.size() < lastRowCount_) ws_.metAbove.resize(lastRowCount_, 0);  // cleared as read
      scanGreyRow<true>(y, current->data(), n, lastRow_->data());
      streamRowDone(y, current->data(), n, lastRow_->data(), lastRowCount_);
    }
    rowsScanned_ = y + 1;
    lastRow_ = current;
    lastRowCount_ = n;
  }
}

// streamRowDone(y, row, n, above, na): after row y: a foreground region of the row above that row
// y neither continues nor closed can never be enclosed (closing needs a run of it in the row above),
// so it is top level and its tree complete; background on the first or last run reaches an edge.
void kc_ConnectEngine::streamRowDone(RowIndex y, const kc_ScanRun* row, std::size_t n, const kc_ScanRun* above,
                                     std::size_t na) {
  std::uint8_t* const met = ws_.metAbove.data();
  const auto unmet = [&](std::size_t i) {
    if (above[i].value == 0) return;
    const LabelId root = rootOf(above[i].label);
    const RegionIndex r = ws_.up[root] & ~kRootFlag;
    if (r >= slots_ || reg(r).released || reg(r).root != root || reg(r).yMax != y - 1) return;
    ws_.completed.push_back(retire(r));
  };
  // Eight marks at a time (most runs are met), then the rest.
  std::size_t i = 0;
  for (; i + 8 <= na; i += 8) {
    std::uint64_t marks;
    std::memcpy(&marks, met + i, 8);
    std::memset(met + i, 0, 8);
    for (std::uint64_t left = ~marks & 0x0101010101010101u; left != 0; left &= left - 1)
      unmet(i + static_cast<std::size_t>(std::countr_zero(left)) / 8);
  }
  for (; i < na; ++i)
    if (std::exchange(met[i], 0) == 0) unmet(i);
  if (row[0].value == 0) edgeFlush(regionOf(row[0].label));
  if (row[n - 1].value == 0) edgeFlush(regionOf(row[n - 1].label));
}

void kc_ConnectEngine::endStream() {
  KC_ASSERT(streaming_ && !finished_, "a stream ends once");
  finished_ = true;
  for (RegionIndex r = 0; r < slots_; ++r) {
    Region& g = reg(r);
    if (g.released) continue;
    if (g.value != 0) {
      ws_.completed.push_back(retire(r));
      continue;
    }
    g.yMin = 0;  // unenclosed background: outside, as if it reached an edge
    edgeFlush(r);
  }
}

// edgeFlush(r): see connect_engine.h.
void kc_ConnectEngine::edgeFlush(RegionIndex r) {
  Region& g = reg(r);
  if (!reachesEdge(g)) return;
  releaseRuns(ws_.slotRuns[r]);
  for (std::uint32_t c = g.firstChild; c != kNone; c = out_.entries[c].nextSibling) ws_.completed.push_back(c);
  g.firstChild = g.lastChild = kNone;
}

void kc_ConnectEngine::appendRuns(std::vector<kc_StreamRun>& to, std::vector<kc_StreamRun>& from) {
  if (to.size() < from.size()) to.swap(from);
  to.insert(to.end(), from.begin(), from.end());
  releaseRuns(from);
}

void kc_ConnectEngine::releaseRuns(std::vector<kc_StreamRun>& runs) {
  if (runs.capacity() == 0) return;
  runs.clear();
  ws_.spareRuns.emplace_back().swap(runs);
}

void kc_ConnectEngine::joinRuns(RegionIndex a, RegionIndex b) {
  if (reachesEdge(reg(b))) {
    releaseRuns(ws_.slotRuns[a]);
    releaseRuns(ws_.slotRuns[b]);
  } else {
    appendRuns(ws_.slotRuns[b], ws_.slotRuns[a]);
  }
}

std::int64_t kc_ConnectEngine::heldFrom() const {
  RowIndex first = rowsScanned_;
  for (RegionIndex r = 0; r < slots_; ++r) {
    const Region& g = reg(r);
    if (!g.released && (!ws_.slotRuns[r].empty() || g.firstChild != kNone)) first = std::min(first, g.yMin);
  }
  for (const RetiredIndex t : ws_.completed) first = std::min(first, out_.entries[t].top);
  return offset_.y() + first;
}

bool kc_ConnectEngine::takeTree(RetiredIndex top, kc_BlobStore& tree, kc_StreamScratch& scratch) {
  tree.clear();
  tree.origin = offset_;
  kc_EntryArray& entries = out_.entries;
  // The members, depth first; a top the cleanup drops (small, childless) gives no tree.
  const kc_BlobEntry& t = entries[top];
  const PelCount topPels = t.pelCount >= 0 ? static_cast<PelCount>(t.pelCount) : t.sumX;
  auto& members = scratch.members;
  members.clear();
  if (bandCleanup_ != kc_CleanupKind::eNone && topPels < bandMinPels_ && t.firstChild == kNone) {
    releaseRuns(ws_.entryRuns[top]);
    ++spent_;
    return false;
  }
  auto& pending = scratch.pending;
  pending.assign(1, top);
  while (!pending.empty()) {
    const RetiredIndex i = pending.back();
    pending.pop_back();
    members.emplace_back(entries[i].key, i);
    for (std::uint32_t c = entries[i].firstChild; c != kNone; c = entries[c].nextSibling) pending.push_back(c);
  }
  std::sort(members.begin(), members.end());
  tree.entries.reserve(members.size());
  // Ids by raster order of first pels (the order of the keys); each member's key holds its id from
  // here on, for the links.
  for (std::size_t m = 0; m < members.size(); ++m) entries[members[m].second].key = static_cast<LabelId>(m + 1);
  // Each member's runs for the rows: the most numerous taken over as they are when they are many (a
  // copy of few costs less than new room for the next region), the others after them.
  auto maker = std::make_shared<TreeRowMaker>();
  std::size_t total = 0, most = 0;
  for (std::size_t m = 0; m < members.size(); ++m) {
    const std::size_t n = ws_.entryRuns[members[m].second].size();
    total += n;
    if (n > ws_.entryRuns[members[most].second].size()) most = m;
  }
  KC_ASSERT(total < kNone, "a tree's runs fit 32 bits");
  if (ws_.entryRuns[members[most].second].size() >= kTakenOver) {
    maker->runs.swap(ws_.entryRuns[members[most].second]);
    maker->runs.reserve(total);
  } else {
    most = members.size();
    maker->runs = scratch.pool->take(total);
  }
  maker->pool = scratch.pool;
  maker->ranges.resize(members.size());
  if (most < members.size()) maker->ranges[most] = {0, static_cast<std::uint32_t>(maker->runs.size())};
  for (std::size_t m = 0; m < members.size(); ++m) {
    if (m == most) continue;
    const std::vector<kc_StreamRun>& runs = ws_.entryRuns[members[m].second];
    maker->ranges[m].first = static_cast<std::uint32_t>(maker->runs.size());
    maker->runs.insert(maker->runs.end(), runs.begin(), runs.end());
    maker->ranges[m].second = static_cast<std::uint32_t>(maker->runs.size());
  }
  const auto idOfIndex = [&](std::uint32_t i) -> BlobId { return i == kNone ? 0 : entries[i].key; };
  for (std::size_t m = 0; m < members.size(); ++m) {
    const RetiredIndex i = members[m].second;
    kc_BlobEntry e = entries[i];
    for (std::uint32_t c = e.firstChild; c != kNone; c = entries[c].nextSibling) {
      kc_BlobEntry& child = entries[c];  // its parent and next sibling as ids, once its own turn came
      child.parent = static_cast<std::uint32_t>(m + 1) | kRootFlag;
    }
    KC_ASSERT(i == top || (e.parent & kRootFlag) != 0, "a parent comes before its children in raster order");
    const BlobId parent = i == top ? 0 : e.parent & ~kRootFlag;
    e.firstChild = idOfIndex(e.firstChild);
    e.nextSibling = i == top ? 0 : idOfIndex(e.nextSibling);
    e.parent = parent;
    e.key = 0;
    if ((e.flags & kc_BlobEntry::kPelSums) == 0) e.sumX = 0;  // a weighted blob's pel count leaves it
    tree.entries.push_back(e);
  }
  for (const auto& [key, i] : members) releaseRuns(ws_.entryRuns[i]);
  spent_ += members.size();
  tree.rowMaker = std::move(maker);
  return true;
}

void kc_ConnectEngine::compactIfSparse() {
  KC_ASSERT(streaming_ && ws_.completed.empty(), "a stream compacts between rows, every complete tree taken");
  if (finished_) return;  // every region retired: nothing to renumber, and the last row's are gone
  const std::size_t live = regionCount_ + (out_.entries.size() - spent_);
  const std::size_t bound = std::max(kCompactFrom, 4 * live);
  if (ws_.up.size() < bound && out_.entries.size() < bound && rowsScanned_ < kRebaseRows) return;
  compact();
}

// compact(): the entries still in use (those under the open regions) move to the front in their
// order, their links and the open regions' child lists following; the labels become one per open
// region and one per such entry, numbered in the order of the first labels they stand for (so keys
// keep their order), the last row's runs taking their region's; serials are renumbered in order;
// and the rows count from the row before the first held, the engine's offset moving by as much.
void kc_ConnectEngine::compact() {
  // The regions of the last row's runs (all open: a region closes or ends only below its last
  // row), and the entries in use.
  std::vector<RegionIndex>& runRegion = ws_.stack;
  runRegion.resize(lastRowCount_);
  for (std::size_t i = 0; i < lastRowCount_; ++i) {
    runRegion[i] = regionOf((*lastRow_)[i].label);
    KC_ASSERT(runRegion[i] < slots_ && !reg(runRegion[i]).released, "the last row's regions are open");
  }
  std::vector<RetiredIndex>& inUse = ws_.listed;
  inUse.clear();
  for (RegionIndex r = 0; r < slots_; ++r)
    if (!reg(r).released)
      for (std::uint32_t c = reg(r).firstChild; c != kNone; c = out_.entries[c].nextSibling) inUse.push_back(c);
  for (std::size_t k = 0; k < inUse.size(); ++k)
    for (std::uint32_t c = out_.entries[inUse[k]].firstChild; c != kNone; c = out_.entries[c].nextSibling)
      inUse.push_back(c);
  std::sort(inUse.begin(), inUse.end());
  const auto moved = [&inUse](std::uint32_t i) -> std::uint32_t {
    if (i == kNone) return kNone;
    const auto it = std::lower_bound(inUse.begin(), inUse.end(), i);
    KC_ASSERT(it != inUse.end() && *it == i, "a link names an entry in use");
    return static_cast<std::uint32_t>(it - inUse.begin());
  };
  // The entries move forward (each to a place at or before its own).
  kc_EntryArray& entries = out_.entries;
  for (std::size_t j = 0; j < inUse.size(); ++j) {
    if (inUse[j] == j) continue;
    entries[j] = entries[inUse[j]];
    ws_.entryRuns[j].swap(ws_.entryRuns[inUse[j]]);
    if (deferFill_) ws_.closes[j] = ws_.closes[inUse[j]];
  }
  for (std::size_t j = 0; j < inUse.size(); ++j) {
    entries[j].firstChild = moved(entries[j].firstChild);
    entries[j].nextSibling = moved(entries[j].nextSibling);
    if (deferFill_) ws_.closes[j].lastChild = moved(ws_.closes[j].lastChild);
  }
  for (RegionIndex r = 0; r < slots_; ++r) {
    if (reg(r).released) continue;
    reg(r).firstChild = moved(reg(r).firstChild);
    reg(r).lastChild = moved(reg(r).lastChild);
  }
  entries.resize(inUse.size());
  for (std::size_t j = inUse.size(); j < ws_.entryRuns.size(); ++j) releaseRuns(ws_.entryRuns[j]);
  ws_.entryRuns.resize(inUse.size());
  if (deferFill_) ws_.closes.resize(inUse.size());
  spent_ = 0;
  // Labels: the first labels of the open regions (tagged with the slot) and the keys of the
  // entries (tagged kRootFlag | index), in order.
  std::vector<std::uint64_t>& keys = ws_.order;
  keys.clear();
  for (RegionIndex r = 0; r < slots_; ++r)
    if (!reg(r).released) keys.push_back(std::uint64_t{reg(r).firstLabel} << 32 | r);
  for (std::size_t j = 0; j < entries.size(); ++j) keys.push_back(std::uint64_t{entries[j].key} << 32 | kRootFlag | j);
  std::sort(keys.begin(), keys.end());
  ws_.up.resize(keys.size());
  ws_.bits.assign((keys.size() + 63) / 64, 0);
  for (std::size_t label = 0; label < keys.size(); ++label) {
    const auto where = static_cast<std::uint32_t>(keys[label]);
    ws_.up[label] = kRootFlag | (where & ~kRootFlag);
    if ((where & kRootFlag) != 0) {
      entries[where & ~kRootFlag].key = static_cast<LabelId>(label);
      ws_.bits[label >> 6] |= std::uint64_t{1} << (label & 63);
    } else {
      Region& g = reg(where);
      g.root = g.firstLabel = static_cast<LabelId>(label);
    }
  }
  std::vector<kc_ScanRun>& lastRow = lastRow_ == &ws_.rowA ? ws_.rowA : ws_.rowB;
  for (std::size_t i = 0; i < lastRowCount_; ++i) lastRow[i].label = reg(runRegion[i]).root;
  // Serials in order of creation.
  keys.clear();
  for (RegionIndex r = 0; r < slots_; ++r)
    if (!reg(r).released) keys.push_back(std::uint64_t{reg(r).serial} << 32 | r);
  std::sort(keys.begin(), keys.end());
  for (std::size_t k = 0; k < keys.size(); ++k) reg(static_cast<RegionIndex>(keys[k])).serial = static_cast<std::uint32_t>(k);
  serial_ = static_cast<std::uint32_t>(keys.size());
  keys.clear();
  // Rows from the one before the first held: every region and entry held keeps a first row of 1 or
  // more, so that only background reaching an edge has 0 (the top edge) or less, clamped to 0.
  const RowIndex base = static_cast<RowIndex>(heldFrom() - offset_.y()) - 1;
  if (base <= 0) return;
  const auto shift = [base](RowIndex y) { return std::max<RowIndex>(y - base, 0); };
  for (RegionIndex r = 0; r < slots_; ++r) {
    Region& g = reg(r);
    if (g.released) continue;
    KC_ASSERT(g.yMin > base || reachesEdge(g), "only background reaching an edge starts before the rows held");
    g.sumY -= static_cast<std::uint64_t>(base) * g.pelCount;
    g.yMin = shift(g.yMin);
    g.yMax = shift(g.yMax);
    for (kc_StreamRun& run : ws_.slotRuns[r]) run.y -= base;
  }
  for (std::size_t j = 0; j < entries.size(); ++j) {
    entries[j].top -= base;
    for (kc_StreamRun& run : ws_.entryRuns[j]) run.y -= base;
  }
  rowsScanned_ -= base;
  offset_.second += base;
  out_.origin = offset_;
}
