// The blob's life cycle: construction, deep copy, re-initialisation, the checked lookups its
// queries share, its invariant check; and the legacy kc_BlobData.
#include <blob/blob.h>

#include "measure/blob_record.h"
#include <blob/blobdesc.h>
#include "scene/bsd_data.h"
#include "messages.h"

#include <foundation/archive.h>
#include <foundation/assert.h>

kcBlob::kcBlob() : record_(std::make_unique<kc_BlobRecord>()) { record_->owner = this; }

kcBlob::kcBlob(const kcBlob& other)
    : kcPersistent(other),
      scene_(other.scene_),
      id_(other.id_),
      label_(other.label_),
      imageRect_(other.imageRect_),
      region_(other.region_),
      record_(std::make_unique<kc_BlobRecord>(*other.record_)) {
  record_->setOwner(this);
}

kcBlob& kcBlob::operator=(const kcBlob& other) {
  if (this == &other) return *this;
  mutating();
  // Everything that can fail (the record's deep copy) happens before this blob changes.
  kc_BlobRecord copy(*other.record_);
  copy.setOwner(this);
  kcRLEBuffer region(other.region_);
  kcPersistent::operator=(other);
  scene_ = other.scene_;
  id_ = other.id_;
  label_ = other.label_;
  imageRect_ = other.imageRect_;
  region_ = std::move(region);
  *record_ = std::move(copy);
  return *this;
}

kcBlob::~kcBlob() = default;

void kcBlob::reInit() {
  mutating();
  record_->reset();
}

bool kcBlob::validId(long id) const { return scene_ != nullptr && data().validId(id < 0 ? 0 : id); }

kc_BSDData& kcBlob::data() const {
  if (scene_ == nullptr)
    throw kcBlobSceneDescription::BadId(kc_BlobMessages::kSceneDesc[kc_BlobMessages::eBadId]);
  return *scene_->data_;
}

const kcBlob* kcBlob::relative(std::uint32_t id) const {
  if (id == 0) return nullptr;
  return &data().blobAt(id);
}

void kcBlob::giveNotice() const {
  // Blobs live in their scene's non-const array; const queries only fill caches.
  const_cast<kcBlob*>(this)->mutating();
}

void kcBlob::repInvariant() const {
  KC_ASSERT(scene_ != nullptr, "a blob belongs to a scene");
  KC_ASSERT(validId(id_), "a blob's id is one of its scene's ids");
  KC_ASSERT(!region_.isDegenerate(), "a blob's region is bound");
  KC_ASSERT(region_.width() == imageRect_.width() && region_.height() == imageRect_.height(),
            "a blob's region has the size of its image rectangle");
  KC_ASSERT(record_ != nullptr, "a blob has a record");
  KC_ASSERT(record_->owner == this, "a blob's record names the blob as owner");
  const kc_BlobRecord& r = *record_;
  for (BlobId link : {r.parent, r.nextSibling, r.prevSibling, r.firstChild})
    KC_ASSERT(link == 0 || validId(link), "a raw tree link names a blob of the scene");
  updateSiblingView();
  KC_ASSERT(r.nextShown == 0 || validId(r.nextShown), "a shown link names a blob of the scene");
  KC_ASSERT(r.prevShown == 0 || validId(r.prevShown), "a shown link names a blob of the scene");
  updateChildView();
  KC_ASSERT(r.firstShown == 0 || validId(r.firstShown), "a shown link names a blob of the scene");
}

// ---- kc_BlobData ----

kc_BlobData::~kc_BlobData() = default;

void kc_BlobData::dispatchSerialize(kcArchive& ar) {
  if (haveVisited(ar, this, sizeof(kc_BlobData))) return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  setVisited(ar, this, sizeof(kc_BlobData));
}

void kc_BlobData::serialize_(kcArchive& ar, unsigned char version) {
  if (version != 0) throw kcArchive::UnknownVersion("blob/blob", 1622);
  kcPersistent::dispatchSerialize(ar);
}

kcPersistent* kc_BlobData::make() { return new kc_BlobData(); }

kc_Instantiator kc_BlobData::sExemplar("kc_BlobData", typeid(kc_BlobData), &kc_BlobData::make);
