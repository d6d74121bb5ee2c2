// What a whole-image analysis hands to the scene: its blob store and top-level ids, built aside so
// that the scene is replaced only by a finished result.
#pragma once

#include <blob/blobdesc.h>

#include "store/blob_record.h"
#include "store/blob_store.h"

#include <vector>

class kcRLEBuffer;

// kf_WholeImageBlobs(image, store, topIds): the single weighted blob of a whole-image analysis,
// trimmed to the non-zero pels, with its row and column projections, into store (cleared first);
// no blob when every pel is 0. topIds is [1] when there is a blob and empty otherwise.
// The projections are made in bands on up to threads threads (kf_Bands). Precondition (internal
// assertion): image is not degenerate. Allocates; platform exceptions (an abandoned analysis
// included) pass through.
void kf_WholeImageBlobs(const kcRLEBuffer& image, kc_BlobStore& store, std::vector<BlobId>& topIds,
                        unsigned threads = 1);

// kf_ConnectGreyScale(scene, image, scaleVal, wholeImage, cleanup, minPels, threads): what
// scene.connectComponentsGreyScale(image, scaleVal, wholeImage, cleanup, minPels) does, bit for bit,
// on up to threads threads: the whole-image projections, and connectivity with any cleanup
// (kf_ConnectInBands); the rest on the calling thread.
void kf_ConnectGreyScale(kcBlobSceneDescription& scene, const kcRLEBuffer& image, unsigned char scaleVal,
                         bool wholeImage, kcBlobSceneDescription::ConnectCleanup cleanup, long minPels,
                         unsigned threads);

// kf_ConnectLabelled(scene, image, cleanup, minPels, threads): what
// scene.connectComponentsLabelled(image, cleanup, minPels) does, bit for bit: the scan on the
// calling thread (its merges and floods follow the raster order), the finishing pass on up to
// threads threads.
void kf_ConnectLabelled(kcBlobSceneDescription& scene, const kcRLEBuffer& image,
                        kcBlobSceneDescription::ConnectCleanup cleanup, long minPels, unsigned threads);
