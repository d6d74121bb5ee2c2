// The blob's life cycle: construction, deep copy, re-initialisation, where its data live, the
// checked lookups its queries share, its invariant check; and the legacy kc_BlobData.
#include <blob/blob.h>

#include <blob/blobdesc.h>

#include "store/blob_parts.h"
#include "base/messages.h"
#include "store/bsd_data.h"

#include <foundation/archive.h>
#include <foundation/assert.h>
#include <foundation/persist.h>

static_assert(sizeof(kcBlob) == 24, "a scene holds a kcBlob per blob: keep it three words");

namespace {

// The line kc_BlobData's version errors report: a fixed number, kept in the error's message and
// archive form.
constexpr int kLegacyVersionLine = 1622;
constexpr kc_Persist::Level kLegacyLevel{0, "blob/blob", kLegacyVersionLine};

}  // namespace

// ---- where the data live ----

kc_BlobCopy::kc_BlobCopy(const kc_BlobCopy& other)
    : scene(other.scene),
      entry(other.entry),
      prevSibling(other.prevSibling),
      numChildren(other.numChildren),
      origin(other.origin),
      region(other.region),
      record(other.record),
      measures(other.measures ? std::make_unique<kc_BlobMeasures>(*other.measures) : nullptr),
      shown(other.shown),
      keep(other.keep) {}

kc_BlobRecord& kc_BlobParts::record() const {
  if (!store) return copy->record;
  if (!store->marks.empty()) kf_MakeRecords(*store, *data);
  return store->record(id);
}

kc_BlobMeasures& kc_BlobParts::measures() const {
  if (store) {
    record();
    return store->measures(id);
  }
  if (!copy->measures) copy->measures = std::make_unique<kc_BlobMeasures>();
  return *copy->measures;
}

const kc_BlobMeasures* kc_BlobParts::madeMeasures() const {
  if (!store) return copy->measures.get();
  if (!store->hasRecords()) return nullptr;
  const std::uint32_t index = store->records[id - 1].measures;
  return index == 0 ? nullptr : &store->extra[index - 1];
}

kcRLEBuffer kf_RegionView(kc_BlobStore& store, BlobId id) {
  kcRLEBuffer view;
  const unsigned char* first = store.rows(id);
  const kc_BlobEntry& e = store.entry(id);
  view.becomeView(e.width, e.height, first, store.runs->data() + store.runs->capacity(), store.runs);
  view.offset(store.imageRect(e).ul());
  return view;
}

kc_BlobParts kcBlob::parts() const {
  if (kc_BlobCopy* own = this->own()) {
    kc_BlobCopy& c = *own;
    const unsigned char* const* rows = c.region.pointToRat();
    return kc_BlobParts{c.entry, c.origin, rows ? rows[0] : nullptr, nullptr, &c,
                        static_cast<BlobId>(id_), nullptr};
  }
  kc_BSDData& d = data();
  kc_BlobStore& s = d.store;
  // A pointer kept past a new analysis with fewer blobs names no blob: refused, never read.
  if (static_cast<std::uint32_t>(id_) > s.size())
    throw kcBlobSceneDescription::BadId(kc_BlobMessages::kSceneDesc[kc_BlobMessages::eBadId]);
  kc_BlobEntry& e = s.entry(static_cast<BlobId>(id_));
  return kc_BlobParts{e, s.origin, nullptr, &s, nullptr, static_cast<BlobId>(id_), &d};
}

// copyData(): this blob's data as a copy of it holds them. A blob of a scene gives a view of its
// rows (with the scene's transform pair) unless its scene made one already.
std::unique_ptr<kc_BlobCopy> kcBlob::copyData() const {
  const kc_BlobParts p = parts();
  if (p.copy) return std::make_unique<kc_BlobCopy>(*p.copy);
  auto c = std::make_unique<kc_BlobCopy>();
  c->scene = scene();
  c->entry = p.entry;
  c->prevSibling = data().prevSiblingOf(p.id);
  c->numChildren = data().numChildrenOf(p.id);
  c->origin = p.origin;
  kf_MakeRecords(*p.store, data());
  if (p.store->hasRecords()) {
    c->record = p.store->records[p.id - 1];
    if (c->record.measures != 0)
      c->measures = std::make_unique<kc_BlobMeasures>(p.store->extra[c->record.measures - 1]);
    c->record.measures = 0;
  }
  if (c->measures && !c->measures->region.isDegenerate()) {
    c->region = std::move(c->measures->region);
    c->measures->region = kcRLEBuffer();
  } else {
    c->region = kf_RegionView(*p.store, p.id);
    c->region.copyXforms(data().xformCache);
  }
  if (!p.store->links.empty()) c->shown = p.store->links[p.id - 1];
  return c;
}

// ---- life cycle ----

kcBlob::kcBlob() { own(std::make_unique<kc_BlobCopy>()); }

kcBlob::kcBlob(const kcBlobSceneDescription* scene, std::int32_t id, InScene) noexcept
    : id_(id), where_(reinterpret_cast<std::uintptr_t>(scene)) {}

kcBlob::kcBlob(const kcBlob& other) : kcPersistent(other), id_(other.id_) { own(other.copyData()); }

kcBlob& kcBlob::operator=(const kcBlob& other) {
  if (this == &other) return *this;
  mutating();
  // Everything that can fail (the deep copy) happens before this blob changes.
  std::unique_ptr<kc_BlobCopy> copy = other.copyData();
  kcPersistent::operator=(other);
  id_ = other.id_;
  own(std::move(copy));
  return *this;
}

