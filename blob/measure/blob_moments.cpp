// The blob's moment measures (area, centre of mass, inertia, principal moments, elongation,
// angle), their caches in the blob record, and the moment arithmetic they share.
#include "measure/blob_moments.h"

#include <blob/blob.h>
#include <blob/blobdesc.h>

#include <foundation/assert.h>
#include <foundation/xform.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "measure/blob_record.h"
#include "scene/bsd_data.h"

// ---- moment arithmetic ----

namespace kc_Moments {

RegionSums sumRegion(const kcRLEBuffer& region, const kcPair<long>& origin) {
  RegionSums out;
  out.centroidX = static_cast<double>(origin.x()) + 0.5;
  out.centroidY = static_cast<double>(origin.y()) + 0.5;
  if (region.isDegenerate()) return out;
  const unsigned char* const* rows = region.pointToRat();
  std::uint64_t weight = 0;
  double twiceSumX = 0.0;  // sum of w x (2 x + L - 1) = twice the weighted sum of pel left edges
  double sumY = 0.0;
  for (long r = 0; r < region.height(); ++r) {
    std::uint64_t rowWeight = 0;
    double rowTwiceX = 0.0;
    std::uint64_t x = 0;
    for (const unsigned char* run = rows[r]; run[1] != 0; run += 2) {
      const std::uint64_t length = run[1];
      const std::uint64_t w = run[0] * length;
      rowWeight += w;
      rowTwiceX += static_cast<double>(w) * static_cast<double>(2 * x + length - 1);
      x += length;
    }
    weight += rowWeight;
    twiceSumX += rowTwiceX;
    sumY += static_cast<double>(rowWeight) * static_cast<double>(r);
  }
  out.weight = weight;
  if (weight == 0) return out;
  const double total = static_cast<double>(weight);
  out.centroidX = static_cast<double>(origin.x()) + (twiceSumX / 2.0 / total + 0.5);
  out.centroidY = static_cast<double>(origin.y()) + (sumY / total + 0.5);
  return out;
}

std::uint64_t projectionTotal(const std::vector<std::uint64_t>& p) {
  std::uint64_t total = 0;
  for (std::uint64_t v : p) total += v;
  return total;
}

double secondMoment(const std::vector<std::uint64_t>& p, double c) {
  KC_ASSERT(!p.empty(), "a blob's region has a non-empty projection");
  // sum_j p[j] (j^2 + j + 1/3) - n c^2, in one pass without squaring positions:
  // t collects -sum_j p[j] j (N - 1 - j).
  const double n = static_cast<double>(projectionTotal(p));
  const double length = static_cast<double>(p.size());
  double a = 0.0;
  double t = 0.0;
  for (std::size_t j = 1; j < p.size(); ++j) {
    t -= a;
    a += static_cast<double>(j) * static_cast<double>(p[j]);
  }
  return t + n * (c * (length - c) + 1.0 / 3.0 - length / 2.0);
}

double mixedMoment(const std::vector<std::uint64_t>& diag, double d, double sumXX, double sumYY) {
  // Along a diagonal x + y the spread is sumXX + sumYY + 2 sumXY; each pel adds 1/6 as a square.
  double q = 0.0;
  for (std::size_t i = 0; i < diag.size(); ++i) {
    const double off = d - static_cast<double>(i);
    q += static_cast<double>(diag[i]) * (off * off + 1.0 / 6.0);
  }
  return q / 2.0 - (sumXX + sumYY) / 2.0;
}

Second clientSecond(const Second& m, const kcMatrix<2>& a, double areaScale) {
  const kcMatrix<2> image(m.xx, m.xy, m.xy, m.yy);
  const kcMatrix<2> client = a * image * a.transpose();
  return {areaScale * client.element(0, 0), areaScale * client.element(1, 1),
          areaScale * client.element(0, 1)};
}

Principal principalAxes(const Second& m) {
  const double a = m.xx;
  const double b = m.yy;
  const double c = m.xy;
  if (c == 0.0 && a == b) return {a, a, 0.0};
  const double t = 2.0 * c;
  const double r = std::sqrt(t * t + (a - b) * (a - b));
  const double s2 = t / r;
  const double c2 = (a - b) / r;
  const double sigma = a + b;
  const double p = (a - b) * c2;
  const double q = t * s2;
  return {(sigma - p - q) / 2.0, (sigma + p + q) / 2.0, std::atan2(s2, c2) / 2.0};
}

}  // namespace kc_Moments

