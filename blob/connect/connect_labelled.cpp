// The labelled scan: equal values 6-connected (left, right, up, down, upper-left, lower-right),
// neighbour lists between regions of different values, and the enclosure flood.
#include "connect/connect_engine.h"

#include <foundation/assert.h>

#include <algorithm>

namespace {

// Columns of the row above that a run covering x .. xe - 1 examines: the upper-left diagonal
// joins, the upper-right one does not.
//
//   above   [lo ...... hi]        lo = max(x - 1, 0), hi = xe - 1
//   current    [x ... xe-1]
inline Column labelledLo(Column x) { return std::max<Column>(x - 1, 0); }

}  // namespace

void kc_ConnectEngine::scanLabelledFirstRow() {
  Column x = 0;
  const kc_AugmentedRun* prev = nullptr;
  for (kc_AugmentedRun* run = image_.row(0); run->length != 0; ++run) {
    KC_ASSERT(prev == nullptr || prev->value != run->value,
              "consecutive runs of a row differ in value");
    kc_ConnectRegion* r = newRegion(run->value, x, 0, run->length);
    run->link = r->firstLabel;
    if (outside_ != nullptr) makeNeighbours(r, outside_);
    if (prev != nullptr) makeNeighbours(regionOf(prev->link), r);
    prev = run;
    x += static_cast<Column>(run->length);
  }
}

// scanLabelledRow(y): every run starts a region of its own, which the first above run of its
// value absorbs at once; a further above region of that value absorbs the run's region in turn.
// Above runs of other values become pending and neighbours; meeting the own region again past a
// pending run encloses what the run cuts off (except under the fill, which builds its tree later).
// The above pointer steps back to the last run it visited, which may reach into the next range.
void kc_ConnectEngine::scanLabelledRow(RowIndex y) {
  kc_AugmentedRun* above = image_.row(y - 1);
  Column aboveX = 0;
  Column x = 0;
  const bool lastRow = y == image_.height() - 1;
  const kc_AugmentedRun* prev = nullptr;
  for (kc_AugmentedRun* run = image_.row(y); run->length != 0; ++run) {
    KC_ASSERT(run->length <= static_cast<std::uint32_t>(width_), "a run fits the image width");
    const Column xe = x + static_cast<Column>(run->length);
    kc_ConnectRegion* region = newRegion(run->value, x, y, run->length);
    run->link = region->firstLabel;
    if (prev != nullptr) {
      KC_ASSERT(prev->value != run->value, "consecutive runs of a row differ in value");
      makeNeighbours(regionOf(prev->link), region);
    }
    const Column lo = labelledLo(x);
    const Column hi = xe - 1;
    KC_ASSERT(aboveX <= lo, "the above pointer does not pass the start of the range");
    const kc_AugmentedRun* pending = nullptr;
    kc_AugmentedRun* lastVisited = nullptr;
    Column lastVisitedX = 0;
    while (aboveX <= hi) {
      KC_ASSERT(above->length != 0, "an above run in range has a length");
      const Column a1 = aboveX + static_cast<Column>(above->length);
      if (a1 - 1 >= lo) {
        KC_ASSERT(above->link != nullptr, "an above run in range has a label");
        kc_ConnectRegion* aboveRegion = regionOf(above->link);
        KC_ASSERT(aboveRegion != nullptr, "an above run in range has a region");
        if (above->value == run->value) {
          if (region != aboveRegion) {
            mergeRegions(region, aboveRegion);
            region = aboveRegion;
          } else if (pending != nullptr && cleanup_ != kc_CleanupKind::eFill) {
            encloseLabelled(region, regionOf(pending->link));
          }
          pending = nullptr;
        } else {
          pending = above;
          makeNeighbours(aboveRegion, region);
        }
      }
      lastVisited = above;
      lastVisitedX = aboveX;
      aboveX = a1;
      ++above;
    }
    if (lastVisited != nullptr) {
      above = lastVisited;
      aboveX = lastVisitedX;
    }
    if (outside_ != nullptr && (x == 0 || lastRow || xe == width_))
      makeNeighbours(region, outside_);
    prev = run;
    x = xe;
  }
}

// encloseLabelled(R, P): R met itself again around P's run. A flood from P that cannot pass R
// (it carries the same mark) lists exactly the regions R and the current run cut off; each is
// taken out of R's list (and R out of its list) and closed into R, in the order listed.
void kc_ConnectEngine::encloseLabelled(kc_ConnectRegion* encloser, kc_ConnectRegion* start) {
  KC_ASSERT(start != nullptr, "a pending run has a region");
  const std::uint32_t s = ++floodStamp_;
  encloser->stamp = s;
  start->stamp = s;
  listed_.clear();
  stack_.clear();
  listed_.push_back(start);
  stack_.push_back(start);
  while (!stack_.empty()) {
    kc_ConnectRegion* r = stack_.back();
    stack_.pop_back();
    for (kc_NeighbourNode* n = r->neighbours.head; n != nullptr; n = n->next) {
      kc_ConnectRegion* e = n->region;
      if (e->stamp == s) continue;
      e->stamp = s;
      stack_.push_back(e);
      listed_.push_back(e);
    }
  }
  for (kc_ConnectRegion* e : listed_) {
    removeNeighbour(encloser, e);
    removeNeighbour(e, encloser);
    closeRegion(e, encloser);
  }
}
