// Where a blob's data live: in its scene's store for a blob the scene holds, or in the blob's own
// copy. kc_BlobParts gives the measures and the tree queries one view of either.
#pragma once

#include "store/blob_record.h"
#include "store/blob_store.h"

#include <foundation/geometry.h>
#include <foundation/rlebuffer.h>

#include <memory>
#include <vector>

struct kc_BlobLoadTarget;
class kc_BSDData;

// kc_BlobCopy: the data of a blob that its scene does not hold (a copy, or a default-constructed
// blob). Copies are deep; the region shares the scene's immutable run bytes.
struct kc_BlobCopy {
  kc_BlobCopy() = default;
  kc_BlobCopy(const kc_BlobCopy& other);
  kc_BlobCopy& operator=(const kc_BlobCopy&) = delete;

  const kcBlobSceneDescription* scene = nullptr;  // the scene the blob names, if any
  kc_BlobEntry entry;
  BlobId prevSibling = 0;        // the entry's previous sibling and number of children
  std::uint32_t numChildren = 0;
  kcPair<long> origin{0, 0};     // the entry's coordinates count from here
  kcRLEBuffer region;            // the rows, one after another (a view on the scene's run bytes)
  kc_BlobRecord record;          // record.measures is not used: see measures
  std::unique_ptr<kc_BlobMeasures> measures;
  kc_ShownLinks shown;
  // Objects a load made for this blob and keeps alive with it and its copies: the scene a blob
  // loaded alone names, the legacy object of the oldest blob form.
  std::vector<std::shared_ptr<kcPersistent>> keep;
  // Set by a scene's data while it loads this blob as one of its own (not copied).
  kc_BlobLoadTarget* loadTarget = nullptr;
};

// kc_BlobParts: one blob's data, wherever they are kept. Valid while the blob and its scene's
// store are not changed by an analysis, assignment or load.
struct kc_BlobParts {
  kc_BlobEntry& entry;
  kcPair<long> origin;
  const unsigned char* givenRows;  // a copy's first row (null without rows); null for a scene's blob
  kc_BlobStore* store;        // the scene's store, for a blob the scene holds; else null
  kc_BlobCopy* copy;          // the blob's own data otherwise
  BlobId id;
  const kc_BSDData* data;     // the scene's data, for a blob the scene holds; else null

  kcPelRect imageRect() const {
    return kcPelRect(origin.x() + entry.left, origin.y() + entry.top, entry.width, entry.height);
  }
  kcPair<long> imageOrigin() const { return kcPair<long>(origin.x() + entry.left, origin.y() + entry.top); }
  // rows(): the first row of the region; the others follow it. A scene's blob makes its scene's
  // rows when they are first needed (see kc_BlobStore::rows).
  const unsigned char* rows() const { return store ? store->rows(id) : givenRows; }
  // hasPelSums(): the entry's first moments are the pel sums of the blob's region.
  bool hasPelSums() const { return (entry.flags & kc_BlobEntry::kPelSums) != 0; }
  // record(), measures(), shown(): the caches, made on first use (see kc_BlobStore). record() of a
  // blob of a scene that keeps marks makes every blob's record from them first (kf_MakeRecords).
  kc_BlobRecord& record() const;
  kc_BlobMeasures& measures() const;
  // madeMeasures(): the blob's other caches when they were made; null otherwise (making nothing).
  const kc_BlobMeasures* madeMeasures() const;
  kc_ShownLinks& shown() const { return store ? store->shown(id) : copy->shown; }
};

// kf_MakeRecords(store, data): a store that keeps marks (kc_BlobStore::marks) gets its records,
// each holding what its marks say was computed, derived exactly as the measures derive it; the
// marks go. Nothing happens for a store with records or without marks. May throw std::bad_alloc,
// changing nothing.
void kf_MakeRecords(kc_BlobStore& store, const kc_BSDData& data);

// kf_RegionView(store, id): blob id's rows as a run-length image at its rectangle's origin, a view
// that keeps the store's run bytes alive. Allocates the image's row table.
kcRLEBuffer kf_RegionView(kc_BlobStore& store, BlobId id);
