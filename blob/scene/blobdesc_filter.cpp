// The scene's filter and sort settings: validation, state transitions and view-counter moves.
#include <blob/blobdesc.h>

#include "store/bsd_data.h"
#include "base/messages.h"

#include <algorithm>

namespace {

const wchar_t* sceneMessage(kc_BlobMessages::SceneDesc n) { return kc_BlobMessages::kSceneDesc[n]; }

// findFilter(filters, m): the filter on m, or end.
std::vector<kcBlobFilter>::iterator findFilter(std::vector<kcBlobFilter>& filters, kcBlob::Measure m) {
  return std::find_if(filters.begin(), filters.end(),
                      [m](const kcBlobFilter& f) { return f.measure == m; });
}

}  // namespace

void kcBlobSceneDescription::setFilter(kcBlob::Measure m, double low, double high, bool exclude) {
  kc_BSDData& d = *data_;
  if (findFilter(d.filters, m) != d.filters.end())
    throw DuplicateFilter(sceneMessage(kc_BlobMessages::eDuplicateFilter));
  // Written so that a limit that is not a number fails too.
  if (!(low <= high)) throw kcBlobDefs::BadParams(sceneMessage(kc_BlobMessages::eFilterLimits));
  mutating();
  d.mutating();
  d.filters.push_back(kcBlobFilter{m, low, high, exclude});
  kc_BSDData::advance(d.viewCounter);
}

void kcBlobSceneDescription::unSetFilter(kcBlob::Measure m) {
  mutating();
  kc_BSDData& d = *data_;
  auto it = findFilter(d.filters, m);
  if (it == d.filters.end()) return;
  d.mutating();
  d.filters.erase(it);
  kc_BSDData::advance(d.viewCounter);
}

void kcBlobSceneDescription::clearFilters() {
  kc_BSDData& d = *data_;
  if (d.filters.empty()) return;
  mutating();
  d.mutating();
  d.filters.clear();
  kc_BSDData::advance(d.viewCounter);
}

long kcBlobSceneDescription::numFilters() const { return static_cast<long>(data_->filters.size()); }

bool kcBlobSceneDescription::getFilter(kcBlob::Measure m, double& low, double& high,
                                       bool& exclude) const {
  auto it = findFilter(data_->filters, m);
  if (it == data_->filters.end()) return false;
  low = it->low;
  high = it->high;
  exclude = it->exclude;
  return true;
}

void kcBlobSceneDescription::getFilter(long index, kcBlob::Measure& m, double& low, double& high,
                                       bool& exclude) const {
  if (index < 0 || index >= numFilters())
    throw kcBlobDefs::BadParams(sceneMessage(kc_BlobMessages::eBadFilterIndex));
  const kcBlobFilter& f = data_->filters[static_cast<std::size_t>(index)];
  m = f.measure;
  low = f.low;
  high = f.high;
  exclude = f.exclude;
}

void kcBlobSceneDescription::setSort(kcBlob::Measure m, SortOrder order) {
  // Every order but eAscending sorts descending; storing it so keeps sortOrder 0 or 1.
  const SortOrder stored = order == eAscending ? eAscending : eDescending;
  kc_BSDData& d = *data_;
  if (d.sortSet && d.sortMeasure == m && d.sortOrder == stored) return;
  mutating();
  d.mutating();
  d.sortSet = true;
  d.sortDisabled = false;
  d.sortMeasure = m;
  d.sortOrder = stored;
  kc_BSDData::advance(d.viewCounter);
}

bool kcBlobSceneDescription::getSort(kcBlob::Measure& m, SortOrder& order) const {
  if (!data_->sortSet) return false;
  m = data_->sortMeasure;
  order = data_->sortOrder;
  return true;
}

void kcBlobSceneDescription::disableSort() {
  kc_BSDData& d = *data_;
  if (d.sortDisabled) return;
  mutating();
  d.mutating();
  d.sortSet = false;
  d.sortDisabled = true;
  kc_BSDData::advance(d.viewCounter);
}

void kcBlobSceneDescription::clearSort() {
  kc_BSDData& d = *data_;
  if (!d.sortSet) return;
  mutating();
  d.mutating();
  d.sortSet = false;
  kc_BSDData::advance(d.viewCounter);
}
