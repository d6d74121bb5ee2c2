// The streaming analysis: rows encoded as they come, a row-by-row tracker of foreground and
// background regions that tells when a top-level tree is complete, and the analysis of each
// complete tree's runs, which its regions collected as they grew. Whole-image and labelled
// connectivity keep their rows and analyse them at the end; a labelled image's trees are cut from
// its scene.
#include <blob/blobstream.h>

#include "analysis/params_check.h"
#include "base/messages.h"
#include "connect/connect_settings.h"
#include "scene/scene_builder.h"
#include "scene/scene_tree.h"
#include "store/bsd_data.h"

#include <foundation/assert.h>
#include <foundation/attention.h>
#include <foundation/rlebuffer.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <limits>
#include <utility>
#include <vector>

namespace {

using Msg = kc_BlobMessages;
using Column = std::int32_t;
using RowIndex = std::int64_t;
using NodeIndex = std::uint32_t;  // a run node of the pool (Tracker::nodes)
using SlotIndex = std::uint32_t;  // a region's slot (Tracker::regions)
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
constexpr std::size_t kInsertionRuns = 16;  // a tree's runs in one row sorted by insertion up to this

[[noreturn]] void refuse(Msg::Tool message) { throw kcBlobDefs::BadParams(Msg::kTool[message]); }

// A run of one value in a row.
struct ValueRun {
  Column x;
  Column xe;
  unsigned char value;
};

// A maximal run of one kind (foreground: any value but 0), its value runs values[first, last) of
// the row, and its region's slot (Tracker::regions; through a merge, a slot that leads to it).
struct KindRun {
  Column x;
  Column xe;
  bool fg;
  std::uint32_t first, last;
  SlotIndex slot;
};

// A list of run nodes (head to tail through RunNode::next); the order of its runs is left open.
struct RunList {
  NodeIndex head = kNone;
  NodeIndex tail = kNone;
};

// A value run kept for the tree it lies in, linked into its region's list.
struct RunNode {
  RowIndex y;
  Column x, xe;
  unsigned char value;
  NodeIndex next;
};

// A finished foreground region's tree: its bounding box and its runs, those of the blobs in its
// holes included.
struct TreeBox {
  RowIndex y0, y1;
  Column x0, xe;
  RunList runs;
};

// A region of the tracker, open at the last row, in a slot of its own. Foreground is 8-connected
// and background 4-connected, as in the grey-scale scan. A background region is outside once it
// reaches the image's left, right or top edge; finished foreground regions waiting for the
// background around them to turn out outside hang on that background region's list. A foreground
// region holds its runs, and those of the trees that waited in its holes. Regions merged into
// another lead to it (parent) until the row's runs are pointed at the survivor.
struct Region {
  bool fg;
  bool outside;
  RowIndex yMin;
  Column xMin, xEnd;
  RunList runs;
  std::uint32_t waitHead = kNone;  // into Tracker::waiting
  std::uint32_t waitTail = kNone;
  RowIndex waitTop = std::numeric_limits<RowIndex>::max();  // the first row of what waits
  RowIndex met = -1;               // the last row with a run of it
  SlotIndex parent = kNone;        // itself while it is a region, kNone in a free slot
};

struct Waiting {
  TreeBox box;
  std::uint32_t next;
};

// kindRuns(values, out): the maximal runs of one kind of a row of value runs.
void kindRuns(const std::vector<ValueRun>& values, std::vector<KindRun>& out) {
  out.clear();
  for (std::uint32_t i = 0; i < values.size(); ++i) {
    const ValueRun& v = values[i];
    const bool fg = v.value != 0;
    if (!out.empty() && out.back().fg == fg) {
      out.back().xe = v.xe;
      out.back().last = i + 1;
    } else {
      out.push_back(KindRun{v.x, v.xe, fg, i, i + 1, kNone});
    }
  }
}

// touches(up, run): whether up (row above) and run (row below) of the same kind are connected:
// foreground also across a corner, background only along an edge.
inline bool touches(const KindRun& up, const KindRun& run) {
  const Column margin = run.fg ? 1 : 0;
  return up.x < run.xe + margin && run.x < up.xe + margin;
}

// runAt(row, x): the index of the run of row covering column x (the row covers every column).
std::size_t runAt(const std::vector<KindRun>& row, Column x) {
  const auto it = std::upper_bound(row.begin(), row.end(), x, [](Column c, const KindRun& r) { return c < r.x; });
  return static_cast<std::size_t>(it - row.begin()) - 1;
}

// Tracker: the stream's state: the regions open at the last row, the runs of their trees and the
// trees complete. A class of this file alone, so that nothing of it is exported with kcBlobStream.
//
// Each run of a row takes the region of the first run above it touches, merges the others into it
// in turn (the region above survives), or starts one; the regions the row meets no more are
// finished. Slots of finished and merged regions are reused from the next row on, so the slots
// follow the open regions. Each foreground region lists its value runs in a pool of nodes; lists
// join as regions merge, a tree that waited in a hole joins the list of the blob around the hole,
// and a complete tree's list is sorted by row and column into the image it is analysed as, then
// goes back to the pool.
struct Tracker {
  kcBlobParams params;
  Column width = 0;
  RowIndex rows = 0;        // rows fed
  bool whole = false;       // whole-image connectivity: rows kept, one tree at the end
  bool labelled = false;    // labelled connectivity: every row kept, every tree at the end
  bool finished = false;
  bool broken = false;
  long numbered = 0;        // trees handed a number
  std::vector<ValueRun> values;  // the row being stepped
  // Whole-image and labelled connectivity: the runs of the rows kept, row firstKept + i from
  // keptRuns[keptRows[i]].
  std::vector<ValueRun> keptRuns;
  std::vector<std::size_t> keptRows;
  RowIndex firstKept = 0;
  // The tracker: the last row's kind runs with their regions, the regions' slots, the slots free
  // and those to free once the row is stepped.
  std::vector<KindRun> above, current;
  std::vector<Region> regions;
  std::vector<SlotIndex> freeSlots, spent;
  std::vector<Waiting> waiting;
  std::vector<std::uint32_t> freeWaiting;
  // The runs of the open and waiting trees, and the free nodes (a list through next).
  std::vector<RunNode> nodes;
  NodeIndex freeNodes = kNone;
  // Complete trees: their scenes, in the order they completed, with their numbers.
  std::deque<std::pair<long, std::unique_ptr<kcBlobSceneDescription>>> done;
  kcBlobResults results;         // the analyses of the trees, reused
  kcRLEStorage bandStorage;      // the encoded band's runs, reused from band to band
  // Scratch of making a tree's image: its runs as listed and by row, the count before each row, the
  // run bytes and where each row starts.
  std::vector<RunNode> gathered, sorted;
  std::vector<std::uint32_t> rowCounts;
  std::vector<unsigned char> cutBytes;
  std::vector<std::size_t> cutStarts;
  std::vector<const unsigned char*> starts;

