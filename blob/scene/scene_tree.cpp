// One tree of an analysed scene copied into a scene of its own.
#include "scene/scene_tree.h"

#include "scene/scene_builder.h"
#include "store/blob_store.h"
#include "store/bsd_data.h"

#include <foundation/assert.h>

#include <algorithm>
#include <cstring>

namespace {

// rowBytes(row, height): the bytes of height rows from row, one after another, terminators included.
std::size_t rowBytes(const unsigned char* row, std::int32_t height) {
  const unsigned char* p = row;
  for (std::int32_t y = 0; y < height; ++y, p += 2)
    while (p[1] != 0) p += 2;
  return static_cast<std::size_t>(p - row);
}

// copyTree(store, top, members, newId, tree): the entries and rows of members (ids of store, in
// order) into tree, their links mapped through newId.
void copyTree(kc_BlobStore& store, BlobId top, const std::vector<BlobId>& members, const std::vector<BlobId>& newId,
              kc_BlobStore& tree) {
  std::size_t bytes = 0;
  for (const BlobId id : members) bytes += rowBytes(store.rows(id), store.entry(id).height);
  tree.origin = store.origin;
  unsigned char* out = tree.reserveRuns(bytes);
  std::size_t used = 0;
  for (const BlobId id : members) {
    kc_BlobEntry e = store.entry(id);
    e.parent = id == top ? 0 : newId[e.parent];
    e.nextSibling = id == top ? 0 : newId[e.nextSibling];
    e.firstChild = newId[e.firstChild];
    e.key = 0;
    tree.entries.push_back(e);
    tree.rowOffsets.push_back(used);
    const std::size_t n = rowBytes(store.rows(id), e.height);
    std::memcpy(out + used, store.rows(id), n);
    used += n;
  }
}

}  // namespace

std::unique_ptr<kcBlobSceneDescription> kf_TreeScene(kcBlobSceneDescription& scene, BlobId top,
                                                     const kcPelRect& window, kc_TreeScratch& scratch) {
  kc_BSDData& d = kc_SceneBuilder::data(scene);
  kc_BlobStore& store = d.store;
  KC_ASSERT(!scene.isDegenerate() && top >= 1 && top <= store.size() && store.entry(top).parent == 0,
            "a tree is cut at a top-level blob of an analysed scene");
  std::vector<BlobId>& members = scratch.members;
  std::vector<BlobId>& pending = scratch.pending;
  members.clear();
  pending.assign(1, top);
  while (!pending.empty()) {
    const BlobId id = pending.back();
    pending.pop_back();
    members.push_back(id);
    for (BlobId c = store.entry(id).firstChild; c != 0; c = store.entry(c).nextSibling) pending.push_back(c);
  }
  std::sort(members.begin(), members.end());
  scratch.newId.resize(store.size() + 1);
  scratch.newId[0] = 0;
  for (std::size_t i = 0; i < members.size(); ++i) scratch.newId[members[i]] = static_cast<BlobId>(i + 1);
  kc_BlobStore tree;
  copyTree(store, top, members, scratch.newId, tree);
  auto out = std::make_unique<kcBlobSceneDescription>();
  kc_BSDData& t = kc_SceneBuilder::data(*out);
  std::vector<BlobId> topIds{1};
  t.mutating();
  t.replaceXform(d.xformCache, false);
  t.install(tree, topIds);
  t.connectivityKind = d.connectivityKind;
  t.scaleVal = d.scaleVal;
  t.cleanupKind = d.cleanupKind;
  t.minPels = d.minPels;
  t.sceneWindow = window;
  t.dropObjectsIfShort();
  kc_SceneBuilder::finishAnalysis(*out);
  return out;
}
