// How a scene's data load their blobs through the blob's own archive form. Internal: shared by
// the blob's and the scene's archive code.
#pragma once

#include <blob/blob.h>
#include <blob/blobdesc.h>

#include "store/blob_record.h"

#include <foundation/persistent.h>

#include <cstdint>
#include <memory>
#include <vector>

// kc_BlobLoadTarget: where a blob of a scene being loaded puts what it reads. The data set it on
// a blob's temporary kc_BlobCopy before loading the blob in place; the blob then reads its region
// in place into measures->region (so the archive's table of loaded objects names an object that
// stays alive), its other caches into *measures, and its entry, record and view links into the
// kc_BlobCopy, from which the data move them into the store.
struct kc_BlobLoadTarget {
  kcBlobSceneDescription::Analysis kind;  // the scene's analysis (the chain check needs it)
  std::uint32_t numBlobs;                 // links must lie in 0..numBlobs
  BlobId id;                              // the id the blob must carry
  kc_BlobMeasures* measures;
  std::vector<std::shared_ptr<kcPersistent>>* retired;  // objects kept while the data live
  bool legacy = false;  // set by the blob: read in the oldest form, its links unknown (all 0)
};

// kf_RegionHasPel(region): whether a bound region holds a pel of non-zero value.
bool kf_RegionHasPel(const kcRLEBuffer& region);
