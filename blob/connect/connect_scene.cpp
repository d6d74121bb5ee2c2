// The scene's connectivity entries: the cached engine state, one engine run written over the
// scene's blobs (put back when the analysis fails) or aside, and the replacement of the scene's
// settings once all succeeded.
#include "connect/connect_settings.h"
#include "connect/connect_augmented.h"
#include "connect/connect_bands.h"
#include "connect/connect_engine.h"
#include "connect/connect_rows.h"
#include "connect/connect_scene.h"
#include "parallel/work_pool.h"
#include "base/messages.h"
#include "scene/scene_builder.h"

#include <foundation/assert.h>
#include <foundation/rlebuffer.h>

#include <algorithm>
#include <new>
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

// augmentedFor(d, image): the cached engine state, taken for image when it has image's geometry and
// no other scene shares it; otherwise a new one, which replaces the cached one and takes its
// workspace when no other scene shares that.
kc_ConnectivityAugmentedRLE& augmentedFor(kc_BSDData& d, const kcRLEBuffer& image) {
  kcRepBase* held = d.augmentedCache.get();
  auto* aug = dynamic_cast<kc_ConnectivityAugmentedRLE*>(held);
  KC_ASSERT(held == nullptr || aug != nullptr, "the cached image is an augmented run image");
  const bool own = aug != nullptr && aug->refCount() == 1;
  if (own && aug->sameGeometry(image)) {
    aug->refill(image);
    return *aug;
  }
  aug = own ? new kc_ConnectivityAugmentedRLE(image, std::move(*aug)) : new kc_ConnectivityAugmentedRLE(image);
  d.augmentedCache.reset(aug);
  return *aug;
}

kc_EngineSettings engineSettings(const Settings& s) {
  kc_EngineSettings e;
  e.labelled = s.kind == kcBlobSceneDescription::eLabelled;
  e.cleanup = s.cleanup == kcBlobSceneDescription::ePrune  ? kc_CleanupKind::ePrune
              : s.cleanup == kcBlobSceneDescription::eFill ? kc_CleanupKind::eFill
                                                           : kc_CleanupKind::eNone;
  e.minPels = static_cast<PelCount>(s.cleanup == kcBlobSceneDescription::eNone ? 0 : s.minPels);
  return e;
}

// commitSettings(scene, d, image, s): the changes to the scene that cannot fail, once the blobs
// are in its store: settings, window, blob objects, the end of the analysis.
void commitSettings(kcBlobSceneDescription& scene, kc_BSDData& d, const kcRLEBuffer& image, const Settings& s) noexcept {
  d.connectivityKind = s.kind;
  d.scaleVal = s.scaleVal;
  d.cleanupKind = s.cleanup;
  if (s.cleanup != kcBlobSceneDescription::eNone) d.minPels = static_cast<std::int32_t>(s.minPels);
  d.sceneWindow = kcPelRect(image.offset(), image.width(), image.height());
  d.dropObjectsIfShort();
  kc_SceneBuilder::finishAnalysis(scene);
}

// fit(v, needed): an array the analysis grew well past the needed elements (its size, or more when
// the analysis held more at some moment) is cut to that, so that the memory kept follows the
// images analysed. Optional: nothing happens when memory is short.
template <class T>
void fit(std::vector<T>& v, std::size_t needed) noexcept {
  needed = std::max(needed, v.size());
  if (v.capacity() <= needed + needed / 4 + 64) return;
  try {
    std::vector<T> exact;
    exact.reserve(needed);
    exact.assign(v.begin(), v.end());
    v.swap(exact);
  } catch (const std::bad_alloc&) {
  }
}

