// The engine's invariant check: open records, label sets, child lists, neighbour lists and the
// labels of the last row scanned.
#include "connect/connect_engine.h"

#include <foundation/assert.h>

#include <unordered_set>

void kc_ConnectEngine::checkInvariants() const {
  std::unordered_set<RegionIndex> live;
  std::unordered_set<std::uint32_t> serials;
  for (RegionIndex r = 0; r < ws_.regions.size(); ++r) {
    const Region& g = reg(r);
    if (g.released) continue;
    live.insert(r);
    KC_ASSERT(g.serial < serial_ && serials.insert(g.serial).second, "serials are creation numbers, one per record");
  }
  KC_ASSERT(live.size() == regionCount_, "the region count matches the open records");

  std::size_t indexed = 0;
  for (RegionIndex r : live) {
    const Region& g = reg(r);
    KC_ASSERT((ws_.up[g.root] & kRootFlag) != 0 && (ws_.up[g.root] & ~kRootFlag) == r,
              "a region's root label stands for it");
    KC_ASSERT(g.firstLabel <= g.root && peekRegion(g.firstLabel) == r, "the first label is the set's smallest");
    std::uint32_t last = kNone;
    std::size_t steps = 0;
    for (std::uint32_t c = g.firstChild; c != kNone; c = nextChild(c)) {
      KC_ASSERT(retireOnClose_ ? (c & ~kPhantom) < out_.entries.size() && (c < kPhantom || deferFill_)
                               : (live.count(c) != 0 && reg(c).closed),
                "a child is a closed region");
      KC_ASSERT(++steps <= 2 * ws_.up.size(), "a child list ends");  // a child per label, a phantom per child
      last = c;
    }
    KC_ASSERT(last == g.lastChild, "a child list ends at lastChild");
    if (labelled_) indexed += checkNeighbours(r, live);
    if (r == outside_) {
      KC_ASSERT(g.pelCount == 0, "the outside has no pels");
      continue;
    }
    if (g.firstLabel < placeholders_) continue;  // its pels above the band are not counted here
    KC_ASSERT(g.pelCount >= 1 && g.xMin >= 0 && g.xMin < g.xEnd && g.xEnd <= width_ &&
                  g.yMin <= g.yMax && g.yMax < rowsScanned_,
              "a region's extents lie inside the scanned rows");
    KC_ASSERT(g.pelCount <= static_cast<PelCount>(g.xEnd - g.xMin) * static_cast<PelCount>(g.yMax - g.yMin + 1),
              "a region's pels fit its extents");
  }
  KC_ASSERT(indexed == ws_.index.size(), "the index holds exactly the entries of indexed lists");

  // The runs of the last row scanned: each has a label whose region (unless pruned) is open and
  // covers it, and together they cover the width.
  Column x = 0;
  for (std::size_t i = 0; lastRow_ != nullptr && i < lastRowCount_; ++i) {
    const kc_ScanRun& run = (*lastRow_)[i];
    KC_ASSERT(run.x == x && run.x < run.xe, "a row's runs follow one another");
    KC_ASSERT(run.label < ws_.up.size(), "a scanned run has a label");
    const RegionIndex r = peekRegion(run.label);
    if (r != kGone) {
      KC_ASSERT(live.count(r) != 0, "a run of the last row names an open region");
      const Region& g = reg(r);
      KC_ASSERT(g.firstLabel < placeholders_ || (g.xMin <= run.x && run.xe <= g.xEnd &&
                                                  g.yMin <= rowsScanned_ - 1 && rowsScanned_ - 1 <= g.yMax),
                "a region's extents cover its runs");
    }
    x = run.xe;
  }
  KC_ASSERT(lastRow_ == nullptr || x == width_, "a row's runs cover the width");
}

// checkNeighbours(r, live): r's list is linked both ways, names other open regions once each, each
// of which names r in turn; returns the entries the index should hold for it.
std::size_t kc_ConnectEngine::checkNeighbours(RegionIndex r, const std::unordered_set<RegionIndex>& live) const {
  std::unordered_set<RegionIndex> seen;
  std::uint32_t count = 0;
  NodeIndex prev = kNone;
  const kc_NeighbourList& list = listOf(r);
  for (NodeIndex k = list.head; k != kNone; k = ws_.nodes[k].next) {
    const kc_NeighbourNode& n = ws_.nodes[k];
    KC_ASSERT(n.prev == prev, "a neighbour list is linked both ways");
    KC_ASSERT(n.region != r && live.count(n.region) != 0, "a neighbour is another open region");
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
