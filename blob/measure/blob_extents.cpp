// The oriented extents: bounding box, centre, aspect and median at any angle, with the scene's
// extrema exclusion; their principal variants; and the image-rectangle measures.
#include "measure/blob_extents.h"

#include <blob/blob.h>
#include <blob/blobdesc.h>

#include "store/blob_parts.h"
#include "measure/moment_cache.h"
#include "store/bsd_data.h"

#include <foundation/rlebuffer.h>

#include <cmath>
#include <limits>
#include <span>

// ---- quantile positions ----

namespace {

// Stop: where a walk over the bins stopped: `bin` is the first bin (walking up) or one past the
// last bin (walking down) not passed whole, and `rest` the amount still to cover inside it.
struct Stop {
  std::size_t bin;
  double rest;
};

template <class T>
Stop walkUp(const T* p, std::size_t n, double amount) {
  std::size_t i = 0;
  double sum = 0.0;
  while (i < n && sum + static_cast<double>(p[i]) <= amount) sum += static_cast<double>(p[i++]);
  return Stop{i, amount - sum};
}

template <class T>
Stop walkDown(const T* p, std::size_t n, double amount) {
  std::size_t j = n;
  double sum = 0.0;
  while (j > 0 && sum + static_cast<double>(p[j - 1]) <= amount) sum += static_cast<double>(p[--j]);
  return Stop{j, amount - sum};
}

}  // namespace

kc_Extents::Quantiles kc_Extents::quantiles(const std::uint64_t* p, std::size_t n, double total, double exclusion) {
  Quantiles q;
  const auto up = [&](double amount) {
    const Stop s = walkUp(p, n, amount);
    return s.bin < n ? static_cast<double>(s.bin) + s.rest / static_cast<double>(p[s.bin]) : static_cast<double>(n);
  };
  q.median = up(total / 2.0);
  if (exclusion > total / 2.0) return q;  // low = high = 0
  q.low = up(exclusion);
  const Stop s = walkDown(p, n, exclusion);
  q.high = s.bin > 0 ? static_cast<double>(s.bin) - s.rest / static_cast<double>(p[s.bin - 1]) : 0.0;
  return q;
}

kc_Extents::Quantiles kc_Extents::quantiles(const kcRLEBuffer& region, const kcRLEBuffer::AngleProjection& projection,
                                            double total, double exclusion) {
  using Query = kcRLEBuffer::BinQuery;
  const double* p = projection.bins.data();
  const std::size_t n = projection.bins.size();
  const double past = static_cast<double>(n);
  // Median, low and high: a walk that runs off the bins leaves the projection's end; the others are
  // asked of the runs, all in one pass.
  double positions[3] = {past, 0.0, 0.0};
  Query queries[3];
  std::size_t asked[3];
  std::size_t count = 0;
  const auto ask = [&](std::size_t slot, Query query) {
    queries[count] = query;
    asked[count++] = slot;
  };
  const Stop median = walkUp(p, n, total / 2.0);
  if (median.bin < n) ask(0, Query{median.bin, median.rest, false});
  if (exclusion <= total / 2.0) {
    const Stop low = walkUp(p, n, exclusion);
    positions[1] = past;
    if (low.bin < n) ask(1, Query{low.bin, low.rest, false});
    const Stop high = walkDown(p, n, exclusion);
    if (high.bin > 0) ask(2, Query{high.bin - 1, high.rest, true});
  }
  double found[3];
  region.locateInBins(projection, std::span<const Query>(queries, count), std::span<double>(found, count));
  for (std::size_t i = 0; i < count; ++i) positions[asked[i]] = found[i];
  return Quantiles{positions[1], positions[0], positions[2]};
}

// ---- the blob's extents ----

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Extents: computes the oriented extents of one blob for one query.
class Extents {
 public:
  Extents(const kcBlob& blob, const kc_BlobParts& parts, const kc_BSDData& data)
      : blob_(blob), p_(parts), d_(data), cache_(blob, parts, data) {}

