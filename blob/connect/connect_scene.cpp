// The scene's connectivity entries: the augmented-image cache, one engine run, the conversion of
// its output to blobs, and the replacement of the scene's blobs and settings once all succeeded.
#include "connect/connect_scene.h"
#include "messages.h"
#include "analysis/params_check.h"
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

// CacheGuard: empties the scene's augmented image unless the run succeeded, so a run abandoned
// half-way never leaves links into released pools for the next one to trust.
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

// augmentedFor(d, image): the cached augmented image refilled from image when it has image's
// geometry and no other scene shares it; otherwise a new one, which replaces the cached one.
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

kc_SceneResult connectRuns(const kcBlobSceneDescription& scene, kc_BSDData& d,
                           const kcRLEBuffer& image, const Settings& s) {
  CacheGuard guard(d);
  kc_ConnectivityAugmentedRLE& aug = augmentedFor(d, image);
  kc_ConnectOutput out;
  {
    kc_ConnectEngine engine(aug, static_cast<Column>(image.width()),
                            s.kind == kcBlobSceneDescription::eLabelled, engineCleanup(s.cleanup),
                            static_cast<PelCount>(s.cleanup == kcBlobSceneDescription::eNone ? 0 : s.minPels));
    engine.scan();
    out = engine.finish();
  }
  kc_SceneResult result = kf_BlobsFromOutput(scene, out, image);
  guard.done();
  return result;
}

// commit(scene, d, image, s, result): the only changes to the scene, after everything that can
// fail has run. replaceXform gives the strong guarantee; everything after it cannot fail.
void commit(kcBlobSceneDescription& scene, kc_BSDData& d, const kcRLEBuffer& image,
            const Settings& s, kc_SceneResult& result) {
  d.mutating();
  d.replaceXform(image.xformCache());
  d.connectivityKind = s.kind;
  d.scaleVal = s.scaleVal;
  d.cleanupKind = s.cleanup;
  if (s.cleanup != kcBlobSceneDescription::eNone) d.minPels = static_cast<std::int32_t>(s.minPels);
  d.sceneWindow = kcPelRect(image.offset(), image.width(), image.height());
  for (kcBlob& b : result.blobs) kc_SceneBuilder::record(b).shownStamp = d.viewCounter;
  kc_SceneBuilder::installBlobs(scene, result.blobs, result.topIds);
  kc_SceneBuilder::finishAnalysis(scene);
}

}  // namespace

kc_SceneResult kf_BlobsFromOutput(const kcBlobSceneDescription& scene, kc_ConnectOutput& out,
                                  const kcRLEBuffer& image) {
  kc_SceneResult result;
  result.blobs = kc_SceneBuilder::newBlobs(scene, out.blobs.size());
  for (std::size_t i = 0; i < out.blobs.size(); ++i) {
    kc_BlobOutput& o = out.blobs[i];
    kcBlob& b = result.blobs[i];
    kc_SceneBuilder::label(b) = o.label;
    const kcPelRect rect(o.left, o.top, o.width, o.height);
    kc_SceneBuilder::imageRect(b) = rect;
    kc_BlobRecord& r = kc_SceneBuilder::record(b);
    r.parent = o.parent;
    r.nextSibling = o.nextSibling;
    r.prevSibling = o.prevSibling;
    r.firstChild = o.firstChild;
    r.numChildren = o.numChildren;
    r.pelCount = o.pelCount;
    kcRLEBuffer& region = kc_SceneBuilder::region(b);
    if (o.chunks.empty()) region.becomeOwner(o.width, o.rowStarts, o.firstChunk);
    else region.becomeOwner(o.width, o.rowStarts, o.chunks, true);
    region.offset(rect.ul());
    region.copyXforms(image.xformCache());
  }
  result.topIds = std::move(out.topIds);
  return result;
}

void kcBlobSceneDescription::connectComponentsGreyScale(const kcRLEBuffer& image,
                                                        unsigned char scaleVal, bool wholeImage,
                                                        ConnectCleanup cleanup, long minPels) {
  mutating();
  const Settings s{wholeImage ? eWholeImageGreyScale : eGreyScale, scaleVal, cleanup, minPels};
  checkPreconditions(image, s);
  kc_BSDData& d = kc_SceneBuilder::data(*this);
  kc_SceneResult result =
      wholeImage ? kf_WholeImageBlobs(*this, image) : connectRuns(*this, d, image, s);
  commit(*this, d, image, s, result);
}

void kcBlobSceneDescription::connectComponentsLabelled(const kcRLEBuffer& image,
                                                       ConnectCleanup cleanup, long minPels) {
  mutating();
  const Settings s{eLabelled, 1, cleanup, minPels};
  checkPreconditions(image, s);
  kc_BSDData& d = kc_SceneBuilder::data(*this);
  kc_SceneResult result = connectRuns(*this, d, image, s);
  commit(*this, d, image, s, result);
}
