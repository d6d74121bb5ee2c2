// Grey-scale connectivity in bands of rows: the light pass that finds the regions of the row above
// each band, the band scan with its placeholders, the join of the bands into the first band's
// engine, and kf_ConnectInBands, which schedules them and the cleanup of the joined result
// (connect_band_cleanup.cpp).
#include "connect/connect_bands.h"
#include "connect/connect_records.h"
#include "parallel/band_rows.h"
#include "parallel/work_pool.h"

#include <foundation/assert.h>
#include <foundation/rlebuffer.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <mutex>

namespace {

inline bool sameKind(const kc_ScanRun& a, const kc_ScanRun& b) { return (a.value != 0) == (b.value != 0); }

// KindRun: a maximal run of one kind (foreground or background) in a row.
struct KindRun {
  Column x;
  Column xe;
  bool fg;
};

// ClassPass: the light pass: which runs of a row are connected through the rows above it (the
// regions the scan down to that row leaves), by the scan's rules (foreground 8-connected,
// background 4-connected) but without records or sums. It walks up from the row, keeping the
// classes of one row of runs, each marked with the runs of the first row it holds (a union-find
// over those runs), and stops as soon as no two of their classes of one kind remain in the row:
// a class that leaves no run in a row is connected to nothing above it. Noise settles within a
// few rows, solid objects once the walk has passed over them.
class ClassPass {
 public:
  ClassPass(const unsigned char* const* rows, Column width)
      : rows_(rows), width_(width), prev_(static_cast<std::size_t>(width) + 1), cur_(prev_.size()),
        prevClass_(prev_.size()), curClass_(prev_.size()), prevMark_(prev_.size()), curMark_(prev_.size()) {}

  // run(row, out): the classes of row's runs. Calls kf_CheckStop() every 16 rows it passes.
  void run(RowIndex row, kc_SeamClasses& out) {
    std::size_t np = readKinds(row, prev_);
    const auto runs = static_cast<std::uint32_t>(np);
    marks_.resize(runs);
    for (std::uint32_t j = 0; j < runs; ++j) marks_[j] = prevClass_[j] = prevMark_[j] = j;
    std::uint32_t classes = runs;
    for (RowIndex y = row - 1; y >= 0 && !settled(np); --y) {
      if ((row - y) % 16 == 0) kf_CheckStop();
      const std::size_t n = readKinds(y, cur_);
      classes = step(np, classes, n);
      std::swap(prev_, cur_);
      std::swap(prevClass_, curClass_);
      std::swap(prevMark_, curMark_);
      np = n;
    }
    out.ofRun.resize(runs);
    renumber_.assign(runs, kNone);
    out.classes = 0;
    for (std::uint32_t j = 0; j < runs; ++j) {
      const std::uint32_t r = findMark(j);
      if (renumber_[r] == kNone) renumber_[r] = out.classes++;
      out.ofRun[j] = renumber_[r];
    }
  }

 private:
  std::size_t readKinds(RowIndex y, std::vector<KindRun>& out) const {
    std::size_t n = 0;
    Column x = 0;
    for (const unsigned char* src = rows_[y]; src[1] != 0; src += 2) {
      const Column xe = x + src[1];
      const bool fg = src[0] != 0;
      if (n != 0 && out[n - 1].fg == fg) out[n - 1].xe = xe;
      else out[n++] = KindRun{x, xe, fg};
      x = xe;
    }
    return n;
  }

  static std::uint32_t find(std::vector<std::uint32_t>& up, std::uint32_t v) {
    while (up[v] != v) {
      up[v] = up[up[v]];
      v = up[v];
    }
    return v;
  }
  std::uint32_t findMark(std::uint32_t v) { return find(marks_, v); }
  static void unite(std::vector<std::uint32_t>& up, std::uint32_t a, std::uint32_t b) {
    a = find(up, a);
    b = find(up, b);
    if (a < b) up[b] = a;
    else if (b < a) up[a] = b;
  }

  // settled(np): the row's runs hold at most one class of the first row per kind.
  bool settled(std::size_t np) {
    std::uint32_t seen[2] = {kNone, kNone};
    for (std::size_t j = 0; j < np; ++j) {
      const std::uint32_t m = prevMark_[prevClass_[j]];
      if (m == kNone) continue;
      std::uint32_t& s = seen[prev_[j].fg ? 1 : 0];
      const std::uint32_t r = findMark(m);
      if (s == kNone) s = r;
      else if (s != r) return false;
    }
    return true;
  }

