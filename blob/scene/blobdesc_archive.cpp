// The scene's archive form: the scene description and its data (settings, transform pair, blobs,
// views, counters), the older data forms still read, and the checks that keep a hostile archive
// from reaching a query.
#include <blob/blobdesc.h>

#include "object/blob_archive.h"
#include "store/blob_parts.h"
#include "store/bsd_data.h"

#include <foundation/archive.h>
#include <foundation/exception.h>
#include <foundation/geometry.h>
#include <foundation/persist.h>
#include <foundation/xform.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

constexpr unsigned char kSceneVersion = 0;
constexpr unsigned char kDataVersion = 3;
// The lines the scene's and its data's version errors report: fixed numbers, kept in the errors'
// messages and archive forms.
constexpr int kSceneVersionLine = 1161;
constexpr int kDataVersionLine = 1176;
constexpr kc_Persist::Level kSceneLevel{kSceneVersion, "blob/blobdesc", kSceneVersionLine};
constexpr kc_Persist::Level kDataLevel{kDataVersion, "blob/blobdesc", kDataVersionLine};
// The fewest archive bytes a blob takes (version bytes, scene tag, id, label, rectangle, region,
// record): a loose lower bound, so a count is checked before anything is made for it.
constexpr std::size_t kMinBlobBytes = 32;
// A filter: measure (4), low and high (8 each), exclude (1).
constexpr std::size_t kFilterBytes = 21;

long counterOut(std::uint32_t c) { return static_cast<long>(static_cast<std::int32_t>(c)); }
std::uint32_t counterIn(long v) { return static_cast<std::uint32_t>(v); }

// rowBytes(row): the bytes of a row of runs, terminator included.
std::size_t rowBytes(const unsigned char* row) {
  const unsigned char* end = row;
  while (end[1] != 0) end += 2;
  return static_cast<std::size_t>(end + 2 - row);
}

// isInitial(s): view links as a blob gets them before any view is built.
bool isInitial(const kc_ShownLinks& s) {
  return s.nextShown == 0 && s.prevShown == 0 && s.firstShown == 0 && s.numShown == 0 &&
         s.shownStamp == kNeverComputed;
}

// ids(ar, v): an id vector; loading refuses an id that is not positive (the range is checked
// once the blobs are known).
void ids(kcArchive& ar, std::vector<BlobId>& v) {
  std::vector<long> wide(v.begin(), v.end());
  kc_Persist::vector(ar, wide);
  if (ar.isStoring()) return;
  std::vector<BlobId> loaded;
  loaded.reserve(wide.size());
  for (long id : wide) {
    if (id < 1 || id > std::numeric_limits<std::int32_t>::max()) kcArchive::damaged();
    loaded.push_back(static_cast<BlobId>(id));
  }
  v.swap(loaded);
}

void filterVector(kcArchive& ar, std::vector<kcBlobFilter>& filters) {
  kc_Persist::version(ar, kc_Persist::kUnnamed);
  unsigned long count = filters.size();
  ar || count;
  if (ar.isLoading()) {
    ar.checkCount(count, kFilterBytes);
    filters.assign(count, kcBlobFilter{});
  }
  for (kcBlobFilter& f : filters) {
    kc_Persist::enumeration(ar, f.measure);
    ar || f.low || f.high || f.exclude;
  }
}

// TreeCheck: refuses links that do not make the blobs a forest hanging from the top level: the
// top list and every child list reached from it linked both ways, as long as recorded, each blob
// in one list only and naming as parent the blob whose list holds it. So every walk along
// siblings or up the parents ends. With alternate, a child whose label is zero exactly when its
// parent's is, is refused too (grey-scale scenes nest blobs and holes in turn).
class TreeCheck {
 public:
  TreeCheck(const kc_BlobStore& store, bool alternate)
      : e_(store.entries), prevs_(store.prevs), counts_(store.counts), seen_(store.entries.size() + 1, 0),
        alternate_(alternate) {}

