// The engine's invariant check: region list, label sets, tree links, neighbour lists and run links.
#include "connect/connect_engine.h"

#include <foundation/assert.h>

#include <unordered_map>
#include <unordered_set>

namespace {

using RegionSet = std::unordered_set<const kc_ConnectRegion*>;

void checkLabels(const kc_ConnectRegion* r) {
  KC_ASSERT(r->rootLabel->up == nullptr && r->rootLabel->region == r,
            "a region's root label stands for it");
  std::uint64_t count = 0;
  const kc_RegionLabel* last = nullptr;
  for (const kc_RegionLabel* l = r->firstLabel; l != nullptr; l = l->nextLabel) {
    KC_ASSERT(peekRegion(l) == r, "every label of a chain resolves to its region");
    last = l;
    ++count;
  }
  KC_ASSERT(last == r->lastLabel && count == r->labelCount, "a label chain ends at lastLabel");
}

void checkChildren(const kc_ConnectRegion* r, const RegionSet& live, std::size_t& children) {
  const kc_ConnectRegion* last = nullptr;
  for (const kc_ConnectRegion* c = r->firstChild; c != nullptr; c = c->nextSibling) {
    KC_ASSERT(live.count(c) != 0, "a child is a live region");
    KC_ASSERT(parentOf(c) == r, "a child's parent is the region listing it");
    last = c;
    ++children;
  }
  KC_ASSERT(last == r->lastChild, "a child list ends at lastChild");
}

}  // namespace

void kc_ConnectEngine::checkInvariants() const {
  RegionSet live;
  std::size_t count = 0;
  const kc_ConnectRegion* prev = nullptr;
  for (const kc_ConnectRegion* r = regionList_; r != nullptr; r = r->nextRegion) {
    KC_ASSERT(r->prevRegion == prev, "the region list is linked both ways");
    KC_ASSERT(prev == nullptr || prev->serial > r->serial,
              "the region list holds the most recently created record first");
    live.insert(r);
    prev = r;
    ++count;
  }
  KC_ASSERT(count == regionCount_, "the region count matches the list");

  std::size_t children = 0;
  std::size_t withParent = 0;
  std::size_t indexed = 0;
  for (const kc_ConnectRegion* r : live) {
    checkLabels(r);
    checkChildren(r, live, children);
    indexed += checkNeighbours(r, live);
    if (r->parent != nullptr) {
      KC_ASSERT(live.count(parentOf(r)) != 0, "a parent is a live region");
      ++withParent;
    }
    if (r == outside_) {
      KC_ASSERT(r->pelCount == 0, "the outside has no pels");
      continue;
    }
    KC_ASSERT(r->pelCount >= 1 && r->xMin >= 0 && r->xMin < r->xEnd && r->xEnd <= width_ &&
                  r->yMin <= r->yMax && r->yMax < rowsScanned_,
              "a region's extents lie inside the scanned rows");
  }
  KC_ASSERT(children == withParent, "a region is in a child list exactly when it has a parent");
  KC_ASSERT(indexed == index_.size(), "the index holds exactly the entries of indexed lists");

  // Runs of the scanned rows: each points to a label; its region (unless pruned) is live, covers
  // the run, and its pel count is the sum of its runs.
  std::unordered_map<const kc_ConnectRegion*, PelCount> pels;
  for (RowIndex y = 0; y < rowsScanned_; ++y) {
    Column x = 0;
    for (const kc_AugmentedRun* run = image_.row(y); run->length != 0; ++run) {
      KC_ASSERT(run->link != nullptr, "a scanned run has a label");
      const kc_ConnectRegion* r = regionOf(run->link);
      const Column xe = x + static_cast<Column>(run->length);
      if (r != nullptr) {
        KC_ASSERT(live.count(r) != 0, "a run's region is live");
        KC_ASSERT(r->xMin <= x && xe <= r->xEnd && r->yMin <= y && y <= r->yMax,
                  "a region's extents cover its runs");
        pels[r] += run->length;
      }
      x = xe;
    }
    KC_ASSERT(x == width_, "a row's runs cover the width");
  }
  for (const kc_ConnectRegion* r : live)
    if (r != outside_) KC_ASSERT(pels[r] == r->pelCount, "a region's pel count is the sum of its runs");
}

// checkNeighbours(r, live): r's list is linked both ways, names other live regions once each, each
// of which names r in turn; returns the entries the index should hold for it.
std::size_t kc_ConnectEngine::checkNeighbours(const kc_ConnectRegion* r,
                                             const std::unordered_set<const kc_ConnectRegion*>& live) const {
  std::unordered_set<const kc_ConnectRegion*> seen;
  std::uint32_t count = 0;
  const kc_NeighbourNode* prev = nullptr;
  for (const kc_NeighbourNode* n = r->neighbours.head; n != nullptr; n = n->next) {
    KC_ASSERT(n->prev == prev, "a neighbour list is linked both ways");
    KC_ASSERT(n->region != r && live.count(n->region) != 0, "a neighbour is another live region");
    KC_ASSERT(seen.insert(n->region).second, "a neighbour stands once in a list");
    KC_ASSERT(hasNeighbour(n->region, r), "neighbour lists are symmetric");
    KC_ASSERT(!r->neighbours.indexed || index_.find(r, n->region) == n,
              "the index finds every entry of an indexed list");
    prev = n;
    ++count;
  }
  KC_ASSERT(prev == r->neighbours.tail && count == r->neighbours.count,
            "a neighbour list's tail and count match its nodes");
  KC_ASSERT(r->neighbours.indexed || count <= kc_NeighbourIndex::kIndexFrom,
            "long neighbour lists are indexed");
  return r->neighbours.indexed ? count : 0;
}