  // step(np, classes, n): the classes of the next row's n runs from the last row's np runs of
  // classes classes (nodes 0 .. classes - 1; node classes + j is run j), and their marks.
  std::uint32_t step(std::size_t np, std::uint32_t classes, std::size_t n) {
    const std::size_t nodes = classes + n;
    if (parent_.size() < nodes) {
      parent_.resize(nodes);
      renumber_.resize(nodes);
      rootMark_.resize(nodes);
    }
    for (std::uint32_t v = 0; v < nodes; ++v) parent_[v] = v;
    std::size_t a = 0;
    for (std::size_t j = 0; j < n; ++j) {
      const KindRun& run = cur_[j];
      const Column margin = run.fg ? 1 : 0;
      const Column lo = run.x - margin;
      const Column hi = std::min(run.xe - 1 + margin, width_ - 1);
      while (a < np && prev_[a].x <= hi) {
        const KindRun& up = prev_[a];
        if (up.fg == run.fg && up.xe - 1 >= lo) unite(parent_, static_cast<std::uint32_t>(classes + j), prevClass_[a]);
        if (up.xe > hi) break;
        ++a;
      }
    }
    std::fill(rootMark_.begin(), rootMark_.begin() + static_cast<std::ptrdiff_t>(nodes), kNone);
    for (std::uint32_t c = 0; c < classes; ++c) {
      if (prevMark_[c] == kNone) continue;
      std::uint32_t& m = rootMark_[find(parent_, c)];
      if (m == kNone) m = prevMark_[c];
      else unite(marks_, m, prevMark_[c]);
    }
    std::fill(renumber_.begin(), renumber_.begin() + static_cast<std::ptrdiff_t>(nodes), kNone);
    std::uint32_t next = 0;
    for (std::size_t j = 0; j < n; ++j) {
      const std::uint32_t r = find(parent_, static_cast<std::uint32_t>(classes + j));
      if (renumber_[r] == kNone) {
        curMark_[next] = rootMark_[r];
        renumber_[r] = next++;
      }
      curClass_[j] = renumber_[r];
    }
    return next;
  }