// connectRuns(scene, d, image, s): one engine run and the commit. When the scene's blobs came from
// the engine they are written over in place, and put back should anything fail before the commit
// (the run, the blob objects, the row maker, the transform); otherwise the run goes to a store
// aside that the commit swaps in. A failure also empties the cached engine state.
// threads: more than one runs grey-scale connectivity in bands, and labelled connectivity's
// finishing pass on that many; the next analysis of blobs made so runs aside (kf_CanRestore). The
// store aside is the workspace's: after a run in bands it keeps the arrays of the blobs it took
// out for the next run aside, and the workspace the top-level ids they had (analysing again in
// bands touches no fresh pages: 60 bytes per blob kept between the calls); otherwise it is let go.
void connectRuns(kcBlobSceneDescription& scene, kc_BSDData& d, const kcRLEBuffer& image, const Settings& s,
                 unsigned threads = 1) {
  const kc_EngineSettings settings = engineSettings(s);
  std::shared_ptr<const kc_RowMaker> previous = d.store.rowMaker;  // kept alive for putting back
  const bool inPlace = kf_CanRestore(previous.get()) && !d.store.edited;
  std::vector<BlobId> asideTopIds;
  std::vector<BlobId>& topIds = inPlace ? d.topIds : asideTopIds;
  kc_ConnectWorkspace* ws = nullptr;
  bool written = false;  // the scene's blobs were written over
  std::size_t retired = 0;
  const bool banded = threads > 1 && !settings.labelled;
  const auto needs = [&] {  // what restoring these blobs needs reserved
    kc_WorkspaceNeeds n = kf_WorkspaceNeeds(*ws);
    n.oneThread = banded ? kf_Bands(image.width(), image.height(), threads) <= 1 : threads <= 1;
    return n;
  };
  try {
    ws = &augmentedFor(d, image).workspace();
    if (!inPlace) asideTopIds.swap(ws->asideTopIds);
    if (inPlace) ws->aside.reset();
    else if (!ws->aside) ws->aside = std::make_unique<kc_BlobStore>();
    kc_BlobStore& out = inPlace ? d.store : *ws->aside;
    if (inPlace) kf_ReserveForRestore(*previous, *ws);
    written = inPlace;
    if (banded) {
      retired = kf_ConnectInBands(image, *ws, out, topIds, threads, settings.cleanup, settings.minPels);
    } else {
      kc_ConnectEngine engine(image, *ws, out, settings.labelled, settings.cleanup, settings.minPels);
      engine.scan();
      engine.finish(topIds, threads);
      retired = engine.retired();
    }
    std::shared_ptr<const kc_RowMaker> maker =
        kf_EngineRowMaker(ws->makers, image, settings, needs());
    d.mutating();
    d.replaceXform(image.xformCache(), false);  // the last step that can fail
    if (!inPlace) {
      d.store.takeBlobs(out);
      d.topIds.swap(asideTopIds);
      out.entries.clear();  // the capacity stays for the next run aside, after a run in bands
      out.prevs.clear();
      out.counts.clear();
      if (banded) ws->asideTopIds.swap(asideTopIds);
      else ws->aside.reset();
    }
    d.store.dropCaches();
    d.store.rowMaker = std::move(maker);
    commitSettings(scene, d, image, s);
  } catch (...) {
    if (written) kf_RestoreBlobs(*previous, *ws, d.store, d.topIds);
    d.augmentedCache.reset();
    throw;
  }
  previous.reset();
  kf_IdleRowMakers(ws->makers);
  d.store.entries.fit(retired);
  fit(ws->up, 0);
  fit(ws->bits, 0);
  kf_RecordNeeds(*d.store.rowMaker, needs());
}

}  // namespace

void kcBlobSceneDescription::connectComponentsGreyScale(const kcRLEBuffer& image,
                                                        unsigned char scaleVal, bool wholeImage,
                                                        ConnectCleanup cleanup, long minPels) {
  kf_ConnectGreyScale(*this, image, scaleVal, wholeImage, cleanup, minPels, 1);
}

void kcBlobSceneDescription::connectComponentsLabelled(const kcRLEBuffer& image,
                                                       ConnectCleanup cleanup, long minPels) {
  kf_ConnectLabelled(*this, image, cleanup, minPels, 1);
}

void kf_ConnectLabelled(kcBlobSceneDescription& scene, const kcRLEBuffer& image,
                        kcBlobSceneDescription::ConnectCleanup cleanup, long minPels, unsigned threads) {
  scene.mutating();
  const Settings s{kcBlobSceneDescription::eLabelled, 1, cleanup, minPels};
  checkPreconditions(image, s);
  connectRuns(scene, kc_SceneBuilder::data(scene), image, s, threads);
}

void kf_ConnectGreyScale(kcBlobSceneDescription& scene, const kcRLEBuffer& image, unsigned char scaleVal,
                         bool wholeImage, kcBlobSceneDescription::ConnectCleanup cleanup, long minPels,
                         unsigned threads) {
  scene.mutating();
  const Settings s{wholeImage ? kcBlobSceneDescription::eWholeImageGreyScale : kcBlobSceneDescription::eGreyScale,
                   scaleVal, cleanup, minPels};
  checkPreconditions(image, s);
  kc_BSDData& d = kc_SceneBuilder::data(scene);
  if (!wholeImage) {
    connectRuns(scene, d, image, s, threads);
    return;
  }
  kc_BlobStore store;
  std::vector<BlobId> topIds;
  kf_WholeImageBlobs(image, store, topIds, threads);
  d.mutating();
  d.replaceXform(image.xformCache(), false);  // the last step that can fail
  d.install(store, topIds);
  commitSettings(scene, d, image, s);
}
