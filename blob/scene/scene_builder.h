// kc_SceneBuilder: the internal way to fill a scene description and its blobs, used by the
// connectivity engine's entries, the analysis entry and the tests. Not installed.
#pragma once

#include <blob/blob.h>
#include <blob/blobdesc.h>

#include "store/blob_parts.h"
#include "store/blob_record.h"
#include "store/blob_store.h"
#include "store/bsd_data.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// kc_BlobPlan: one blob as a caller describes it to kc_SceneBuilder::fill: the region as a run
// image at the blob's image position, the label, the pel count and the tree links.
struct kc_BlobPlan {
  kcRLEBuffer region;
  std::uint8_t label = 0;
  std::int32_t pelCount = -1;
  BlobId parent = 0;
  BlobId nextSibling = 0;
  BlobId prevSibling = 0;
  BlobId firstChild = 0;
  std::uint32_t numChildren = 0;
};

// kc_SceneBuilder: static access to the private parts of scenes and blobs.
//
// An analysis fills a scene in this order:
//   kc_BlobStore store;  std::vector<BlobId> topIds;      // built aside (or by the engine)
//   kc_SceneBuilder::install(scene, store, topIds);        // the only step that changes scene
//   d.mutating(); set connectivityKind, scaleVal, cleanupKind, minPels, sceneWindow, transform;
//   kc_SceneBuilder::finishAnalysis(scene);                // viewCounter moves, degenerate cleared
// install() prepares everything that can fail before it changes the scene, so a failed analysis
// leaves the scene as it was.
class kc_SceneBuilder {
 public:
  kc_SceneBuilder() = delete;

  // data(scene): the scene's data; never null.
  static kc_BSDData& data(kcBlobSceneDescription& scene) { return *scene.data_; }
  static const kc_BSDData& data(const kcBlobSceneDescription& scene) { return *scene.data_; }

  // fill(store, plans, origin): store holds plans in order (blob i + 1 from plans[i]), entry
  // coordinates counted from origin, each region's rows copied into the run bytes. Throws
  // kcBadArgument for a degenerate region; allocates.
  static void fill(kc_BlobStore& store, const std::vector<kc_BlobPlan>& plans, const kcPair<long>& origin);
  // install(scene, store, topIds): gives notice and swaps store and topIds into the scene's data
  // (kc_BSDData::install); the scene's previous store and ids are left in the arguments. Cannot fail.
  static void install(kcBlobSceneDescription& scene, kc_BlobStore& store, std::vector<BlobId>& topIds);

  // finishAnalysis(scene): the end of an analysis: viewCounter moves and the scene is no longer
  // degenerate. Gives notice on both.
  static void finishAnalysis(kcBlobSceneDescription& scene);

  // mask(scene, m): the scene's private mask setter, for the analysis entry.
  static void mask(kcBlobSceneDescription& scene, const kcRLEBuffer& m) { scene.mask(m); }

  // parts(blob): the blob's entry, caches and rows (see kc_BlobParts).
  static kc_BlobParts parts(const kcBlob& blob) { return blob.parts(); }
  // validId(blob, id): the blob's private id check.
  static bool validId(const kcBlob& blob, long id) { return blob.validId(id); }
  // id(blob): the blob's id field.
  static std::int32_t& id(kcBlob& blob) { return blob.id_; }
};
