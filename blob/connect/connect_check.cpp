// The engine's invariant check: region list, label sets, tree links, neighbour lists and the labels
// of the last row scanned.
#include "connect/connect_engine.h"

#include <foundation/assert.h>

#include <unordered_set>

void kc_ConnectEngine::checkInvariants() const {
  std::unordered_set<RegionIndex> live;
  std::size_t count = 0;
  RegionIndex prev = kNone;
  for (RegionIndex r = firstInList(); r != kNone; r = nextInList(r)) {
    KC_ASSERT(!reg(r).released, "the region list holds live regions");
    KC_ASSERT(!labelled_ || (ws_.labelled[r].prev == prev &&
                             (prev == kNone || ws_.labelled[prev].serial > ws_.labelled[r].serial)),
              "the region list is linked both ways, the most recently created record first");
    KC_ASSERT(live.insert(r).second, "a region is listed once");
    prev = r;
    ++count;
  }
  KC_ASSERT(count == regionCount_, "the region count matches the list");

  std::size_t children = 0;
  std::size_t withParent = 0;
  std::size_t indexed = 0;
  for (RegionIndex r : live) {
    const Region& g = reg(r);
    KC_ASSERT((ws_.up[g.root] & kRootFlag) != 0 && (ws_.up[g.root] & ~kRootFlag) == r,
              "a region's root label stands for it");
    RegionIndex last = kNone;
    for (RegionIndex c = g.firstChild; c != kNone; c = ws_.siblings[c]) {
      KC_ASSERT(live.count(c) != 0, "a child is a live region");
      KC_ASSERT(reg(c).parent != kNone && peekRegion(reg(c).parent) == r,
                "a child's parent is the region listing it");
      last = c;
      ++children;
    }
    KC_ASSERT(last == g.lastChild, "a child list ends at lastChild");
    if (labelled_) indexed += checkNeighbours(r, live);
    if (g.parent != kNone) {
      KC_ASSERT(live.count(peekRegion(g.parent)) != 0, "a parent is a live region");
      ++withParent;
    }
    if (r == outside_) {
      KC_ASSERT(g.pelCount == 0, "the outside has no pels");
      continue;
    }
    KC_ASSERT(g.pelCount >= 1 && g.xMin >= 0 && g.xMin < g.xEnd && g.xEnd <= width_ &&
                  g.yMin <= g.yMax && g.yMax < rowsScanned_,
              "a region's extents lie inside the scanned rows");
  }
  KC_ASSERT(children == withParent, "a region is in a child list exactly when it has a parent");
  KC_ASSERT(indexed == ws_.index.size(), "the index holds exactly the entries of indexed lists");

  // The runs of the last row scanned: each has a label whose region (unless pruned) is live and
  // covers it, and together they cover the width.
  Column x = 0;
  for (std::size_t i = 0; lastRow_ != nullptr && i < lastRowCount_; ++i) {
    const kc_ScanRun& run = (*lastRow_)[i];
    KC_ASSERT(run.x == x && run.x < run.xe, "a row's runs follow one another");
    KC_ASSERT(run.label < ws_.up.size(), "a scanned run has a label");
    const RegionIndex r = peekRegion(run.label);
    if (r != kPrunedRegion) {
      KC_ASSERT(live.count(r) != 0, "a run's region is live");
      const Region& g = reg(r);
      KC_ASSERT(g.xMin <= run.x && run.xe <= g.xEnd && g.yMin <= rowsScanned_ - 1 &&
                    rowsScanned_ - 1 <= g.yMax,
                "a region's extents cover its runs");
    }
    x = run.xe;
  }
  KC_ASSERT(lastRow_ == nullptr || x == width_, "a row's runs cover the width");
}

// checkNeighbours(r, live): r's list is linked both ways, names other live regions once each, each
// of which names r in turn; returns the entries the index should hold for it.
std::size_t kc_ConnectEngine::checkNeighbours(RegionIndex r, const std::unordered_set<RegionIndex>& live) const {
  std::unordered_set<RegionIndex> seen;
  std::uint32_t count = 0;
  NodeIndex prev = kNone;
  const kc_NeighbourList& list = listOf(r);
  for (NodeIndex k = list.head; k != kNone; k = ws_.nodes[k].next) {
    const kc_NeighbourNode& n = ws_.nodes[k];
    KC_ASSERT(n.prev == prev, "a neighbour list is linked both ways");
    KC_ASSERT(n.region != r && live.count(n.region) != 0, "a neighbour is another live region");
    KC_ASSERT(seen.insert(n.region).second, "a neighbour stands once in a list");
    KC_ASSERT(hasNeighbour(n.region, r), "neighbour lists are symmetric");
    KC_ASSERT(!list.indexed || ws_.index.find(r, n.region) == k, "the index finds every entry of an indexed list");
    prev = k;
    ++count;
  }
  KC_ASSERT(prev == list.tail && count == list.count, "a neighbour list's tail and count match its nodes");
  KC_ASSERT(list.indexed || count <= kc_NeighbourIndex::kIndexFrom, "long neighbour lists are indexed");
  return list.indexed ? count : 0;
}
