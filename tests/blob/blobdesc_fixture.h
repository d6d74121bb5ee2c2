// Test fixture for scene tests: builds analysed scenes with a given blob tree through the internal
// builder, and small helpers to expect a library error with its message.
#pragma once

#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <foundation/rlebuffer.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "blob_record.h"
#include "bsd_data.h"
#include "messages.h"
#include "scene_builder.h"

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

// fill(scene, parents, top): analyses scene as a grey-scale scan would leave it: blob i + 1 has
// parent parents[i] (0 at the top level) and a 1 x 1 region at (i, 0); each parent lists its
// children in id order; topIds is `top`, or the top-level ids in id order when top is empty.
inline void fill(kcBlobSceneDescription& scene, const std::vector<BlobId>& parents,
                 std::vector<BlobId> top = {}) {
  kc_BSDData& d = kc_SceneBuilder::data(scene);
  std::vector<kcBlob> blobs = kc_SceneBuilder::newBlobs(scene, parents.size());
  std::vector<BlobId> lastChild(parents.size() + 1, 0);
  for (std::size_t i = 0; i < parents.size(); ++i) {
    const BlobId id = static_cast<BlobId>(i + 1);
    kcBlob& b = blobs[i];
    kc_SceneBuilder::label(b) = 1;
    kc_SceneBuilder::imageRect(b) = kcPelRect(static_cast<long>(i), 0, 1, 1);
    kc_SceneBuilder::region(b) = solidRegion(static_cast<long>(i), 0, 1, 1);
    kc_BlobRecord& r = kc_SceneBuilder::record(b);
    r.shownStamp = d.viewCounter;
    const BlobId p = parents[i];
    if (p == 0) {
      continue;
    }
    r.parent = p;
    kc_BlobRecord& pr = kc_SceneBuilder::record(blobs[p - 1]);
    if (lastChild[p] == 0) {
      pr.firstChild = id;
    } else {
      kc_SceneBuilder::record(blobs[lastChild[p] - 1]).nextSibling = id;
      r.prevSibling = lastChild[p];
    }
    lastChild[p] = id;
    ++pr.numChildren;
  }
  if (top.empty()) {
    for (std::size_t i = 0; i < parents.size(); ++i)
      if (parents[i] == 0) top.push_back(static_cast<BlobId>(i + 1));
  }
  for (std::size_t k = 1; k < top.size(); ++k) {
    kc_SceneBuilder::record(blobs[top[k - 1] - 1]).nextSibling = top[k];
    kc_SceneBuilder::record(blobs[top[k] - 1]).prevSibling = top[k - 1];
  }
  d.mutating();
  d.connectivityKind = kcBlobSceneDescription::eGreyScale;
  d.scaleVal = 1;
  d.cleanupKind = kcBlobSceneDescription::eNone;
  d.sceneWindow = kcPelRect(0, 0, static_cast<long>(parents.size()) + 1, 1);
  kc_SceneBuilder::installBlobs(scene, blobs, top);
  kc_SceneBuilder::finishAnalysis(scene);
}

// data(scene): the scene's data, for reading counters and lists.
inline const kc_BSDData& data(const kcBlobSceneDescription& scene) {
  return kc_SceneBuilder::data(scene);
}
inline const kc_BlobRecord& record(const kcBlob& b) { return kc_SceneBuilder::record(b); }

// ids(blobs): the ids of the listed blobs, in order.
inline std::vector<long> ids(const std::vector<const kcBlob*>& blobs) {
  std::vector<long> out;
  for (const kcBlob* b : blobs) out.push_back(b->id());
  return out;
}

// sceneText(n): entry n of the scene's message table.
inline std::wstring sceneText(kc_BlobMessages::SceneDesc n) { return kc_BlobMessages::kSceneDesc[n]; }

// Counters of a scene's data, compared as one value.
struct Counters {
  std::uint32_t transform, matrix, view;
  bool operator==(const Counters&) const = default;
};
inline Counters counters(const kcBlobSceneDescription& scene) {
  const kc_BSDData& d = data(scene);
  return {d.transformCounter, d.matrixCounter, d.viewCounter};
}
inline void PrintTo(const Counters& c, std::ostream* os) {
  *os << "{transform " << c.transform << ", matrix " << c.matrix << ", view " << c.view << "}";
}

}  // namespace scene_fixture

// EXPECT_SCENE_ERROR(statement, Class, n): statement throws Class with entry n of the scene table.
#define EXPECT_SCENE_ERROR(statement, Class, n)                               \
  do {                                                                        \
    try {                                                                     \
      statement;                                                              \
      ADD_FAILURE() << "expected " #Class " (message " << (n) << ")";         \
    } catch (const Class& e) {                                                \
      EXPECT_EQ(e.message(false), ::scene_fixture::sceneText(n));             \
    }                                                                         \
  } while (false)
