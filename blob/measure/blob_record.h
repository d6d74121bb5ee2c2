// The per-blob record (tree links, view links, cached measures with their stamps) and its
// lazily created boundary part. Internal: shared by the blob, the scene and the connectivity pass.
#pragma once

#include <blob/blob.h>

#include <foundation/geometry.h>

#include <cstdint>
#include <memory>
#include <vector>

// BlobId: a blob's number in its scene, 1 to the number of blobs; 0 means "no blob" in every link.
using BlobId = std::uint32_t;

// Stamp: the value of one of the scene data's change counters at which a cached value was computed.
// kNeverComputed is never taken by a counter (see kc_BSDData::advance), so a stamp holding it is
// always stale.
using Stamp = std::uint32_t;
inline constexpr Stamp kNeverComputed = 0xFFFFFFFFu;

// kc_BlobBoundaryData: the projections and the chain code of one blob, created on first need and
// owned by the blob's record. A projection or the chain code is known when its vector is non-empty.
// Projections are 64-bit weighted sums, as the run-length image delivers them; archiving a sum
// above 2^32 - 1 is refused by the archive rather than truncated.
struct kc_BlobBoundaryData {
  kcBlob* owner = nullptr;                   // the blob whose record owns this object
  std::vector<std::uint64_t> rowProjection;     // pel sums per row, top row first
  std::vector<std::uint64_t> columnProjection;  // pel sums per column, left column first
  std::vector<std::uint64_t> diagonalProjection;  // pel sums per diagonal x + y = const
  std::vector<keBlobDirection> chainCode;    // boundary steps plus one keBlobDirectionEnd
  kcPair<long> chainStart{0, 0};             // image coordinates of the chain's first corner
  double sumXY = 0.0;                        // mixed second central moment; record.sumXYValid
  double perimeter = 0.0;                    // record.perimeterStamp (matrixCounter)
  std::int32_t horizontalSteps = 0;
  std::int32_t verticalSteps = 0;
  std::int32_t corners = 0;                  // convex corners of the chain

  // reset(): back to the empty state (vectors emptied, numbers 0); owner is kept.
  void reset();
};

// kc_OwnedBoundary: the record's owning pointer to its boundary data, copied deeply (a copy of
// the source's object, or none). Copy assignment builds the copy before it lets the old object go.
class kc_OwnedBoundary {
 public:
  kc_OwnedBoundary() = default;
  kc_OwnedBoundary(const kc_OwnedBoundary& other)
      : p_(other.p_ ? std::make_unique<kc_BlobBoundaryData>(*other.p_) : nullptr) {}
  kc_OwnedBoundary(kc_OwnedBoundary&&) noexcept = default;
  kc_OwnedBoundary& operator=(const kc_OwnedBoundary& other) {
    kc_OwnedBoundary copy(other);
    p_.swap(copy.p_);
    return *this;
  }
  kc_OwnedBoundary& operator=(kc_OwnedBoundary&&) noexcept = default;

  kc_BlobBoundaryData* get() const { return p_.get(); }
  kc_BlobBoundaryData* operator->() const { return p_.get(); }
  kc_BlobBoundaryData& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // create(owner): the boundary data, made empty for owner when there is none yet.
  kc_BlobBoundaryData& create(kcBlob* owner) {
    if (!p_) {
      p_ = std::make_unique<kc_BlobBoundaryData>();
      p_->owner = owner;
    }
    return *p_;
  }
  void reset() { p_.reset(); }

 private:
  std::unique_ptr<kc_BlobBoundaryData> p_;
};

// kc_BlobRecord: tree links, view links and every cached measure of one blob. Copies are deep
// (the boundary data included) and keep the source's owner: whoever copies sets the owner.
//
// Cache dependencies: a field with a valid flag depends on the region only and never goes stale.
// A field with a stamp depends on the client transform or the view and is current while its stamp
// equals the named counter of the scene data: transformStamp, centerOfMassStamp, extentStamp follow
// transformCounter; perimeterStamp, inertiaStamp, principalStamp, acircularityRmsStamp follow
// matrixCounter; shownStamp follows viewCounter.
//
// Links hold ids of the same scene. They come from the connectivity pass or from an archive, so
// readers never index with them directly: every lookup goes through kc_BSDData::blobAt (checked).
struct kc_BlobRecord {
  // reset(): the initial state of a new record (caches invalid, stamps kNeverComputed, links 0,
  // pelCount -1, identity transform). Existing boundary data is reset, not deleted. owner is kept.
  void reset();
  // setOwner(blob): owner of the record and of its boundary data.
  void setOwner(kcBlob* blob);

  kc_OwnedBoundary boundary;

  Stamp transformStamp = kNeverComputed;  // transformCounter of clientFromImage and the scales
  kcXform<2> clientFromImage;             // the linear client-from-image map used for this blob
  double xScale = 1.0;
  double yScale = 1.0;
  double areaScale = 1.0;                 // client area of one pel
  double aspect = 1.0;
  double scale = 1.0;

  kcBlob* owner = nullptr;

  // Raw tree links (written by the connectivity pass).
  BlobId parent = 0;
  BlobId nextSibling = 0;
  BlobId prevSibling = 0;
  BlobId firstChild = 0;
  std::uint32_t numChildren = 0;
  // Links of the filtered and sorted view, current while shownStamp equals viewCounter. For the
  // children (firstShown, numShown) that is this record's shownStamp; nextShown and prevShown are
  // written together with the parent's (or the scene's top-level) view.
  BlobId nextShown = 0;
  BlobId prevShown = 0;
  BlobId firstShown = 0;
  std::uint32_t numShown = 0;
  Stamp shownStamp = 0;

  std::int32_t pelCount = -1;             // pel total; -1 until known

  double area = 0.0;                      // areaValid
  double centroidX = 0.0;                 // centroidXValid
  double centroidY = 0.0;                 // centroidYValid
  kcVector<2> centerOfMass;               // centerOfMassStamp
  double sumXX = 0.0;                     // sumXXValid
  double sumYY = 0.0;                     // sumYYValid
  kcPair<double> inertia{0.0, 0.0};       // inertiaStamp
  kcRadian angle;                         // principalStamp
  kcPair<double> inertiaPrincipal{0.0, 0.0};  // principalStamp
  double acircularityRms = 0.0;           // acircularityRmsStamp
  kcRectangle<double> boundingBox;        // extentStamp, with median, extentAngle, extentExclusion
  kcVector<2> median;
  kcRadian extentAngle;
  double extentExclusion = 0.0;
  kcVector<2> center;                     // centerValid, only together with the extents

  Stamp perimeterStamp = kNeverComputed;
  Stamp centerOfMassStamp = kNeverComputed;
  Stamp inertiaStamp = kNeverComputed;
  Stamp principalStamp = kNeverComputed;
  Stamp acircularityRmsStamp = kNeverComputed;
  Stamp extentStamp = kNeverComputed;

  bool areaValid = false;
  bool centroidXValid = false;
  bool centroidYValid = false;
  bool sumXXValid = false;
  bool sumYYValid = false;
  bool sumXYValid = false;                // the boundary data's sumXY
  bool centerValid = false;
  bool interior = false;                  // interiorValid
  bool interiorValid = false;
};
