// The grey-scale scan: non-zero pels 8-connected, zero pels 4-connected, with merges and the
// closing of enclosed regions as rows connect them.
#include "connect/connect_engine.h"
#include "connect/connect_records.h"

#include <foundation/assert.h>

#include <algorithm>
#include <cstdint>

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

// prefetch(base, index): asks for the cache line of base[index], which may lie outside the array (a
// stale hint): the address is only computed, never dereferenced.
template <class T>
inline void prefetch(const T* base, std::uint32_t index) {
  __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(base) + std::uintptr_t{index} * sizeof(T)));
}

}  // namespace

template <bool kStream>
void kc_ConnectEngine::scanGreyFirstRow(kc_ScanRun* row, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    kc_ScanRun& run = row[i];
    RegionIndex r;
    if (i != 0 && sameKind(row[i - 1], run)) {
      run.label = row[i - 1].label;
      r = regionOf(run.label);
      addRun(reg(r), run.x, run.xe, 0);
    } else {
      r = newRegion(run.value, run.x, 0, run.xe - run.x);
      run.label = reg(r).root;
    }
    if constexpr (kStream) keepRun(r, run, 0);
  }
}

// scanGreyRow(y, row, n, above): one row against the row above, whose runs an index walks
// forwards only. For each run: inherit the label of a previous run of the same kind; then, over
// the above runs in range, join the first same-kind region, merge every further one into the
// region above (the survivor is always the region above), and close an other-kind run pending
// between two contacts with the run's own region.
template <bool kStream>
void kc_ConnectEngine::scanGreyRow(RowIndex y, kc_ScanRun* row, std::size_t n, const kc_ScanRun* above) {
  std::uint8_t* const metAbove = kStream ? ws_.metAbove.data() : nullptr;  // sized before the row
  std::size_t a = 0;
  for (std::size_t i = 0; i < n; ++i) {
    kc_ScanRun& run = row[i];
    LabelId label = kNone;
    RegionIndex region = kNone;
    if (i != 0 && sameKind(row[i - 1], run)) {
      label = row[i - 1].label;
      region = regionOf(label);
      addRun(reg(region), run.x, run.xe, y);
      if constexpr (kStream) keepRun(region, run, y);
    }
    const AboveRange range = aboveRange(run, width_);
    std::size_t pending = kNone;
    while (above[a].x <= range.hi) {
      const kc_ScanRun& up = above[a];
      if (reaches(up, range)) {
        if (sameKind(up, run)) {
          KC_ASSERT(up.label != kNone, "an above run of the current kind has a label");
          if constexpr (kStream) metAbove[a] = 1;
          const RegionIndex aboveRegion = regionOf(up.label);
          KC_ASSERT(isOpen(aboveRegion), "an above run of the current kind has an open region");
          if (label == kNone) {
            label = up.label;
            region = aboveRegion;
            addRun(reg(region), run.x, run.xe, y);
            if constexpr (kStream) keepRun(region, run, y);
          } else if (region != aboveRegion) {
            mergeRegions(region, aboveRegion);
            region = aboveRegion;
            if constexpr (kStream) edgeFlush(region);
          } else if (pending != kNone) {
            KC_ASSERT(above[pending].label != kNone, "a pending run has a label");
            closeRegion(regionOf(above[pending].label), region);
            if constexpr (kStream) edgeFlush(region);
          }
          pending = kNone;
        } else if (up.xe - 1 != range.lo) {
          pending = a;
        }
      }
      if (up.xe > range.hi) break;
      ++a;
    }
    if (label == kNone) {
      region = newRegion(run.value, run.x, y, run.xe - run.x);
      label = reg(region).root;
      if constexpr (kStream) keepRun(region, run, y);
    }
    run.label = label;
  }
}

// scanBinaryRow(y, row, n, above): scanGreyRow for a binary image. Its rows' runs alternate between
// the two kinds, so the above runs of the current run's kind in its range are every other one from
// the first, and between any two of them lies a run of the other kind: a second contact with the
// run's own region closes that run's region. `a` is the above run covering the first column the
// current run examines; above ends with two markers (readRow), which the steps of two may reach.
// A run that joins a region above takes the label of the run it joins, as in scanGreyRow (labels
// of one set are not interchangeable: the fill marks the labels it filled). Each run keeps its
// region as a hint, from which the scan of the next row fetches the records and labels it will
// need kAhead runs ahead (a row scanned last touched them a row's work ago).
template <bool kPlain>
void kc_ConnectEngine::scanBinaryRow(RowIndex y, kc_ScanRun* row, std::size_t n, const kc_ScanRun* above) {
  std::size_t a = 0;
  for (std::size_t i = 0; i < n; ++i) {
    kc_ScanRun& run = row[i];
    const bool foreground = run.value != 0;
    // Arithmetic, not branches: the kinds and the steps of a noisy image follow no pattern.
    const Column hi = std::min(run.xe - 1 + static_cast<Column>(foreground), width_ - 1);
    std::size_t j = a + static_cast<std::size_t>(isForeground(above[a]) != foreground);
    prefetch(ws_.regions.data(), above[a + kAhead].region);
    prefetch(ws_.up.data(), above[a + kAhead].label);
    LabelId label;
    if (above[j].x <= hi) {
      label = above[j].label;
      RegionIndex region = nearRegionOf(label);
      KC_ASSERT(isOpen(region), "an above run of the current kind has an open region");
      addRun(reg(region), run.x, run.xe, y);
      run.region = region;
      for (j += 2; above[j].x <= hi; j += 2) {
        const RegionIndex aboveRegion = nearRegionOf(above[j].label);
        KC_ASSERT(isOpen(aboveRegion), "an above run of the current kind has an open region");
        if (aboveRegion != region) {
          mergeRegions(region, aboveRegion);
          region = aboveRegion;
          run.region = region;
        } else {
          closeRegion<kPlain>(regionOf(above[j - 1].label), region);
        }
      }
    } else {
      run.region = newRegion<kPlain>(run.value, run.x, y, run.xe - run.x);
      label = reg(run.region).root;
    }
    a = j - 2 + static_cast<std::size_t>(above[j - 1].x <= hi);
    run.label = label;
  }
}

template void kc_ConnectEngine::scanBinaryRow<false>(RowIndex, kc_ScanRun*, std::size_t, const kc_ScanRun*);
template void kc_ConnectEngine::scanBinaryRow<true>(RowIndex, kc_ScanRun*, std::size_t, const kc_ScanRun*);
template void kc_ConnectEngine::scanGreyFirstRow<false>(kc_ScanRun*, std::size_t);
template void kc_ConnectEngine::scanGreyFirstRow<true>(kc_ScanRun*, std::size_t);
template void kc_ConnectEngine::scanGreyRow<false>(RowIndex, kc_ScanRun*, std::size_t, const kc_ScanRun*);
template void kc_ConnectEngine::scanGreyRow<true>(RowIndex, kc_ScanRun*, std::size_t, const kc_ScanRun*);