  // exclusion(exclude): the amount left out at each end, in the units of the projections.
  double exclusion(bool exclude);
  // at(exclude, angle): the cached extents, computed first when not valid for this request.
  const kc_BlobMeasures& at(bool exclude, const kcRadian& angle);
  // centerAt(exclude, angle): the box's centre in client coordinates, cached with the extents.
  kcVector<2> centerAt(bool exclude, const kcRadian& angle);
  kcRadian principalAngle() { return cache_.principal().angle; }

 private:
  // Pass: one projection's quantiles, as client offsets from the centre of mass along the axis its
  // bins run along (across, the perpendicular of direction).
  struct Pass {
    double low, median, high;
  };
  Pass pass(const kcVector<2>& direction, const kcVector<2>& across, const kc_ClientLinear& x, double exclusion);
  double weightedTotal();

  const kcBlob& blob_;
  const kc_BlobParts& p_;
  const kc_BSDData& d_;
  kc_MomentCache cache_;
};

double Extents::weightedTotal() {
  cache_.areaInPels();
  // The projections weigh each pel by its value; for weighted blobs pelCount is that sum.
  const std::int32_t count = cache_.pelCount();
  if (count > 0) return static_cast<double>(count);
  const std::vector<std::uint64_t>& rows = cache_.more().boundary.rowProjection;
  double total = 0.0;
  for (std::uint64_t v : rows.empty() ? blob_.region().projectHoriz() : rows) total += static_cast<double>(v);
  return total;
}

double Extents::exclusion(bool exclude) {
  if (!exclude) return 0.0;
  const double v = d_.extremaExcludeArea;
  if (v == 0.0) return 0.0;
  // The projections count weight: a weighted blob's pel weighs the scale value, other regions' 1.
  const bool weighted = d_.connectivityKind != kcBlobSceneDescription::eLabelled && p_.entry.label != 0;
  const double perPel = weighted ? static_cast<double>(d_.scaleVal) : 1.0;
  if (d_.extremaAreaIsPercent) return 0.01 * v * weightedTotal();
  if (d_.extremaAreaIsClient) return v / cache_.areaScale() * perPel;
  return v * perPel;
}

Extents::Pass Extents::pass(const kcVector<2>& direction, const kcVector<2>& across, const kc_ClientLinear& x,
                            double exclusion) {
  const kcRLEBuffer& region = blob_.region();
  const kcRLEBuffer::AngleProjection a = region.projectAngle(direction, x.clientFromImage, false);
  kc_BlobBoundaryData& b = cache_.more().boundary;
  const double total = weightedTotal();
  kc_Extents::Quantiles q;
  double length = 0.0;  // the reversed projections count from the far edge
  switch (a.type) {
    case kcRLEBuffer::eProjAngular:
      q = kc_Extents::quantiles(region, a, total, exclusion);
      break;
    case kcRLEBuffer::eProjRows:
    case kcRLEBuffer::eProjRowsReversed:
      if (b.rowProjection.empty()) b.rowProjection = region.projectHoriz();
      q = kc_Extents::quantiles(b.rowProjection.data(), b.rowProjection.size(), total, exclusion);
      length = static_cast<double>(region.height());
      break;
    default:
      if (b.columnProjection.empty()) b.columnProjection = region.projectVert();
      q = kc_Extents::quantiles(b.columnProjection.data(), b.columnProjection.size(), total, exclusion);
      length = static_cast<double>(region.width());
      break;
  }
  if (a.type == kcRLEBuffer::eProjRowsReversed || a.type == kcRLEBuffer::eProjColumnsReversed) {
    // Counting from the far edge turns the low end into the high one.
    q = kc_Extents::Quantiles{length - q.high, length - q.median, length - q.low};
  }
  cache_.centroid();
  const kcVector<2> rel(cache_.centroidX() - static_cast<double>(p_.imageOrigin().x()) - a.origin.x(),
                        cache_.centroidY() - static_cast<double>(p_.imageOrigin().y()) - a.origin.y());
  const double d = x.clientFromImage.mapVector(rel).dot(across);
  return Pass{q.low * a.binLength - d, q.median * a.binLength - d, q.high * a.binLength - d};
}

