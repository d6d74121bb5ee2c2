// What a connectivity analysis hands to the scene: complete blobs and top-level ids, built aside
// so that the scene is replaced only by a finished result.
#pragma once

#include "connect/connect_engine.h"

#include <blob/blob.h>
#include <blob/blobdesc.h>

#include <vector>

class kcRLEBuffer;

// kc_SceneResult: the blobs of one analysis in id order, each with its scene, id, label, imageRect,
// region and record links set (shownStamp excepted), and the top-level ids.
struct kc_SceneResult {
  std::vector<kcBlob> blobs;
  std::vector<BlobId> topIds;
};

// kf_BlobsFromOutput(scene, out, image): turns the engine's numbered blobs into kcBlobs of scene;
// each region adopts its chunks (out's chunks are moved from) and carries the blob's origin and
// image's transform cache. Allocates per blob; platform exceptions pass through.
kc_SceneResult kf_BlobsFromOutput(const kcBlobSceneDescription& scene, kc_ConnectOutput& out,
                                  const kcRLEBuffer& image);

// kf_WholeImageBlobs(scene, image): the single weighted blob of a whole-image analysis, trimmed
// to the non-zero pels, with its row and column projections; no blob when every pel is 0.
// topIds is [1] when there is a blob and empty otherwise. Precondition (internal assertion):
// image is not degenerate.
kc_SceneResult kf_WholeImageBlobs(const kcBlobSceneDescription& scene, const kcRLEBuffer& image);
