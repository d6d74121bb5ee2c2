// Positions inside the bins of a slanted projection: where a given weight is reached in a bin,
// integrated exactly from the runs that reach it.
#include <foundation/exception.h>
#include <foundation/rlebuffer.h>

#include "rle_rep.h"
#include "rle_slant.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

const wchar_t* const kDegenerate = L"The run-length image is degenerate.";
const wchar_t* const kBadQuery =
    L"The bin queries do not fit the projection: not a slanted projection of this image, more queries than "
    L"allowed or not as many positions, a bin out of range, or a negative or non-finite mass.";

// A ramp shorter than this, in bins, counts as a step at its middle: the slopes of shorter ramps
// would drown the density in rounding. The middle keeps the ramp's weight, so a position moves by
// at most half of this.
constexpr double kShortRamp = 1e-6;

// Change: how the density in one queried bin changes at u, the bin's own coordinate: 0 at the side
// the count starts from, 1 at the other (mirrored for a count from the end; a run's trapezoid is
// symmetric, so it keeps its shape). Between changes the density is level + slope u - anchored,
// each ramp under way adding its slope times (u - its anchor); `active` counts the runs under way,
// and the sums are cleared when it drops to 0, so that the density is exactly 0 where no run lies.
struct Change {
  double u, level, slope, anchored;
  std::int32_t active;
};

struct Density {
  double level = 0.0, slope = 0.0, anchored = 0.0;
  std::int32_t active = 0;

  void add(double dLevel, double dSlope, double dAnchored, std::int32_t dActive) {
    level += dLevel;
    slope += dSlope;
    anchored += dAnchored;
    active += dActive;
  }
  // apply(c): a change inside the bin, in order of u.
  void apply(const Change& c) {
    add(c.level, c.slope, c.anchored, c.active);
    if (active == 0) level = slope = anchored = 0.0;
  }
  double at(double u) const { return std::max(0.0, level + slope * u - anchored); }
};

// Trapezoid: a run's density along the axis: ramps `ramp` bins long, rising at `slope` to `height`.
struct Trapezoid {
  double ramp, slope, height;
};

// Trapezoids: the trapezoid of a run from its value and length, without dividing: the slope is
// value / (ax ay) for either shape and the height the slope times the ramp; steps (ramps shorter
// than kShortRamp) take their height directly, value / ax or value L / ay.
class Trapezoids {
 public:
  explicit Trapezoids(const kc_Slant& slant)
      : ax_(slant.ax), ay_(slant.ay), slopePerValue_(inverse(slant.ax * slant.ay)), perAx_(inverse(slant.ax)),
        perAy_(inverse(slant.ay)) {}

  Trapezoid of(unsigned value, unsigned length) const {
    const double along = ax_ * length;
    const bool wide = along >= ay_;
    const double ramp = wide ? ay_ : along;
    if (ramp < kShortRamp) {
      return Trapezoid{ramp, 0.0, wide ? value * perAx_ : static_cast<double>(value * length) * perAy_};
    }
    const double slope = value * slopePerValue_;
    return Trapezoid{ramp, slope, slope * ramp};
  }

 private:
  // inverse(v): 1 / v, or 0 for v = 0 (where the axis runs along the pels: then unused).
  static double inverse(double v) { return v > 0.0 ? 1.0 / v : 0.0; }

  double ax_, ay_;
  double slopePerValue_, perAx_, perAy_;
};

// BinScratch: what one call gathers per query: the density at 0, the extremes of the runs in the
// bin, and the changes inside it; and the buffers that sort them. Kept per thread between calls.
struct BinScratch {
  static constexpr std::size_t kQueries = kcRLEBuffer::kMaxBinQueries;
  Density atStart[kQueries];
  double first[kQueries];  // least start of a run in the bin
  double last[kQueries];   // greatest end
  std::vector<Change> changes[kQueries];
  std::vector<Change> sorted;
  std::vector<std::size_t> counts;