  SlotIndex find(SlotIndex a) {
    while (regions[a].parent != a) a = regions[a].parent = regions[regions[a].parent].parent;
    return a;
  }
  SlotIndex newSlot(const Region& r);
  NodeIndex newNode(const RunNode& run);
  void append(RunList& to, const RunList& from);
  void release(const RunList& list);
  void take(KindRun& run, SlotIndex slot, RowIndex y);
  void unite(SlotIndex a, SlotIndex b);
  void becameOutside(SlotIndex root);
  void wait(SlotIndex bgRoot, const TreeBox& box);
  void releaseWaiting(std::uint32_t head, RunList& into);
  void step(RowIndex y);
  void closeAt(RowIndex y, bool last);
  void complete(const TreeBox& box);
  void completeWhole();
  void completeLabelled();
  void keepRow();
  template <class Row>
  kcRLEBuffer runImage(RowIndex top, RowIndex bottom, Column left, Column right, const Row& row);
  template <class Row>
  void analyse(RowIndex top, RowIndex bottom, Column left, Column right, const Row& row);
  bool keepsRows() const { return whole || labelled; }
  long rowsHeld() const;
};

NodeIndex Tracker::newNode(const RunNode& run) {
  if (freeNodes != kNone) {
    const NodeIndex n = freeNodes;
    freeNodes = nodes[n].next;
    nodes[n] = run;
    return n;
  }
  KC_ASSERT(nodes.size() < kNone, "run nodes fit 32 bits");
  nodes.push_back(run);
  return static_cast<NodeIndex>(nodes.size() - 1);
}

// append(to, from): from's runs join to's (from's nodes now belong to to).
void Tracker::append(RunList& to, const RunList& from) {
  if (from.head == kNone) return;
  if (to.head == kNone) to.head = from.head;
  else nodes[to.tail].next = from.head;
  to.tail = from.tail;
}

// release(list): the list's nodes go back to the pool.
void Tracker::release(const RunList& list) {
  if (list.head == kNone) return;
  nodes[list.tail].next = freeNodes;
  freeNodes = list.head;
}

SlotIndex Tracker::newSlot(const Region& r) {
  SlotIndex slot;
  if (!freeSlots.empty()) {
    slot = freeSlots.back();
    freeSlots.pop_back();
    regions[slot] = r;
  } else {
    KC_ASSERT(regions.size() < kNone, "region slots fit 32 bits");
    slot = static_cast<SlotIndex>(regions.size());
    regions.push_back(r);
  }
  regions[slot].parent = slot;
  return slot;
}

// unite(a, b): the regions of slots a and b are one; b's region survives, a's list of waiting trees
// after b's.
void Tracker::unite(SlotIndex a, SlotIndex b) {
  a = find(a);
  b = find(b);
  if (a == b) return;
  Region& ra = regions[a];
  Region& rb = regions[b];
  KC_ASSERT(ra.fg == rb.fg, "only regions of one kind join");
  ra.parent = b;
  spent.push_back(a);
  rb.yMin = std::min(rb.yMin, ra.yMin);
  rb.xMin = std::min(rb.xMin, ra.xMin);
  rb.xEnd = std::max(rb.xEnd, ra.xEnd);
  rb.met = std::max(rb.met, ra.met);
  append(rb.runs, ra.runs);
  if (ra.waitHead != kNone) {
    if (rb.waitHead == kNone) rb.waitHead = ra.waitHead;
    else waiting[rb.waitTail].next = ra.waitHead;
    rb.waitTail = ra.waitTail;
    rb.waitTop = std::min(rb.waitTop, ra.waitTop);
  }
  const bool wasOutside = rb.outside;
  rb.outside = rb.outside || ra.outside;
  if (rb.outside && (!wasOutside || ra.waitHead != kNone)) becameOutside(b);
}

// becameOutside(root): the background region root reaches an edge: the trees waiting on it are
// complete, in the order of its list (the order they finished, each list joined after the other).
void Tracker::becameOutside(SlotIndex root) {
  Region& r = regions[root];
  r.outside = true;
  for (std::uint32_t w = r.waitHead; w != kNone;) {
    const std::uint32_t next = waiting[w].next;
    complete(waiting[w].box);
    freeWaiting.push_back(w);
    w = next;
  }
  r.waitHead = r.waitTail = kNone;
  r.waitTop = std::numeric_limits<RowIndex>::max();
}

void Tracker::wait(SlotIndex bgRoot, const TreeBox& box) {
  std::uint32_t w;
  if (!freeWaiting.empty()) {
    w = freeWaiting.back();
    freeWaiting.pop_back();
    waiting[w] = Waiting{box, kNone};
  } else {
    w = static_cast<std::uint32_t>(waiting.size());
    waiting.push_back(Waiting{box, kNone});
  }
  Region& r = regions[bgRoot];
  if (r.waitHead == kNone) r.waitHead = w;
  else waiting[r.waitTail].next = w;
  r.waitTail = w;
  r.waitTop = std::min(r.waitTop, box.y0);
}

// releaseWaiting(head, into): a hole closed: the trees waiting on it lie inside its encloser's
// tree, whose runs (into) take theirs.
void Tracker::releaseWaiting(std::uint32_t head, RunList& into) {
  for (std::uint32_t w = head; w != kNone; w = waiting[w].next) {
    append(into, waiting[w].box.runs);
    freeWaiting.push_back(w);
  }
}

// take(run, slot, y): run, of row y, joins the region of slot, which becomes outside when the run
// is background on the image's edge.
void Tracker::take(KindRun& run, SlotIndex slot, RowIndex y) {
  run.slot = slot;
  Region& r = regions[slot];
  r.xMin = std::min(r.xMin, run.x);
  r.xEnd = std::max(r.xEnd, run.xe);
  r.met = y;
  if (run.fg) {
    for (std::uint32_t k = run.first; k < run.last; ++k) {
      const ValueRun& v = values[k];
      const NodeIndex n = newNode(RunNode{y, v.x, v.xe, v.value, kNone});
      append(r.runs, RunList{n, n});
    }
  } else if (!r.outside && (run.x == 0 || run.xe == width)) {
    becameOutside(slot);
  }
}

// step(y): row y (values) against the row above, walking both rows once. Each run takes the region
// of the first run above of its kind that it touches and merges those of the others into theirs, or
// starts a region; then the regions the row no longer reaches are finished.
void Tracker::step(RowIndex y) {
  kindRuns(values, current);
  std::size_t a = 0;
  for (KindRun& run : current) {
    while (a < above.size() && above[a].xe < run.x) ++a;
    SlotIndex slot = kNone;
    for (std::size_t k = a; k < above.size() && above[k].x <= run.xe; ++k) {
      if (above[k].fg != run.fg || !touches(above[k], run)) continue;
      if (slot == kNone) {
        take(run, find(above[k].slot), y);
        slot = run.slot;
      } else {
        unite(slot, above[k].slot);  // the survivor was met by this row too
        slot = find(slot);
      }
    }
    if (slot == kNone) {
      take(run, newSlot(Region{run.fg, !run.fg && y == 0, y, run.x, run.xe, RunList{}}), y);
    } else {
      run.slot = slot;
    }
  }
  closeAt(y, false);
}

// closeAt(y, last): the regions open above row y that row y does not reach are finished (every
// open region when last: the image ended before row y). A finished foreground region's tree is
// complete when the background below it is outside, and waits on that background otherwise; a
// finished background region that is not outside is a hole, and what waits on it is inside the
// tree of the foreground below it. Then the slots of the regions finished or merged are free.
void Tracker::closeAt(RowIndex y, bool last) {
  for (const KindRun& run : above) {
    const SlotIndex root = find(run.slot);
    Region& r = regions[root];
    if (r.met == y) continue;  // row y reaches it, or it was finished already
    r.met = y;
    spent.push_back(root);
    if (r.fg) {
      const TreeBox box{r.yMin, y - 1, r.xMin, r.xEnd, r.runs};
      if (last) {
        complete(box);
      } else {
        const SlotIndex below = find(current[runAt(current, run.x)].slot);
        KC_ASSERT(!regions[below].fg, "the pel below a finished foreground region is background");
        if (regions[below].outside) complete(box);
        else wait(below, box);
      }
    } else if (last) {
      becameOutside(root);  // the bottom edge
    } else if (!r.outside) {  // the blob around the hole takes what waited in it
      releaseWaiting(r.waitHead, regions[find(current[runAt(current, run.x)].slot)].runs);
    }
  }
  if (last) current.clear();
  for (KindRun& run : current) run.slot = find(run.slot);
  for (const SlotIndex slot : spent) {
    regions[slot].parent = kNone;
    freeSlots.push_back(slot);
  }
  spent.clear();
  std::swap(above, current);
}

// runImage(top, bottom, left, right, row): the run image of rows top .. bottom and columns left ..
// right - 1, at that position (so every coordinate is the whole image's), each row's runs given by
// row(y, put), which calls put(value, length) from the left, never twice in a row with one value.
template <class Row>
kcRLEBuffer Tracker::runImage(RowIndex top, RowIndex bottom, Column left, Column right, const Row& row) {
  cutBytes.clear();
  cutStarts.clear();
  const auto put = [this](unsigned char value, Column length) {
    for (; length > 255; length -= 255) {
      cutBytes.push_back(value);
      cutBytes.push_back(255);
    }
    if (length > 0) {
      cutBytes.push_back(value);
      cutBytes.push_back(static_cast<unsigned char>(length));
    }
  };
  for (RowIndex y = top; y <= bottom; ++y) {
    cutStarts.push_back(cutBytes.size());
    row(y, put);
    cutBytes.push_back(0);
    cutBytes.push_back(0);
  }
  std::vector<unsigned char> bytes(cutBytes.begin(), cutBytes.end());  // exactly sized: the scene keeps it
  starts.clear();
  for (std::size_t at : cutStarts) starts.push_back(bytes.data() + at);
  kcRLEBuffer runs;
  runs.becomeOwner(right - left, starts, bytes);
  runs.offset(kcPair<long>(left, static_cast<long>(top)));
  return runs;
}

// analyse(top, bottom, left, right, row): runImage(...) analysed, and its scene kept when the
// analysis left any blob.
template <class Row>
void Tracker::analyse(RowIndex top, RowIndex bottom, Column left, Column right, const Row& row) {
  const kcRLEBuffer runs = runImage(top, bottom, left, right, row);
  // Analysed into the same results each time (their engine's arrays reused, nothing grown tree by
  // tree); the tree handed out is a copy of the scene, which shares its runs and holds no engine.
  kfBlobAnalysis<kcRLEBuffer>(runs, params, results);
  const kcBlobSceneDescription& scene = *results.connectedBlobs();
  if (scene.numBlobs(false) == 0) return;
  auto tree = std::make_unique<kcBlobSceneDescription>(scene);
  kc_SceneBuilder::data(*tree).augmentedCache.reset();  // the engine's arrays stay with the results
  done.emplace_back(++numbered, std::move(tree));
}

// complete(box): the finished region's tree (its own pels and those of the blobs in its holes;
// every other pel of its bounding box 0) analysed; its runs go back to the pool. The box is widened
// by a pel where the image goes on. The runs are put in raster order by a count per row, then
// within each row by insertion, or, past kInsertionRuns (the rows of a blob merged from many arms,
// as on noise, whose lists join in any order), by a sort.
void Tracker::complete(const TreeBox& box) {
  const auto height = static_cast<std::size_t>(box.y1 - box.y0 + 1);
  rowCounts.assign(height + 1, 0);
  gathered.clear();
  for (NodeIndex k = box.runs.head; k != kNone; k = nodes[k].next) {
    gathered.push_back(nodes[k]);
    ++rowCounts[static_cast<std::size_t>(nodes[k].y - box.y0) + 1];
  }
  release(box.runs);
  const std::size_t count = gathered.size();
  for (std::size_t i = 1; i <= height; ++i) rowCounts[i] += rowCounts[i - 1];
  sorted.resize(count);
  for (const RunNode& run : gathered) sorted[rowCounts[static_cast<std::size_t>(run.y - box.y0)]++] = run;
  for (std::size_t r = 0, begin = 0; r < height; begin = rowCounts[r++]) {  // row r: [begin, rowCounts[r])
    const std::size_t end = rowCounts[r];
    if (end - begin > kInsertionRuns) {
      std::sort(sorted.begin() + static_cast<std::ptrdiff_t>(begin), sorted.begin() + static_cast<std::ptrdiff_t>(end),
                [](const RunNode& a, const RunNode& b) { return a.x < b.x; });
      continue;
    }
    for (std::size_t i = begin + 1; i < end; ++i) {
      const RunNode run = sorted[i];
      std::size_t j = i;
      for (; j > begin && sorted[j - 1].x > run.x; --j) sorted[j] = sorted[j - 1];
      sorted[j] = run;
    }
  }
  const RowIndex top = std::max<RowIndex>(0, box.y0 - 1), bottom = std::min(rows - 1, box.y1 + 1);
  const Column left = std::max<Column>(0, box.x0 - 1), right = std::min(width, box.xe + 1);
  std::size_t next = 0;
  analyse(top, bottom, left, right, [&](RowIndex y, const auto& put) {
    Column x = left;  // the runs of a row touch only runs of their own kind run, of other values
    for (; next < sorted.size() && sorted[next].y == y; ++next) {
      const RunNode& run = sorted[next];
      put(0, run.x - x);
      put(run.value, run.xe - run.x);
      x = run.xe;
    }
    put(0, right - x);
  });
}

// completeWhole(): whole-image connectivity at the end: the rows kept (from the row above the first
// with a pel that is not 0, so that the interior test sees the same edges) analysed as one image,
// whose one blob is the tree.
void Tracker::completeWhole() {
  if (keptRows.empty()) return;
  keptRows.push_back(keptRuns.size());
  analyse(firstKept, rows - 1, 0, width, [&](RowIndex y, const auto& put) {
    const auto i = static_cast<std::size_t>(y - firstKept);
    for (std::size_t k = keptRows[i]; k < keptRows[i + 1]; ++k) put(keptRuns[k].value, keptRuns[k].xe - keptRuns[k].x);
  });
  keptRuns.clear();
  keptRows.clear();
}

// keepRow(): the row just encoded (values) kept for the analysis at the end. Whole-image
// connectivity keeps, of the rows of 0s before its first pel, only the last: the scene's top edge.
void Tracker::keepRow() {
  if (whole && values.size() == 1 && values[0].value == 0 && keptRuns.size() == 1 && keptRuns[0].value == 0) {
    keptRuns.clear();
    keptRows.clear();
  }
  if (keptRows.empty()) firstKept = rows - 1;
  keptRows.push_back(keptRuns.size());
  keptRuns.insert(keptRuns.end(), values.begin(), values.end());
}

// completeLabelled(): labelled connectivity at the end: the rows kept analysed as one image, then
// each top-level blob's tree, in the order of their ids, cut from that scene (kf_TreeScene). A
// labelled tree cannot be analysed apart: every pel around it would be some region of its own.
void Tracker::completeLabelled() {
  if (keptRows.empty()) return;
  keptRows.push_back(keptRuns.size());
  const kcRLEBuffer image = runImage(0, rows - 1, 0, width, [&](RowIndex y, const auto& put) {
    const auto i = static_cast<std::size_t>(y);
    for (std::size_t k = keptRows[i]; k < keptRows[i + 1]; ++k) put(keptRuns[k].value, keptRuns[k].xe - keptRuns[k].x);
  });
  std::vector<ValueRun>().swap(keptRuns);
  std::vector<std::size_t>().swap(keptRows);
  kcBlobResults analysed;
  kfBlobAnalysis<kcRLEBuffer>(image, params, analysed);
  kcBlobSceneDescription& scene = *analysed.connectedBlobs();
  const kc_BSDData& d = kc_SceneBuilder::data(scene);
  std::vector<BlobId> tops(d.topIds);
  std::sort(tops.begin(), tops.end());
  kc_TreeScratch scratch;
  for (const BlobId top : tops) {  // the window: the tree's box widened by a pel where the image goes on
    const kcPelRect box = d.store.imageRect(d.store.entry(top));
    const long x0 = std::max(0L, box.ul().x() - 1), y0 = std::max(0L, box.ul().y() - 1);
    const long x1 = std::min<long>(width, box.lr().x() + 1), y1 = std::min<long>(rows, box.lr().y() + 1);
    done.emplace_back(++numbered, kf_TreeScene(scene, top, kcPelRect(x0, y0, x1 - x0, y1 - y0), scratch));
  }
}

// rowsHeld(): the rows from the first of the oldest open or waiting blob to the last row fed
// (whole-image and labelled connectivity: the rows kept).
long Tracker::rowsHeld() const {
  if (keepsRows()) return static_cast<long>(keptRows.size());
  RowIndex first = rows;
  for (const Region& r : regions)
    if (r.parent != kNone) first = std::min(first, r.fg ? r.yMin : r.waitTop);
  return static_cast<long>(rows - first);
}

}  // namespace