// ---- the blob's caches ----

namespace {

using kc_Moments::Second;

// MomentCache: fills the moment caches of one blob's record on demand, for one query. Gives the
// blob notice once, before the first cache it writes. Each value is stored only once computed, so
// a failure (a transform that cannot be evaluated, an allocation) leaves every cache consistent.
class MomentCache {
 public:
  MomentCache(kcBlob& blob, kc_BlobRecord& record, const kc_BSDData& data)
      : blob_(blob), r_(record), d_(data) {}

  void centroid();
  void areaInPels();
  void clientXform();
  kcVector<2> centerOfMass();
  kcPair<double> inertia();
  void principal();

 private:
  void notice() {
    if (noticed_) return;
    blob_.mutating();
    noticed_ = true;
  }
  // weight(): the region's weighted pel total (the record's count when it holds one).
  std::uint64_t weight();
  // takeSums(s): stores a pass's centroid and total where the record lacks them.
  void takeSums(const kc_Moments::RegionSums& s);
  kc_BlobBoundaryData& boundary();
  double originX() const { return static_cast<double>(blob_.imageBoundingBox().ul().x()); }
  double originY() const { return static_cast<double>(blob_.imageBoundingBox().ul().y()); }
  // sumXX(), sumYY(), sumXY(): the second moments in image coordinates, each from its projection.
  double sumXX();
  double sumYY();
  double sumXY();
  // secondInClient(needXY): the second moments in the units that inertia and the principal axes
  // report; xy is left 0 when not needed and the client matrix is the identity.
  Second secondInClient(bool needXY);

