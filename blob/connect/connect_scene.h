// What a whole-image analysis hands to the scene: its blob store and top-level ids, built aside so
// that the scene is replaced only by a finished result.
#pragma once

#include "measure/blob_record.h"
#include "scene/blob_store.h"

#include <vector>

class kcRLEBuffer;

// kf_WholeImageBlobs(image, store, topIds): the single weighted blob of a whole-image analysis,
// trimmed to the non-zero pels, with its row and column projections, into store (cleared first);
// no blob when every pel is 0. topIds is [1] when there is a blob and empty otherwise.
// Precondition (internal assertion): image is not degenerate. Allocates; platform exceptions
// (an abandoned analysis included) pass through.
void kf_WholeImageBlobs(const kcRLEBuffer& image, kc_BlobStore& store, std::vector<BlobId>& topIds);