struct kcBlobStream::State : Tracker {};

kcBlobStream::kcBlobStream(const kcBlobParams& params, long width) : state_(std::make_unique<State>()) {
  kf_CheckSegmentation(params);
  kf_CheckConnectSettings(params.connectivityType(), params.scaleVal(), params.connectivityCleanup(),
                          params.connectivityMinPels());
  const auto kind = params.segmentationType();
  if (kind == kcBlobParams::eThreshImage ||
      ((kind == kcBlobParams::eHardThresh || kind == kcBlobParams::eSoftThresh) && params.isThreshPercent()))
    refuse(Msg::eStreamSegmentation);
  if (!params.mask().isDegenerate() || !params.morph().empty()) refuse(Msg::eStreamMaskOrMorph);
  if (width < 1 || width > std::numeric_limits<Column>::max()) refuse(Msg::eStreamWidth);
  state_->params = params;
  state_->width = static_cast<Column>(width);
  state_->whole = params.connectivityType() == kcBlobSceneDescription::eWholeImageGreyScale;
  state_->labelled = params.connectivityType() == kcBlobSceneDescription::eLabelled;
}

kcBlobStream::~kcBlobStream() = default;
kcBlobStream::kcBlobStream(kcBlobStream&&) noexcept = default;
kcBlobStream& kcBlobStream::operator=(kcBlobStream&&) noexcept = default;