  void clear() {
    for (std::size_t q = 0; q < kQueries; ++q) {
      atStart[q] = Density{};
      first[q] = 1.0;
      last[q] = 0.0;
      changes[q].clear();
    }
  }
  // addRun(q, start, end, t, counted): a run over [start, end] in query q's coordinate; its
  // changes only when counted (a query of mass 0 needs the extremes alone).
  void addRun(std::size_t q, double start, double end, const Trapezoid& t, bool counted) {
    first[q] = std::min(first[q], start);
    last[q] = std::max(last[q], end);
    if (!counted) return;
    if ((start + t.ramp <= 0.0) & (end - t.ramp >= 1.0)) {  // its plateau covers the bin
      atStart[q].add(t.height, 0.0, 0.0, 1);
      return;
    }
    if (t.ramp < kShortRamp) {
      const double half = 0.5 * t.ramp;
      change(q, Change{start + half, t.height, 0.0, 0.0, 1});
      change(q, Change{end - half, -t.height, 0.0, 0.0, -1});
      return;
    }
    const double k = t.slope;
    change(q, Change{start, 0.0, k, k * start, 1});
    change(q, Change{start + t.ramp, t.height, -k, -k * start, 0});
    change(q, Change{end - t.ramp, -t.height, -k, -k * end, 0});
    change(q, Change{end, 0.0, k, k * end, -1});
  }

 private:
  // change(q, c): kept when inside the bin; added to the density at 0 when at or before it.
  void change(std::size_t q, const Change& c) {
    if (c.u <= 0.0) atStart[q].add(c.level, c.slope, c.anchored, c.active);
    else if (c.u < 1.0) changes[q].push_back(c);
  }
};

// gather(rows, height, slant, queries, scratch): one pass over the runs of the rows that reach the
// queried bins, adding each run to the queries whose bin it reaches.
void gather(const unsigned char* const* rows, long height, const kc_Slant& slant,
            std::span<const kcRLEBuffer::BinQuery> queries, BinScratch& scratch) {
  const Trapezoids trapezoids(slant);
  double bin[kcRLEBuffer::kMaxBinQueries];
  double lowest = INFINITY;
  double highest = 0.0;
  for (std::size_t i = 0; i < queries.size(); ++i) {
    bin[i] = static_cast<double>(queries[i].bin);
    lowest = std::min(lowest, bin[i]);
    highest = std::max(highest, bin[i] + 1.0);
  }
  const double rowSpan = slant.ax * static_cast<double>(slant.width) + slant.ay;
  for (long y = 0; y < height; ++y) {
    kf_AttendRow(static_cast<std::uint64_t>(y));
    const double top = slant.top(y);
    if (slant.ay * top >= highest || slant.ay * top + rowSpan <= lowest) continue;
    long x = 0;
    for (const unsigned char* run = rows[y]; run[1] != 0; run += 2) {
      const long length = run[1];
      x += length;
      if (run[0] == 0) continue;
      const double left = slant.left(x - length, length);
      const double s0 = slant.start(left, top);
      const double s1 = slant.end(left, top, length);
      unsigned reached = 0;  // bit i: the run reaches query i's bin (worked out without branching)
      for (std::size_t i = 0; i < queries.size(); ++i)
        reached |= static_cast<unsigned>((s0 < bin[i] + 1.0) & (s1 > bin[i])) << i;
      if (reached == 0) continue;
      const Trapezoid t = trapezoids.of(run[0], run[1]);
      for (; reached != 0; reached &= reached - 1) {
        const auto i = static_cast<std::size_t>(std::countr_zero(reached));
        const double k = bin[i];
        const bool back = queries[i].fromEnd;
        scratch.addRun(i, back ? (k + 1.0) - s1 : s0 - k, back ? (k + 1.0) - s0 : s1 - k, t, queries[i].mass > 0.0);
      }
    }
  }
}

// sortChanges(changes, scratch, counts): orders the changes of one bin by u, in time linear in
// their number when their positions are spread: a counting pass into buckets of (0, 1), one for
// every four changes, then each bucket sorted by itself.
void sortChanges(std::vector<Change>& changes, std::vector<Change>& scratch, std::vector<std::size_t>& counts) {
  const auto byU = [](const Change& a, const Change& b) { return a.u < b.u; };
  if (changes.size() <= 64) {
    std::sort(changes.begin(), changes.end(), byU);
    return;
  }
  const std::size_t slots = changes.size() / 4;
  const double scale = static_cast<double>(slots);
  const auto bucketOf = [&](const Change& c) { return std::min(slots - 1, static_cast<std::size_t>(c.u * scale)); };
  counts.assign(slots + 1, 0);
  for (const Change& c : changes) ++counts[bucketOf(c) + 1];
  for (std::size_t b = 1; b <= slots; ++b) counts[b] += counts[b - 1];
  scratch.resize(changes.size());
  for (const Change& c : changes) scratch[counts[bucketOf(c)]++] = c;  // counts[b]: the end of bucket b
  for (std::size_t b = 0; b < slots; ++b) {
    const std::size_t begin = b == 0 ? 0 : counts[b - 1];
    if (counts[b] - begin > 1) {
      std::sort(scratch.begin() + static_cast<std::ptrdiff_t>(begin),
                scratch.begin() + static_cast<std::ptrdiff_t>(counts[b]), byU);
    }
  }
  changes.swap(scratch);
}