  void run(const std::vector<BlobId>& topIds) {
    std::vector<BlobId> reached;
    for (std::size_t i = 0; i < topIds.size(); ++i) {
      const BlobId id = topIds[i];
      visit(id, 0);
      reached.push_back(id);
      if (prevs_[id - 1] != (i == 0 ? 0 : topIds[i - 1])) kcArchive::damaged();
      if (at(id).nextSibling != (i + 1 == topIds.size() ? 0 : topIds[i + 1])) kcArchive::damaged();
    }
    for (std::size_t k = 0; k < reached.size(); ++k) {
      const BlobId p = reached[k];
      std::uint32_t count = 0;
      BlobId prev = 0;
      for (BlobId id = at(p).firstChild; id != 0; id = at(id).nextSibling) {
        visit(id, p);
        reached.push_back(id);
        if (prevs_[id - 1] != prev) kcArchive::damaged();
        prev = id;
        ++count;
      }
      if (count != counts_[p - 1]) kcArchive::damaged();
    }
    for (BlobId id = 1; id <= e_.size(); ++id)
      if (!seen_[id]) kcArchive::damaged();
  }

 private:
  const kc_BlobEntry& at(BlobId id) const { return e_[id - 1]; }
  void visit(BlobId id, BlobId parent) {
    if (id < 1 || id > e_.size() || seen_[id] || at(id).parent != parent) kcArchive::damaged();
    if (alternate_ && parent != 0 && (at(id).label == 0) == (at(parent).label == 0)) kcArchive::damaged();
    seen_[id] = 1;
  }

  const kc_EntryArray& e_;
  const std::vector<BlobId>& prevs_;
  const std::vector<std::uint32_t>& counts_;
  std::vector<unsigned char> seen_;
  bool alternate_;
};

// ViewCheck: whether the view links that their stamps call current match the lists they stand
// for: each shown list a chain of distinct members of its family linked both ways, as long as
// recorded, and every other member of the family without shown neighbours.
class ViewCheck {
 public:
  explicit ViewCheck(const kc_BSDData& d) : d_(d), inView_(d.store.size() + 1, 0) {}

  bool run() const {
    if (d_.shownTopCounter == d_.viewCounter && !topFits()) return false;
    for (BlobId p = 1; p <= d_.store.size(); ++p)
      if (shown(p).shownStamp == d_.viewCounter && !childrenFit(p)) return false;
    return true;
  }

 private:
  kc_ShownLinks shown(BlobId id) const { return d_.store.links.empty() ? kc_ShownLinks{} : d_.store.links[id - 1]; }
  const kc_BlobEntry& entry(BlobId id) const { return d_.store.entry(id); }

  bool topFits() const {
    const std::vector<BlobId>& v = d_.shownTopIds;
    for (std::size_t i = 0; i < v.size(); ++i) {
      if (entry(v[i]).parent != 0 || inView_[v[i]]) return false;
      inView_[v[i]] = 1;
      if (shown(v[i]).prevShown != (i == 0 ? 0 : v[i - 1])) return false;
      if (shown(v[i]).nextShown != (i + 1 == v.size() ? 0 : v[i + 1])) return false;
    }
    for (BlobId id : d_.topIds)
      if (!inView_[id] && (shown(id).prevShown != 0 || shown(id).nextShown != 0)) return false;
    return true;
  }

  bool childrenFit(BlobId p) const {
    std::uint32_t count = 0;
    BlobId prev = 0;
    for (BlobId id = shown(p).firstShown; id != 0; id = shown(id).nextShown) {
      if (entry(id).parent != p || inView_[id] || shown(id).prevShown != prev) return false;
      inView_[id] = 1;
      prev = id;
      ++count;
    }
    if (count != shown(p).numShown) return false;
    for (BlobId id = entry(p).firstChild; id != 0; id = entry(id).nextSibling)
      if (!inView_[id] && (shown(id).prevShown != 0 || shown(id).nextShown != 0)) return false;
    return true;
  }

  const kc_BSDData& d_;
  mutable std::vector<unsigned char> inView_;
};