  const unsigned char* const* rows_;
  Column width_;
  std::vector<KindRun> prev_, cur_;
  std::vector<std::uint32_t> prevClass_, curClass_;  // by run: its class
  std::vector<std::uint32_t> prevMark_, curMark_;    // by class: a run of the first row it holds, or kNone
  std::vector<std::uint32_t> marks_;                 // union-find over the runs of the first row
  std::vector<std::uint32_t> parent_, renumber_, rootMark_;
};

// Bands' entries below this many are copied on one thread.
constexpr std::uint32_t kCopyAlone = 1 << 14;

// Bands split off others (kf_ConnectInBands) bring the bands to at most this many times as many as
// there were: each costs a light pass, a seam and the copy of its entries, and keeps a workspace.
constexpr std::size_t kSplitBands = 2;

// Band 0 scans without a light pass first: it is this much taller than the others.
constexpr double kLightShare = 0.05;

std::vector<RowIndex> bandTops(RowIndex rows, std::size_t bands) {
  const double total = 1.0 + static_cast<double>(bands - 1) * (1.0 - kLightShare);
  std::vector<RowIndex> tops(bands + 1);
  tops[bands] = rows;
  for (std::size_t b = 1; b < bands; ++b) {
    const double end = 1.0 + static_cast<double>(b - 1) * (1.0 - kLightShare);
    const auto at = static_cast<RowIndex>(rows * end / total + 0.5);
    tops[b] = std::clamp(at, tops[b - 1] + 1, rows - static_cast<RowIndex>(bands - b));
  }
  return tops;
}

// rebase(v, p, entryBase): child link v of a band with p placeholders in the joined engine's entries:
// an entry (or its phantom) moves to entryBase on; markers (below p) stay for joinBand.
inline std::uint32_t rebase(std::uint32_t v, std::uint32_t p, std::uint32_t entryBase) {
  if (v == kNone || (v & ~kPhantom) < p) return v;
  return (v & kPhantom) | ((v & ~kPhantom) - p + entryBase);
}

// orBits(to, from, first, shift): the bits of from at and past first, moved up by shift, into to.
void orBits(std::vector<std::uint64_t>& to, const std::vector<std::uint64_t>& from, std::uint32_t first,
            std::uint32_t shift) {
  for (std::size_t w = first >> 6; w < from.size(); ++w) {
    std::uint64_t v = from[w];
    if (w == first >> 6) v &= ~std::uint64_t{0} << (first & 63);
    if (v == 0) continue;
    const std::uint64_t at = w * 64 + shift;
    const std::size_t word = static_cast<std::size_t>(at >> 6);
    const unsigned bit = static_cast<unsigned>(at & 63);
    to[word] |= v << bit;
    if (bit != 0 && (v >> (64 - bit)) != 0) to[word + 1] |= v >> (64 - bit);
  }
}

// BandScans: the bands of rows of one kf_ConnectInBands call and their scans. Each participant
// scans a band, then, while a band still being scanned has rows enough left, splits off the lower
// half of the one with the most and scans that, up to kSplitBands times as many bands as there
// were. Band k (k > 0, in the order made) scans with workspace and store k - 1 of ws.
class BandScans {
 public:
  BandScans(const kcRLEBuffer& image, kc_ConnectWorkspace& ws, kc_ConnectEngine& first, std::size_t bands)
      : image_(image), ws_(ws), first_(first), bands_(bands), most_(bands * kSplitBands), made_(bands),
        rows_(most_), engines_(most_), seams_(most_),
        least_(static_cast<RowIndex>(std::min(kf_LeastSplitRows(image.width()), image.height()))) {
    for (std::size_t b = ws.bandSpaces.size(); b + 1 < most_; ++b) {
      ws.bandSpaces.push_back(std::make_unique<kc_ConnectWorkspace>());
      ws.bandStores.push_back(std::make_unique<kc_BlobStore>());
    }
    const std::vector<RowIndex> tops = bandTops(static_cast<RowIndex>(image.height()), bands);
    for (std::size_t b = 0; b < bands; ++b) rows_[b] = std::make_unique<kc_BandRows>(tops[b], tops[b + 1]);
  }

  // run(threads, cleanup, minPels): every band scanned, the first by the first engine, each with the
  // cleanup of the regions it holds whole; then the bands in the order of their rows.
  void run(unsigned threads, kc_CleanupKind cleanup, PelCount minPels) {
    kc_WorkPool::shared().run(bands_, threads, [&](std::size_t b) {
      for (std::size_t k = b; k != most_; k = splitOff()) scan(k, cleanup, minPels);
    });
    byRow_.resize(made_);
    for (std::size_t k = 0; k < made_; ++k) byRow_[k] = k;
    std::sort(byRow_.begin(), byRow_.end(),
              [&](std::size_t a, std::size_t b) { return rows_[a]->top() < rows_[b]->top(); });
  }

  // count(): the bands scanned. engine(i), seamAbove(i): after run(), the engine of the band i-th
  // from the top (i > 0) and the classes of the row above it.
  std::size_t count() const { return made_; }
  kc_ConnectEngine& engine(std::size_t i) { return *engines_[byRow_[i]]; }
  const kc_SeamClasses& seamAbove(std::size_t i) const { return seams_[byRow_[i]]; }

 private:
  void scan(std::size_t b, kc_CleanupKind cleanup, PelCount minPels) {
    if (b == 0) {
      first_.cleanupInBand(cleanup, minPels);
      first_.scanBand(*rows_[0], nullptr);
      return;
    }
    engines_[b] = std::make_unique<kc_ConnectEngine>(image_, *ws_.bandSpaces[b - 1], *ws_.bandStores[b - 1], false,
                                                     kc_CleanupKind::eNone, 0);
    engines_[b]->cleanupInBand(cleanup, minPels);
    ClassPass(image_.pointToRat(), static_cast<Column>(image_.width())).run(rows_[b]->top() - 1, seams_[b]);
    engines_[b]->scanBand(*rows_[b], &seams_[b]);
  }

