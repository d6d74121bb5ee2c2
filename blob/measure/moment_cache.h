// kc_MomentCache: one query's access to a blob's moment caches, shared by the moment measures and
// the boundary measures that build on them.
#pragma once

#include "measure/blob_moments.h"
#include "store/blob_parts.h"

#include <blob/blob.h>

#include <foundation/geometry.h>
#include <foundation/xform.h>

#include <cstdint>

class kc_BSDData;

// kc_ClientLinear: the linear client-from-image transform used for one blob and its axis scales.
struct kc_ClientLinear {
  kcXform<2> clientFromImage;
  double xScale;
  double yScale;
};

// kc_MomentCache: fills the moment caches of one blob on demand, for one query. Gives the blob notice
// once, before the first cache it writes. Each value is stored only once computed, so a failure (a
// transform that cannot be evaluated, an allocation) leaves every cache consistent. Lives on the
// stack of one query; parts must outlive it.
//
// A blob with pel sums in a scene that keeps marks instead of records (kc_BlobStore::marks) has its
// area, centroid and centre of mass derived from its entry, and only marks them as computed; any
// other cache it needs makes the scene's records first (kf_MakeRecords).
class kc_MomentCache {
 public:
  kc_MomentCache(const kcBlob& blob, const kc_BlobParts& parts, const kc_BSDData& data);

  // centroid(), areaInPels(): the centroid and the area in pels, cached; read with centroidX(),
  // centroidY() and areaPels() afterwards.
  void centroid();
  void areaInPels();
  double centroidX() const { return cx_; }
  double centroidY() const { return cy_; }
  double areaPels() const { return area_; }
  // pelCount(): the region's weight when known (from the analysis, or learned by a measure), else -1.
  std::int32_t pelCount();
  // areaScale(): the client area of one pel at this blob.
  double areaScale();
  kcVector<2> centerOfMass();
  kcPair<double> inertia();
  const kc_BlobMeasures& principal();
  // clientLinear(): the scene's linear pair, or a non-linear one linearised at the centroid.
  kc_ClientLinear clientLinear();

  // more(): the blob's other caches, made on first use.
  kc_BlobMeasures& more() {
    if (m_ == nullptr) {
      record();
      m_ = &p_.measures();
    }
    return *m_;
  }
  // notice(): mutating() on the blob, once per query, before a cache is written.
  void notice() {
    if (noticed_) return;
    const_cast<kcBlob&>(blob_).mutating();
    noticed_ = true;
  }

 private:
  // record(): the blob's record, made (with every blob's) when the scene keeps marks.
  kc_BlobRecord& record() {
    if (r_ == nullptr) {
      r_ = &p_.record();
      mark_ = nullptr;
    }
    return *r_;
  }
  // marked(bit): in the marks, bit set (giving notice when it was not).
  void marked(std::uint8_t bit) {
    if ((*mark_ & bit) != 0) return;
    notice();
    *mark_ = static_cast<std::uint8_t>(*mark_ | bit);
  }
  // weight(): the region's weighted pel total (the entry's count when it holds one).
  std::uint64_t weight();
  // sums(): the region's weight and centroid, from its pel sums when the scene kept them, else
  // from its rows.
  kc_Moments::RegionSums sums() const;
  // takeSums(s): stores a pass's centroid and total where the caches lack them.
  void takeSums(const kc_Moments::RegionSums& s);
  void clientXform();
  double originX() const { return static_cast<double>(p_.imageOrigin().x()); }
  double originY() const { return static_cast<double>(p_.imageOrigin().y()); }
  // sumXX(), sumYY(), sumXY(): the second moments in image coordinates, each from its projection.
  double sumXX();
  double sumYY();
  double sumXY();
  // secondInClient(needXY): the second moments in the units that inertia and the principal axes
  // report; xy is left 0 when not needed and the client matrix is the identity.
  kc_Moments::Second secondInClient(bool needXY);

  const kcBlob& blob_;
  const kc_BlobParts& p_;
  const kc_BSDData& d_;
  kc_BlobRecord* r_ = nullptr;    // the record, or null while the scene keeps marks for this blob
  std::uint8_t* mark_ = nullptr;  // its marks then
  kc_BlobMeasures* m_ = nullptr;
  double cx_ = 0.0;
  double cy_ = 0.0;
  double area_ = 0.0;
  bool noticed_ = false;
};

// kf_MarkedArea(entry, data), kf_MarkedSums(entry, origin), kf_CenterOfMass(centroid, data): the
// area in pels and the weight and centroid of a blob with pel sums (its store's origin given), and
// the centre of mass in client coordinates of a centroid, as the caches compute them.
double kf_MarkedArea(const kc_BlobEntry& entry, const kc_BSDData& data);
inline kc_Moments::RegionSums kf_MarkedSums(const kc_BlobEntry& entry, const kcPair<long>& origin) {
  const kcPair<long> at(origin.x() + entry.left, origin.y() + entry.top);
  return kc_Moments::sumPels(entry.sumX, entry.sumY, static_cast<std::uint64_t>(entry.pelCount), at);
}
kcVector<2> kf_CenterOfMass(const kcVector<2>& centroid, const kc_BSDData& data);