// placeRuns(store): the rows of the regions loaded into the measure caches go into the store's
// run bytes; each region becomes a view on them and keeps the transform pair it was archived with.
// Refuses a region whose position relative to the store's origin does not fit 32 bits.
void placeRuns(kc_BlobStore& store) {
  std::size_t total = 0;
  for (std::size_t i = 0; i < store.extra.size(); ++i) {
    const kcRLEBuffer& region = store.extra[i].region;
    for (long y = 0; y < region.height(); ++y) total += rowBytes(region.pointToRow(y));
  }
  unsigned char* bytes = store.reserveRuns(total);
  store.rowOffsets.resize(store.size());
  std::size_t used = 0;
  constexpr long kMin = std::numeric_limits<std::int32_t>::min(), kMax = std::numeric_limits<std::int32_t>::max();
  for (std::uint32_t i = 0; i < store.size(); ++i) {
    const kcRLEBuffer& region = store.extra[i].region;
    kc_BlobEntry& e = store.entries[i];
    const long left = region.offset().x() - store.origin.x();
    const long top = region.offset().y() - store.origin.y();
    if (left < kMin || left > kMax || top < kMin || top > kMax) kcArchive::damaged();
    store.rowOffsets[i] = used;
    e.left = static_cast<std::int32_t>(left);
    e.top = static_cast<std::int32_t>(top);
    for (long y = 0; y < region.height(); ++y) {
      const unsigned char* row = region.pointToRow(y);
      const std::size_t size = rowBytes(row);
      std::memcpy(bytes + used, row, size);
      used += size;
    }
  }
  for (std::uint32_t i = 0; i < store.size(); ++i) {
    kcRLEBuffer& region = store.extra[i].region;
    kcRLEBuffer view = kf_RegionView(store, i + 1);
    view.copyXforms(region.xformCache());
    region = std::move(view);  // the same object, which the archive names
  }
}

}  // namespace

// ---- kcBlobSceneDescription

kc_Instantiator kcBlobSceneDescription::sExemplar{"kcBlobSceneDescription", typeid(kcBlobSceneDescription),
                                                  &kcBlobSceneDescription::make};

kcPersistent* kcBlobSceneDescription::make() { return new kcBlobSceneDescription(); }

void kcBlobSceneDescription::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, kSceneLevel, &kcBlobSceneDescription::serialize_);
}

void kcBlobSceneDescription::serialize_(kcArchive& ar, unsigned char) {
  kcPersistent::dispatchSerialize(ar);
  if (ar.isStoring()) {
    bool degenerate = degenerate_;
    ar || degenerate;
    kc_Persist::ownedPointer(ar, data_);
    return;
  }
  bool degenerate = true;
  ar || degenerate;
  std::unique_ptr<kc_BSDData> loaded;
  kc_Persist::ownedPointer(ar, loaded);
  if (!loaded) {
    // No data: a degenerate scene with default data, never a scene without data.
    loaded = std::make_unique<kc_BSDData>();
    degenerate = true;
  }
  // An analysed scene answers its settings and draws from its window.
  if (!degenerate && loaded->sceneWindow.isEmpty()) kcArchive::damaged();
  mutating();
  degenerate_ = degenerate;
  adopt(std::move(loaded));
}

// ---- kc_BSDData

kc_Instantiator kc_BSDData::sExemplar{"kc_BSDData", typeid(kc_BSDData), &kc_BSDData::make};

kcPersistent* kc_BSDData::make() { return new kc_BSDData(); }

void kc_BSDData::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, kDataLevel, &kc_BSDData::serialize_);
}

void kc_BSDData::serialize_(kcArchive& ar, unsigned char version) {
  kcPersistent::dispatchSerialize(ar);
  if (ar.isLoading()) mutating();
  archiveSettings(ar, version);
  if (ar.isStoring()) {
    storeBlobs(ar);
  } else {
    loadBlobs(ar);
  }
  archiveViews(ar, version);
  if (ar.isStoring()) return;
  augmentedCache = kcPtrHandle<kcRepBase>();
  checkLoaded();
}