  // splitOff(): the band split off the one with the most rows left, or most_ when none is.
  std::size_t splitOff() {
    const std::lock_guard<std::mutex> guard(splitting_);
    if (made_ == most_) return most_;
    std::size_t from = 0;
    for (std::size_t k = 1; k < made_; ++k)
      if (rows_[k]->left() > rows_[from]->left()) from = k;
    RowIndex end = 0;
    const RowIndex mid = rows_[from]->split(least_, end);
    if (mid < 0) return most_;
    rows_[made_] = std::make_unique<kc_BandRows>(mid, end);
    return made_++;
  }

  const kcRLEBuffer& image_;
  kc_ConnectWorkspace& ws_;
  kc_ConnectEngine& first_;
  std::size_t bands_, most_;
  std::size_t made_;                                        // under splitting_ while the bands scan
  std::vector<std::unique_ptr<kc_BandRows>> rows_;          // by band, in the order made
  std::vector<std::unique_ptr<kc_ConnectEngine>> engines_;  // of the bands below the first
  std::vector<kc_SeamClasses> seams_;                       // the classes of the row above each band
  std::vector<std::size_t> byRow_;
  RowIndex least_;
  std::mutex splitting_;
};

}  // namespace

void kc_ConnectEngine::scanBand(kc_BandRows& rows, const kc_SeamClasses* above) {
  const RowIndex top = rows.top();
  KC_ASSERT(!scanned_ && !labelled_ && cleanup_ == kc_CleanupKind::eNone && (top == 0) == (above == nullptr) &&
                top < rows.limit() && rows.limit() <= height_,
            "a band of grey-scale rows without cleanup is scanned once");
  scanned_ = true;
  std::vector<kc_ScanRun>* prev = &ws_.rowA;
  std::vector<kc_ScanRun>* current = &ws_.rowB;
  std::size_t n = readRow(top == 0 ? 0 : top - 1, *current);
  if (above == nullptr) {
    scanGreyFirstRow(current->data(), n);
  } else {
    makePlaceholders(*above, current->data(), n);
    if (attend_ && top % 16 == 15) attentionCheck();
    std::swap(prev, current);
    n = readRow(top, *current);
    scanUnlabelledRow(top, current->data(), n, prev->data());
  }
  RowIndex y = top + 1;
  for (; rows.take(y); ++y) {
    if (attend_ && y % 16 == 15) attentionCheck();
    std::swap(prev, current);
    n = readRow(y, *current);
    scanUnlabelledRow(y, current->data(), n, prev->data());
  }
  rowsScanned_ = y;
  lastRow_ = current;
  lastRowCount_ = n;
#ifndef NDEBUG
  checkInvariants();
#endif
}

// makePlaceholders(above, row, n): a record per class of row (the row above the band), in class
// order, with no pels, extents that any pel widens, and marker child k; the row's runs take
// their class's label.
void kc_ConnectEngine::makePlaceholders(const kc_SeamClasses& above, kc_ScanRun* row, std::size_t n) {
  KC_ASSERT(ws_.up.empty() && out_.entries.size() == 0, "placeholders are the band's first records");
  std::size_t k = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (i != 0 && !sameKind(row[i - 1], row[i])) ++k;
    KC_ASSERT(k < above.ofRun.size(), "the classes of a row name each of its runs");
    const std::uint32_t c = above.ofRun[k];
    if (c == placeholders_) {
      const RegionIndex r = newRegion(row[i].value, 0, 0, 0);
      Region& g = reg(r);
      g.xMin = std::numeric_limits<Column>::max();
      g.xEnd = 0;
      g.yMin = std::numeric_limits<RowIndex>::max();
      g.yMax = -1;
      out_.entries.emplace_back().nextSibling = kNone;
      if (deferFill_) ws_.closes.push_back(kc_FillClose{0, 0, 0, kNone, kNone});
      g.firstChild = g.lastChild = c;
      ++placeholders_;
      markerPred_.push_back(kNone);
    }
    KC_ASSERT(c < placeholders_, "classes are numbered in order of their first run");
    row[i].label = c;
  }
  KC_ASSERT(k + 1 == above.ofRun.size() && placeholders_ == above.classes, "the classes of a row name each of its runs");
}

