// The scene's connectivity entries: the cached engine state, one engine run into a spare store, and
// the replacement of the scene's blobs and settings once all succeeded.
#include "analysis/params_check.h"
#include "connect/connect_augmented.h"
#include "connect/connect_engine.h"
#include "connect/connect_rows.h"
#include "connect/connect_scene.h"
#include "messages.h"
#include "scene/scene_builder.h"

#include <foundation/assert.h>
#include <foundation/rlebuffer.h>

#include <utility>

namespace {

using Cleanup = kcBlobSceneDescription::ConnectCleanup;

// Settings of one analysis, checked before anything runs and written only at the end.
struct Settings {
  kcBlobSceneDescription::Analysis kind;
  unsigned char scaleVal;
  Cleanup cleanup;
  long minPels;
};

void checkPreconditions(const kcRLEBuffer& image, const Settings& s) {
  if (image.isDegenerate()) throw kcBlobDefs::BadParams(kc_BlobMessages::kTool[kc_BlobMessages::eImageUnbound]);
  kf_CheckConnectSettings(s.kind, s.scaleVal, s.cleanup, s.minPels);
}

// CacheGuard: empties the scene's cached engine state unless the run succeeded, so a run abandoned
// half-way never leaves half-built arrays for the next one to trust.
class CacheGuard {
 public:
  explicit CacheGuard(kc_BSDData& d) : d_(d) {}
  ~CacheGuard() {
    if (!done_) d_.augmentedCache.reset();
  }
  CacheGuard(const CacheGuard&) = delete;
  CacheGuard& operator=(const CacheGuard&) = delete;
  void done() { done_ = true; }

 private:
  kc_BSDData& d_;
  bool done_ = false;
};

// augmentedFor(d, image): the cached engine state, taken for image when it has image's geometry and
// no other scene shares it; otherwise a new one, which replaces the cached one.
kc_ConnectivityAugmentedRLE& augmentedFor(kc_BSDData& d, const kcRLEBuffer& image) {
  kcRepBase* held = d.augmentedCache.get();
  auto* aug = dynamic_cast<kc_ConnectivityAugmentedRLE*>(held);
  KC_ASSERT(held == nullptr || aug != nullptr, "the cached image is an augmented run image");
  if (aug != nullptr && aug->refCount() == 1 && aug->sameGeometry(image)) {
    aug->refill(image);
    return *aug;
  }
  aug = new kc_ConnectivityAugmentedRLE(image);
  d.augmentedCache.reset(aug);
  return *aug;
}

kc_CleanupKind engineCleanup(Cleanup c) {
  switch (c) {
    case kcBlobSceneDescription::ePrune: return kc_CleanupKind::ePrune;
    case kcBlobSceneDescription::eFill: return kc_CleanupKind::eFill;
    default: return kc_CleanupKind::eNone;
  }
}

// connectRuns(d, image, s): one engine run into the workspace's spare store and ids, which the
// commit swaps into the scene (the scene's previous ones become the spare for the next run).
kc_ConnectWorkspace& connectRuns(kc_BSDData& d, const kcRLEBuffer& image, const Settings& s) {
  CacheGuard guard(d);
  kc_ConnectWorkspace& ws = augmentedFor(d, image).workspace();
  const bool labelled = s.kind == kcBlobSceneDescription::eLabelled;
  const kc_CleanupKind cleanup = engineCleanup(s.cleanup);
  const auto minPels = static_cast<PelCount>(s.cleanup == kcBlobSceneDescription::eNone ? 0 : s.minPels);
  kc_ConnectEngine engine(image, ws, ws.spare, labelled, cleanup, minPels);
  engine.scan();
  engine.finish(ws.spareTopIds);
  ws.spare.rowMaker = kf_EngineRowMaker(image, labelled, cleanup, minPels);
  guard.done();
  return ws;
}

// commit(scene, d, image, s, store, topIds): the only changes to the scene, after everything that
// can fail has run: the blob objects are prepared and replaceXform gives the strong guarantee;
// everything after it cannot fail.
void commit(kcBlobSceneDescription& scene, kc_BSDData& d, const kcRLEBuffer& image,
            const Settings& s, kc_BlobStore& store, std::vector<BlobId>& topIds) {
  kc_BlobArray objects;
  if (d.blobObjects.capacity() < store.size()) objects.ensure(store.size(), &scene);
  d.mutating();
  d.replaceXform(image.xformCache());
  d.connectivityKind = s.kind;
  d.scaleVal = s.scaleVal;
  d.cleanupKind = s.cleanup;
  if (s.cleanup != kcBlobSceneDescription::eNone) d.minPels = static_cast<std::int32_t>(s.minPels);
  d.sceneWindow = kcPelRect(image.offset(), image.width(), image.height());
  d.install(store, topIds, objects);
  kc_SceneBuilder::finishAnalysis(scene);
}

}  // namespace

void kcBlobSceneDescription::connectComponentsGreyScale(const kcRLEBuffer& image,
                                                        unsigned char scaleVal, bool wholeImage,
                                                        ConnectCleanup cleanup, long minPels) {
  mutating();
  const Settings s{wholeImage ? eWholeImageGreyScale : eGreyScale, scaleVal, cleanup, minPels};
  checkPreconditions(image, s);
  kc_BSDData& d = kc_SceneBuilder::data(*this);
  if (wholeImage) {
    kc_BlobStore store;
    std::vector<BlobId> topIds;
    kf_WholeImageBlobs(image, store, topIds);
    commit(*this, d, image, s, store, topIds);
    return;
  }
  kc_ConnectWorkspace& ws = connectRuns(d, image, s);
  commit(*this, d, image, s, ws.spare, ws.spareTopIds);
}

void kcBlobSceneDescription::connectComponentsLabelled(const kcRLEBuffer& image,
                                                       ConnectCleanup cleanup, long minPels) {
  mutating();
  const Settings s{eLabelled, 1, cleanup, minPels};
  checkPreconditions(image, s);
  kc_BSDData& d = kc_SceneBuilder::data(*this);
  kc_ConnectWorkspace& ws = connectRuns(d, image, s);
  commit(*this, d, image, s, ws.spare, ws.spareTopIds);
}