void kcBlobStream::feed(const kcPelBuffer_const<unsigned char>& rows) {
  State& s = *state_;
  if (s.finished || s.broken) refuse(Msg::eStreamEnded);
  if (!rows.isBound() || rows.width() != s.width) refuse(Msg::eStreamRowWidth);
  if (rows.height() == 0) return;
  s.broken = true;  // until the rows are in
  kcRLEBuffer encoded;
  encoded.storage(s.bandStorage);
  switch (s.params.segmentationType()) {
    case kcBlobParams::eMap: encoded.encode(rows, s.params.map()); break;
    case kcBlobParams::eHardThresh: encoded.encode(rows, s.params.thresh(), s.params.invert()); break;
    case kcBlobParams::eSoftThresh:
      encoded.encode(rows, s.params.thresh(), s.params.hiThresh(), s.params.softness(), s.params.invert());
      break;
    default: encoded.encode(rows); break;
  }
  for (long r = 0; r < encoded.height(); ++r) {
    if (r % 16 == 15) kcAttention::check();
    std::vector<ValueRun>& values = s.values;
    values.clear();
    Column x = 0;
    for (const unsigned char* src = encoded.pointToRow(r); src[1] != 0; src += 2) {
      if (!values.empty() && values.back().value == src[0]) values.back().xe += src[1];
      else values.push_back(ValueRun{x, x + src[1], src[0]});
      x += src[1];
    }
    ++s.rows;
    if (s.keepsRows()) s.keepRow();
    else s.step(s.rows - 1);
  }
  s.broken = false;
}

void kcBlobStream::finish() {
  State& s = *state_;
  if (s.finished) return;
  if (s.broken) refuse(Msg::eStreamEnded);
  s.broken = true;
  if (s.whole) s.completeWhole();
  else if (s.labelled) s.completeLabelled();
  else s.closeAt(s.rows, true);
  s.broken = false;
  s.finished = true;
}

std::size_t kcBlobStream::ready() const { return state_->done.size(); }

std::unique_ptr<kcBlobSceneDescription> kcBlobStream::take(long* number) {
  if (number != nullptr) *number = 0;
  if (state_->done.empty()) return nullptr;
  auto [n, scene] = std::move(state_->done.front());
  state_->done.pop_front();
  if (number != nullptr) *number = n;
  return std::move(scene);
}

long kcBlobStream::rowsFed() const { return static_cast<long>(state_->rows); }
long kcBlobStream::rowsHeld() const { return state_->rowsHeld(); }
