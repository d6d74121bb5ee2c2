// The scene's filtered and sorted views: when each is rebuilt and how its links are written. The
// filter test and the sort order themselves live in selectShown().
#include "scene/bsd_data.h"

#include <algorithm>
#include <cstddef>
#include <numeric>

void kc_BSDData::selectShown(std::vector<BlobId>& ids) {
  // Every blob passes and the order given is kept until the filter test and the sort by measure
  // are in place; the callers already treat this step as one that may throw.
  (void)ids;
}

void kc_BSDData::linkShown(const std::vector<BlobId>& ids) {
  for (BlobId id : ids) blobAt(id);  // check every id before writing any link
  for (std::size_t i = 0; i < ids.size(); ++i) {
    blobAt(ids[i]).mutating();
    kc_ShownLinks& s = store.shown(ids[i]);
    s.prevShown = i == 0 ? 0 : ids[i - 1];
    s.nextShown = i + 1 == ids.size() ? 0 : ids[i + 1];
  }
}

void kc_BSDData::updateShownIds() {
  if (shownIdsCounter == viewCounter) return;
  std::vector<BlobId> ids(store.size());
  std::iota(ids.begin(), ids.end(), BlobId{1});
  selectShown(ids);
  mutating();
  shownIds.swap(ids);
  shownIdsCounter = viewCounter;
}

void kc_BSDData::updateShownTop() {
  if (shownTopCounter == viewCounter) return;
  std::vector<BlobId> ids(topIds);
  for (BlobId id : ids) blobAt(id);
  selectShown(ids);
  mutating();
  linkShown(ids);
  shownTopIds.swap(ids);
  shownTopCounter = viewCounter;
}

void kc_BSDData::childView(BlobId first, std::uint32_t count, BlobId& firstShown,
                           std::uint32_t& numShown) {
  std::vector<BlobId> ids;
  ids.reserve(std::min<std::size_t>(count, store.size()));
  for (BlobId id = first; id != 0; id = entryAt(id).nextSibling) {
    checkWalk(ids.size() + 1);
    ids.push_back(id);
  }
  selectShown(ids);
  linkShown(ids);
  firstShown = ids.empty() ? 0 : ids.front();
  numShown = static_cast<std::uint32_t>(ids.size());
}
