// kc_SceneBuilder: the internal way to fill a scene description and its blobs, used by the
// connectivity engine's finishing pass, the analysis entry and the tests. Not installed.
#pragma once

#include <blob/blob.h>
#include "measure/blob_record.h"
#include <blob/blobdesc.h>
#include "scene/bsd_data.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// kc_SceneBuilder: static access to the private parts of scenes and blobs.
//
// A finishing pass fills a scene in this order:
//   kc_BSDData& d = kc_SceneBuilder::data(scene);
//   d.mutating(); set connectivityKind, scaleVal, cleanupKind, minPels, sceneWindow;
//   d.replaceXform(image.xformCache());
//   std::vector<kcBlob> blobs = kc_SceneBuilder::newBlobs(scene, n);  // scene and ids set
//   per blob: label(b), imageRect(b), region(b), record(b) links, pelCount, shownStamp;
//   kc_SceneBuilder::installBlobs(scene, blobs, topIds);  // swap in, cannot fail
//   kc_SceneBuilder::finishAnalysis(scene);        // viewCounter moves, degenerate cleared
// Build into a scratch scene (or keep the old data) when the pass can fail half-way, so that the
// caller's scene is replaced only by a complete result.
class kc_SceneBuilder {
 public:
  kc_SceneBuilder() = delete;

  // data(scene): the scene's data; never null.
  static kc_BSDData& data(kcBlobSceneDescription& scene) { return *scene.data_; }
  static const kc_BSDData& data(const kcBlobSceneDescription& scene) { return *scene.data_; }

  // newBlobs(scene, n): n default blobs whose scene is scene and whose ids are 1..n, records in
  // their initial state. Allocates; nothing of scene changes.
  static std::vector<kcBlob> newBlobs(const kcBlobSceneDescription& scene, std::size_t n);
  // installBlobs(scene, blobs, topIds): gives notice on the data and swaps blobs and topIds into it
  // (the elements do not move, so pointers into blobs stay valid and now belong to the scene); the
  // scene's previous blobs and topIds are left in the arguments. Sets every new blob's scene.
  // Cannot fail, so a pass that builds into its own vectors replaces a scene's blobs atomically.
  static void installBlobs(kcBlobSceneDescription& scene, std::vector<kcBlob>& blobs,
                           std::vector<BlobId>& topIds) noexcept;
  // resetBlobs(scene, n): installs n new blobs and an empty topIds; the old ones are destroyed.
  static void resetBlobs(kcBlobSceneDescription& scene, std::size_t n);

  // finishAnalysis(scene): the end of an analysis: viewCounter moves and the scene is no longer
  // degenerate. Gives notice on both.
  static void finishAnalysis(kcBlobSceneDescription& scene);

  // mask(scene, m): the scene's private mask setter, for the analysis entry.
  static void mask(kcBlobSceneDescription& scene, const kcRLEBuffer& m) { scene.mask(m); }

  // Blob fields. The references stay valid while the blob lives.
  static kc_BlobRecord& record(kcBlob& blob) { return *blob.record_; }
  static const kc_BlobRecord& record(const kcBlob& blob) { return *blob.record_; }
  static const kcBlobSceneDescription*& scene(kcBlob& blob) { return blob.scene_; }
  static std::int32_t& id(kcBlob& blob) { return blob.id_; }
  static unsigned char& label(kcBlob& blob) { return blob.label_; }
  static kcPelRect& imageRect(kcBlob& blob) { return blob.imageRect_; }
  static kcRLEBuffer& region(kcBlob& blob) { return blob.region_; }
  // validId(blob, id): the blob's private id check.
  static bool validId(const kcBlob& blob, long id) { return blob.validId(id); }
};