// slotsOfClasses(classes, slots): by class of the last row scanned, its open region; a class is
// one region and two classes are two.
void kc_ConnectEngine::slotsOfClasses(const kc_SeamClasses& classes, std::vector<RegionIndex>& slots) {
  slots.assign(classes.classes, kNone);
  const kc_ScanRun* row = lastRow_->data();
  std::size_t k = 0;
  for (std::size_t i = 0; i < lastRowCount_; ++i) {
    if (i != 0 && !sameKind(row[i - 1], row[i])) ++k;
    KC_ASSERT(k < classes.ofRun.size(), "the classes of a row name each of its runs");
    const std::uint32_t c = classes.ofRun[k];
    const RegionIndex r = regionOf(row[i].label);
    KC_ASSERT(slots[c] == kNone || slots[c] == r, "the runs of a class are one region");
    slots[c] = r;
  }
  for (RegionIndex r : slots) {
    KC_ASSERT(r != kNone && isOpen(r) && !reg(r).deleted, "each class is an open region of its own");
    reg(r).deleted = true;
  }
  for (RegionIndex r : slots) reg(r).deleted = false;
}

void kc_ConnectEngine::takeSeam(const kc_SeamClasses& classes, std::vector<kc_ConnectRegion>& seam) {
  std::vector<RegionIndex> slots;
  slotsOfClasses(classes, slots);
  seam.resize(slots.size());
  for (std::size_t c = 0; c < slots.size(); ++c) {
    seam[c] = reg(slots[c]);
    freeSlot(slots[c]);
  }
}

// The copy is bound by memory, which the cores share (on noise at two threads, about a twentieth
// of the call). Measured and not kept: the band's chunks spliced into this store with the entries
// changed in place (that pass moves nearly as many bytes, and the padding that lines the chunks up
// puts every later entry away from its place, which the move to id order pays for several times
// over); streaming stores of 8 bytes (slower); more bands than threads, to balance the scans
// (more entries copied, no better balance).
void kc_ConnectEngine::copyBand(kc_ConnectEngine& band, const kc_BandBase& base, std::size_t piece,
                                std::size_t pieces) {
  const std::uint32_t p = band.placeholders_;
  const std::uint32_t labelBase = base.labels, entryBase = base.entries;
  const kc_EntryArray& from = band.out_.entries;
  const auto link = [p, entryBase](std::uint32_t v) { return rebase(v, p, entryBase); };
  const std::size_t count = from.size() - p;
  const std::size_t begin = p + count * piece / pieces, end = p + count * (piece + 1) / pieces;
  // Each record is copied whole and its links written over the copy: a copy changed on the stack
  // first would be read back across the narrower stores just made to it, which stalls the loop.
  for (std::size_t i = begin; deferFill_ && i < end; ++i) {
    const kc_FillClose& c = band.ws_.closes[i];
    kc_FillClose& to = ws_.closes[i - p + entryBase];
    const std::uint32_t next = c.phantomNext;
    to = c;
    to.phantomNext = link(next);
  }
  for (std::size_t i = begin; i < end; ++i) {
    const kc_BlobEntry& e = from[i];
    kc_BlobEntry& to = out_.entries[i - p + entryBase];
    const std::uint32_t key = e.key, parent = e.parent, child = e.firstChild, sibling = e.nextSibling;
    to = e;
    if (key >= p) {  // else it holds a placeholder: joinBand writes it
      to.key = key - p + labelBase;
      to.parent = parent - p + labelBase;
    }
    if (sibling < p) {  // a marker
      KC_ASSERT(band.markerPred_[sibling] == kNone, "a marker is in one list, once");
      band.markerPred_[sibling] = static_cast<std::uint32_t>(i - p + entryBase);
    }
    to.firstChild = link(child);  // markers are left to joinBand
    to.nextSibling = link(sibling);
  }
  const std::vector<std::uint64_t>& tops = band.ws_.order;
  for (auto k = tops.size() * piece / pieces, last = tops.size() * (piece + 1) / pieces; k < last; ++k) {
    const auto serial = static_cast<std::uint32_t>(tops[k] >> 32);
    const auto index = static_cast<std::uint32_t>(tops[k]);
    KC_ASSERT(index >= p, "a listed top-level entry is the band's own");
    const std::uint32_t s = serial < p ? serial : serial - p + labelBase;  // a placeholder's: joinBand
    ws_.order[base.tops + k] = std::uint64_t{s} << 32 | link(index);
  }
}

