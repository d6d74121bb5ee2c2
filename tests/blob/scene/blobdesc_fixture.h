// Test fixture for scene and blob tests: analysed scenes with a given blob tree, built through the
// internal builder; counter snapshots; a check for a library error with its message.
#pragma once

#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <foundation/rlebuffer.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "store/blob_record.h"
#include "base/messages.h"
#include "store/bsd_data.h"
#include "scene/scene_builder.h"

namespace scene_fixture {

// solidRegion(x, y, w, h): a w x h run image of value 1 at (x, y).
inline kcRLEBuffer solidRegion(long x, long y, long w, long h) {
  kc_RLERowWriter writer(w, h);
  for (long row = 0; row < h; ++row) {
    writer.put(1, static_cast<std::uint32_t>(w));
    writer.endRow();
  }
  return writer.finish(kcPair<long>{x, y}, kc2XformCache());
}

// fill(scene, parents, top, widths): analyses scene as the engine would leave it: blob i + 1 has
// parent parents[i] (0: top level) and a region of one row, widths[i] pels wide (1 when widths is
// empty), left of the next blob's; children are listed in id order; the top level in the order of
// `top` (id order when empty).
inline void fill(kcBlobSceneDescription& scene, const std::vector<BlobId>& parents,
                 std::vector<BlobId> top = {}, const std::vector<long>& widths = {}) {
  kc_BSDData& d = kc_SceneBuilder::data(scene);
  std::vector<kc_BlobPlan> plans(parents.size());
  auto plan = [&](BlobId id) -> kc_BlobPlan& { return plans[id - 1]; };
  std::vector<BlobId> last(parents.size() + 1, 0);
  long x = 0;
  for (BlobId id = 1; id <= parents.size(); ++id) {
    const BlobId p = parents[id - 1];
    const long w = widths.empty() ? 1 : widths[id - 1];
    plan(id).region = solidRegion(x, 0, w, 1);
    x += w;
    if (p == 0) continue;
    plan(id).parent = p;
    (last[p] == 0 ? plan(p).firstChild : plan(last[p]).nextSibling) = id;
    plan(id).prevSibling = last[p];
    last[p] = id;
    ++plan(p).numChildren;
  }
  if (top.empty())
    for (BlobId id = 1; id <= parents.size(); ++id)
      if (parents[id - 1] == 0) top.push_back(id);
  for (std::size_t k = 1; k < top.size(); ++k) {
    plan(top[k - 1]).nextSibling = top[k];
    plan(top[k]).prevSibling = top[k - 1];
  }
  d.scaleVal = 1;
  d.sceneWindow = kcPelRect(0, 0, x + 1, 1);
  kc_BlobStore store;
  kc_SceneBuilder::fill(store, plans, {0, 0});
  kc_SceneBuilder::install(scene, store, top);
  kc_SceneBuilder::finishAnalysis(scene);
}

inline kc_BSDData& data(const kcBlobSceneDescription& scene) {
  return kc_SceneBuilder::data(const_cast<kcBlobSceneDescription&>(scene));
}
// entry(b), record(b), measures(b): a blob's stored entry and its caches (made on first use).
inline kc_BlobEntry& entry(const kcBlob& b) { return kc_SceneBuilder::parts(b).entry; }
inline kc_BlobRecord& record(const kcBlob& b) { return kc_SceneBuilder::parts(b).record(); }
inline kc_BlobMeasures& measures(const kcBlob& b) { return kc_SceneBuilder::parts(b).measures(); }

// Counters{transform, matrix, view} of a scene's data.
struct Counters {
  std::uint32_t transform, matrix, view;
  bool operator==(const Counters&) const = default;
};
inline Counters counters(const kcBlobSceneDescription& s) {
  return {data(s).transformCounter, data(s).matrixCounter, data(s).viewCounter};
}

}  // namespace scene_fixture

// EXPECT_SCENE_ERROR(statement, Class, n): statement throws Class with entry n of the scene table.
#define EXPECT_SCENE_ERROR(statement, Class, n)                                  \
  do {                                                                           \
    try {                                                                        \
      statement;                                                                 \
      ADD_FAILURE() << "expected " #Class " with message " << (n);               \
    } catch (const Class& e) {                                                   \
      EXPECT_EQ(e.message(false), std::wstring(kc_BlobMessages::kSceneDesc[n])); \
    }                                                                            \
  } while (false)