void kc_BSDData::archiveSettings(kcArchive& ar, unsigned char version) {
  kc_Persist::enumeration(ar, connectivityKind);
  ar || scaleVal;
  kc_Persist::enumeration(ar, cleanupKind);
  long minimum = minPels;
  ar || minimum;
  minPels = static_cast<std::int32_t>(minimum);
  kf_PersistenceHelper<long>(ar, sceneWindow);
  if (version >= 1) {
    ar || xformCache;
    ar || xformIsLinear;
  } else {
    kcXform<2> clientFromImage;
    ar || clientFromImage;
    try {
      xformCache.xformInverse(kc2XformLinear(clientFromImage));
    } catch (const kcBadArgument&) {
      throw kcArchive::Damaged(L"The archived transform cannot be inverted.");
    }
    xformIsLinear = true;
  }
  ar || clientIsIdentity || clientMatrixIsIdentity;
  ar || clientXScale || clientYScale || clientAreaScale || clientAspect || clientScale;
  long transform = counterOut(transformCounter);
  long matrix = counterOut(matrixCounter);
  ar || transform || matrix;
  transformCounter = counterIn(transform);
  matrixCounter = counterIn(matrix);
}

void kc_BSDData::archiveViews(kcArchive& ar, unsigned char version) {
  ids(ar, shownIds);
  ids(ar, topIds);
  ids(ar, shownTopIds);
  int view = static_cast<int>(viewCounter);
  int shownTop = static_cast<int>(shownTopCounter);
  int shownAll = static_cast<int>(shownIdsCounter);
  ar || view || shownTop || shownAll;
  viewCounter = static_cast<std::uint32_t>(view);
  shownTopCounter = static_cast<std::uint32_t>(shownTop);
  shownIdsCounter = static_cast<std::uint32_t>(shownAll);
  filterVector(ar, filters);
  ar || sortSet;
  if (version >= 2) {
    ar || sortDisabled;
  } else {
    sortDisabled = false;
  }
  kc_Persist::enumeration(ar, sortMeasure);
  kc_Persist::enumeration(ar, sortOrder);
  ar || extremaExcludeArea || extremaAreaIsClient || extremaAreaIsPercent;
  ar || extremaAngle;
  if (version >= 3) {
    ar || mask;
  } else {
    mask = kcRLEBuffer();
  }
}

void kc_BSDData::storeBlobs(kcArchive& ar) {
  kc_Persist::version(ar, kc_Persist::kUnnamed);
  unsigned long count = store.size();
  ar || count;
  kc_BlobArray& blobs = objects();
  storingBlobs = true;
  try {
    for (std::uint32_t i = 0; i < store.size(); ++i) ar || blobs[i];
  } catch (...) {
    storingBlobs = false;
    throw;
  }
  storingBlobs = false;
}

void kc_BSDData::loadBlobs(kcArchive& ar) {
  kc_Persist::version(ar, kc_Persist::kUnnamed);
  unsigned long count = 0;
  ar || count;
  ar.checkCount(count, kMinBlobBytes);
  if (count > static_cast<unsigned long>(std::numeric_limits<std::int32_t>::max())) kcArchive::damaged();
  const auto n = static_cast<std::uint32_t>(count);

  kc_BlobStore fresh;
  fresh.origin = sceneWindow.ul();
  fresh.entries.resize(n);
  fresh.prevs.resize(n);
  fresh.counts.resize(n);
  fresh.records.resize(n);
  std::vector<kc_ShownLinks> links(n);
  kc_BlobArray objects;
  objects.ensure(n, nullptr);
  legacyBlobs.clear();
  legacyBlobs.reserve(n);
  for (BlobId id = 1; id <= n; ++id) loadBlob(ar, objects[id - 1], id, fresh, links[id - 1]);
  if (!std::all_of(links.begin(), links.end(), isInitial)) fresh.links.swap(links);
  placeRuns(fresh);
  store.swap(fresh);
  blobObjects.swap(objects);
}