const kc_BlobMeasures& Extents::at(bool exclude, const kcRadian& angle) {
  kc_BlobMeasures& m = cache_.more();
  const double e = exclusion(exclude);
  if (m.extentStamp == d_.transformCounter && m.extentAngle == angle && m.extentExclusion == e) return m;
  const double theta = angle.toDouble();
  kcRectangle<double> box(kNaN, kNaN, kNaN, kNaN);
  kcVector<2> median(kNaN, kNaN);
  if (std::isfinite(theta)) {
    cache_.centroid();
    const kcVector<2> u(std::cos(theta), std::sin(theta)), w(-std::sin(theta), std::cos(theta));
    const kc_ClientLinear x = cache_.clientLinear();
    const Pass alongW = pass(u, w, x, e);      // the bins of the projection across u run along w
    const Pass alongNegU = pass(w, -u, x, e);  // those across w run along -u
    const double minU = -alongNegU.high, maxU = -alongNegU.low;
    box = kcRectangle<double>(minU, alongW.low, maxU - minU, alongW.high - alongW.low);
    median = cache_.centerOfMass() + u * -alongNegU.median + w * alongW.median;
  }
  cache_.notice();
  m.boundingBox = box;
  m.median = median;
  m.extentAngle = angle;
  m.extentExclusion = e;
  m.extentStamp = d_.transformCounter;
  m.centerValid = false;
  return m;
}

kcVector<2> Extents::centerAt(bool exclude, const kcRadian& angle) {
  const kc_BlobMeasures& m = at(exclude, angle);
  if (m.centerValid) return m.center;
  const double theta = angle.toDouble();
  const double bx = m.boundingBox.ul().x() + 0.5 * m.boundingBox.width();
  const double by = m.boundingBox.ul().y() + 0.5 * m.boundingBox.height();
  const kcVector<2> offset(std::cos(theta) * bx - std::sin(theta) * by, std::sin(theta) * bx + std::cos(theta) * by);
  const kcVector<2> center = cache_.centerOfMass() + offset;
  kc_BlobMeasures& writable = cache_.more();
  cache_.notice();
  writable.center = center;
  writable.centerValid = true;
  return center;
}

}  // namespace

kcRectangle<double> kcBlob::boundingBox(bool exclude, const kcRadian& angle) const {
  const kc_BlobParts p = parts();
  return Extents(*this, p, data()).at(exclude, angle).boundingBox;
}

kcVector<2> kcBlob::center(bool exclude, const kcRadian& angle) const {
  const kc_BlobParts p = parts();
  return Extents(*this, p, data()).centerAt(exclude, angle);
}

double kcBlob::aspect(bool exclude, const kcRadian& angle) const {
  const kcRectangle<double> box = boundingBox(exclude, angle);
  return box.height() / box.width();
}

kcVector<2> kcBlob::median(const kcRadian& angle) const {
  const kc_BlobParts p = parts();
  return Extents(*this, p, data()).at(true, angle).median;
}

kcRectangle<double> kcBlob::boundingBoxPrincipal(bool exclude) const { return boundingBox(exclude, angle()); }

kcVector<2> kcBlob::centerPrincipal(bool exclude) const { return center(exclude, angle()); }

double kcBlob::aspectPrincipal(bool exclude) const { return aspect(exclude, angle()); }

double kcBlob::imageBoundingBoxAspect() const {
  const kcPelRect r = imageBoundingBox();
  return static_cast<double>(r.height()) / static_cast<double>(r.width());
}

kcVector<2> kcBlob::imageBoundingBoxCenter() const {
  const kcPelRect r = imageBoundingBox();
  return kcVector<2>(static_cast<double>(r.ul().x()) + 0.5 * static_cast<double>(r.width()),
                     static_cast<double>(r.ul().y()) + 0.5 * static_cast<double>(r.height()));
}
