// The streaming analysis: rows encoded as they come, a row-by-row tracker of foreground and
// background regions that tells when a top-level tree is complete, and the analysis of each
// complete tree's runs, cut out of the rows the stream keeps. Whole-image connectivity keeps its
// rows and analyses them at the end.
#include <blob/blobstream.h>

#include "analysis/params_check.h"
#include "base/messages.h"
#include "connect/connect_settings.h"
#include "scene/scene_builder.h"

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
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

[[noreturn]] void refuse(Msg::Tool message) { throw kcBlobDefs::BadParams(Msg::kTool[message]); }

// A run of one value in a kept row, with the region of its kind run (a lasting id, see Tracker).
struct ValueRun {
  Column x;
  Column xe;
  std::uint32_t id;
  unsigned char value;
};

// A maximal run of one kind (foreground: any value but 0), its region in the tracker's per-row
// union-find (set) and its lasting id (id).
struct KindRun {
  Column x;
  Column xe;
  bool fg;
  std::uint32_t set;
  std::uint32_t id;
};

// A finished foreground region's tree: its bounding box and its lasting id.
struct TreeBox {
  long y0, y1;
  Column x0, xe;
  std::uint32_t id;
  bool holes;  // a hole closed inside it: its tree holds more than its own pels
};

// A region of the tracker (the attributes of a union-find root). Foreground is 8-connected and
// background 4-connected, as in the grey-scale scan. A background region is outside once it
// reaches the image's left, right or top edge; finished foreground regions waiting for the
// background around them to turn out outside hang on that background region's list.
struct Region {
  bool fg;
  bool outside;
  long yMin;
  Column xMin, xEnd;
  std::uint32_t waitHead = kNone;  // into State::waiting
  std::uint32_t waitTail = kNone;
  bool holes = false;              // foreground: a hole closed inside it
};

struct Waiting {
  TreeBox box;
  std::uint32_t next;
};

// kindRuns(values, out): the maximal runs of one kind of a row of value runs.
void kindRuns(const std::vector<ValueRun>& values, std::vector<KindRun>& out) {
  out.clear();
  for (const ValueRun& v : values) {
    const bool fg = v.value != 0;
    if (!out.empty() && out.back().fg == fg) out.back().xe = v.xe;
    else out.push_back(KindRun{v.x, v.xe, fg, kNone, kNone});
  }
}

// touches(up, run): whether up (row above) and run (row below) of the same kind are connected:
// foreground also across a corner, background only along an edge.
inline bool touches(const KindRun& up, const KindRun& run) {
  const Column margin = run.fg ? 1 : 0;
  return up.x < run.xe + margin && run.x < up.xe + margin;
}

// forTouching(above, row, connected, f): calls f(a, r) for each run a of above and r of row whose
// columns meet, along an edge or (when connected(a, r) says so) across a corner, walking both rows
// once.
template <class Connected, class F>
void forTouching(const std::vector<KindRun>& above, const std::vector<KindRun>& row, Connected connected, F f) {
  std::size_t a = 0;
  for (const KindRun& r : row) {
    while (a < above.size() && above[a].xe < r.x) ++a;
    for (std::size_t k = a; k < above.size() && above[k].x <= r.xe; ++k)
      if (connected(above[k], r)) f(above[k], r);
  }
}

// runAt(row, x): the index of the run of row covering column x (the row covers every column).
std::size_t runAt(const std::vector<KindRun>& row, Column x) {
  const auto it = std::upper_bound(row.begin(), row.end(), x, [](Column c, const KindRun& r) { return c < r.x; });
  return static_cast<std::size_t>(it - row.begin()) - 1;
}