// adoptRegion(g): g, a region of another band with labels, serial and links of this engine, is
// one of this engine's open regions (its root label: its key, unused but for its place).
RegionIndex kc_ConnectEngine::adoptRegion(const Region& g) {
  const auto r = static_cast<RegionIndex>(ws_.regions.size());
  ws_.regions.push_back(g);
  Region& a = ws_.regions.back();
  a.root = a.firstLabel;
  slots_ = r + 1;
  ++regionCount_;
  return r;
}

void kc_ConnectEngine::joinBand(kc_ConnectEngine& band, const kc_BandBase& base,
                                const std::vector<kc_ConnectRegion>& seam, const kc_SeamClasses* next,
                                std::vector<kc_ConnectRegion>& nextSeam) {
  const std::uint32_t p = band.placeholders_;
  const std::uint32_t labelBase = base.labels, entryBase = base.entries;
  KC_ASSERT(p == seam.size() && labelBase >= p, "a band's placeholders are the regions of the row above it");
  orBits(ws_.bits, band.ws_.bits, p, labelBase - p);
  std::vector<Region*> holders;  // the band's records that hold placeholders, open or retired
  band.countFrom(labelBase, entryBase, seam, holders);
  band.addSeam(seam);
  if (deferFill_) {
    for (Region* g : holders) relinkChildren(band, entryBase, seam, *g);
  } else {
    spliceSeam(band, entryBase, seam, holders);
  }
  for (std::size_t k : band.seamTops_) {  // listed top level whose records were placeholders
    std::uint64_t& top = ws_.order[base.tops + k];
    top = std::uint64_t{seam[top >> 32].serial} << 32 | static_cast<std::uint32_t>(top);
  }

  // The retired ones are written as retire() writes them (their place in a list kept).
  for (const auto& [index, g] : band.seamRetired_) {
    kc_BlobEntry& e = out_.entries[index - p + entryBase];
    const std::uint32_t sibling = e.nextSibling;
    e = kc_BlobEntry{};
    writeEntry(e, g);
    e.nextSibling = sibling;
    ws_.bits[g.firstLabel >> 6] |= std::uint64_t{1} << (g.firstLabel & 63);
    if (deferFill_) {
      kc_FillClose& c = ws_.closes[index - p + entryBase];
      c.pelCount = g.pelCount;
      c.sumX = g.sumX;
      c.sumY = g.sumY;
    }
  }

  // The open regions go on into the next band's seam, or stay open here till the finish.
  nextSeam.clear();
  if (next != nullptr) {
    std::vector<RegionIndex> slots;
    band.slotsOfClasses(*next, slots);
    nextSeam.resize(slots.size());
    for (std::size_t c = 0; c < slots.size(); ++c) {
      nextSeam[c] = band.reg(slots[c]);
      band.freeSlot(slots[c]);
    }
  }
  for (RegionIndex r = 0; r < band.slots_; ++r)
    if (!band.reg(r).released) adoptRegion(band.reg(r));
}

// countFrom(labelBase, entryBase, seam, holders): a band's records count their labels, serials
// and children as the whole scan does. Those that hold placeholders (listed in holders) take the
// serial and value of their record's region from above if it is a placeholder's; their keys and
// children are left to addSeam and relinkChildren.
void kc_ConnectEngine::countFrom(std::uint32_t labelBase, std::uint32_t entryBase,
                                 const std::vector<kc_ConnectRegion>& seam, std::vector<Region*>& holders) {
  const std::uint32_t p = placeholders_;
  const auto held = [&](Region& g) {
    if (g.serial < p) {
      g.value = seam[g.serial].value;
      g.serial = seam[g.serial].serial;
    } else {
      g.serial = g.serial - p + labelBase;
    }
    holders.push_back(&g);
  };
  for (auto& retired : seamRetired_) held(retired.second);
  for (RegionIndex r = 0; r < slots_; ++r) {
    Region& g = reg(r);
    if (g.released) continue;
    if (g.firstLabel < p) {
      held(g);
    } else {
      g.firstLabel = g.firstLabel - p + labelBase;
      g.serial = g.serial - p + labelBase;
      g.firstChild = rebase(g.firstChild, p, entryBase);
      g.lastChild = rebase(g.lastChild, p, entryBase);
    }
  }
}

