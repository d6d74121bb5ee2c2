// The grey-scale scan: non-zero pels 8-connected, zero pels 4-connected, with merges and the
// closing of enclosed regions as rows connect them.
#include "connect/connect_engine.h"

#include <foundation/assert.h>

#include <algorithm>

namespace {

// A run's kind: foreground (any non-zero value) or background (0).
inline bool isForeground(const kc_AugmentedRun& run) { return run.value != 0; }

// Columns of the row above that a run covering x .. xe - 1 examines. margin is 1 where diagonal
// contact joins (foreground) and 0 where only edges join (background); the right end is clipped
// to the last column so the row's terminator is never examined.
//
//   margin 1:   above   [lo .......... hi]        lo = x - 1, hi = min(xe, width - 1)
//               current    [x ..... xe-1]
//   margin 0:   above      [lo ... hi]            lo = x,     hi = xe - 1
//               current    [x ..... xe-1]
//
// An above run a0 .. a1 - 1 reaches into the range when a0 <= hi and a1 - 1 >= lo.
struct AboveRange {
  Column lo;
  Column hi;
};

inline AboveRange aboveRange(Column x, Column xe, Column margin, Column width) {
  return AboveRange{x - margin, std::min(xe - 1 + margin, width - 1)};
}

inline bool reaches(Column a1, const AboveRange& range) { return a1 - 1 >= range.lo; }

}  // namespace

void kc_ConnectEngine::scanGreyFirstRow() {
  Column x = 0;
  const kc_AugmentedRun* prev = nullptr;
  for (kc_AugmentedRun* run = image_.row(0); run->length != 0; ++run) {
    const auto n = static_cast<Column>(run->length);
    if (prev != nullptr && isForeground(*prev) == isForeground(*run)) {
      run->link = prev->link;
      kc_ConnectRegion* r = regionOf(run->link);
      r->pelCount += run->length;
      r->xEnd = x + n;
    } else {
      run->link = newRegion(run->value, x, 0, run->length)->firstLabel;
    }
    prev = run;
    x += n;
  }
}

// scanGreyRow(y): one row against the row above, which a pointer walks forwards only.
// For each run: inherit the label of a previous run of the same kind; then, over the above runs
// in range, join the first same-kind region, merge every further one into the region above (the
// survivor is always the region above), and close an other-kind run pending between two contacts
// with the run's own region.
void kc_ConnectEngine::scanGreyRow(RowIndex y) {
  kc_AugmentedRun* above = image_.row(y - 1);
  Column aboveX = 0;
  Column x = 0;
  const kc_AugmentedRun* prev = nullptr;
  for (kc_AugmentedRun* run = image_.row(y); run->length != 0; ++run) {
    const auto n = static_cast<Column>(run->length);
    const Column xe = x + n;
    const bool fg = isForeground(*run);
    kc_RegionLabel* label = nullptr;
    kc_ConnectRegion* region = nullptr;
    if (prev != nullptr && isForeground(*prev) == fg) {
      label = prev->link;
      region = regionOf(label);
      region->pelCount += run->length;
      region->xEnd = std::max(region->xEnd, xe);
    }
    const AboveRange range = aboveRange(x, xe, fg ? 1 : 0, width_);
    const kc_AugmentedRun* pending = nullptr;
    while (aboveX <= range.hi) {
      KC_ASSERT(above->length != 0, "an above run in range has a length");
      const Column a1 = aboveX + static_cast<Column>(above->length);
      if (reaches(a1, range)) {
        if (isForeground(*above) == fg) {
          KC_ASSERT(above->link != nullptr, "an above run of the current kind has a label");
          kc_ConnectRegion* aboveRegion = regionOf(above->link);
          KC_ASSERT(aboveRegion != nullptr, "an above run of the current kind has a region");
          if (label == nullptr) {
            label = above->link;
            region = aboveRegion;
            region->pelCount += run->length;
            region->xMin = std::min(region->xMin, x);
            region->xEnd = std::max(region->xEnd, xe);
            region->yMax = y;
          } else if (region != aboveRegion) {
            mergeRegions(region, aboveRegion);
            region = aboveRegion;
          } else if (pending != nullptr) {
            KC_ASSERT(pending->link != nullptr, "a pending run has a label");
            closeRegion(regionOf(pending->link), region);
          }
          pending = nullptr;
        } else if (a1 - 1 != range.lo) {
          pending = above;
        }
      }
      if (a1 > range.hi) break;
      aboveX = a1;
      ++above;
    }
    if (label == nullptr) label = newRegion(run->value, x, y, run->length)->firstLabel;
    run->link = label;
    prev = run;
    x = xe;
  }
}