// Tracker: the stream's state: the rows kept, the regions open at the last row and the trees
// complete. A class of this file alone, so that nothing of it is exported with kcBlobStream.
//
// Besides the per-row union-find (renumbered every row, so that it follows the open regions alone),
// every kind run of a kept row has a lasting id in a second union-find (ids), joined as the rows
// join, and each finished region an owner: a foreground region waiting on the background below it
// is owned by that background, and a hole by the foreground around it. A run lies in a tree when its
// region, or an owner up the chain, is the tree's region; so a complete tree is read off the kept
// rows in one pass. The ids are renumbered (compact()) once they outnumber twice the kept runs.
struct Tracker {
  kcBlobParams params;
  Column width = 0;
  long rows = 0;            // rows fed
  bool whole = false;       // whole-image connectivity: every row kept, one tree at the end
  bool finished = false;
  bool broken = false;
  long numbered = 0;        // trees handed a number
  // The rows kept: window[i] is row firstKept + i, as value runs.
  std::deque<std::vector<ValueRun>> window;
  long firstKept = 0;
  std::vector<std::vector<ValueRun>> spare;  // row vectors to reuse
  // The tracker: the last row's kind runs with their regions, and the regions open there.
  std::vector<KindRun> above, current;
  std::vector<Region> open;
  std::vector<std::uint32_t> up;  // union-find over open regions, then the current row's runs
  std::vector<Region> sets;       // attributes by union-find entry (valid at roots)
  std::vector<std::uint8_t> seen;
  std::vector<std::uint32_t> renumber;
  std::vector<Waiting> waiting;
  std::vector<std::uint32_t> freeWaiting;
  // The lasting ids: union-find parents and owners (kNone: none), and the runs of the kept rows.
  std::vector<std::uint32_t> ids, owner;
  std::size_t keptRuns = 0;
  std::vector<std::uint32_t> remap, roots, newOwner;
  // Complete trees: their scenes, in the order they completed, with their numbers.
  std::deque<std::pair<long, std::unique_ptr<kcBlobSceneDescription>>> done;
  kcBlobResults results;         // the analyses of the trees, reused
  kcRLEStorage bandStorage;      // the encoded band's runs, reused from band to band
  std::vector<std::size_t> cutStarts;  // scratch of cutting a tree out

  std::uint32_t find(std::uint32_t a) {
    while (up[a] != a) a = up[a] = up[up[a]];
    return a;
  }
  std::uint32_t findId(std::uint32_t a) {
    while (ids[a] != a) a = ids[a] = ids[ids[a]];
    return a;
  }
  // inTree(id, root, holes): whether the run with lasting id lies in the tree of region root.
  bool inTree(std::uint32_t id, std::uint32_t root, bool holes) {
    for (std::uint32_t r = findId(id);; r = findId(owner[r])) {
      if (r == root) return true;
      if (!holes || owner[r] == kNone) return false;
    }
  }
  std::uint32_t newId() {
    const auto id = static_cast<std::uint32_t>(ids.size());
    ids.push_back(id);
    owner.push_back(kNone);
    return id;
  }
  void compact();
  void unite(std::uint32_t a, std::uint32_t b);
  void becameOutside(std::uint32_t root);
  void wait(std::uint32_t bgRoot, const TreeBox& box);
  void releaseWaiting(std::uint32_t head);
  void step(long y, std::vector<ValueRun>& values);
  void closeAt(long y, bool last);
  void complete(const TreeBox& box);
  void completeWhole();
  template <class Row>
  void analyse(long top, long bottom, Column left, Column right, const Row& row);
  void dropRows();
};

void Tracker::unite(std::uint32_t a, std::uint32_t b) {
  a = find(a);
  b = find(b);
  if (a == b) return;
  Region& ra = sets[a];
  Region& rb = sets[b];
  KC_ASSERT(ra.fg == rb.fg, "only regions of one kind join");
  up[a] = b;
  rb.yMin = std::min(rb.yMin, ra.yMin);
  rb.xMin = std::min(rb.xMin, ra.xMin);
  rb.xEnd = std::max(rb.xEnd, ra.xEnd);
  if (ra.waitHead != kNone) {
    if (rb.waitHead == kNone) rb.waitHead = ra.waitHead;
    else waiting[rb.waitTail].next = ra.waitHead;
    rb.waitTail = ra.waitTail;
  }
  rb.holes = rb.holes || ra.holes;
  const bool wasOutside = rb.outside;
  rb.outside = rb.outside || ra.outside;
  if (rb.outside && (!wasOutside || ra.waitHead != kNone)) becameOutside(b);
}

// becameOutside(root): the background region root reaches an edge: the trees waiting on it are
// complete, in the order of its list (the order they finished, each list joined after the other).
void Tracker::becameOutside(std::uint32_t root) {
  Region& r = sets[root];
  r.outside = true;
  for (std::uint32_t w = r.waitHead; w != kNone;) {
    const std::uint32_t next = waiting[w].next;
    complete(waiting[w].box);
    freeWaiting.push_back(w);
    w = next;
  }
  r.waitHead = r.waitTail = kNone;
}

