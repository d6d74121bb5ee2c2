// The scene's self-test: every stored setting within its range, every blob sound, every stored id
// a blob of the scene, blobs and holes alternating down the tree of a grey-scale scene.
#include <blob/blobdesc.h>

#include "store/bsd_data.h"

#include <foundation/assert.h>

void kcBlobSceneDescription::repInvariant() const {
  if (degenerate_) return;
  const kc_BSDData& d = *data_;
  KC_ASSERT(d.connectivityKind >= eGreyScale && d.connectivityKind <= eWholeImageGreyScale,
            "the analysis kind is one of the enumeration");
  if (d.cleanupKind != eNone) {
    KC_ASSERT(d.cleanupKind == ePrune || d.cleanupKind == eFill, "the cleanup is one of the enumeration");
    KC_ASSERT(d.minPels >= 0, "a cleanup's minimum pel count is not negative");
  }
  KC_ASSERT(d.sceneWindow.width() >= 1, "the scene window is at least one pel wide");
  KC_ASSERT(d.sceneWindow.height() >= 1, "the scene window is at least one pel high");
  for (std::uint32_t i = 0; i < d.numBlobs(); ++i) d.blobAt(i + 1).repInvariant();
  for (const std::vector<BlobId>* ids : {&d.shownIds, &d.topIds, &d.shownTopIds}) {
    for (BlobId id : *ids) KC_ASSERT(d.validId(id), "a stored id names a blob of the scene");
  }
  for (const kcBlobFilter& f : d.filters) KC_ASSERT(f.low <= f.high, "a filter's low limit is not above its high one");
  if (d.sortSet) {
    KC_ASSERT(!d.sortDisabled, "a set sort is not disabled");
    KC_ASSERT(d.sortOrder == eDescending || d.sortOrder == eAscending, "the sort order is one of the enumeration");
  }
  if (d.sortDisabled) KC_ASSERT(!d.sortSet, "a disabled sort is not set");
  if (d.connectivityKind == eGreyScale) {
    for (std::uint32_t i = 0; i < d.numBlobs(); ++i) {
      const kcBlob& blob = d.blobAt(i + 1);
      const kcBlob* parent = blob.parent();
      if (parent != nullptr) {
        KC_ASSERT((blob.label() == 0) != (parent->label() == 0), "blobs and holes alternate down the tree");
      }
    }
  }
}
