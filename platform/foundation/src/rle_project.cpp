// Projections of run-length images: weighted row, column and diagonal sums, and the projection onto
// a slanted axis with each pel's weight split exactly over one-pel bins.
#include <foundation/assert.h>
#include <foundation/exception.h>
#include <foundation/rlebuffer.h>

#include "rle_rep.h"
#include "rle_slant.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

const wchar_t* const kDegenerate = L"The run-length image is degenerate.";
const wchar_t* const kBadAxis =
    L"The projection axis is degenerate: the direction is zero or not finite, or the transform is singular.";

// A component of g at most this fraction of |g| counts as zero: the axis is a row or column axis.
constexpr double kAxisTolerance = 1e-9;

// Column or diagonal sums through a difference array: each run adds its value at its first index
// and removes it past its last, so the cost is the runs plus the length of the result.
// diagonal: index x + y instead of x.
std::vector<std::uint64_t> spreadRuns(const unsigned char* const* rows, long width, long height,
                                      bool diagonal) {
  const std::size_t n = static_cast<std::size_t>(diagonal ? width + height - 1 : width);
  std::vector<std::int64_t> diff(n + 1, 0);
  for (long y = 0; y < height; ++y) {
    kf_AttendRow(static_cast<std::uint64_t>(y));
    std::size_t x = diagonal ? static_cast<std::size_t>(y) : 0;
    for (const unsigned char* run = rows[y]; run[1] != 0; run += 2) {
      if (run[0] != 0) {
        diff[x] += run[0];
        diff[x + run[1]] -= run[0];
      }
      x += run[1];
    }
  }
  std::vector<std::uint64_t> sums(n);
  std::int64_t running = 0;
  for (std::size_t i = 0; i < n; ++i) {
    running += diff[i];
    sums[i] = static_cast<std::uint64_t>(running);
  }
  return sums;
}

// Bins of the slanted projection. A run (a rectangle L pels wide, one pel high) projects onto the
// unit axis n = (ax, ay) (both components made non-negative by mirroring the buffer) as a
// trapezoid: a rising ramp, a plateau and a falling ramp, with ramp length m = min(L ax, ay) and
// plateau height h = value x L / max(L ax, ay). Ramps are at most one bin long and are integrated
// into at most two bins each. A plateau's whole bins go into an integer difference array, in
// units of 1/ax (h = value / ax) or of 1/ay (h = value x L / ay), so that the contributions of all
// runs cancel exactly past their ends; its partial end bins are added directly.
//
//        ____________            h
//       /|          |\           rising ramp [s0, s0 + m], plateau, falling ramp [s1 - m, s1]
//   ___/_|__________|_\___
//     s0                s1
class AngularBins {
 public:
  AngularBins(std::size_t count, double ax, double ay)
      : bins_(count, 0.0), unitsX_(count + 1, 0), unitsY_(count + 1, 0), ax_(ax), ay_(ay) {}

  // addRun(s0, s1, value, length, shape): a run whose footprint spans [s0, s1] along the axis
  // (0 <= s0 < s1 <= count), of the given shape.
  void addRun(double s0, double s1, unsigned value, unsigned length, const kc_Slant::Shape& shape) {
    KC_ASSERT(0.0 <= s0 && s0 < s1 && s1 <= static_cast<double>(bins_.size()),
              "a run's footprint lies within the bins");
    const double m = shape.ramp;
    const double h = shape.height;
    if (shape.wide) {
      addPlateau(s0 + m, std::max(s0 + m, s1 - m), h, value, unitsX_);
    } else {
      addPlateau(s0 + m, std::max(s0 + m, s1 - m), h, value * length, unitsY_);
    }
    if (m > 0.0) {
      addRising(s0, m, h);
      addFalling(s1, m, h);
    }
  }

  // finish(): the bins with the plateaus' whole bins added in.
  std::vector<double> finish() {
    std::int64_t x = 0;
    std::int64_t y = 0;
    for (std::size_t j = 0; j < bins_.size(); ++j) {
      x += unitsX_[j];
      y += unitsY_[j];
      if (x != 0) bins_[j] += static_cast<double>(x) / ax_;
      if (y != 0) bins_[j] += static_cast<double>(y) / ay_;
    }
    return std::move(bins_);
  }

 private:
  static std::size_t bin(double s) { return static_cast<std::size_t>(s); }

  // Density rising linearly from 0 at a to h at a + m (m <= 1).
  void addRising(double a, double m, double h) {
    const double k = h / (2.0 * m);
    const double split = std::floor(a) + 1.0;
    const std::size_t j = bin(std::floor(a));
    if (split >= a + m || j + 1 >= bins_.size()) {
      bins_[j] += k * m * m;
      return;
    }
    const double t = split - a;
    bins_[j] += k * t * t;
    bins_[j + 1] += k * std::max(0.0, m * m - t * t);
  }

  // Density falling linearly from h at b - m to 0 at b (m <= 1).
  void addFalling(double b, double m, double h) {
    const double k = h / (2.0 * m);
    const double split = std::ceil(b) - 1.0;
    const std::size_t j = bin(split);
    if (split <= b - m || j == 0) {
      bins_[j] += k * m * m;
      return;
    }
    const double t = b - split;
    bins_[j] += k * t * t;
    bins_[j - 1] += k * std::max(0.0, m * m - t * t);
  }