// holderOf(q): the record, open or retired, that holds placeholder q's label now.
kc_ConnectRegion& kc_ConnectEngine::holderOf(LabelId q) {
  const LabelId root = rootOf(q);
  const std::uint32_t where = ws_.up[root] & ~kRootFlag;
  if (where < slots_ && !reg(where).released && reg(where).root == root) return reg(where);
  const auto it = std::lower_bound(seamRetired_.begin(), seamRetired_.end(), where,
                                   [](const auto& held, RetiredIndex i) { return held.first < i; });
  KC_ASSERT(it != seamRetired_.end() && it->first == where, "a placeholder's region is open or retired");
  return it->second;
}

// addSeam(seam): each region from above adds its pels and extents to the record holding its
// placeholder, whose key becomes the smallest of theirs (all below the band's own labels).
void kc_ConnectEngine::addSeam(const std::vector<kc_ConnectRegion>& seam) {
  std::vector<Region*> holding(placeholders_);
  for (LabelId q = 0; q < placeholders_; ++q) holding[q] = &holderOf(q);
  for (Region* g : holding) g->firstLabel = kNone;
  for (LabelId q = 0; q < placeholders_; ++q) {
    Region& g = *holding[q];
    const Region& s = seam[q];
    g.firstLabel = std::min(g.firstLabel, s.firstLabel);
    g.pelCount += s.pelCount;
    g.sumX += s.sumX;
    g.sumY += s.sumY;
    g.xMin = std::min(g.xMin, s.xMin);
    g.xEnd = std::max(g.xEnd, s.xEnd);
    g.yMin = std::min(g.yMin, s.yMin);
    g.yMax = std::max(g.yMax, s.yMax);
  }
}

// relinkChildren(band, entryBase, seam, g): g's child list (of band's entries) in this engine's
// entries, each marker replaced by the children of its region from above.
void kc_ConnectEngine::relinkChildren(const kc_ConnectEngine& band, std::uint32_t entryBase,
                                      const std::vector<kc_ConnectRegion>& seam, Region& g) {
  const std::uint32_t p = band.placeholders_;
  std::uint32_t first = kNone, last = kNone;
  const auto append = [&](std::uint32_t head, std::uint32_t tail) {
    if (last == kNone) first = head;
    else nextChild(last) = head;
    last = tail;
  };
  for (std::uint32_t v = g.firstChild; v != kNone; v = band.nextChild(v)) {
    if ((v & ~kPhantom) >= p) append(rebase(v, p, entryBase), rebase(v, p, entryBase));
    else if (seam[v].firstChild != kNone) append(seam[v].firstChild, seam[v].lastChild);
  }
  if (last != kNone) nextChild(last) = kNone;
  g.firstChild = first;
  g.lastChild = last;
}

// spliceSeam(band, entryBase, seam, holders): what relinkChildren does for every holder, without
// phantoms and without walking the lists: each marker q gives way to seam[q]'s children, linked
// from the entry whose sibling q was (markerPred_, which copyBand found) or from the holder's head,
// and on to what followed q. Linear in the placeholders.
void kc_ConnectEngine::spliceSeam(const kc_ConnectEngine& band, std::uint32_t entryBase,
                                  const std::vector<Region>& seam, const std::vector<Region*>& holders) {
  const std::uint32_t p = band.placeholders_;
  const auto markerNext = [&](std::uint32_t q) { return band.out_.entries[q].nextSibling; };
  // onFrom(v): the first child of the joined list from band link v on (markers without children
  // skipped). Each marker is passed by one call at most: the one from the cell before its run.
  const auto onFrom = [&](std::uint32_t v) {
    while (v != kNone && v < p) {
      if (seam[v].firstChild != kNone) return seam[v].firstChild;
      v = markerNext(v);
    }
    return rebase(v, p, entryBase);
  };
  std::vector<std::uint32_t> markerBefore(p, kNone);
  for (std::uint32_t q = 0; q < p; ++q) {
    const std::uint32_t next = markerNext(q);
    KC_ASSERT(next == kNone || (next & kPhantom) == 0, "no phantoms without the fill");
    if (next < p) markerBefore[next] = q;
    if (band.markerPred_[q] != kNone) out_.entries[band.markerPred_[q]].nextSibling = onFrom(q);
    if (seam[q].firstChild != kNone) out_.entries[seam[q].lastChild].nextSibling = onFrom(next);
  }
  // lastUpTo(q): the last child of the joined list up to marker q's children.
  const auto lastUpTo = [&](std::uint32_t q) {
    for (;;) {
      if (seam[q].firstChild != kNone) return seam[q].lastChild;
      if (band.markerPred_[q] != kNone) return band.markerPred_[q];
      if (markerBefore[q] == kNone) return kNone;  // q headed the list
      q = markerBefore[q];
    }
  };
  for (Region* g : holders) {
    const std::uint32_t last = g->lastChild;
    g->firstChild = onFrom(g->firstChild);
    g->lastChild = last < p ? lastUpTo(last) : rebase(last, p, entryBase);
  }
}

