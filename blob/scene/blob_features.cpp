// The scene's blob boundaries as featurelet chains: corner points, their sense and directions, the
// hand-over of the C chain set and the mapping to client coordinates.
#include <blob/blob.h>
#include <blob/blobdesc.h>

#include "measure/blob_chain.h"

#include <featurelet/chain_set.h>
#include <featurelet/cleanup.h>
#include <featurelet/featurelet.h>

#include <foundation/assert.h>
#include <foundation/exception.h>
#include <foundation/geometry.h>
#include <foundation/xform.h>

#include <climits>
#include <cstddef>
#include <vector>

namespace {

constexpr double kHalfPi = 1.5707963267948966;
// The clientFromImage transform counts as the identity within this tolerance.
constexpr double kIdentityTolerance = 1e-15;

// The working lists of one conversion: per chain its closed flag, first featurelet and count, and
// the featurelets of every chain one after another.
struct ChainLists {
  std::vector<int> closed;
  std::vector<int> first;
  std::vector<int> counts;
  std::vector<kfeat_featurelet> featurelets;
};

// cornersOf(blob): the pel corner before each step of the blob's chain code, from its start.
std::vector<kcVector<2>> cornersOf(const kcBlob& blob) {
  std::vector<keBlobDirection> code;
  kcPair<long> p = kc_Outline::of(blob, code);
  std::vector<kcVector<2>> corners;
  corners.reserve(code.size());
  for (const keBlobDirection step : code) {
    corners.emplace_back(p);
    switch (step) {
      case keBlobDirectionPosX: p.first += 1; break;
      case keBlobDirectionNegX: p.first -= 1; break;
      case keBlobDirectionPosY: p.second += 1; break;
      case keBlobDirectionNegY: p.second -= 1; break;
      case keBlobDirectionEnd: break;
    }
  }
  if (!corners.empty()) corners.pop_back();  // the end repeats the start
  return corners;
}

// depthOf(blob, numBlobs): 1 for a top-level blob, 2 for its holes, and so on.
long depthOf(const kcBlob& blob, long numBlobs) {
  long depth = 1;
  for (const kcBlob* p = blob.parent(); p != nullptr; p = p->parent()) {
    ++depth;
    KC_ASSERT(depth <= numBlobs, "a chain of parent links ends within the number of blobs");
  }
  return depth;
}

// checkCapacity(lists, more): refuses a chain that would take the counts past what the featurelet
// library's int arguments hold.
void checkCapacity(const ChainLists& lists, std::size_t more) {
  constexpr std::size_t kMax = INT_MAX;
  if (lists.counts.size() >= kMax || more > kMax - lists.featurelets.size()) {
    throw kcBadArgument(L"The boundaries hold more featurelets than a featurelet chain set can take.");
  }
}

// appendChain(lists, corners, inChainOrder, templ): one closed chain of corners, taken in chain
// order or reversed, each featurelet a copy of templ with its position and its direction.
void appendChain(ChainLists& lists, const std::vector<kcVector<2>>& corners, bool inChainOrder,
                 const kfeat_featurelet& templ) {
  const std::size_t n = corners.size();
  checkCapacity(lists, n);
  lists.closed.push_back(1);
  lists.first.push_back(static_cast<int>(lists.featurelets.size()));
  lists.counts.push_back(static_cast<int>(n));
  if (n == 0) return;
  const auto taken = [&](std::size_t k) { return inChainOrder ? corners[k] : corners[n - 1 - k]; };
  kcVector<2> prev = taken(n - 1);
  for (std::size_t k = 0; k < n; ++k) {
    const kcVector<2> cur = taken(k);
    const kcVector<2> next = taken((k + 1) % n);
    kfeat_featurelet f = templ;
    f.x = cur.x();
    f.y = cur.y();
    const kcVector<2> s = (cur - prev) + (next - cur);
    if (s.x() == 0.0 && s.y() == 0.0) {
      f.hasDirection = 0;
      f.angle = 0.0;
    } else {
      const kcRadian normal = (s.angle() + kcRadian(kHalfPi)).norm();
      kfThrowExceptionOnFailure(kfeat_featurelet_setAngle(&f, normal.toDouble()));
    }
    f.magnitude = 0.0;
    lists.featurelets.push_back(f);
    prev = cur;
  }
}

// handOver(lists, result): a C chain set filled from lists becomes result's. The cleanup frees the
// set when a call fails before result holds it. It reads the variable `set` when it runs, and
// takeFeatureletChainSet clears that variable, so once result owns the set there is nothing left
// for the cleanup to free: the set is freed once, by whoever holds it last.
void handOver(const ChainLists& lists, kcFeatureletChainSet& result) {
  kfeat_featureletChainSet* set = nullptr;  // declared first: outlives the cleanup
  kcCleanupRegistry cleanup;
  cleanup.add(&kfeat_featureletChainSet_delete, &set);
  kfThrowExceptionOnFailure(kfeat_featureletChainSet_new(&set));
  kfThrowExceptionOnFailure(kfeat_featureletChainSet_assignSet(set, static_cast<int>(lists.counts.size()),
                                                               lists.featurelets.data(), lists.closed.data(),
                                                               lists.first.data(), lists.counts.data()));
  result.takeFeatureletChainSet(&set);
  cleanup.run();
}

bool clientIsImage(const kcBlobSceneDescription& scene) {
  return scene.clientFromImageXformBase()->isLinear() &&
         kfRealEq(scene.clientFromImageXform(), kcXform<2>(), kIdentityTolerance);
}

// finish(lists, scene, result): result holding lists in scene's client coordinates; without
// featurelets, empty and carrying the scene's imageFromClient transform, shared.
kcPtrHandle<kcFeatureletChainSet> finish(const ChainLists& lists, const kcBlobSceneDescription& scene,
                                         kcPtrHandle<kcFeatureletChainSet> result) {
  if (lists.featurelets.empty()) {
    result->imageFromClientXformBase(scene.imageFromClientXformBase(), true);
    return result;
  }
  handOver(lists, *result);
  if (!clientIsImage(scene)) result = result->map(*scene.clientFromImageXformBase());
  return result;
}

}  // namespace

