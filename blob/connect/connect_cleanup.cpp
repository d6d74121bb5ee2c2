// The labelled fill: merging small regions into their largest neighbour, and building the blob
// tree from the neighbour graph by articulation regions.
#include "connect/connect_engine.h"

#include <foundation/assert.h>

#include <algorithm>
#include <limits>
#include <queue>
#include <utility>
#include <vector>

namespace {

constexpr std::uint32_t kNotSmall = std::numeric_limits<std::uint32_t>::max();

// The small list in region-list order, with a heap over (pel count, position) so that "the first
// region of smallest pel count" costs a logarithm instead of a walk. Pel counts only grow, so a
// heap entry whose count no longer matches is stale and skipped.
class SmallList {
 public:
  explicit SmallList(std::vector<kc_ConnectRegion*> regions) : regions_(std::move(regions)) {
    for (std::uint32_t pos = 0; pos < regions_.size(); ++pos) {
      regions_[pos]->smallPos = pos;
      heap_.push(Entry{regions_[pos]->pelCount, pos});
    }
  }

  // first(): the first region of smallest pel count, or null when the list is empty.
  kc_ConnectRegion* first() {
    while (!heap_.empty()) {
      const Entry e = heap_.top();
      kc_ConnectRegion* r = regions_[e.pos];
      if (r != nullptr && r->pelCount == e.count) return r;
      heap_.pop();
    }
    return nullptr;
  }
  bool holds(const kc_ConnectRegion* r) const {
    return r->smallPos != kNotSmall && regions_[r->smallPos] == r;
  }
  void remove(const kc_ConnectRegion* r) {
    if (holds(r)) regions_[r->smallPos] = nullptr;
  }
  // grew(r): r's pel count changed while on the list.
  void grew(const kc_ConnectRegion* r) {
    if (holds(r)) heap_.push(Entry{r->pelCount, r->smallPos});
  }

 private:
  struct Entry {
    PelCount count;
    std::uint32_t pos;
    bool operator>(const Entry& o) const {
      return count != o.count ? count > o.count : pos > o.pos;
    }
  };
  std::vector<kc_ConnectRegion*> regions_;
  std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> heap_;
};

// largestNeighbour(R): the first region of largest pel count in R's list, or null.
kc_ConnectRegion* largestNeighbour(const kc_ConnectRegion* r) {
  kc_ConnectRegion* best = nullptr;
  for (const kc_NeighbourNode* n = r->neighbours.head; n != nullptr; n = n->next)
    if (best == nullptr || n->region->pelCount > best->pelCount) best = n->region;
  return best;
}

}  // namespace

// mergeSmallRegions(): repeatedly merges the smallest small region into its largest neighbour,
// and then every region of the neighbour's value that only the small one kept apart from it.
void kc_ConnectEngine::mergeSmallRegions() {
  KC_ASSERT(outside_ != nullptr && outside_->pelCount == 0, "the outside has no pels");
  KC_ASSERT(outside_->nextRegion == nullptr, "the outside is last in region-list order");
  std::vector<kc_ConnectRegion*> small;
  for (kc_ConnectRegion* r = regionList_; r != nullptr; r = r->nextRegion) {
    r->smallPos = kNotSmall;
    if (r->pelCount > 0 && isSmall(r)) small.push_back(r);
  }
  if (minPels_ < 1) return;
  SmallList list(std::move(small));
  std::vector<kc_ConnectRegion*> joined;
  while (kc_ConnectRegion* r = list.first()) {
    if (!isSmall(r)) break;
    kc_ConnectRegion* t = largestNeighbour(r);
    if (t == nullptr || t->pelCount == 0) {
      r->deleted = true;
      break;
    }
    // Regions of t's value that r alone kept apart from t are among r's neighbours; after the
    // merge they stand at the front of t's list.
    joined.clear();
    for (const kc_NeighbourNode* n = r->neighbours.head; n != nullptr; n = n->next)
      if (n->region != t && n->region->value == t->value && n->region->pelCount != 0)
        joined.push_back(n->region);
    KC_ASSERT(r->pelCount != 0, "a merged small region has pels");
    list.remove(r);
    mergeRegions(r, t);
    if (!joined.empty()) {
      std::vector<kc_ConnectRegion*> inOrder;
      for (const kc_NeighbourNode* n = t->neighbours.head;
           n != nullptr && inOrder.size() < joined.size(); n = n->next)
        if (std::find(joined.begin(), joined.end(), n->region) != joined.end())
          inOrder.push_back(n->region);
      for (kc_ConnectRegion* e : inOrder) {
        list.remove(e);
        mergeRegions(e, t);
      }
    }
    list.grew(t);
  }
}

// buildFillTree(): a depth-first search from the outside over the neighbour graph, iterative but
// visiting in exactly the recursive order. Tree edges go on an edge stack; when a child's low-link
// does not reach above its search parent v, the edges down to (v, child) form one biconnected
// piece, and its regions other than v get v as parent (none when v is the outside).
void kc_ConnectEngine::buildFillTree() {
  using Edge = std::pair<kc_ConnectRegion*, kc_ConnectRegion*>;
  struct Frame {
    kc_ConnectRegion* v;
    kc_NeighbourNode* next;
  };
  const std::size_t n = regionCount_;
  std::vector<Edge> edges;
  edges.reserve(n >= 46 ? 1000 : std::min<std::size_t>(n * (n - 1) / 2, 1000));
  std::vector<Frame> frames;
  std::uint32_t counter = 1;

  outside_->stamp = outside_->low = counter++;
  frames.push_back(Frame{outside_, outside_->neighbours.head});
  while (!frames.empty()) {
    Frame& f = frames.back();
    kc_ConnectRegion* v = f.v;
    if (f.next != nullptr) {
      kc_ConnectRegion* w = f.next->region;
      f.next = f.next->next;
      if (w->stamp != 0) {
        if (w != v->searchParent) v->low = std::min(v->low, w->stamp);
      } else {
        edges.push_back(Edge{v, w});
        w->searchParent = v;
        w->stamp = w->low = counter++;
        frames.push_back(Frame{w, w->neighbours.head});  // f is not used after this
      }
      continue;
    }
    frames.pop_back();
    if (frames.empty()) break;
    kc_ConnectRegion* w = v;
    v = frames.back().v;
    if (w->low >= v->stamp) {
      kc_ConnectRegion* p = v == outside_ ? nullptr : v;
      for (;;) {
        KC_ASSERT(!edges.empty(), "the edge of a finished child is on the edge stack");
        const Edge e = edges.back();
        edges.pop_back();
        KC_ASSERT(e.first != e.second, "an edge joins two regions");
        if (e.first != p) setFillParent(e.first, p);
        if (e.second != p) setFillParent(e.second, p);
        if (e.first == v && e.second == w) break;
      }
    }
    v->low = std::min(v->low, w->low);
  }
  for (kc_ConnectRegion* r = regionList_; r != nullptr; r = r->nextRegion) {
    r->low = 0;
    r->searchParent = nullptr;
  }
}

// setFillParent(u, p): u gets parent p (none when p is null) and goes to the front of p's child
// list, unless p is already its parent.
void kc_ConnectEngine::setFillParent(kc_ConnectRegion* u, kc_ConnectRegion* p) {
  kc_ConnectRegion* current = parentOf(u);
  if (current == p) return;
  KC_ASSERT(current == nullptr, "a region gets one parent in the tree building");
  if (p != nullptr) adoptChild(p, u);
}
