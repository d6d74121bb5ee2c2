// The internal filling of scenes: fresh blob arrays, their installation, the end of an analysis.
#include "scene/scene_builder.h"

#include <foundation/assert.h>

#include <cstdint>

std::vector<kcBlob> kc_SceneBuilder::newBlobs(const kcBlobSceneDescription& scene, std::size_t n) {
  KC_ASSERT(n <= INT32_MAX, "a scene holds at most 2^31 - 1 blobs");
  std::vector<kcBlob> blobs(n);
  for (std::size_t i = 0; i < n; ++i) {
    blobs[i].scene_ = &scene;
    blobs[i].id_ = static_cast<std::int32_t>(i + 1);
  }
  return blobs;
}

void kc_SceneBuilder::installBlobs(kcBlobSceneDescription& scene, std::vector<kcBlob>& blobs,
                                   std::vector<BlobId>& topIds) noexcept {
  kc_BSDData& d = *scene.data_;
  d.mutating();
  d.blobs.swap(blobs);
  d.topIds.swap(topIds);
  for (kcBlob& b : d.blobs) b.scene_ = &scene;
}

void kc_SceneBuilder::resetBlobs(kcBlobSceneDescription& scene, std::size_t n) {
  std::vector<kcBlob> blobs = newBlobs(scene, n);
  std::vector<BlobId> top;
  installBlobs(scene, blobs, top);
}

void kc_SceneBuilder::finishAnalysis(kcBlobSceneDescription& scene) {
  kc_BSDData& d = *scene.data_;
  scene.mutating();
  d.mutating();
  kc_BSDData::advance(d.viewCounter);
  scene.degenerate_ = false;
}
