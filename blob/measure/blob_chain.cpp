// The boundary measures: the trace of a region's outline into a chain code, and the blob's chain
// code, number of steps, perimeter and the two acircularities.
#include "measure/blob_chain.h"

#include <blob/blobdesc.h>

#include "store/blob_parts.h"
#include "measure/moment_cache.h"
#include "base/messages.h"
#include "store/bsd_data.h"

#include <foundation/assert.h>
#include <foundation/exception.h>

#include <cmath>
#include <limits>

namespace {

using kc_Chain::Touch;
using kc_Chain::Trace;

// Interval: a maximal span [start, end) of non-zero pels of one row, relative to the region.
struct Interval {
  std::int32_t start;
  std::int32_t end;
};

// RunTable: each row's intervals, top row first. Kept per thread and reused, so a trace allocates
// only while it meets larger regions than before.
struct RunTable {
  std::vector<Interval> intervals;
  std::vector<std::uint32_t> rowStart;  // row r: intervals[rowStart[r] .. rowStart[r + 1])

  void fill(const unsigned char* rows, std::int32_t height) {
    intervals.clear();
    rowStart.clear();
    const unsigned char* run = rows;
    for (std::int32_t r = 0; r < height; ++r) {
      rowStart.push_back(static_cast<std::uint32_t>(intervals.size()));
      std::int32_t x = 0;
      bool open = false;  // the last interval of this row ends at x
      for (; run[1] != 0; run += 2) {
        if (run[0] != 0) {
          if (open) intervals.back().end = x + run[1];
          else intervals.push_back(Interval{x, x + run[1]});
          open = true;
        } else {
          open = false;
        }
        x += run[1];
      }
      run += 2;
    }
    rowStart.push_back(static_cast<std::uint32_t>(intervals.size()));
  }
  std::uint32_t begin(std::int32_t r) const { return rowStart[static_cast<std::size_t>(r)]; }
  std::uint32_t end(std::int32_t r) const { return rowStart[static_cast<std::size_t>(r) + 1]; }
};

// Walker: the four-state walk around the outline, emitting steps into a trace. Each state function
// makes one move and returns the next state: 0 along a top edge (+x), 2 down a right edge (+y),
// 1 along a bottom edge (-x), 3 up a left edge (-y), or kDone back at the start.
class Walker {
 public:
  Walker(const RunTable& table, std::int32_t height, Touch touch, Trace& out)
      : t_(table), last_(height - 1), touch_(touch), out_(out) {}

  // walk(r, i): from the first interval i of row r back to it.
  void walk(std::int32_t r, std::uint32_t i);

 private:
  static constexpr int kDone = 4;
  void emit(keBlobDirection d, std::int64_t n);
  int topEdge();
  int rightEdge();
  int bottomEdge();
  int leftEdge();

