// Streams: grey-scale connectivity over rows that arrive in bands, the runs of each region kept in
// its list, and each tree taken out with its entries and rows once it is complete.
#include "connect/connect_engine.h"
#include "connect/connect_records.h"

#include <foundation/assert.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// Rows of a tree's blob sorted by insertion up to this many runs, by std::sort past it.
constexpr std::size_t kInsertionRuns = 16;

// Compaction waits until this many labels or entries were made.
constexpr std::size_t kCompactFrom = std::size_t{1} << 16;

// readRunsInto(src, out): the maximal runs of one row of two-byte runs (see readRow).
std::size_t readRunsInto(const unsigned char* src, kc_ScanRun* first) {
  kc_ScanRun* last = first - 1;
  Column x = 0;
  for (; src[1] != 0; src += 2) {
    const Column xe = x + src[1];
    if (last >= first && last->value == src[0]) last->xe = xe;
    else *++last = kc_ScanRun{x, xe, kNone, src[0]};
    x = xe;
  }
  return static_cast<std::size_t>(last + 1 - first);
}

// putSpan(bytes, value, length): a span as two-byte runs of at most 255 pels.
void putSpan(std::vector<unsigned char>& bytes, unsigned char value, std::uint64_t length) {
  for (; length > 255; length -= 255) {
    bytes.push_back(value);
    bytes.push_back(255);
  }
  if (length != 0) {
    bytes.push_back(value);
    bytes.push_back(static_cast<unsigned char>(length));
  }
}

}  // namespace

namespace {

// TreeRowMaker: the rows of a tree taken out of a stream, made when first needed from the runs its
// regions kept (runs[starts[i] .. starts[i + 1]) are blob i + 1's, in no order), as walkRows
// writes them: each blob row its spans from the left, gaps and the rest of its width as
// background; a filled run is absorbed into the span on its left and takes its value, as does a
// run of that value right after it.
class TreeRowMaker : public kc_RowMaker {
 public:
  std::vector<kc_StreamRun> runs;
  std::vector<std::uint32_t> starts;

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
      const auto first = runs.begin() + starts[id - 1], last = runs.begin() + starts[id];
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
      putSpan(bytes, 0, static_cast<std::uint64_t>(spanX - cursor));
      putSpan(bytes, spanValue != 0 ? spanValue : 1, static_cast<std::uint64_t>(spanEnd - spanX));
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
    putSpan(bytes, 0, static_cast<std::uint64_t>(e.width - cursor));
    bytes.push_back(0);
    bytes.push_back(0);
  }
};

}  // namespace

kc_ConnectEngine::kc_ConnectEngine(StreamTag, Column width, kc_ConnectWorkspace& workspace, kc_BlobStore& out,
                                   kc_CleanupKind cleanup, PelCount minPels)
    : rows_(nullptr),
      offset_(0, 0),
      width_(width),
      height_(std::numeric_limits<RowIndex>::max()),
      numRuns_(0),
      binary_(false),
      labelled_(false),
      cleanup_(kc_CleanupKind::eNone),
      minPels_(0),
      retireOnClose_(true),
      edgeLists_(false),
      streaming_(true),
      ws_(workspace),
      out_(out) {
  KC_ASSERT(width > 0, "a stream's rows have pels");
  const auto runs = static_cast<std::size_t>(width);
  if (ws_.rowA.size() < runs) ws_.rowA.resize(runs);
  if (ws_.rowB.size() < runs) ws_.rowB.resize(runs);
  ws_.up.clear();
  ws_.regions.clear();
  ws_.freeSlots.clear();
  ws_.bits.clear();
  ws_.closes.clear();
  ws_.order.clear();
  ws_.streamRuns.clear();
  ws_.slotRuns.clear();
  ws_.entryRuns.clear();
  ws_.completed.clear();
  out_.entries.clear();
  out_.origin = offset_;
  if (cleanup != kc_CleanupKind::eNone) cleanupInBand(cleanup, minPels);
  scanned_ = true;
}