  kcBlob& blob_;
  kc_BlobRecord& r_;
  const kc_BSDData& d_;
  bool noticed_ = false;
};

void MomentCache::takeSums(const kc_Moments::RegionSums& s) {
  notice();
  if (!r_.centroidXValid || !r_.centroidYValid) {
    r_.centroidX = s.centroidX;
    r_.centroidY = s.centroidY;
    r_.centroidXValid = r_.centroidYValid = true;
  }
  if (r_.pelCount < 1) {
    // The record keeps a 32-bit count; a larger total stays "unknown" and is recomputed on need.
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
    r_.pelCount = s.weight <= kMax ? static_cast<std::int32_t>(s.weight) : -1;
  }
}

void MomentCache::centroid() {
  if (r_.centroidXValid && r_.centroidYValid) return;
  takeSums(kc_Moments::sumRegion(blob_.region(), blob_.imageBoundingBox().ul()));
}

std::uint64_t MomentCache::weight() {
  if (r_.pelCount > 0) return static_cast<std::uint64_t>(r_.pelCount);
  const kc_Moments::RegionSums s =
      kc_Moments::sumRegion(blob_.region(), blob_.imageBoundingBox().ul());
  takeSums(s);
  return s.weight;
}

void MomentCache::areaInPels() {
  if (r_.areaValid) return;
  const std::uint64_t w = weight();
  const bool scaled =
      d_.connectivityKind != kcBlobSceneDescription::eLabelled && blob_.label() != 0;
  KC_ASSERT(!scaled || d_.scaleVal != 0, "a grey-scale scene's scale value is not 0");
  const double area = scaled ? static_cast<double>(w) / static_cast<double>(d_.scaleVal)
                             : static_cast<double>(w);
  notice();
  r_.area = area;
  r_.areaValid = true;
}

void MomentCache::clientXform() {
  if (r_.transformStamp == d_.transformCounter) return;
  kcXform<2> x;
  double xScale, yScale, areaScale, aspect, scale;
  if (d_.xformIsLinear) {
    x = d_.xformCache.linearXformInverse().xform();
    xScale = d_.clientXScale;
    yScale = d_.clientYScale;
    areaScale = d_.clientAreaScale;
    aspect = d_.clientAspect;
    scale = d_.clientScale;
  } else {
    centroid();
    x = d_.xformCache.xformInverse()->linearize(kcVector<2>(r_.centroidX, r_.centroidY));
    xScale = x.xScale();
    yScale = x.yScale();
    areaScale = x.mapArea(1.0);
    aspect = x.aspect();
    scale = x.scale();
  }
  notice();
  r_.clientFromImage = x;
  r_.xScale = xScale;
  r_.yScale = yScale;
  r_.areaScale = areaScale;
  r_.aspect = aspect;
  r_.scale = scale;
  r_.transformStamp = d_.transformCounter;
}

kc_BlobBoundaryData& MomentCache::boundary() {
  if (!r_.boundary) notice();
  return r_.boundary.create(&blob_);
}

double MomentCache::sumXX() {
  if (r_.sumXXValid) return r_.sumXX;
  centroid();
  kc_BlobBoundaryData& b = boundary();
  if (b.columnProjection.empty()) b.columnProjection = blob_.region().projectVert();
  const double v = kc_Moments::secondMoment(b.columnProjection, r_.centroidX - originX());
  notice();
  r_.sumXX = v;
  r_.sumXXValid = true;
  return v;
}

double MomentCache::sumYY() {
  if (r_.sumYYValid) return r_.sumYY;
  centroid();
  kc_BlobBoundaryData& b = boundary();
  if (b.rowProjection.empty()) b.rowProjection = blob_.region().projectHoriz();
  const double v = kc_Moments::secondMoment(b.rowProjection, r_.centroidY - originY());
  notice();
  r_.sumYY = v;
  r_.sumYYValid = true;
  return v;
}

double MomentCache::sumXY() {
  if (r_.sumXYValid && r_.boundary) return r_.boundary->sumXY;
  const double xx = sumXX();
  const double yy = sumYY();
  kc_BlobBoundaryData& b = boundary();
  if (b.diagonalProjection.empty()) b.diagonalProjection = blob_.region().projectDiag();
  const double d = (r_.centroidX - originX()) + (r_.centroidY - originY()) - 1.0;
  const double v = kc_Moments::mixedMoment(b.diagonalProjection, d, xx, yy);
  notice();
  b.sumXY = v;
  r_.sumXYValid = true;
  return v;
}

Second MomentCache::secondInClient(bool needXY) {
  if (d_.clientMatrixIsIdentity) return {sumXX(), sumYY(), needXY ? sumXY() : 0.0};
  const Second m{sumXX(), sumYY(), sumXY()};
  clientXform();
  return kc_Moments::clientSecond(m, r_.clientFromImage.matrix(), r_.areaScale);
}

kcVector<2> MomentCache::centerOfMass() {
  if (r_.centerOfMassStamp == d_.transformCounter) return r_.centerOfMass;
  centroid();
  const kcVector<2> p(r_.centroidX, r_.centroidY);
  const kcVector<2> c = d_.clientIsIdentity ? p : d_.xformCache.xformInverse()->mapPoint(p);
  notice();
  r_.centerOfMass = c;
  r_.centerOfMassStamp = d_.transformCounter;
  return c;
}

kcPair<double> MomentCache::inertia() {
  if (r_.inertiaStamp == d_.matrixCounter) return r_.inertia;
  const Second m = secondInClient(false);
  notice();
  r_.inertia = kcPair<double>(m.xx, m.yy);
  r_.inertiaStamp = d_.matrixCounter;
  return r_.inertia;
}

void MomentCache::principal() {
  if (r_.principalStamp == d_.matrixCounter) return;
  const Second m = secondInClient(true);
  const kc_Moments::Principal p = kc_Moments::principalAxes(m);
  notice();
  r_.inertiaPrincipal = kcPair<double>(p.min, p.max);
  r_.angle = kcRadian(p.angle);
  r_.principalStamp = d_.matrixCounter;
  r_.inertia = kcPair<double>(m.xx, m.yy);
  r_.inertiaStamp = d_.matrixCounter;
}

}  // namespace

// ---- the measures ----

double kcBlob::area() const {
  MomentCache m(const_cast<kcBlob&>(*this), *record_, data());
  m.areaInPels();
  m.clientXform();
  return record_->area * record_->areaScale;
}

kcVector<2> kcBlob::centerOfMass() const {
  MomentCache m(const_cast<kcBlob&>(*this), *record_, data());
  return m.centerOfMass();
}

kcPair<double> kcBlob::inertia() const {
  MomentCache m(const_cast<kcBlob&>(*this), *record_, data());
  return m.inertia();
}

kcPair<double> kcBlob::inertiaPrincipal() const {
  MomentCache m(const_cast<kcBlob&>(*this), *record_, data());
  m.principal();
  return record_->inertiaPrincipal;
}

double kcBlob::elongation() const {
  const kcPair<double> p = inertiaPrincipal();
  return p.second / p.first;
}

kcRadian kcBlob::angle() const {
  MomentCache m(const_cast<kcBlob&>(*this), *record_, data());
  m.principal();
  return record_->angle;
}