void Tracker::wait(std::uint32_t bgRoot, const TreeBox& box) {
  std::uint32_t w;
  if (!freeWaiting.empty()) {
    w = freeWaiting.back();
    freeWaiting.pop_back();
    waiting[w] = Waiting{box, kNone};
  } else {
    w = static_cast<std::uint32_t>(waiting.size());
    waiting.push_back(Waiting{box, kNone});
  }
  Region& r = sets[bgRoot];
  if (r.waitHead == kNone) r.waitHead = w;
  else waiting[r.waitTail].next = w;
  r.waitTail = w;
}

// releaseWaiting(head): a hole closed: the trees waiting on it lie inside its encloser's tree.
void Tracker::releaseWaiting(std::uint32_t head) {
  for (std::uint32_t w = head; w != kNone; w = waiting[w].next) freeWaiting.push_back(w);
}

// step(y, values): row y against the row above. Its kind runs start regions of their own and join
// the open regions they touch; then the regions the row no longer reaches are finished.
void Tracker::step(long y, std::vector<ValueRun>& values) {
  kindRuns(values, current);
  std::size_t k = 0;
  for (KindRun& run : current) {
    run.id = newId();
    for (; k < values.size() && values[k].x < run.xe; ++k) values[k].id = run.id;
  }
  keptRuns += values.size();
  const auto openCount = static_cast<std::uint32_t>(open.size());
  up.resize(openCount + current.size());
  sets.resize(up.size());
  for (std::uint32_t i = 0; i < openCount; ++i) {
    up[i] = i;
    sets[i] = open[i];
  }
  for (std::size_t j = 0; j < current.size(); ++j) {
    const KindRun& run = current[j];
    const auto id = static_cast<std::uint32_t>(openCount + j);
    up[id] = id;
    sets[id] = Region{run.fg, !run.fg && (y == 0 || run.x == 0 || run.xe == width), y, run.x, run.xe};
    current[j].set = id;
  }
  forTouching(above, current, [](const KindRun& a, const KindRun& r) { return a.fg == r.fg && touches(a, r); },
              [this](const KindRun& a, const KindRun& r) {
                unite(r.set, a.set);
                const std::uint32_t older = findId(a.id), newer = findId(r.id);
                if (older != newer) ids[std::max(older, newer)] = std::min(older, newer);
              });
  closeAt(y, false);
}

// closeAt(y, last): the regions open above row y that row y does not reach are finished (every
// open region when last: the image ended before row y). A finished foreground region's tree is
// complete when the background below it is outside, and waits on that background otherwise; a
// finished background region that is not outside is a hole, and what waits on it is inside the
// tree of the foreground below it. The regions row y reaches become the open ones.
void Tracker::closeAt(long y, bool last) {
  seen.assign(up.size(), 0);
  if (!last)
    for (const KindRun& run : current) seen[find(run.set)] = 1;
  for (const KindRun& run : above) {
    const std::uint32_t root = find(run.set);
    if (seen[root]) continue;
    seen[root] = 1;
    const Region& r = sets[root];
    if (r.fg) {
      const TreeBox box{r.yMin, y - 1, r.xMin, r.xEnd, findId(run.id), r.holes};
      if (last) {
        complete(box);
      } else {
        const KindRun& under = current[runAt(current, run.x)];
        const std::uint32_t below = find(under.set);
        KC_ASSERT(!sets[below].fg, "the pel below a finished foreground region is background");
        if (sets[below].outside) {
          complete(box);
        } else {
          owner[box.id] = under.id;
          wait(below, box);
        }
      }
    } else if (last) {
      becameOutside(root);  // the bottom edge
    } else if (!r.outside) {
      releaseWaiting(r.waitHead);
      const KindRun& around = current[runAt(current, run.x)];  // the blob around the hole
      sets[find(around.set)].holes = true;
      owner[findId(run.id)] = around.id;
    }
  }
  if (last) {
    above.clear();
    open.clear();
    return;
  }
  renumber.assign(up.size(), kNone);
  open.clear();
  for (KindRun& run : current) {
    const std::uint32_t root = find(run.set);
    if (renumber[root] == kNone) {
      renumber[root] = static_cast<std::uint32_t>(open.size());
      open.push_back(sets[root]);
    }
    run.set = renumber[root];
  }
  std::swap(above, current);
}