  const RunTable& t_;
  std::int32_t last_;
  Touch touch_;
  Trace& out_;
  std::int32_t startRow_ = 0;
  std::uint32_t startInterval_ = 0;
  std::int32_t r_ = 0;     // current row
  std::uint32_t cur_ = 0;  // current interval
  std::int32_t x_ = 0;     // current column (a pel corner)
  std::int64_t h_ = 0, v_ = 0, corners_ = 0;
};

void Walker::emit(keBlobDirection d, std::int64_t n) {
  out_.code.insert(out_.code.end(), static_cast<std::size_t>(n), d);
  ((d == keBlobDirectionPosX || d == keBlobDirectionNegX) ? h_ : v_) += n;
}

// State 0: climb to the first upper interval starting right of x that touches, or end the top edge
// at the interval's end and turn down.
int Walker::topEdge() {
  const Interval& c = t_.intervals[cur_];
  if (r_ > 0) {
    for (std::uint32_t k = t_.begin(r_ - 1); k < t_.end(r_ - 1); ++k) {
      const Interval& u = t_.intervals[k];
      const bool touches = touch_.h ? u.start <= c.end : u.start < c.end;
      if (!touches) break;
      if (u.start > x_) {
        emit(keBlobDirectionPosX, u.start - x_);
        x_ = u.start;
        cur_ = k;
        --r_;
        return 3;
      }
    }
  }
  emit(keBlobDirectionPosX, c.end - x_);
  x_ = c.end;
  ++corners_;
  return 2;
}

// State 2: one step down; then the lower interval that touches x continues the walk (along its
// top edge, or further down when it ends at x), or the walk turns along the bottom edge.
int Walker::rightEdge() {
  emit(keBlobDirectionPosY, 1);
  if (r_ < last_) {
    for (std::uint32_t k = t_.begin(r_ + 1); k < t_.end(r_ + 1); ++k) {
      const Interval& u = t_.intervals[k];
      const bool touches = touch_.v ? u.start <= x_ : u.start < x_;
      if (!touches) break;
      if (u.end >= x_) {
        cur_ = k;
        ++r_;
        return u.end == x_ ? 2 : 0;
      }
    }
  }
  ++corners_;
  return 1;
}

// State 1: descend to the lower interval ending left of x when it touches, or end the bottom edge
// at the interval's start and turn up.
int Walker::bottomEdge() {
  const Interval& c = t_.intervals[cur_];
  if (r_ < last_) {
    std::uint32_t k = t_.begin(r_ + 1);
    while (k < t_.end(r_ + 1) && t_.intervals[k].end <= x_) ++k;
    if (k != t_.begin(r_ + 1)) {
      const Interval& p = t_.intervals[k - 1];
      const bool touches = touch_.h ? p.end >= c.start : p.end > c.start;
      if (touches) {
        emit(keBlobDirectionNegX, x_ - p.end);
        x_ = p.end;
        cur_ = k - 1;
        ++r_;
        return 2;
      }
    }
  }
  emit(keBlobDirectionNegX, x_ - c.start);
  x_ = c.start;
  ++corners_;
  return 3;
}

// State 3: one step up; then the upper interval starting at x continues up, one left of x that
// touches takes the walk along its bottom edge, or the walk turns right at the top (and ends when
// back at the starting interval).
int Walker::leftEdge() {
  emit(keBlobDirectionNegY, 1);
  if (r_ > 0) {
    for (std::uint32_t k = t_.begin(r_ - 1); k < t_.end(r_ - 1); ++k) {
      const Interval& u = t_.intervals[k];
      if (u.start >= x_) {
        if (u.start != x_) break;
        cur_ = k;
        --r_;
        return 3;
      }
      const bool touches = touch_.v ? u.end >= x_ : u.end > x_;
      if (touches) {
        cur_ = k;
        --r_;
        return 1;
      }
    }
  }
  ++corners_;
  return cur_ == startInterval_ && r_ == startRow_ ? kDone : 0;
}

void Walker::walk(std::int32_t r, std::uint32_t i) {
  startRow_ = r_ = r;
  startInterval_ = cur_ = i;
  x_ = t_.intervals[i].start;
  for (int state = 0; state != kDone;) {
    switch (state) {
      case 0: state = topEdge(); break;
      case 2: state = rightEdge(); break;
      case 1: state = bottomEdge(); break;
      default: state = leftEdge(); break;
    }
  }
  out_.code.push_back(keBlobDirectionEnd);
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  if (h_ > kMax || v_ > kMax || corners_ > kMax)
    throw kcBadArgument(L"The boundary of the region is too long to count in 32 bits.");
  out_.horizontalSteps = static_cast<std::int32_t>(h_);
  out_.verticalSteps = static_cast<std::int32_t>(v_);
  out_.corners = static_cast<std::int32_t>(corners_);
}

}  // namespace

kc_Chain::Trace kc_Chain::trace(const unsigned char* rows, std::int32_t width, std::int32_t height,
                                const kcPair<long>& origin, Touch touch) {
  thread_local RunTable table;
  table.fill(rows, height);
  std::int32_t first = 0;
  while (first < height && table.begin(first) == table.end(first)) ++first;
  KC_ASSERT(first < height, "a traced region has a pel");
  Trace out;
  out.start = kcPair<long>(origin.x() + table.intervals[table.begin(first)].start, origin.y() + first);
  // An estimate, grown as needed: every interval adds two vertical steps and its width's worth
  // of horizontal ones at most twice. The worst case (2wh + w + h + 1) is never reserved.
  const std::size_t estimate = 4 * table.intervals.size() + 2 * static_cast<std::size_t>(width) + 1;
  out.code.reserve(estimate);
  Walker(table, height, touch, out).walk(first, table.begin(first));
  return out;
}

// ---- the blob's boundary measures ----