void kc_ConnectEngine::streamRows(const unsigned char* const* rows, std::size_t count) {
  KC_ASSERT(streaming_ && !finished_, "rows go to a stream that has not ended");
  for (std::size_t k = 0; k < count; ++k) {
    const RowIndex y = rowsScanned_;
    KC_ASSERT(y < std::numeric_limits<RowIndex>::max(), "a stream's rows fit 31 bits");
    if (y % 16 == 15) attentionCheck();
    std::vector<kc_ScanRun>* current = lastRow_ == &ws_.rowB ? &ws_.rowA : &ws_.rowB;
    const std::size_t n = readRunsInto(rows[k], current->data());
    if (y == 0) {
      scanGreyFirstRow(current->data(), n);
    } else {
      scanGreyRow(y, current->data(), n, lastRow_->data());
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
  for (std::size_t i = 0; i < na; ++i) {
    if (above[i].value == 0) continue;
    const LabelId root = rootOf(above[i].label);
    const RegionIndex r = ws_.up[root] & ~kRootFlag;
    if (r >= slots_ || reg(r).released || reg(r).root != root || reg(r).yMax != y - 1) continue;
    ws_.completed.push_back(retire(r));
  }
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

void kc_ConnectEngine::appendRuns(kc_RunList& to, kc_RunList& from) {
  if (from.head == kNone) return;
  if (to.head == kNone) to.head = from.head;
  else ws_.streamRuns[to.tail].next = from.head;
  to.tail = from.tail;
  from = kc_RunList{};
}

void kc_ConnectEngine::releaseRuns(kc_RunList& list) {
  if (list.head == kNone) return;
  ws_.streamRuns[list.tail].next = freeRun_;
  freeRun_ = list.head;
  list = kc_RunList{};
}

void kc_ConnectEngine::joinRuns(RegionIndex a, RegionIndex b) {
  if (reachesEdge(reg(b))) {
    releaseRuns(ws_.slotRuns[a]);
    releaseRuns(ws_.slotRuns[b]);
  } else {
    appendRuns(ws_.slotRuns[b], ws_.slotRuns[a]);
  }
}

RowIndex kc_ConnectEngine::heldFrom() const {
  RowIndex first = rowsScanned_;
  for (RegionIndex r = 0; r < slots_; ++r) {
    const Region& g = reg(r);
    if (!g.released && (ws_.slotRuns[r].head != kNone || g.firstChild != kNone)) first = std::min(first, g.yMin);
  }
  for (const RetiredIndex t : ws_.completed) first = std::min(first, out_.entries[t].top);
  return first;
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
  // Ids by raster order of first pels (the order of the keys); each member's key holds its id from
  // here on, for the links.
  for (std::size_t m = 0; m < members.size(); ++m) entries[members[m].second].key = static_cast<LabelId>(m + 1);
  // Each member's runs, in id order, for the rows; whether every value is 0 or 1.
  auto maker = std::make_shared<TreeRowMaker>();
  bool binary = true;
  for (const auto& [key, i] : members) {
    maker->starts.push_back(static_cast<std::uint32_t>(maker->runs.size()));
    for (std::uint32_t k = ws_.entryRuns[i].head; k != kNone; k = ws_.streamRuns[k].next) {
      maker->runs.push_back(ws_.streamRuns[k]);
      if (ws_.streamRuns[k].value > 1) binary = false;
    }
  }
  maker->starts.push_back(static_cast<std::uint32_t>(maker->runs.size()));
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
    if (binary && e.label != 0 && e.pelCount < 0) {  // as an analysis of a binary image writes it
      Region g{};
      g.value = 1;
      g.xMin = e.left;
      g.xEnd = e.left + e.width;
      g.yMin = e.top;
      g.yMax = e.top + e.height - 1;
      g.pelCount = e.sumX;
      for (std::uint32_t k = maker->starts[m]; k < maker->starts[m + 1]; ++k) {
        const kc_StreamRun& run = maker->runs[k];
        const auto pels = static_cast<std::uint64_t>(run.xe - run.x);
        g.sumX += pels * static_cast<std::uint64_t>(run.x) + pels * (pels - 1) / 2;
        g.sumY += pels * static_cast<std::uint64_t>(run.y);
      }
      kc_BlobEntry b{};
      writeEntry(b, g, true);
      b.parent = e.parent;
      b.nextSibling = e.nextSibling;
      b.firstChild = e.firstChild;
      b.key = 0;
      e = b;
    } else if ((e.flags & kc_BlobEntry::kPelSums) == 0) {
      e.sumX = 0;
    }
    tree.entries.push_back(e);
  }
  for (const auto& [key, i] : members) releaseRuns(ws_.entryRuns[i]);
  tree.rowMaker = std::move(maker);
  return true;
}

void kc_ConnectEngine::compactIfSparse() {}