void kc_ConnectEngine::beginJoin(std::uint32_t labels, std::uint32_t entries, std::size_t tops) {
  KC_ASSERT(labels >= ws_.up.size() && entries >= out_.entries.size(), "the bands add labels and entries");
  ws_.bits.resize((labels + 63) / 64, 0);
  out_.entries.resizeForOverwrite(entries);  // copyBand writes each new entry
  ws_.order.resize(tops);
  if (deferFill_) ws_.closes.resize(entries);
  serial_ = labels;
  rowsScanned_ = height_;
  lastRow_ = nullptr;
}

void kc_ConnectEngine::growLabels(std::uint32_t labels) { ws_.up.resize(labels, 0); }

std::size_t kf_ConnectInBands(const kcRLEBuffer& image, kc_ConnectWorkspace& ws, kc_BlobStore& out,
                              std::vector<BlobId>& topIds, unsigned threads, kc_CleanupKind cleanup,
                              PelCount minPels) {
  const auto rows = static_cast<RowIndex>(image.height());
  const std::size_t bands = kf_Bands(image.width(), rows, threads);
  kc_ConnectEngine first(image, ws, out, false, bands <= 1 ? cleanup : kc_CleanupKind::eNone,
                         bands <= 1 ? minPels : 0);
  const bool fill = cleanup == kc_CleanupKind::eFill;
  if (bands <= 1) {
    first.scan();
    first.finish(topIds);
    return first.retired();
  }
  BandScans scans(image, ws, first, bands);
  scans.run(threads, cleanup, minPels);
  const std::size_t made = scans.count();
  ws.bandsScanned = made;
  std::vector<kc_BandBase> base(made);
  std::uint32_t labels = first.labelCount(), entries = first.entryCount();
  std::size_t listed = first.topCount();
  for (std::size_t i = 1; i < made; ++i) {
    const kc_ConnectEngine& e = scans.engine(i);
    base[i] = kc_BandBase{labels, entries, listed};
    labels += e.labelCount() - e.placeholders();
    entries += e.entryCount() - e.placeholders();
    listed += e.topCount();
  }
  std::vector<kc_ConnectRegion> seam, nextSeam;
  first.takeSeam(scans.seamAbove(1), seam);
  const unsigned copiers = entries - first.entryCount() < kCopyAlone ? 1 : threads;  // waking workers costs
  const std::size_t pieces = copiers > 1 ? std::size_t{copiers} * 4 : 1;  // of each band, copied at once
  first.beginJoin(labels, entries, listed);
  kc_WorkPool::shared().run((made - 1) * pieces + 1, copiers, [&](std::size_t t) {
    if (t == 0) return first.growLabels(labels);  // a zero-fill the copies need not wait for
    const std::size_t i = (t - 1) / pieces + 1;
    first.copyBand(scans.engine(i), base[i], (t - 1) % pieces, pieces);
  });
  for (std::size_t i = 1; i < made; ++i) {
    const kc_SeamClasses* next = i + 1 < made ? &scans.seamAbove(i + 1) : nullptr;
    first.joinBand(scans.engine(i), base[i], seam, next, nextSeam);
    seam.swap(nextSeam);
  }
  if (cleanup == kc_CleanupKind::ePrune) first.pruneJoined(minPels);
  if (fill) first.fillJoined(minPels);
  first.finish(topIds, threads);
  return first.retired();
}
