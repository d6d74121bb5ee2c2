// The scene's filtered and sorted views: the filter test, the order, when each view is rebuilt and
// how its links are written.
#include "store/bsd_data.h"
#include "store/view_sort.h"

#include <cstddef>
#include <numeric>

bool kc_BSDData::passesFilters(const kcBlob& blob) const {
  for (const kcBlobFilter& f : filters) {
    const double v = blob.measure(f.measure);
    // Written so that a value that is not a number fails an including filter and passes an
    // excluding one.
    const bool inRange = f.low <= v && v <= f.high;
    if (inRange == f.exclude) return false;
  }
  return true;
}

void kc_BSDData::selectShown(std::vector<BlobId>& ids) {
  if (!filters.empty()) {
    std::size_t kept = 0;
    for (BlobId id : ids)
      if (passesFilters(blobAt(id))) ids[kept++] = id;
    ids.resize(kept);
  }
  if (sortDisabled) return;
  std::vector<kc_ViewKey>& keys = scratch_.keys;
  keys.resize(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) keys[i] = {blobAt(ids[i]).measure(sortMeasure), ids[i]};
  kf_ViewSort(keys.data(), keys.size(), sortOrder == kcBlobSceneDescription::eAscending);
  for (std::size_t i = 0; i < ids.size(); ++i) ids[i] = keys[i].id;
}

void kc_BSDData::linkShown(const std::vector<BlobId>& candidates, const std::vector<BlobId>& ids) {
  // A candidate left out of the view has no neighbours in it: its links from an earlier view are
  // cleared, so a sibling query on it answers null rather than a blob of that earlier view.
  for (BlobId id : candidates) {
    kc_ShownLinks& s = store.shown(id);
    if (s.prevShown == 0 && s.nextShown == 0) continue;
    blobAt(id).mutating();
    s.prevShown = s.nextShown = 0;
  }
  for (std::size_t i = 0; i < ids.size(); ++i) {
    blobAt(ids[i]).mutating();
    kc_ShownLinks& s = store.shown(ids[i]);
    s.prevShown = i == 0 ? 0 : ids[i - 1];
    s.nextShown = i + 1 == ids.size() ? 0 : ids[i + 1];
  }
}

void kc_BSDData::updateShownIds() {
  if (shownIdsCounter == viewCounter) return;
  ++viewBuilds;
  std::vector<BlobId> ids(store.size());
  std::iota(ids.begin(), ids.end(), BlobId{1});
  selectShown(ids);
  mutating();
  shownIds.swap(ids);
  shownIdsCounter = viewCounter;
}

void kc_BSDData::updateShownTop() {
  if (shownTopCounter == viewCounter) return;
  ++viewBuilds;
  for (BlobId id : topIds) blobAt(id);  // every stored id is checked before any link is written
  std::vector<BlobId> ids(topIds);
  selectShown(ids);
  mutating();
  linkShown(topIds, ids);
  shownTopIds.swap(ids);
  shownTopCounter = viewCounter;
}

void kc_BSDData::childView(BlobId first, BlobId& firstShown, std::uint32_t& numShown) {
  ++viewBuilds;
  std::vector<BlobId>& candidates = scratch_.candidates;
  std::vector<BlobId>& ids = scratch_.ids;
  candidates.clear();
  for (BlobId id = first; id != 0; id = entryAt(id).nextSibling) {
    checkWalk(candidates.size() + 1);
    candidates.push_back(id);
  }
  ids.assign(candidates.begin(), candidates.end());
  selectShown(ids);
  linkShown(candidates, ids);
  firstShown = ids.empty() ? 0 : ids.front();
  numShown = static_cast<std::uint32_t>(ids.size());
}
