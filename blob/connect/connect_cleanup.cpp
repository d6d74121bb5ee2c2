// The labelled fill: merging small regions into their largest neighbour, and building the blob
// tree from the neighbour graph by articulation regions.
#include "connect/connect_engine.h"
#include "connect/connect_records.h"

#include <foundation/assert.h>

#include <algorithm>
#include <queue>
#include <utility>
#include <vector>

namespace {

// The small list in region-list order, with a heap over (pel count, position) so that "the first
// region of smallest pel count" costs a logarithm instead of a walk. Pel counts only grow, so a
// heap entry whose count no longer matches is stale and skipped. Positions are kept in the
// regions' smallPos.
class SmallList {
 public:
  SmallList(std::vector<RegionIndex> regions, std::vector<kc_LabelledRegion>& labelled,
            const std::vector<kc_ConnectRegion>& records)
      : regions_(std::move(regions)), labelled_(labelled), records_(records) {
    for (std::uint32_t pos = 0; pos < regions_.size(); ++pos) {
      labelled_[regions_[pos]].smallPos = pos;
      heap_.push(Entry{records_[regions_[pos]].pelCount, pos});
    }
  }

  // first(): the first region of smallest pel count, or kNone when the list is empty.
  RegionIndex first() {
    while (!heap_.empty()) {
      const Entry e = heap_.top();
      const RegionIndex r = regions_[e.pos];
      if (r != kNone && records_[r].pelCount == e.count) return r;
      heap_.pop();
    }
    return kNone;
  }
  bool holds(RegionIndex r) const {
    const std::uint32_t pos = labelled_[r].smallPos;
    return pos != kNone && regions_[pos] == r;
  }
  void remove(RegionIndex r) {
    if (holds(r)) regions_[labelled_[r].smallPos] = kNone;
  }
  // grew(r): r's pel count changed while on the list.
  void grew(RegionIndex r) {
    if (holds(r)) heap_.push(Entry{records_[r].pelCount, labelled_[r].smallPos});
  }

 private:
  struct Entry {
    PelCount count;
    std::uint32_t pos;
    bool operator>(const Entry& o) const { return count != o.count ? count > o.count : pos > o.pos; }
  };
  std::vector<RegionIndex> regions_;
  std::vector<kc_LabelledRegion>& labelled_;
  const std::vector<kc_ConnectRegion>& records_;
  std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> heap_;
};

}  // namespace

std::vector<RegionIndex> kc_ConnectEngine::openList() const {
  std::vector<RegionIndex> list;
  list.reserve(regionCount_);
  for (RegionIndex r = 0; r < ws_.regions.size(); ++r)
    if (!reg(r).released) list.push_back(r);
  std::sort(list.begin(), list.end(), [this](RegionIndex a, RegionIndex b) { return reg(a).serial > reg(b).serial; });
  return list;
}

// mergeSmallRegions(list): repeatedly merges the smallest small region into its largest neighbour,
// and then every region of the neighbour's value that only the small one kept apart from it. list
// holds the open regions in region-list order.
void kc_ConnectEngine::mergeSmallRegions(const std::vector<RegionIndex>& list) {
  KC_ASSERT(outside_ != kNone && reg(outside_).pelCount == 0, "the outside has no pels");
  KC_ASSERT(!list.empty() && list.back() == outside_, "the outside is last in region-list order");
  std::vector<RegionIndex> small;
  for (RegionIndex r : list) {
    ws_.labelled[r].smallPos = kNone;
    if (reg(r).pelCount > 0 && isSmall(reg(r).pelCount)) small.push_back(r);
  }
  if (minPels_ < 1) return;
  SmallList smallList(std::move(small), ws_.labelled, ws_.regions);
  std::vector<RegionIndex> joined;
  std::vector<RegionIndex> inOrder;
  for (RegionIndex r = smallList.first(); r != kNone; r = smallList.first()) {
    if (!isSmall(reg(r).pelCount)) break;
    // t: the first region of largest pel count in r's list.
    RegionIndex t = kNone;
    for (NodeIndex k = listOf(r).head; k != kNone; k = ws_.nodes[k].next) {
      const RegionIndex e = ws_.nodes[k].region;
      if (t == kNone || reg(e).pelCount > reg(t).pelCount) t = e;
    }
    if (t == kNone || reg(t).pelCount == 0) {
      reg(r).deleted = true;
      break;
    }
    // Regions of t's value that r alone kept apart from t are among r's neighbours; after the
    // merge they stand at the front of t's list.
    joined.clear();
    for (NodeIndex k = listOf(r).head; k != kNone; k = ws_.nodes[k].next) {
      const RegionIndex e = ws_.nodes[k].region;
      if (e != t && reg(e).value == reg(t).value && reg(e).pelCount != 0) joined.push_back(e);
    }
    KC_ASSERT(reg(r).pelCount != 0, "a merged small region has pels");
    smallList.remove(r);
    mergeRegions(r, t);
    if (!joined.empty()) {
      inOrder.clear();
      for (NodeIndex k = listOf(t).head; k != kNone && inOrder.size() < joined.size(); k = ws_.nodes[k].next)
        if (std::find(joined.begin(), joined.end(), ws_.nodes[k].region) != joined.end())
          inOrder.push_back(ws_.nodes[k].region);
      for (RegionIndex e : inOrder) {
        smallList.remove(e);
        mergeRegions(e, t);
      }
    }
    smallList.grew(t);
  }
}