// solveSegment(v, slope, mass, width): t in [0, width] with v t + slope t^2 / 2 = mass, for a
// density v >= 0 at t = 0 (the root in a form that cancels nothing).
double solveSegment(double v, double slope, double mass, double width) {
  if (mass <= 0.0) return 0.0;
  const double denominator = v + std::sqrt(std::max(0.0, v * v + 2.0 * slope * mass));
  return denominator > 0.0 ? std::min(width, 2.0 * mass / denominator) : width;
}

// sweep(d, changes, mass, last): u where the weight from 0 first exceeds mass, integrating the
// density d at 0 with the changes of one bin (sorted by u); last (the end of the weight) when it
// never does.
double sweep(Density d, const std::vector<Change>& changes, double mass, double last) {
  const Change* c = changes.data();
  const Change* const end = c + changes.size();
  double u = 0.0;
  double below = 0.0;
  for (;; ++c) {
    const double next = c != end ? c->u : 1.0;
    if (next > u) {
      const double width = next - u;
      const double v0 = d.at(u);
      const double v1 = std::max(0.0, v0 + d.slope * width);
      const double weight = 0.5 * (v0 + v1) * width;
      if (below + weight > mass) return u + solveSegment(v0, d.slope, mass - below, width);
      below += weight;
      u = next;
    }
    if (c == end) return last;
    d.apply(*c);
  }
}

// fits(projection, slant, queries, positions): the projection is a type 0 one of an image of the
// slant's size, and the queries and positions are as locateInBins requires.
bool fits(const kcRLEBuffer::AngleProjection& projection, const kc_Slant& slant,
          std::span<const kcRLEBuffer::BinQuery> queries, std::span<double> positions) {
  const kcVector<2>& axis = projection.axis;
  if (projection.type != kcRLEBuffer::eProjAngular || !std::isfinite(axis.x()) || !std::isfinite(axis.y()) ||
      std::fabs(axis.dot(axis) - 1.0) > 1e-9 || projection.bins.size() != slant.bins() ||
      queries.size() > kcRLEBuffer::kMaxBinQueries || positions.size() != queries.size()) {
    return false;
  }
  return std::all_of(queries.begin(), queries.end(), [&](const kcRLEBuffer::BinQuery& q) {
    return q.bin < projection.bins.size() && q.mass >= 0.0 && std::isfinite(q.mass);
  });
}

}  // namespace

void kcRLEBuffer::locateInBins(const AngleProjection& projection, std::span<const BinQuery> queries,
                               std::span<double> positions) const {
  if (isDegenerate()) throw kcBadArgument(kDegenerate);
  const kc_Slant slant(projection.axis, width_, height_);
  if (!fits(projection, slant, queries, positions)) throw kcBadArgument(kBadQuery);

  thread_local BinScratch scratch;
  scratch.clear();
  gather(pointToRat(), height_, slant, queries, scratch);
  for (std::size_t i = 0; i < queries.size(); ++i) sortChanges(scratch.changes[i], scratch.sorted, scratch.counts);
  // Nothing throws from here on, so positions are written whole or not at all.
  for (std::size_t i = 0; i < queries.size(); ++i) {
    const double last = std::min(1.0, scratch.last[i]);
    double u = 0.0;  // a bin without weight
    if (last > 0.0 && queries[i].mass > 0.0) u = sweep(scratch.atStart[i], scratch.changes[i], queries[i].mass, last);
    else if (last > 0.0) u = std::max(0.0, scratch.first[i]);
    const double k = static_cast<double>(queries[i].bin);
    positions[i] = queries[i].fromEnd ? (k + 1.0) - u : k + u;
  }
}