namespace {

// chained(blob, parts, data, cache): the blob's chain, traced on first need. An analysis of the
// whole image has no outline: refused before anything is made or cached.
void refuseWholeImage(const kc_BSDData& d) {
  if (d.connectivityKind == kcBlobSceneDescription::eWholeImageGreyScale)
    throw kcBlob::BadMeasure(kc_BlobMessages::kBlob[kc_BlobMessages::eNoChainForWholeImage]);
}

kc_Chain::Trace traced(const kcBlob& blob, const kc_BlobParts& p, const kc_BSDData& d) {
  const bool labelled = d.connectivityKind == kcBlobSceneDescription::eLabelled;
  const kc_Chain::Touch touch = labelled ? kc_Chain::Touch{false, true}
                                         : kc_Chain::Touch{blob.label() != 0, blob.label() != 0};
  return kc_Chain::trace(p.rows(), p.entry.width, p.entry.height, p.imageOrigin(), touch);
}

const kc_BlobBoundaryData& chained(const kcBlob& blob, const kc_BlobParts& p, const kc_BSDData& d,
                                   kc_MomentCache& cache) {
  refuseWholeImage(d);
  kc_BlobBoundaryData& b = cache.more().boundary;
  if (!b.chainCode.empty()) return b;
  kc_Chain::Trace t = traced(blob, p, d);
  cache.notice();
  b.chainCode = std::move(t.code);
  b.chainStart = t.start;
  b.horizontalSteps = t.horizontalSteps;
  b.verticalSteps = t.verticalSteps;
  b.corners = t.corners;
  return b;
}

// perimeterOf(b, cache, d): the perimeter in client units, from the counts; cached with the
// matrix counter.
double perimeterOf(kc_BlobBoundaryData& b, kc_MomentCache& cache, const kc_BSDData& d) {
  kc_BlobMeasures& m = cache.more();
  if (m.perimeterStamp == d.matrixCounter) return b.perimeter;
  const double h = b.horizontalSteps, v = b.verticalSteps, c = b.corners;
  double perimeter;
  if (d.clientMatrixIsIdentity) {
    perimeter = 0.94806 * (h + v - 0.58579 * c);
  } else {
    const kc_ClientLinear x = cache.clientLinear();
    const double diagonal = x.xScale + x.yScale - std::sqrt(x.xScale * x.xScale + x.yScale * x.yScale);
    perimeter = 0.94806 * (x.xScale * h + x.yScale * v - diagonal * c);
  }
  cache.notice();
  b.perimeter = perimeter;
  m.perimeterStamp = d.matrixCounter;
  return perimeter;
}

}  // namespace

kcPair<long> kc_Outline::of(const kcBlob& blob, std::vector<keBlobDirection>& code) {
  const kc_BlobParts p = blob.parts();
  const kc_BSDData& d = blob.data();
  refuseWholeImage(d);
  if (const kc_BlobMeasures* m = p.madeMeasures(); m != nullptr && !m->boundary.chainCode.empty()) {
    code = m->boundary.chainCode;
    return m->boundary.chainStart;
  }
  kc_Chain::Trace t = traced(blob, p, d);
  code = std::move(t.code);
  return t.start;
}

kcPair<long> kcBlob::boundaryChainCode(std::vector<keBlobDirection>& code) const {
  const kc_BlobParts p = parts();
  kc_MomentCache cache(*this, p, data());
  const kc_BlobBoundaryData& b = chained(*this, p, data(), cache);
  code = b.chainCode;
  return b.chainStart;
}

long kcBlob::numSteps() const {
  const kc_BlobParts p = parts();
  kc_MomentCache cache(*this, p, data());
  return static_cast<long>(chained(*this, p, data(), cache).chainCode.size()) - 1;
}

double kcBlob::perimeter() const {
  const kc_BlobParts p = parts();
  kc_MomentCache cache(*this, p, data());
  chained(*this, p, data(), cache);
  return perimeterOf(cache.more().boundary, cache, data());
}

double kcBlob::acircularity() const {
  const double p = perimeter();
  return p * p / (12.566370614359172 * area());
}

double kcBlob::acircularityRms() const {
  const kc_BlobParts parts = this->parts();
  const kc_BSDData& d = data();
  kc_MomentCache cache(*this, parts, d);
  const kc_BlobBoundaryData& b = chained(*this, parts, d, cache);
  kc_BlobMeasures& m = cache.more();
  if (m.acircularityRmsStamp == d.matrixCounter) return m.acircularityRms;
  const kc_ClientLinear x = cache.clientLinear();
  const kcMatrix<2>& a = x.clientFromImage.matrix();
  const kcVector<2> steps[4] = {kcVector<2>(a.element(0, 0), a.element(1, 0)),
                                kcVector<2>(-a.element(0, 0), -a.element(1, 0)),
                                kcVector<2>(a.element(0, 1), a.element(1, 1)),
                                kcVector<2>(-a.element(0, 1), -a.element(1, 1))};
  const kcVector<2> c = cache.centerOfMass();
  cache.areaInPels();
  const double radius = std::sqrt(cache.areaPels() * cache.areaScale() / 3.141592653589793);
  kcVector<2> point = x.clientFromImage.mapPoint(
      kcVector<2>(static_cast<double>(b.chainStart.x()), static_cast<double>(b.chainStart.y())));
  const std::size_t n = b.chainCode.size() - 1;
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double off = (point - c).length() - radius;
    sum += off * off;
    point += steps[b.chainCode[i]];
  }
  const double rms = 1.0 + std::sqrt(sum / static_cast<double>(n)) / radius;
  cache.notice();
  m.acircularityRms = rms;
  m.acircularityRmsStamp = d.matrixCounter;
  return rms;
}
