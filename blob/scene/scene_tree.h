// kf_TreeScene: one tree of an analysed scene as a scene of its own. Internal to the library.
#pragma once

#include <blob/blobdesc.h>

#include "store/blob_record.h"

#include <foundation/geometry.h>

#include <memory>
#include <vector>

// kc_TreeScratch: the arrays kf_TreeScene works in, kept from call to call.
struct kc_TreeScratch {
  std::vector<BlobId> members, pending, newId;
};

// kf_TreeScene(scene, top, window, scratch): a new scene holding top-level blob top of scene and
// every blob under it: their entries and rows copied (regions, labels, pel counts and pel sums as
// scene's analysis made them, cleanup included), ids renumbered from 1 in the order of their ids in
// scene, the links mapped, top alone at the top level; the analysis settings and the transform
// pair are scene's, the scene window is window. Makes scene's rows when they are not made yet (so
// its row maker's exceptions pass through); allocates. Precondition (internal assertion): scene is
// analysed and top is one of its top-level ids. Cost: linear in the tree's blobs and run bytes.
std::unique_ptr<kcBlobSceneDescription> kf_TreeScene(kcBlobSceneDescription& scene, BlobId top,
                                                     const kcPelRect& window, kc_TreeScratch& scratch);
