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

#include "store/blob_parts.h"
#include "measure/exact_sums.h"
#include "measure/moment_cache.h"
#include "store/bsd_data.h"

// ---- moment arithmetic ----

namespace kc_Moments {

namespace {

// RowCursor: the rows of a region, top first, from a table of row pointers or lying one after
// another. Rows are taken in order; ended() says where the row just read ended.
class RowCursor {
 public:
  explicit RowCursor(const unsigned char* const* table) : table_(table) {}
  explicit RowCursor(const unsigned char* first) : next_(first) {}
  const unsigned char* row(long y) const { return table_ != nullptr ? table_[y] : next_; }
  void ended(const unsigned char* terminator) { next_ = terminator + 2; }

 private:
  const unsigned char* const* table_ = nullptr;
  const unsigned char* next_ = nullptr;
};

RegionSums sumOver(RowCursor rows, long height, const kcPair<long>& origin) {
  RegionSums out;
  out.centroidX = static_cast<double>(origin.x()) + 0.5;
  out.centroidY = static_cast<double>(origin.y()) + 0.5;
  std::uint64_t weight = 0;
  double twiceSumX = 0.0;  // sum of w x (2 x + L - 1) = twice the weighted sum of pel left edges
  double sumY = 0.0;
  for (long r = 0; r < height; ++r) {
    std::uint64_t rowWeight = 0;
    double rowTwiceX = 0.0;
    std::uint64_t x = 0;
    const unsigned char* run = rows.row(r);
    for (; run[1] != 0; run += 2) {
      const std::uint64_t length = run[1];
      const std::uint64_t w = run[0] * length;
      rowWeight += w;
      rowTwiceX += static_cast<double>(w) * static_cast<double>(2 * x + length - 1);
      x += length;
    }
    rows.ended(run);
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

}  // namespace

RegionSums sumRegion(const kcRLEBuffer& region, const kcPair<long>& origin) {
  return sumOver(RowCursor(region.pointToRat()), region.isDegenerate() ? 0 : region.height(), origin);
}

RegionSums sumRows(const unsigned char* first, long height, const kcPair<long>& origin) {
  return sumOver(RowCursor(first), height, origin);
}

std::uint64_t projectionTotal(const std::vector<std::uint64_t>& p) {
  std::uint64_t total = 0;
  for (std::uint64_t v : p) total += v;
  return total;
}

namespace {

// AxisSums: a projection's weight and first and second sums over its positions, exact (the weight
// stays below 2^59 and the second sum below 2^128 for any region of at most 2^31 columns or rows).
struct AxisSums {
  std::uint64_t n = 0;
  kc_Exact::U128 first = 0;
  kc_Exact::U128 second = 0;
};

AxisSums axisSums(const std::vector<std::uint64_t>& p) {
  AxisSums s;
  for (std::size_t j = 0; j < p.size(); ++j) {
    const kc_Exact::U128 w = p[j];
    s.n += p[j];
    s.first += w * j;
    s.second += w * j * j;
  }
  KC_ASSERT(s.n < (std::uint64_t{1} << 59), "a region's weight is below 2^59");
  return s;
}

}  // namespace

double secondMoment(const std::vector<std::uint64_t>& p) {
  KC_ASSERT(!p.empty(), "a blob's region has a non-empty projection");
  const AxisSums s = axisSums(p);
  if (s.n == 0) return 0.0;  // a region without weight (loaded from an archive) has no spread
  // n S2 >= S1^2 (Cauchy-Schwarz): the spread without the squares' 1/12.
  const kc_Exact::Wide spread = kc_Exact::minus(kc_Exact::product(s.n, s.second), kc_Exact::product(s.first, s.first));
  const kc_Exact::Wide numerator = kc_Exact::plus(kc_Exact::times(spread, 12), kc_Exact::product(s.n, s.n));
  return kc_Exact::quotient(numerator, 12 * s.n);
}

double mixedMoment(const std::vector<std::uint64_t>& diag, const std::vector<std::uint64_t>& columns,
                   const std::vector<std::uint64_t>& rows) {
  const AxisSums x = axisSums(columns), y = axisSums(rows), d = axisSums(diag);
  // Projections loaded from an archive need not be one region's: without weight, or with sums
  // that do not fit together, the product sum is 0.
  if (x.n == 0 || x.n != y.n || x.n != d.n || d.second < x.second + y.second) return 0.0;
  // sum (x + y)^2 = X2 + 2 XY + Y2 over the pels' positions.
  const kc_Exact::U128 twiceXY = d.second - x.second - y.second;
  const kc_Exact::Wide products = kc_Exact::product(x.n, twiceXY / 2);
  const kc_Exact::Wide means = kc_Exact::product(x.first, y.first);
  if (kc_Exact::less(products, means)) return -kc_Exact::quotient(kc_Exact::minus(means, products), x.n);
  return kc_Exact::quotient(kc_Exact::minus(products, means), x.n);
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
  constexpr double kHalfPi = 1.57079632679489661923;
  const double angle = std::atan2(s2, c2) / 2.0;
  return {(sigma - p - q) / 2.0, (sigma + p + q) / 2.0, angle <= -kHalfPi ? kHalfPi : angle};
}

}  // namespace kc_Moments

// ---- the blob's caches ----

using kc_Moments::Second;

kc_MomentCache::kc_MomentCache(const kcBlob& blob, const kc_BlobParts& parts, const kc_BSDData& data)
    : blob_(blob), p_(parts), d_(data) {
  if (p_.store != nullptr && !p_.store->hasRecords() && p_.hasPelSums()) mark_ = &p_.store->mark(p_.id);
  else r_ = &p_.record();
}

double kf_MarkedArea(const kc_BlobEntry& e, const kc_BSDData& d) {
  const auto w = static_cast<double>(e.pelCount);  // known (not -1): the entry has pel sums
  const bool scaled = d.connectivityKind != kcBlobSceneDescription::eLabelled && e.label != 0;
  KC_ASSERT(!scaled || d.scaleVal != 0, "a grey-scale scene's scale value is not 0");
  return scaled && d.scaleVal != 1 ? w / static_cast<double>(d.scaleVal) : w;  // w / 1 is w: no division
}

kcVector<2> kf_CenterOfMass(const kcVector<2>& centroid, const kc_BSDData& d) {
  return d.clientIsIdentity ? centroid : d.xformCache.xformInverse()->mapPoint(centroid);
}

kc_Moments::RegionSums kc_MomentCache::sums() const {
  if (p_.hasPelSums()) return kf_MarkedSums(p_.entry, p_.origin);
  return kc_Moments::sumRows(p_.rows(), p_.entry.height, p_.imageOrigin());
}

void kc_MomentCache::takeSums(const kc_Moments::RegionSums& s) {
  notice();
  if (!r_->centroidValid) {
    r_->centroidX = s.centroidX;
    r_->centroidY = s.centroidY;
    r_->centroidValid = true;
  }
  if (p_.entry.pelCount < 1 && r_->pelCount < 1) {
    // The record keeps a 32-bit count; a larger total stays "unknown" and is recomputed on need.
    // (The entry is the analysis's own and stays as it made it.)
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
    r_->pelCount = s.weight <= kMax ? static_cast<std::int32_t>(s.weight) : -1;
  }
}

void kc_MomentCache::centroid() {
  if (r_ == nullptr) {
    const kc_Moments::RegionSums s = sums();
    marked(kc_BlobRecord::kCentroid);
    cx_ = s.centroidX;
    cy_ = s.centroidY;
    return;
  }
  if (!r_->centroidValid) takeSums(sums());
  cx_ = r_->centroidX;
  cy_ = r_->centroidY;
}

std::int32_t kc_MomentCache::pelCount() {
  if (p_.entry.pelCount > 0 || r_ == nullptr) return p_.entry.pelCount;
  return r_->pelCount;
}

std::uint64_t kc_MomentCache::weight() {
  if (const std::int32_t count = pelCount(); count > 0) return static_cast<std::uint64_t>(count);
  const kc_Moments::RegionSums s = sums();
  takeSums(s);
  return s.weight;
}

void kc_MomentCache::areaInPels() {
  if (r_ == nullptr) {
    area_ = kf_MarkedArea(p_.entry, d_);
    marked(kc_BlobRecord::kArea);
    return;
  }
  if (!r_->areaValid) {
    const std::uint64_t w = weight();
    const bool scaled =
        d_.connectivityKind != kcBlobSceneDescription::eLabelled && p_.entry.label != 0;
    KC_ASSERT(!scaled || d_.scaleVal != 0, "a grey-scale scene's scale value is not 0");
    const double area = scaled ? static_cast<double>(w) / static_cast<double>(d_.scaleVal)
                               : static_cast<double>(w);
    notice();
    r_->area = area;
    r_->areaValid = true;
  }
  area_ = r_->area;
}

double kc_MomentCache::areaScale() {
  if (d_.xformIsLinear) return d_.clientAreaScale;
  clientXform();
  return m_->areaScale;
}

// clientXform(): a non-linear pair linearised at the blob's centroid, with its scales.
void kc_MomentCache::clientXform() {
  if (d_.xformIsLinear) return;
  kc_BlobMeasures& m = more();
  if (m.transformStamp == d_.transformCounter) return;
  centroid();
  const kcXform<2> x = d_.xformCache.xformInverse()->linearize(kcVector<2>(cx_, cy_));
  const double xScale = x.xScale(), yScale = x.yScale(), areaScale = x.mapArea(1.0);
  const double aspect = x.aspect(), scale = x.scale();
  notice();
  m.clientFromImage = x;
  m.xScale = xScale;
  m.yScale = yScale;
  m.areaScale = areaScale;
  m.aspect = aspect;
  m.scale = scale;
  m.transformStamp = d_.transformCounter;
}

double kc_MomentCache::sumXX() {
  kc_BlobMeasures& m = more();
  if (m.sumXXValid) return m.sumXX;
  kc_BlobBoundaryData& b = m.boundary;
  if (b.columnProjection.empty()) b.columnProjection = blob_.region().projectVert();
  const double v = kc_Moments::secondMoment(b.columnProjection);
  notice();
  m.sumXX = v;
  m.sumXXValid = true;
  return v;
}

double kc_MomentCache::sumYY() {
  kc_BlobMeasures& m = more();
  if (m.sumYYValid) return m.sumYY;
  kc_BlobBoundaryData& b = m.boundary;
  if (b.rowProjection.empty()) b.rowProjection = blob_.region().projectHoriz();
  const double v = kc_Moments::secondMoment(b.rowProjection);
  notice();
  m.sumYY = v;
  m.sumYYValid = true;
  return v;
}

double kc_MomentCache::sumXY() {
  kc_BlobMeasures& m = more();
  if (m.sumXYValid) return m.boundary.sumXY;
  kc_BlobBoundaryData& b = m.boundary;
  if (b.columnProjection.empty()) b.columnProjection = blob_.region().projectVert();
  if (b.rowProjection.empty()) b.rowProjection = blob_.region().projectHoriz();
  if (b.diagonalProjection.empty()) b.diagonalProjection = blob_.region().projectDiag();
  const double v = kc_Moments::mixedMoment(b.diagonalProjection, b.columnProjection, b.rowProjection);
  notice();
  b.sumXY = v;
  m.sumXYValid = true;
  return v;
}

Second kc_MomentCache::secondInClient(bool needXY) {
  if (d_.clientMatrixIsIdentity) return {sumXX(), sumYY(), needXY ? sumXY() : 0.0};
  const Second m{sumXX(), sumYY(), sumXY()};
  if (d_.xformIsLinear) {
    const kcXform<2> x = d_.xformCache.linearXformInverse().xform();
    return kc_Moments::clientSecond(m, x.matrix(), d_.clientAreaScale);
  }
  clientXform();
  return kc_Moments::clientSecond(m, m_->clientFromImage.matrix(), m_->areaScale);
}

kcVector<2> kc_MomentCache::centerOfMass() {
  if (r_ == nullptr) {
    centroid();
    const kcVector<2> c = kf_CenterOfMass(kcVector<2>(cx_, cy_), d_);
    marked(kc_BlobRecord::kCenterOfMass);
    return c;
  }
  if (r_->centerOfMassStamp == d_.transformCounter) return r_->centerOfMass;
  centroid();
  const kcVector<2> c = kf_CenterOfMass(kcVector<2>(cx_, cy_), d_);
  notice();
  r_->centerOfMass = c;
  r_->centerOfMassStamp = d_.transformCounter;
  return c;
}

kcPair<double> kc_MomentCache::inertia() {
  kc_BlobMeasures& m = more();
  if (m.inertiaStamp == d_.matrixCounter) return m.inertia;
  const Second s = secondInClient(false);
  notice();
  m.inertia = kcPair<double>(s.xx, s.yy);
  m.inertiaStamp = d_.matrixCounter;
  return m.inertia;
}

const kc_BlobMeasures& kc_MomentCache::principal() {
  kc_BlobMeasures& m = more();
  if (m.principalStamp == d_.matrixCounter) return m;
  const Second s = secondInClient(true);
  const kc_Moments::Principal p = kc_Moments::principalAxes(s);
  notice();
  m.inertiaPrincipal = kcPair<double>(p.min, p.max);
  m.angle = kcRadian(p.angle);
  m.principalStamp = d_.matrixCounter;
  m.inertia = kcPair<double>(s.xx, s.yy);
  m.inertiaStamp = d_.matrixCounter;
  return m;
}

kc_ClientLinear kc_MomentCache::clientLinear() {
  if (d_.xformIsLinear)
    return {d_.xformCache.linearXformInverse().xform(), d_.clientXScale, d_.clientYScale};
  clientXform();
  return {m_->clientFromImage, m_->xScale, m_->yScale};
}

// ---- the measures ----

// The everyday measures of a blob whose scene keeps marks (see kc_MomentCache) skip the general
// route when the marks are made: markedEntry(d, id) is that blob's entry, or null for any other
// blob, which takes the general route (the first one makes the marks). The short routes call
// nothing.
namespace {

inline kc_BlobEntry* markedEntry(kc_BSDData& d, std::int32_t id) {
  kc_BlobStore& s = d.store;
  const std::uint32_t i = static_cast<std::uint32_t>(id) - 1;  // ids below 1 wrap above the size
  if (i >= s.size() || !s.records.empty() || s.marks.empty()) return nullptr;
  kc_BlobEntry& e = s.entries[i];
  return (e.flags & kc_BlobEntry::kPelSums) != 0 ? &e : nullptr;
}

// markIn(store, id, bits): blob id's marks (made) take bits; whether they were not all set (the
// blob then gives notice).
inline bool markIn(kc_BlobStore& store, std::int32_t id, std::uint8_t bits) {
  std::uint8_t& m = store.marks[static_cast<std::uint32_t>(id) - 1];
  if ((m & bits) == bits) return false;
  m = static_cast<std::uint8_t>(m | bits);
  return true;
}

}  // namespace

double kcBlob::area() const {
  if (own() == nullptr && where_ != 0) {
    kc_BSDData& d = *scene()->data_;
    if (const kc_BlobEntry* e = markedEntry(d, id_); e != nullptr && d.xformIsLinear) {
      const double pels = kf_MarkedArea(*e, d);
      if (markIn(d.store, id_, kc_BlobRecord::kArea)) giveNotice();
      return pels * d.clientAreaScale;
    }
  }
  return generalArea();
}

[[gnu::noinline]] double kcBlob::generalArea() const {
  const kc_BlobParts p = parts();
  kc_MomentCache m(*this, p, data());
  m.areaInPels();
  return m.areaPels() * m.areaScale();
}

// ---- records from marks ----

void kf_MakeRecords(kc_BlobStore& store, const kc_BSDData& data) {
  if (store.hasRecords() || store.marks.empty()) return;
  std::vector<kc_BlobRecord> records(store.size());
  for (BlobId id = 1; id <= store.size(); ++id) {
    const std::uint8_t marks = store.marks[id - 1];
    if (marks == 0) continue;
    kc_BlobEntry& e = store.entry(id);
    const kc_BlobParts p{e, store.origin, nullptr, &store, nullptr, id, &data};
    KC_ASSERT(p.hasPelSums(), "only blobs with pel sums are marked");
    kc_BlobRecord& r = records[id - 1];
    if ((marks & kc_BlobRecord::kArea) != 0) {
      r.area = kf_MarkedArea(e, data);
      r.areaValid = true;
    }
    const kc_Moments::RegionSums s = kf_MarkedSums(e, store.origin);
    if ((marks & kc_BlobRecord::kCentroid) != 0) {
      r.centroidX = s.centroidX;
      r.centroidY = s.centroidY;
      r.centroidValid = true;
    }
    if ((marks & kc_BlobRecord::kCenterOfMass) != 0) {
      r.centerOfMass = kf_CenterOfMass(kcVector<2>(s.centroidX, s.centroidY), data);
      r.centerOfMassStamp = data.transformCounter;
    }
  }
  store.records.swap(records);
  store.marks.clear();
}

kcVector<2> kcBlob::centerOfMass() const {
  if (own() == nullptr && where_ != 0) {
    kc_BSDData& d = *scene()->data_;
    if (const kc_BlobEntry* e = markedEntry(d, id_); e != nullptr && d.clientIsIdentity) {
      const kc_Moments::RegionSums s = kf_MarkedSums(*e, d.store.origin);
      if (markIn(d.store, id_, kc_BlobRecord::kCentroid | kc_BlobRecord::kCenterOfMass)) giveNotice();
      return kcVector<2>(s.centroidX, s.centroidY);
    }
  }
  return generalCenterOfMass();
}

[[gnu::noinline]] kcVector<2> kcBlob::generalCenterOfMass() const {
  const kc_BlobParts p = parts();
  kc_MomentCache m(*this, p, data());
  return m.centerOfMass();
}

kcPair<double> kcBlob::inertia() const {
  const kc_BlobParts p = parts();
  kc_MomentCache m(*this, p, data());
  return m.inertia();
}

kcPair<double> kcBlob::inertiaPrincipal() const {
  const kc_BlobParts p = parts();
  kc_MomentCache m(*this, p, data());
  return m.principal().inertiaPrincipal;
}

double kcBlob::elongation() const {
  const kcPair<double> p = inertiaPrincipal();
  return p.second / p.first;
}

kcRadian kcBlob::angle() const {
  const kc_BlobParts p = parts();
  kc_MomentCache m(*this, p, data());
  return m.principal().angle;
}
