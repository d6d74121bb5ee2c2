// The labelled scan: equal values 6-connected (left, right, up, down, upper-left, lower-right),
// neighbour lists between regions of different values, and the enclosure flood.
#include "connect/connect_engine.h"
#include "connect/connect_records.h"

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

void kc_ConnectEngine::scanLabelledFirstRow(kc_ScanRun* row, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    kc_ScanRun& run = row[i];
    KC_ASSERT(i == 0 || row[i - 1].value != run.value, "consecutive runs of a row differ in value");
    const RegionIndex r = newRegion(run.value, run.x, 0, run.xe - run.x);
    markEdge(r);
    run.label = reg(r).root;
    if (outside_ != kNone) makeNeighbours(r, outside_);
    if (i != 0) makeNeighbours(regionOf(row[i - 1].label), r);
  }
}

// scanLabelledRow(y, row, n, above): every run starts a region of its own, which the first above
// run of its value absorbs at once; a further above region of that value absorbs the run's region
// in turn. Above runs of other values become pending and neighbours; meeting the own region again
// past a pending run encloses what the run cuts off (except under the fill, which builds its tree
// later). The above index steps back to the last run it visited, which may reach into the next
// range.
void kc_ConnectEngine::scanLabelledRow(RowIndex y, kc_ScanRun* row, std::size_t n,
                                       const kc_ScanRun* above) {
  std::size_t a = 0;
  const bool lastRow = y == height_ - 1;
  for (std::size_t i = 0; i < n; ++i) {
    kc_ScanRun& run = row[i];
    RegionIndex region = newRegion(run.value, run.x, y, run.xe - run.x);
    if (run.x == 0 || run.xe == width_ || lastRow) markEdge(region);
    run.label = reg(region).root;
    if (i != 0) {
      KC_ASSERT(row[i - 1].value != run.value, "consecutive runs of a row differ in value");
      makeNeighbours(regionOf(row[i - 1].label), region);
    }
    const Column lo = labelledLo(run.x);
    const Column hi = run.xe - 1;
    KC_ASSERT(above[a].x <= lo, "the above index does not pass the start of the range");
    std::size_t pending = kNone;
    std::size_t lastVisited = kNone;
    while (above[a].x <= hi) {
      const kc_ScanRun& up = above[a];
      if (up.xe - 1 >= lo) {
        KC_ASSERT(up.label != kNone, "an above run in range has a label");
        const RegionIndex aboveRegion = regionOf(up.label);
        KC_ASSERT(isOpen(aboveRegion), "an above run in range has an open region");
        if (up.value == run.value) {
          if (region != aboveRegion) {
            mergeRegions(region, aboveRegion);
            region = aboveRegion;
          } else if (pending != kNone && cleanup_ != kc_CleanupKind::eFill) {
            encloseLabelled(region, regionOf(above[pending].label));
          }
          pending = kNone;
        } else {
          pending = a;
          makeNeighbours(aboveRegion, region);
        }
      }
      lastVisited = a;
      if (up.xe == width_) break;  // the row's last run
      ++a;
    }
    if (lastVisited != kNone) a = lastVisited;
    if (outside_ != kNone && (run.x == 0 || lastRow || run.xe == width_)) makeNeighbours(region, outside_);
  }
}

// encloseLabelled(R, P): R met itself again around P's run. A flood from P that cannot pass R
// (it carries the same mark) lists exactly the regions R and the current run cut off; each is
// taken out of R's list (and R out of its list) and closed into R, in the order listed.
void kc_ConnectEngine::encloseLabelled(RegionIndex encloser, RegionIndex start) {
  KC_ASSERT(isOpen(start), "a pending run has an open region");
  KC_ASSERT(!ws_.labelled[start].edge, "an enclosed region has no pel on the image's edge");
  const std::uint32_t s = ++floodStamp_;
  ws_.labelled[encloser].stamp = s;
  ws_.labelled[start].stamp = s;
  std::vector<RegionIndex>& listed = ws_.listed;
  std::vector<RegionIndex>& stack = ws_.stack;
  listed.clear();
  stack.clear();
  listed.push_back(start);
  stack.push_back(start);
  while (!stack.empty()) {
    const RegionIndex r = stack.back();
    stack.pop_back();
    for (NodeIndex k = listOf(r).head; k != kNone; k = ws_.nodes[k].next) {
      const RegionIndex e = ws_.nodes[k].region;
      if (ws_.labelled[e].stamp == s) continue;
      ws_.labelled[e].stamp = s;
      stack.push_back(e);
      listed.push_back(e);
    }
  }
  const bool listless = edgeFree(encloser);
  for (RegionIndex e : listed) {
    KC_ASSERT(!ws_.labelled[e].edge, "an enclosed region has no pel on the image's edge");
    if (!listless) {
      removeNeighbour(encloser, e);
      removeNeighbour(e, encloser);
    }
    closeRegion(e, encloser);
  }
}