  // Constant density h over [p1, p2]; whole bins in units of the difference array.
  void addPlateau(double p1, double p2, double h, std::int64_t units, std::vector<std::int64_t>& diff) {
    if (p2 <= p1) return;
    const double c1 = std::ceil(p1);
    const double f2 = std::floor(p2);
    if (c1 > f2) {
      bins_[bin(f2)] += h * (p2 - p1);
      return;
    }
    if (p1 < c1) bins_[bin(c1) - 1] += h * (c1 - p1);
    if (c1 < f2) {
      diff[bin(c1)] += units;
      diff[bin(f2)] -= units;
    }
    if (p2 > f2) bins_[bin(f2)] += h * (p2 - f2);
  }

  std::vector<double> bins_;
  std::vector<std::int64_t> unitsX_;
  std::vector<std::int64_t> unitsY_;
  double ax_;
  double ay_;
};

// The type 0 projection onto the unit axis n, measured from the buffer corner with the least n . p.
void projectAngular(const unsigned char* const* rows, long width, long height, const kcVector<2>& n,
                    kcRLEBuffer::AngleProjection& out) {
  const kc_Slant slant(n, width, height);
  const double span = slant.span();
  AngularBins bins(slant.bins(), slant.ax, slant.ay);

  double least = span;
  double most = 0.0;
  bool weighted = false;
  for (long y = 0; y < height; ++y) {
    kf_AttendRow(static_cast<std::uint64_t>(y));
    const double top = slant.top(y);
    long x = 0;
    for (const unsigned char* run = rows[y]; run[1] != 0; run += 2) {
      const long length = run[1];
      if (run[0] != 0) {
        const double left = slant.left(x, length);
        const double s0 = slant.start(left, top);
        const double s1 = slant.end(left, top, length);
        bins.addRun(s0, s1, run[0], run[1], slant.shapeOf(run[0], run[1]));
        least = std::min(least, s0);
        most = std::max(most, s1);
        weighted = true;
      }
      x += length;
    }
  }
  out.type = kcRLEBuffer::eProjAngular;
  out.bins = bins.finish();
  out.origin = kcVector<2>(slant.flipX ? static_cast<double>(width) : 0.0,
                           slant.flipY ? static_cast<double>(height) : 0.0);
  if (weighted) {
    out.firstEmpty = least - std::floor(least);
    out.lastEmpty = std::ceil(most) - most;
  }
}

}  // namespace

std::vector<std::uint64_t> kcRLEBuffer::projectHoriz() const {
  std::vector<std::uint64_t> sums(static_cast<std::size_t>(height_), 0);
  const unsigned char* const* rows = pointToRat();
  for (long y = 0; y < height_; ++y) {
    kf_AttendRow(static_cast<std::uint64_t>(y));
    std::uint64_t sum = 0;
    for (const unsigned char* run = rows[y]; run[1] != 0; run += 2) sum += unsigned{run[0]} * run[1];
    sums[static_cast<std::size_t>(y)] = sum;
  }
  return sums;
}

std::vector<std::uint64_t> kcRLEBuffer::projectVert() const {
  if (isDegenerate()) return {};
  return spreadRuns(pointToRat(), width_, height_, false);
}

std::vector<std::uint64_t> kcRLEBuffer::projectDiag() const {
  if (isDegenerate()) return {};
  return spreadRuns(pointToRat(), width_, height_, true);
}

kcRLEBuffer::AngleProjection kcRLEBuffer::projectAngle(const kcVector<2>& direction,
                                                       const kcXform<2>& clientFromImage,
                                                       bool alwaysAngular) const {
  if (isDegenerate()) throw kcBadArgument(kDegenerate);
  // g = A^T v_perp: the image-space gradient of the client distance along v_perp.
  const kcMatrix<2>& a = clientFromImage.matrix();
  const double px = -direction.y();
  const double py = direction.x();
  const double gx = a.element(0, 0) * px + a.element(1, 0) * py;
  const double gy = a.element(0, 1) * px + a.element(1, 1) * py;
  const double length = std::hypot(gx, gy);
  if (!(length > 0.0) || !std::isfinite(length)) throw kcBadArgument(kBadAxis);

  AngleProjection result;
  result.binLength = length;
  result.axis = kcVector<2>(gx / length, gy / length);
  if (!alwaysAngular && std::fabs(gx) <= kAxisTolerance * length) {
    result.type = gy > 0.0 ? eProjRows : eProjRowsReversed;
    result.origin = kcVector<2>(0.0, gy > 0.0 ? 0.0 : static_cast<double>(height_));
  } else if (!alwaysAngular && std::fabs(gy) <= kAxisTolerance * length) {
    result.type = gx > 0.0 ? eProjColumns : eProjColumnsReversed;
    result.origin = kcVector<2>(gx > 0.0 ? 0.0 : static_cast<double>(width_), 0.0);
  } else {
    projectAngular(pointToRat(), width_, height_, result.axis, result);
  }
  return result;
}
