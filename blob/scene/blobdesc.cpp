// The scene description's life cycle, degenerate state, analysis settings and tree access.
#include <blob/blobdesc.h>

#include "store/bsd_data.h"
#include "base/messages.h"


namespace {

const wchar_t* sceneMessage(kc_BlobMessages::SceneDesc n) { return kc_BlobMessages::kSceneDesc[n]; }

}  // namespace

// ---- construction, copying, lifetime ----

kcBlobSceneDescription::kcBlobSceneDescription() { adopt(std::make_unique<kc_BSDData>()); }

kcBlobSceneDescription::kcBlobSceneDescription(const kcBlobSceneDescription& other)
    : kcPersistent(other), degenerate_(other.degenerate_) {
  adopt(std::make_unique<kc_BSDData>(*other.data_));
}

kcBlobSceneDescription& kcBlobSceneDescription::operator=(const kcBlobSceneDescription& other) {
  if (this == &other) return *this;
  mutating();
  auto copy = std::make_unique<kc_BSDData>(*other.data_);
  kcPersistent::operator=(other);
  degenerate_ = other.degenerate_;
  adopt(std::move(copy));
  return *this;
}

kcBlobSceneDescription::~kcBlobSceneDescription() = default;

void kcBlobSceneDescription::adopt(std::unique_ptr<kc_BSDData> data) {
  data->mutating();
  data->attach(this);
  data_ = std::move(data);
}

void kcBlobSceneDescription::reInit() {
  mutating();
  auto fresh = std::make_unique<kc_BSDData>();
  degenerate_ = true;
  adopt(std::move(fresh));
}

void kcBlobSceneDescription::mask(const kcRLEBuffer& m) {
  mutating();
  data_->mutating();
  data_->mask = m;
}

void kcBlobSceneDescription::throwDegenerate() { throw Degenerate(sceneMessage(kc_BlobMessages::eDegenerate)); }

// ---- analysis settings ----

kcBlobSceneDescription::Analysis kcBlobSceneDescription::connectivityKind() const {
  checkDegenerate();
  return data_->connectivityKind;
}

unsigned char kcBlobSceneDescription::scaleVal() const {
  checkDegenerate();
  if (data_->connectivityKind == eLabelled)
    throw kcBlobDefs::BadParams(sceneMessage(kc_BlobMessages::eScaleMeaningless));
  return data_->scaleVal;
}

kcBlobSceneDescription::ConnectCleanup kcBlobSceneDescription::cleanupKind() const {
  checkDegenerate();
  return data_->cleanupKind;
}

long kcBlobSceneDescription::minPels() const {
  checkDegenerate();
  if (data_->cleanupKind == eNone)
    throw kcBlobDefs::BadParams(sceneMessage(kc_BlobMessages::eMinPelsMeaningless));
  return data_->minPels;
}

kcPelRect kcBlobSceneDescription::sceneWindow() const {
  checkDegenerate();
  return data_->sceneWindow;
}

// ---- tree access ----

long kcBlobSceneDescription::numBlobs(bool shown) const {
  checkDegenerate();
  if (!shown) return static_cast<long>(data_->numBlobs());
  data_->updateShownIds();
  return static_cast<long>(data_->shownIds.size());
}

const kcBlob* kcBlobSceneDescription::getBlob(long id) const {
  checkDegenerate();
  if (id < 1) throw BadId(sceneMessage(kc_BlobMessages::eBadId));
  return &data_->blobAt(static_cast<std::uint64_t>(id));
}

const kcBlob* kcBlobSceneDescription::firstTop(bool shown) const {
  checkDegenerate();
  if (shown) data_->updateShownTop();
  const std::vector<BlobId>& ids = shown ? data_->shownTopIds : data_->topIds;
  return ids.empty() ? nullptr : &data_->blobAt(ids.front());
}

const kcBlob* kcBlobSceneDescription::lastTop(bool shown) const {
  checkDegenerate();
  if (shown) data_->updateShownTop();
  const std::vector<BlobId>& ids = shown ? data_->shownTopIds : data_->topIds;
  return ids.empty() ? nullptr : &data_->blobAt(ids.back());
}

std::vector<const kcBlob*> kcBlobSceneDescription::allBlobs(bool shown) const {
  checkDegenerate();
  std::vector<const kcBlob*> out;
  if (!shown) {
    const std::uint32_t n = data_->numBlobs();
    out.reserve(n);
    const kc_BlobArray& objects = data_->objects();
    for (std::uint32_t i = 0; i < n; ++i) out.push_back(&objects[i]);
    return out;
  }
  data_->updateShownIds();
  out.reserve(data_->shownIds.size());
  for (BlobId id : data_->shownIds) out.push_back(&data_->blobAt(id));
  return out;
}

void kcBlobSceneDescription::preCompute(kcBlob::Measure m, bool shown) const {
  checkDegenerate();
  kc_BSDData& d = *data_;
  if (!shown) {
    const kc_BlobArray& objects = d.objects();
    for (std::uint32_t i = 0; i < d.numBlobs(); ++i) objects[i].measure(m);
    return;
  }
  d.updateShownIds();
  for (BlobId id : d.shownIds) d.blobAt(id).measure(m);
}