// analyse(top, bottom, left, right, row): the run image of rows top .. bottom and columns left ..
// right - 1, at that position (so every coordinate is the whole image's), each row's runs given by
// row(y, put), which calls put(value, length) from the left; analysed, and its scene kept when the
// analysis left any blob.
template <class Row>
void Tracker::analyse(long top, long bottom, Column left, Column right, const Row& row) {
  std::vector<unsigned char> bytes;
  bytes.reserve(static_cast<std::size_t>(bottom - top + 1) * 8);
  cutStarts.clear();
  unsigned char pendingValue = 0;
  std::uint64_t pendingLength = 0;
  const auto flush = [&] {
    for (; pendingLength > 0; pendingLength -= std::min<std::uint64_t>(pendingLength, 255)) {
      bytes.push_back(pendingValue);
      bytes.push_back(static_cast<unsigned char>(std::min<std::uint64_t>(pendingLength, 255)));
    }
  };
  const auto put = [&](unsigned char value, Column length) {
    if (value != pendingValue) flush();
    pendingValue = value;
    pendingLength += static_cast<std::uint64_t>(length);
  };
  for (long y = top; y <= bottom; ++y) {
    cutStarts.push_back(bytes.size());
    row(y, put);
    flush();
    bytes.push_back(0);
    bytes.push_back(0);
  }
  std::vector<const unsigned char*> starts;
  starts.reserve(cutStarts.size());
  for (std::size_t at : cutStarts) starts.push_back(bytes.data() + at);
  kcRLEBuffer runs;
  runs.becomeOwner(right - left, starts, bytes);
  runs.offset(kcPair<long>(left, top));
  // Analysed into the same results each time (their engine's arrays reused, nothing grown tree by
  // tree); the tree handed out is a copy of the scene, which shares its runs and holds no engine.
  kfBlobAnalysis<kcRLEBuffer>(runs, params, results);
  const kcBlobSceneDescription& scene = *results.connectedBlobs();
  if (scene.numBlobs(false) == 0) return;
  auto tree = std::make_unique<kcBlobSceneDescription>(scene);
  kc_SceneBuilder::data(*tree).augmentedCache.reset();  // the engine's arrays stay with the results
  done.emplace_back(++numbered, std::move(tree));
}

// complete(box): cuts the finished region's tree out of the rows kept (its own pels and every pel
// it encloses; other pels of its bounding box, which reach the box's edge without crossing it,
// become 0) and analyses it. The box is widened by a pel where the image goes on.
void Tracker::complete(const TreeBox& box) {
  const long top = std::max(0L, box.y0 - 1), bottom = std::min(rows - 1, box.y1 + 1);
  const Column left = std::max<Column>(0, box.x0 - 1), right = std::min(width, box.xe + 1);
  const std::uint32_t root = findId(box.id);
  analyse(top, bottom, left, right, [&](long y, const auto& put) {
    if (y < box.y0 || y > box.y1) {
      put(0, right - left);
      return;
    }
    put(0, box.x0 - left);
    const std::vector<ValueRun>& row = window[static_cast<std::size_t>(y - firstKept)];
    auto it = std::upper_bound(row.begin(), row.end(), box.x0, [](Column c, const ValueRun& v) { return c < v.x; }) - 1;
    for (; it != row.end() && it->x < box.xe; ++it) {
      const bool kept = it->value != 0 && inTree(it->id, root, box.holes);
      put(kept ? it->value : 0, std::min(it->xe, box.xe) - std::max(it->x, box.x0));
    }
    put(0, right - box.xe);
  });
}

// completeWhole(): whole-image connectivity at the end: the rows kept (from the row above the first
// with a pel that is not 0, so that the interior test sees the same edges) analysed as one image,
// whose one blob is the tree.
void Tracker::completeWhole() {
  if (window.empty()) return;
  analyse(firstKept, rows - 1, 0, width, [&](long y, const auto& put) {
    for (const ValueRun& v : window[static_cast<std::size_t>(y - firstKept)]) put(v.value, v.xe - v.x);
  });
  for (std::vector<ValueRun>& row : window) spare.push_back(std::move(row));
  window.clear();
}