kcBlob::~kcBlob() { held(nullptr); }

const kcBlobSceneDescription* kcBlob::ownScene() const { return own()->scene; }

void kcBlob::own(std::unique_ptr<kc_BlobCopy> data) noexcept {
  held(nullptr);
  static_assert(alignof(kc_BlobCopy) >= 2, "the low bit of the data's address is free");
  where_ = reinterpret_cast<std::uintptr_t>(data.release()) | 1;
}

void kcBlob::held(const kcBlobSceneDescription* scene) noexcept {
  delete own();
  where_ = reinterpret_cast<std::uintptr_t>(scene);
}

void kcBlob::reInit() {
  mutating();
  const kc_BlobParts p = parts();
  kc_BlobEntry& e = p.entry;
  e.parent = e.nextSibling = e.firstChild = 0;
  e.pelCount = -1;
  e.flags = 0;  // the pel sums went with the count
  if (p.copy) {
    p.copy->prevSibling = 0;
    p.copy->numChildren = 0;
    p.copy->record = kc_BlobRecord{};
    p.copy->shown = kc_ShownLinks{};
    if (p.copy->measures) *p.copy->measures = kc_BlobMeasures{};
    return;
  }
  p.store->edited = true;  // the next analysis cannot put these entries back from the image
  if (!p.store->links.empty()) p.shown() = kc_ShownLinks{};
  if (!p.store->marks.empty()) p.store->marks[p.id - 1] = 0;
  data().makeTreeLinks();  // the others' stay as they were
  p.store->prevs[p.id - 1] = 0;
  p.store->counts[p.id - 1] = 0;
  if (!p.store->hasRecords()) return;
  kc_BlobRecord& r = p.record();
  const std::uint32_t measures = r.measures;
  r = kc_BlobRecord{};
  if (measures == 0) return;
  // The region may have been handed out: it stays.
  kc_BlobMeasures& m = p.store->extra[measures - 1];
  kcRLEBuffer region = std::move(m.region);
  m = kc_BlobMeasures{};
  m.region = std::move(region);
  r.measures = measures;
}

// ---- what every blob answers ----

unsigned char kcBlob::label() const { return parts().entry.label; }

kcPelRect kcBlob::imageBoundingBox() const {
  if (own() == nullptr && where_ != 0) {
    const kc_BlobStore& s = scene()->data_->store;
    const std::uint32_t i = static_cast<std::uint32_t>(id_) - 1;  // ids below 1 wrap above the size
    if (i < s.size()) return s.imageRect(s.entries[i]);
  }
  return generalBoundingBox();
}

[[gnu::noinline]] kcPelRect kcBlob::generalBoundingBox() const { return parts().imageRect(); }

const kcRLEBuffer& kcBlob::region() const {
  if (const kc_BlobCopy* c = own()) return c->region;
  const kc_BlobParts p = parts();
  kc_BlobMeasures& m = p.measures();
  if (m.region.isDegenerate()) {
    kcRLEBuffer view = kf_RegionView(*p.store, p.id);
    view.copyXforms(data().xformCache);
    giveNotice();
    m.region = std::move(view);
  }
  return m.region;
}

bool kcBlob::validId(long id) const {
  return scene() != nullptr && data().validId(id < 0 ? 0 : static_cast<std::uint64_t>(id));
}

kc_BSDData& kcBlob::data() const {
  const kcBlobSceneDescription* scene = this->scene();
  if (scene == nullptr)
    throw kcBlobSceneDescription::BadId(kc_BlobMessages::kSceneDesc[kc_BlobMessages::eBadId]);
  return *scene->data_;
}

const kcBlob* kcBlob::relative(std::uint32_t id) const {
  if (id == 0) return nullptr;
  return &data().blobAt(id);
}

void kcBlob::repInvariant() const {
  KC_ASSERT(scene() != nullptr, "a blob belongs to a scene");
  KC_ASSERT(validId(id_), "a blob's id is one of its scene's ids");
  const kc_BlobParts p = parts();
  KC_ASSERT(p.entry.width >= 1 && p.entry.height >= 1 && p.rows() != nullptr, "a blob's region is bound");
  const kcRLEBuffer& r = region();
  KC_ASSERT(r.width() == p.entry.width && r.height() == p.entry.height,
            "a blob's region has the size of its image rectangle");
  const kc_BlobEntry& e = p.entry;
  const BlobId prev = p.copy ? p.copy->prevSibling : data().prevSiblingOf(p.id);
  for (BlobId link : {e.parent, e.nextSibling, prev, e.firstChild})
    KC_ASSERT(link == 0 || validId(link), "a raw tree link names a blob of the scene");
  updateSiblingView();
  const kc_ShownLinks& s = p.shown();
  KC_ASSERT(s.nextShown == 0 || validId(s.nextShown), "a shown link names a blob of the scene");
  KC_ASSERT(s.prevShown == 0 || validId(s.prevShown), "a shown link names a blob of the scene");
  updateChildView();
  KC_ASSERT(s.firstShown == 0 || validId(s.firstShown), "a shown link names a blob of the scene");
}

// ---- kc_BlobData ----

kc_BlobData::~kc_BlobData() = default;

void kc_BlobData::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, kLegacyLevel, &kc_BlobData::serialize_);
}

void kc_BlobData::serialize_(kcArchive& ar, unsigned char) { kcPersistent::dispatchSerialize(ar); }

kcPersistent* kc_BlobData::make() { return new kc_BlobData(); }

kc_Instantiator kc_BlobData::sExemplar("kc_BlobData", typeid(kc_BlobData), &kc_BlobData::make);
