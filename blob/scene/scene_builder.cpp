// The internal filling of scenes: stores from described blobs, their installation, the end of an
// analysis.
#include "scene/scene_builder.h"

#include <foundation/assert.h>
#include <foundation/exception.h>

#include <cstring>

namespace {

// rowBytes(row): the bytes of a row of runs, terminator included.
std::size_t rowBytes(const unsigned char* row) {
  const unsigned char* end = row;
  while (end[1] != 0) end += 2;
  return static_cast<std::size_t>(end + 2 - row);
}

}  // namespace

void kc_SceneBuilder::fill(kc_BlobStore& store, const std::vector<kc_BlobPlan>& plans,
                           const kcPair<long>& origin) {
  std::size_t total = 0;
  for (const kc_BlobPlan& s : plans) {
    if (s.region.isDegenerate()) throw kcBadArgument(L"A blob's region has no pels.");
    for (long y = 0; y < s.region.height(); ++y) total += rowBytes(s.region.pointToRow(y));
  }
  store.clear();
  store.origin = origin;
  unsigned char* bytes = store.reserveRuns(total);
  store.rowOffsets.reserve(plans.size());
  std::size_t used = 0;
  for (const kc_BlobPlan& s : plans) {
    kc_BlobEntry e;
    store.rowOffsets.push_back(used);
    e.left = static_cast<std::int32_t>(s.region.offset().x() - origin.x());
    e.top = static_cast<std::int32_t>(s.region.offset().y() - origin.y());
    e.width = static_cast<std::int32_t>(s.region.width());
    e.height = static_cast<std::int32_t>(s.region.height());
    e.parent = s.parent;
    e.nextSibling = s.nextSibling;
    store.prevs.push_back(s.prevSibling);
    e.firstChild = s.firstChild;
    store.counts.push_back(s.numChildren);
    e.pelCount = s.pelCount;
    e.label = s.label;
    for (long y = 0; y < s.region.height(); ++y) {
      const unsigned char* row = s.region.pointToRow(y);
      const std::size_t n = rowBytes(row);
      std::memcpy(bytes + used, row, n);
      used += n;
    }
    store.entries.push_back(e);
  }
}

void kc_SceneBuilder::install(kcBlobSceneDescription& scene, kc_BlobStore& store,
                              std::vector<BlobId>& topIds) {
  scene.data_->install(store, topIds);
}

void kc_SceneBuilder::finishAnalysis(kcBlobSceneDescription& scene) {
  kc_BSDData& d = *scene.data_;
  scene.mutating();
  d.mutating();
  kc_BSDData::advance(d.viewCounter);
  scene.degenerate_ = false;
}