// dropRows(): forgets the rows no open region and no waiting tree reaches.
void Tracker::dropRows() {
  long needed = rows;
  for (const Region& r : open)
    if (r.fg || !r.outside) needed = std::min(needed, r.yMin);
  for (const Region& r : open)
    for (std::uint32_t w = r.waitHead; w != kNone; w = waiting[w].next) needed = std::min(needed, waiting[w].box.y0);
  while (firstKept < needed && !window.empty()) {
    keptRuns -= window.front().size();
    spare.push_back(std::move(window.front()));
    window.pop_front();
    ++firstKept;
  }
  if (ids.size() > 2 * keptRuns + 16) compact();
}

// compact(): the lasting ids renumbered densely, each region's set becoming one id: those of the
// kept runs, of the last row's runs, of the waiting trees and of their owners up the chains.
void Tracker::compact() {
  remap.assign(ids.size(), kNone);
  roots.clear();
  const auto map = [this](std::uint32_t id) {
    const std::uint32_t r = findId(id);
    if (remap[r] == kNone) {
      remap[r] = static_cast<std::uint32_t>(roots.size());
      roots.push_back(r);
    }
    return remap[r];
  };
  for (std::vector<ValueRun>& row : window)
    for (ValueRun& v : row) v.id = map(v.id);
  for (KindRun& run : above) run.id = map(run.id);
  for (const Region& r : open)
    for (std::uint32_t w = r.waitHead; w != kNone; w = waiting[w].next) waiting[w].box.id = map(waiting[w].box.id);
  newOwner.clear();
  for (std::size_t i = 0; i < roots.size(); ++i) {  // roots grows as owners are mapped
    const std::uint32_t o = owner[roots[i]];
    newOwner.push_back(o == kNone ? kNone : map(o));
  }
  ids.resize(roots.size());
  for (std::uint32_t i = 0; i < ids.size(); ++i) ids[i] = i;
  owner.swap(newOwner);
  owner.resize(ids.size());
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
  if (params.connectivityType() == kcBlobSceneDescription::eLabelled) refuse(Msg::eStreamConnectivity);
  if (!params.mask().isDegenerate() || !params.morph().empty()) refuse(Msg::eStreamMaskOrMorph);
  if (width < 1 || width > std::numeric_limits<Column>::max()) refuse(Msg::eStreamWidth);
  state_->params = params;
  state_->width = static_cast<Column>(width);
  state_->whole = params.connectivityType() == kcBlobSceneDescription::eWholeImageGreyScale;
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
    std::vector<ValueRun> values;
    if (!s.spare.empty()) {
      values = std::move(s.spare.back());
      s.spare.pop_back();
    }
    values.clear();
    Column x = 0;
    for (const unsigned char* src = encoded.pointToRow(r); src[1] != 0; src += 2) {
      if (!values.empty() && values.back().value == src[0]) values.back().xe += src[1];
      else values.push_back(ValueRun{x, x + src[1], kNone, src[0]});
      x += src[1];
    }
    ++s.rows;
    if (s.whole && values.size() == 1 && values[0].value == 0 && s.window.size() == 1 &&
        s.window.front().size() == 1 && s.window.front()[0].value == 0) {  // of 0s before the first pel:
      s.spare.push_back(std::move(s.window.front()));                      // only the last is kept,
      s.window.pop_front();                                                // the scene's top edge
    }
    if (s.window.empty()) s.firstKept = s.rows - 1;
    s.window.push_back(std::move(values));
    if (s.whole) continue;
    s.step(s.rows - 1, s.window.back());
    s.dropRows();
  }
  s.broken = false;
}

void kcBlobStream::finish() {
  State& s = *state_;
  if (s.finished) return;
  if (s.broken) refuse(Msg::eStreamEnded);
  s.broken = true;
  if (s.whole) {
    s.completeWhole();
    s.broken = false;
    s.finished = true;
    return;
  }
  s.up.resize(s.open.size());
  s.sets.resize(s.open.size());
  for (std::uint32_t i = 0; i < s.open.size(); ++i) {
    s.up[i] = i;
    s.sets[i] = s.open[i];
  }
  s.closeAt(s.rows, true);
  s.dropRows();
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

long kcBlobStream::rowsFed() const { return state_->rows; }
long kcBlobStream::rowsHeld() const { return static_cast<long>(state_->window.size()); }
