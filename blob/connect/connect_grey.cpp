// The grey-scale scan: non-zero pels 8-connected, zero pels 4-connected, with merges and the
// closing of enclosed regions as rows connect them; and its replay in the finishing pass.
#include "connect/connect_engine.h"

#include <foundation/assert.h>

#include <algorithm>

namespace {

// A run's kind: foreground (any non-zero value) or background (0).
inline bool isForeground(const kc_ScanRun& run) { return run.value != 0; }
inline bool sameKind(const kc_ScanRun& a, const kc_ScanRun& b) {
  return isForeground(a) == isForeground(b);
}

// Columns of the row above that a run covering x .. xe - 1 examines. margin is 1 where diagonal
// contact joins (foreground) and 0 where only edges join (background); the right end is clipped
// to the last column so the range never passes the row's last run.
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

inline AboveRange aboveRange(const kc_ScanRun& run, Column width) {
  const Column margin = isForeground(run) ? 1 : 0;
  return AboveRange{run.x - margin, std::min(run.xe - 1 + margin, width - 1)};
}

inline bool reaches(const kc_ScanRun& above, const AboveRange& range) { return above.xe - 1 >= range.lo; }

}  // namespace

void kc_ConnectEngine::scanGreyFirstRow(kc_ScanRun* row, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    kc_ScanRun& run = row[i];
    if (i != 0 && sameKind(row[i - 1], run)) {
      run.label = row[i - 1].label;
      Region& g = reg(regionOf(run.label));
      g.pelCount += static_cast<PelCount>(run.xe - run.x);
      g.xEnd = run.xe;
      ++g.runs;
    } else {
      run.label = reg(newRegion(run.value, run.x, 0, run.xe - run.x)).root;
    }
  }
}

// scanGreyRow(y, row, n, above): one row against the row above, whose runs an index walks
// forwards only. For each run: inherit the label of a previous run of the same kind; then, over
// the above runs in range, join the first same-kind region, merge every further one into the
// region above (the survivor is always the region above), and close an other-kind run pending
// between two contacts with the run's own region.
void kc_ConnectEngine::scanGreyRow(RowIndex y, kc_ScanRun* row, std::size_t n, const kc_ScanRun* above) {
  std::size_t a = 0;
  for (std::size_t i = 0; i < n; ++i) {
    kc_ScanRun& run = row[i];
    const Column length = run.xe - run.x;
    LabelId label = kNone;
    RegionIndex region = kNone;
    if (i != 0 && sameKind(row[i - 1], run)) {
      label = row[i - 1].label;
      region = regionOf(label);
      Region& g = reg(region);
      g.pelCount += static_cast<PelCount>(length);
      g.xEnd = std::max(g.xEnd, run.xe);
      ++g.runs;
    }
    const AboveRange range = aboveRange(run, width_);
    std::size_t pending = kNone;
    while (above[a].x <= range.hi) {
      const kc_ScanRun& up = above[a];
      if (reaches(up, range)) {
        if (sameKind(up, run)) {
          KC_ASSERT(up.label != kNone, "an above run of the current kind has a label");
          const RegionIndex aboveRegion = regionOf(up.label);
          KC_ASSERT(aboveRegion != kPrunedRegion, "an above run of the current kind has a region");
          if (label == kNone) {
            label = up.label;
            region = aboveRegion;
            Region& g = reg(region);
            g.pelCount += static_cast<PelCount>(length);
            g.xMin = std::min(g.xMin, run.x);
            g.xEnd = std::max(g.xEnd, run.xe);
            g.yMax = y;
            ++g.runs;
          } else if (region != aboveRegion) {
            mergeRegions(region, aboveRegion);
            region = aboveRegion;
          } else if (pending != kNone) {
            KC_ASSERT(above[pending].label != kNone, "a pending run has a label");
            closeRegion(regionOf(above[pending].label), region);
          }
          pending = kNone;
        } else if (up.xe - 1 != range.lo) {
          pending = a;
        }
      }
      if (up.xe > range.hi) break;
      ++a;
    }
    if (label == kNone) label = reg(newRegion(run.value, run.x, y, length)).root;
    run.label = label;
  }
}

// replayGreyRow(store, row, n, above, next): the runs of a row get the blobs (id - 1) of
// the labels scanGreyRow gave them (or scanGreyFirstRow, with above null): a previous run's of the
// same kind, else the first same-kind above run's in range, else the next new label's, looked up
// once. The above index moves as in the scan.
void kc_ConnectEngine::replayGreyRow(kc_BlobStore& store, kc_ScanRun* row, std::size_t n,
                                     const kc_ScanRun* above, LabelId& next) {
  std::size_t a = 0;
  for (std::size_t i = 0; i < n; ++i) {
    kc_ScanRun& run = row[i];
    const kc_ScanRun* source = i != 0 && sameKind(row[i - 1], run) ? &row[i - 1] : nullptr;
    if (above != nullptr) {
      const AboveRange range = aboveRange(run, width_);
      while (above[a].x <= range.hi) {
        const kc_ScanRun& up = above[a];
        if (source == nullptr && reaches(up, range) && sameKind(up, run)) source = &up;
        if (up.xe > range.hi) break;
        ++a;
      }
    }
    if (source != nullptr) {
      run.label = source->label;
      run.filled = source->filled;
    } else {
      buildOfNewLabel(store, run, next++);
    }
  }
}