// buildFillTree(list): a depth-first search from the outside over the neighbour graph, iterative but
// visiting in exactly the recursive order. Tree edges go on an edge stack; when a child's low-link
// does not reach above its search parent v, the edges down to (v, child) form one biconnected
// piece, and its regions other than v get v as parent (none when v is the outside).
void kc_ConnectEngine::buildFillTree(const std::vector<RegionIndex>& list) {
  using Edge = std::pair<RegionIndex, RegionIndex>;
  struct Frame {
    RegionIndex v;
    NodeIndex next;
  };
  const std::size_t n = regionCount_;
  std::vector<Edge> edges;
  edges.reserve(n >= 46 ? 1000 : std::min<std::size_t>(n * (n - 1) / 2, 1000));
  std::vector<Frame> frames;
  std::uint32_t counter = 1;
  auto& info = ws_.labelled;

  info[outside_].stamp = info[outside_].low = counter++;
  frames.push_back(Frame{outside_, listOf(outside_).head});
  while (!frames.empty()) {
    Frame& f = frames.back();
    const RegionIndex v = f.v;
    if (f.next != kNone) {
      const RegionIndex w = ws_.nodes[f.next].region;
      f.next = ws_.nodes[f.next].next;
      if (info[w].stamp != 0) {
        if (w != info[v].searchParent) info[v].low = std::min(info[v].low, info[w].stamp);
      } else {
        edges.push_back(Edge{v, w});
        info[w].searchParent = v;
        info[w].stamp = info[w].low = counter++;
        frames.push_back(Frame{w, listOf(w).head});  // f is not used after this
      }
      continue;
    }
    frames.pop_back();
    if (frames.empty()) break;
    const RegionIndex w = v;
    const RegionIndex parent = frames.back().v;
    if (info[w].low >= info[parent].stamp) {
      const RegionIndex p = parent == outside_ ? kNone : parent;
      for (;;) {
        KC_ASSERT(!edges.empty(), "the edge of a finished child is on the edge stack");
        const Edge e = edges.back();
        edges.pop_back();
        KC_ASSERT(e.first != e.second, "an edge joins two regions");
        if (e.first != p) setFillParent(e.first, p);
        if (e.second != p) setFillParent(e.second, p);
        if (e.first == parent && e.second == w) break;
      }
    }
    info[parent].low = std::min(info[parent].low, info[w].low);
  }
  for (RegionIndex r : list) {
    info[r].low = 0;
    info[r].searchParent = kNone;
  }
}

// setFillParent(u, p): u gets parent p (none when p is kNone) and goes to the front of p's child
// list, unless p is already its parent.
void kc_ConnectEngine::setFillParent(RegionIndex u, RegionIndex p) {
  RegionIndex& current = ws_.labelled[u].treeParent;
  if (current == p) return;
  KC_ASSERT(current == kNone, "a region gets one parent in the tree building");
  current = p;
  adoptChild(p, u);
}
