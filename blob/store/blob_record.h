// What a scene keeps of each blob: the compact entry written by the connectivity pass, the measure
// caches made when a measure first asks for them, and the links of the filtered and sorted view.
// Internal: shared by the blob, the scene, the connectivity pass and their tests.
#pragma once

#include <blob/blob.h>

#include <foundation/geometry.h>
#include <foundation/rlebuffer.h>
#include <foundation/xform.h>

#include <cstdint>
#include <vector>

// BlobId: a blob's number in its scene, 1 to the number of blobs; 0 means "no blob" in every link.
using BlobId = std::uint32_t;

// Stamp: the value of one of the scene data's change counters at which a cached value was computed.
// kNeverComputed is never taken by a counter (see kc_BSDData::advance), so a stamp holding it is
// always stale.
using Stamp = std::uint32_t;
inline constexpr Stamp kNeverComputed = 0xFFFFFFFFu;

// kc_BlobEntry: everything a scene holds of one blob before any measure is asked for (56 bytes):
// its previous sibling and number of children, which the links give, are made on demand (see
// kc_BSDData::prevSiblingOf). Its rows live in the store's run bytes (see kc_BlobStore), made when first
// needed. Coordinates are relative to the store's origin (the analysed image's offset), so they
// fit 32 bits whatever the offset.
//
// Links hold ids of the same scene. They come from the connectivity pass (or a test's builder), so
// readers never index with them directly: every lookup goes through kc_BSDData::blobAt (checked).
struct kc_BlobEntry {
  // flags: kPelSums: sumX and sumY hold the first moments of the blob's pels, each pel weighing 1.
  static constexpr std::uint8_t kPelSums = 1;

  std::uint64_t sumX = 0;     // with kPelSums: the sums over the blob's pels of x - left and of
  std::uint64_t sumY = 0;     // y - top, exact integers (below 2^52 and 2^53)
  std::int32_t left = 0;      // imageRect: origin relative to the store's origin, and size
  std::int32_t top = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  BlobId parent = 0;          // enclosing region, 0 at the top level
  BlobId nextSibling = 0;     // the next among the children of the parent (or the top level)
  BlobId firstChild = 0;
  std::int32_t pelCount = -1;  // pel total; -1 until known (weighted blobs learn it from a measure)
  std::uint32_t key = 0;      // the connectivity engine's: the region's first label
  std::uint8_t label = 0;
  std::uint8_t flags = 0;
};
static_assert(sizeof(kc_BlobEntry) == 56, "a blob entry is seven words");

// kc_BlobRecord: the caches of the moment measures that nearly every caller asks for (area, centre
// of mass). A scene makes one per blob on the first measure request of any of its blobs, in one
// array, and resets them all with the next analysis; trivially destructible, so releasing them
// costs nothing per blob. The other caches live in kc_BlobMeasures, made per blob on demand.
//
// Cache dependencies: area and the centroid depend on the region only (valid flags, never stale);
// centerOfMass follows the scene's transformCounter.
struct kc_BlobRecord {
  // Marks of a blob whose scene keeps marks instead of records (kc_BlobStore::marks).
  static constexpr std::uint8_t kArea = 1;
  static constexpr std::uint8_t kCentroid = 2;
  static constexpr std::uint8_t kCenterOfMass = 4;  // at the scene's current transformCounter

  double area = 0.0;        // in pels, weighted and scaled; areaValid
  double centroidX = 0.0;   // weighted centroid in image coordinates; centroidValid
  double centroidY = 0.0;
  kcVector<2> centerOfMass;  // client coordinates; centerOfMassStamp
  Stamp centerOfMassStamp = kNeverComputed;
  std::uint32_t measures = 0;  // 1 + index of the blob's kc_BlobMeasures in its scene; 0: none
  std::int32_t pelCount = -1;  // the weight a measure learned where the entry holds none (-1)
  bool areaValid = false;
  bool centroidValid = false;
};

// kc_BlobBoundaryData: the projections and the chain code of one blob. A projection or the chain
// code is known when its vector is non-empty. Projections are 64-bit weighted sums.
struct kc_BlobBoundaryData {
  std::vector<std::uint64_t> rowProjection;       // pel sums per row, top row first
  std::vector<std::uint64_t> columnProjection;    // pel sums per column, left column first
  std::vector<std::uint64_t> diagonalProjection;  // pel sums per diagonal x + y = const
  std::vector<keBlobDirection> chainCode;         // boundary steps plus one keBlobDirectionEnd
  kcPair<long> chainStart{0, 0};                  // image coordinates of the chain's first corner
  double sumXY = 0.0;                             // mixed second central moment; sumXYValid
  double perimeter = 0.0;                         // perimeterStamp (matrixCounter)
  std::int32_t horizontalSteps = 0;
  std::int32_t verticalSteps = 0;
  std::int32_t corners = 0;                       // convex corners of the chain
};

// kc_BlobMeasures: every other cache of one blob, made when a measure first needs one of them.
//
// Cache dependencies: a field with a valid flag depends on the region only. transformStamp,
// extentStamp follow transformCounter; perimeterStamp, inertiaStamp, principalStamp,
// acircularityRmsStamp follow matrixCounter.
struct kc_BlobMeasures {
  Stamp transformStamp = kNeverComputed;  // clientFromImage and the scales, for a non-linear pair
  kcXform<2> clientFromImage;             // the pair linearised at this blob's centroid
  double xScale = 1.0;
  double yScale = 1.0;
  double areaScale = 1.0;                 // client area of one pel
  double aspect = 1.0;
  double scale = 1.0;

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
  Stamp inertiaStamp = kNeverComputed;
  Stamp principalStamp = kNeverComputed;
  Stamp acircularityRmsStamp = kNeverComputed;
  Stamp extentStamp = kNeverComputed;

  bool sumXXValid = false;
  bool sumYYValid = false;
  bool sumXYValid = false;                // boundary.sumXY
  bool centerValid = false;
  bool interior = false;                  // interiorValid
  bool interiorValid = false;

  kc_BlobBoundaryData boundary;
  // The region as a run-length image, made when region() is first asked of a blob of a scene
  // (a view on the scene's run store that keeps it alive); degenerate until then.
  kcRLEBuffer region;
};

// kc_ShownLinks: a blob's links in the scene's filtered and sorted view. For its children
// (firstShown, numShown) they are current while shownStamp equals viewCounter; nextShown and
// prevShown are written together with the parent's (or the scene's top-level) view.
struct kc_ShownLinks {
  BlobId nextShown = 0;
  BlobId prevShown = 0;
  BlobId firstShown = 0;
  std::uint32_t numShown = 0;
  Stamp shownStamp = kNeverComputed;
};