void kc_BSDData::loadBlob(kcArchive& ar, kcBlob& blob, BlobId id, kc_BlobStore& fresh, kc_ShownLinks& links) {
  // The blob is read in place into the object that stays, through a temporary copy of its own
  // that receives what the store then takes over; its region is read into its measure caches.
  kc_BlobMeasures& m = fresh.extra.emplace_back();
  kc_BlobLoadTarget target{connectivityKind, fresh.size(), id, &m, &retired};
  blob.own(std::make_unique<kc_BlobCopy>());
  kc_BlobCopy& loaded = *blob.own();
  loaded.loadTarget = &target;
  ar || blob;
  fresh.entries[id - 1] = loaded.entry;
  fresh.prevs[id - 1] = loaded.prevSibling;
  fresh.counts[id - 1] = loaded.numChildren;
  fresh.records[id - 1] = loaded.record;
  fresh.records[id - 1].measures = id;
  links = loaded.shown;
  legacyBlobs.push_back(target.legacy);
  blob.held(nullptr);
}

void kc_BSDData::checkLoaded() {
  using Scene = kcBlobSceneDescription;
  if (connectivityKind < Scene::eGreyScale || connectivityKind > Scene::eWholeImageGreyScale) kcArchive::damaged();
  if (cleanupKind < Scene::eNone || cleanupKind > Scene::eFill) kcArchive::damaged();
  if (cleanupKind != Scene::eNone && minPels < 0) kcArchive::damaged();
  if (sortOrder != Scene::eDescending && sortOrder != Scene::eAscending) kcArchive::damaged();
  if (sortSet && sortDisabled) kcArchive::damaged();
  if (!(extremaExcludeArea >= 0.0) || (extremaAreaIsPercent && !(extremaExcludeArea < 50.0))) kcArchive::damaged();
  std::vector<std::int32_t> measures;
  for (const kcBlobFilter& f : filters) {
    if (!(f.low <= f.high)) kcArchive::damaged();
    measures.push_back(f.measure);
  }
  std::sort(measures.begin(), measures.end());
  if (std::adjacent_find(measures.begin(), measures.end()) != measures.end()) kcArchive::damaged();
  if (numBlobs() > 0) {
    // Blobs are measured: the scale value divides weighted areas.
    if (connectivityKind != Scene::eLabelled && scaleVal == 0) kcArchive::damaged();
  }
  for (const std::vector<BlobId>* list : {&shownIds, &topIds, &shownTopIds})
    for (BlobId id : *list)
      if (!validId(id)) kcArchive::damaged();
  linkOldestBlobs();
  TreeCheck(store, connectivityKind == Scene::eGreyScale).run(topIds);
  sanitizeCounters();
  if (!ViewCheck(*this).run()) dropViews();
  deriveXformValues();
}

void kc_BSDData::linkOldestBlobs() {
  if (std::find(legacyBlobs.begin(), legacyBlobs.end(), true) == legacyBlobs.end()) return;
  // Their links are lost: those outside the top list join it, and its members read in that form
  // are linked along it, so that the tree is whole again (and stores and loads as such).
  std::vector<bool> top(numBlobs() + 1, false);
  for (BlobId id : topIds) top[id] = true;
  for (BlobId id = 1; id <= numBlobs(); ++id)
    if (legacyBlobs[id - 1] && !top[id]) topIds.push_back(id);
  for (std::size_t i = 0; i < topIds.size(); ++i) {
    if (!legacyBlobs[topIds[i] - 1]) continue;
    kc_BlobEntry& e = store.entry(topIds[i]);
    store.prevs[topIds[i] - 1] = i == 0 ? 0 : topIds[i - 1];
    e.nextSibling = i + 1 == topIds.size() ? 0 : topIds[i + 1];
  }
  legacyBlobs.clear();
}

void kc_BSDData::dropViews() {
  for (kc_ShownLinks& s : store.links) s.shownStamp = kNeverComputed;
  const std::uint32_t stale = viewCounter == 0 ? 1 : 0;
  shownTopCounter = shownIdsCounter = stale;
}
