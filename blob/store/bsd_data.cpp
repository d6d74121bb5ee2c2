// The scene data: counters, checked blob lookup, back pointers and the replacement of the client
// transform pair.
#include "store/bsd_data.h"

#include "store/blob_parts.h"
#include "base/messages.h"

#include <foundation/assert.h>

#include <algorithm>

kc_BSDData::~kc_BSDData() = default;

void kc_BSDData::sanitizeCounters() {
  for (std::uint32_t* c : {&transformCounter, &matrixCounter, &viewCounter, &shownTopCounter,
                           &shownIdsCounter}) {
    if (*c == kNeverComputed) *c = 0;
  }
}

void kc_BSDData::throwBadId() {
  throw kcBlobSceneDescription::BadId(kc_BlobMessages::kSceneDesc[kc_BlobMessages::eBadId]);
}

void kc_BSDData::makeObjects() const { blobObjects.ensure(store.size(), scene); }

void kc_BSDData::dropObjectsIfShort() noexcept {
  if (blobObjects.capacity() >= store.size()) return;
  kc_BlobArray none;
  blobObjects.swap(none);
}

kc_BlobEntry& kc_BSDData::entryAt(std::uint64_t id) {
  if (!validId(id)) throwBadId();
  return store.entry(static_cast<BlobId>(id));
}

void kc_BSDData::makeTreeLinks() {
  makePrevs();
  makeCounts();
}

// Both walk the top list and every child list, each blob at most once: a list ends at a blob
// already reached (only a damaged tree has one).
void kc_BSDData::makePrevs() {
  if (store.prevs.size() == store.size()) return;
  std::vector<BlobId> prevs(store.size(), 0);
  const auto list = [&](BlobId first) {
    for (BlobId b = first; validId(b);) {
      const BlobId next = store.entry(b).nextSibling;
      if (!validId(next) || prevs[next - 1] != 0) break;
      prevs[next - 1] = b;
      b = next;
    }
  };
  if (!topIds.empty()) list(topIds.front());
  for (const kc_BlobEntry& e : store.entries) list(e.firstChild);
  store.prevs.swap(prevs);
}

void kc_BSDData::makeCounts() {
  if (store.counts.size() == store.size()) return;
  std::vector<std::uint32_t> counts(store.size(), 0);
  std::size_t steps = 0;  // sibling links followed in all: at most numBlobs() in a forest
  for (std::size_t i = 0; i < store.entries.size(); ++i) {
    std::uint32_t length = 0;
    for (BlobId b = store.entries[i].firstChild; validId(b) && steps <= store.size(); b = store.entry(b).nextSibling) {
      ++length;
      ++steps;
    }
    counts[i] = length;
  }
  store.counts.swap(counts);
}

BlobId kc_BSDData::prevSiblingOf(BlobId id) {
  makePrevs();
  return store.prevs[id - 1];
}

std::uint32_t kc_BSDData::numChildrenOf(BlobId id) {
  makeCounts();
  return store.counts[id - 1];
}

void kc_BSDData::checkWalk(std::size_t steps) const {
  KC_ASSERT(steps <= store.size(), "a list of sibling links ends within the number of blobs");
}

void kc_BSDData::attach(const kcBlobSceneDescription* owner) noexcept {
  // Blob objects already made are kept: loaded data were read into them, and the archive that
  // loaded them names them by address.
  blobObjects.attach(owner);
  scene = owner;
}

void kc_BSDData::install(kc_BlobStore& fresh, std::vector<BlobId>& ids) noexcept {
  mutating();
  store.swap(fresh);
  // The caches made on demand belong to the scene's current blobs: their storage follows the
  // current store, so only one set of it is kept.
  fresh.clear();
  if (store.records.empty()) store.records.swap(fresh.records);
  if (store.marks.empty()) store.marks.swap(fresh.marks);
  if (store.links.empty()) store.links.swap(fresh.links);
  topIds.swap(ids);
  dropObjectsIfShort();
}

namespace {

// The values derived from a transform pair.
struct Derived {
  bool isLinear = true;
  bool clientIsIdentity = true;
  bool clientMatrixIsIdentity = true;
  double xScale = 1.0;
  double yScale = 1.0;
  double areaScale = 1.0;
  double aspect = 1.0;
  double scale = 1.0;
};

Derived deriveFrom(const kc2XformCache& cache) {
  Derived v;
  v.isLinear = cache.isLinear();
  if (!v.isLinear) {
    v.clientIsIdentity = v.clientMatrixIsIdentity = false;
    v.xScale = v.yScale = v.areaScale = v.aspect = v.scale = 0.0;
    return v;
  }
  const kcXform<2> clientFromImage = cache.linearXformInverse().xform();
  const kcMatrix<2>& m = clientFromImage.matrix();
  v.clientIsIdentity = clientFromImage.isIdentity();
  v.clientMatrixIsIdentity = m.isIdentity();
  v.xScale = m.xScale();
  v.yScale = m.yScale();
  v.areaScale = clientFromImage.mapArea(1.0);
  v.aspect = m.aspect();
  v.scale = m.scale();
  return v;
}

// storeDerived(d, v): d takes the derived values v.
void storeDerived(kc_BSDData& d, const Derived& v) noexcept {
  d.xformIsLinear = v.isLinear;
  d.clientIsIdentity = v.clientIsIdentity;
  d.clientMatrixIsIdentity = v.clientMatrixIsIdentity;
  d.clientXScale = v.xScale;
  d.clientYScale = v.yScale;
  d.clientAreaScale = v.areaScale;
  d.clientAspect = v.aspect;
  d.clientScale = v.scale;
}

}  // namespace

void kc_BSDData::deriveXformValues() { storeDerived(*this, deriveFrom(xformCache)); }

bool kc_BSDData::replaceXform(const kc2XformCache& n, bool blobCaches) {
  if (n.xform().get() == xformCache.xform().get() ||
      n.xformInverse().get() == xformCache.xformInverse().get())
    return false;
  const bool bothLinear = n.isLinear() && xformCache.isLinear();
  bool sameMatrix = false;
  if (bothLinear) {
    const kc2XformLinear next = n.linearXform();
    const kc2XformLinear current = xformCache.linearXform();
    if (next == current) return false;
    sameMatrix = next.xform().matrix() == current.xform().matrix();
  }
  const Derived v = deriveFrom(n);
  kc2XformCache replacement(n);
  // Centres of mass marked as computed keep the value and stamp of the transform they were
  // computed under: they become records before it goes.
  const auto comMarked = [](std::uint8_t m) { return (m & kc_BlobRecord::kCenterOfMass) != 0; };
  if (blobCaches && std::any_of(store.marks.begin(), store.marks.end(), comMarked)) kf_MakeRecords(store, *this);

  mutating();
  advance(transformCounter);
  advance(viewCounter);
  if (!sameMatrix) advance(matrixCounter);
  xformCache = std::move(replacement);
  storeDerived(*this, v);
  return true;
}