kcPtrHandle<kcFeatureletChainSet> kfConvertToFeatures(const kcBlobSceneDescription* scene, bool reverse,
                                                      bool topOnly) {
  kcPtrHandle<kcFeatureletChainSet> result(new kcFeatureletChainSet());
  if (scene == nullptr) return result;
  kfeat_featurelet templ;
  kfThrowExceptionOnFailure(kfeat_featurelet_init(&templ));

  ChainLists lists;
  const std::vector<const kcBlob*> blobs = scene->allBlobs(true);
  const long numBlobs = scene->numBlobs(false);
  for (const kcBlob* blob : blobs) {
    if (topOnly && blob->parent() != nullptr) continue;
    const long d = depthOf(*blob, numBlobs) + (reverse ? 1 : 0);
    appendChain(lists, cornersOf(*blob), d % 2 == 1, templ);
  }
  return finish(lists, *scene, result);
}

kcPtrHandle<kcFeatureletChainSet> kfConvertToFeatures(const kcBlob& blob, bool reverse) {
  const kcBlobSceneDescription* scene = blob.scene();
  if (scene == nullptr) throw kcBadArgument(L"The blob belongs to no scene.");
  kcPtrHandle<kcFeatureletChainSet> result(new kcFeatureletChainSet());
  kfeat_featurelet templ;
  kfThrowExceptionOnFailure(kfeat_featurelet_init(&templ));
  ChainLists lists;
  const long d = depthOf(blob, scene->numBlobs(false)) + (reverse ? 1 : 0);
  appendChain(lists, cornersOf(blob), d % 2 == 1, templ);
  return finish(lists, *scene, result);
}
