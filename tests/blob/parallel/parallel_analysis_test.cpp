// kfBlobAnalysis on several threads against the one-thread analysis: the same scene, byte for
// byte, for random images and settings; refusals, cancellation and failures as one thread has them.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>
#include <foundation/attention.h>
#include <foundation/pelbuffer.h>
#include <foundation/rlebuffer.h>
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "blob/archive_fixture.h"
#include "connect/connect_fixture.h"
#include "connect/connect_rows.h"
#include "parallel/work_pool.h"
#include "platform/foundation/archive_bytes.h"
#include "scene/scene_builder.h"

namespace {

using Scene = kcBlobSceneDescription;
using archive_bytes::Bytes;

kcPelBuffer<unsigned char> randomPels(std::mt19937& rng, long w, long h, kcPair<long> offset = {0, 0}) {
  return connecttest::pels(connecttest::randomGrid(rng, static_cast<int>(w), static_cast<int>(h)), offset);
}

// randomParams(rng, image): a segmentation, any connectivity, cleanup, morphology and mask.
kcBlobParams randomParams(std::mt19937& rng, const kcPelBuffer<unsigned char>& image) {
  kcBlobParams p;
  switch (rng() % 4) {
    case 0: p.setSegmentationNone(static_cast<unsigned char>(1 + rng() % 3)); break;
    case 1: p.setSegmentationHardThresh(static_cast<unsigned char>(rng() % 256), rng() % 2 == 0); break;
    case 2: p.setSegmentationSoftThresh(40, 200, 4, rng() % 2 == 0); break;
    default: p.setSegmentationThreshImage({}, randomPels(rng, image.width(), image.height()), {}, 1);
  }
  const Scene::Analysis kinds[] = {Scene::eGreyScale, Scene::eGreyScale, Scene::eLabelled, Scene::eWholeImageGreyScale};
  p.connectivityType(kinds[rng() % 4]);
  if (p.connectivityType() != Scene::eWholeImageGreyScale && rng() % 3 == 0) {
    p.connectivityCleanup(rng() % 2 ? Scene::ePrune : Scene::eFill);
    p.connectivityMinPels(1 + static_cast<long>(rng() % 20));
  }
  if (rng() % 4 == 0) p.morph({static_cast<keBlobParamsMorphOp>(rng() % 12)});
  if (rng() % 4 == 0) {
    kcRLEBuffer mask;
    mask.encode(randomPels(rng, image.width(), image.height(), image.offset()));
    p.mask(mask);
  }
  p.keepRLE(true);
  return p;
}

// restoresWithoutAllocating(scene): when the next analysis may write over the scene's blobs, they
// can be put back (as when it fails) with the capacities reserved for it, none growing.
bool restoresWithoutAllocating(const Scene& scene) {
  const kc_BSDData& d = kc_SceneBuilder::data(scene);
  if (!kf_CanRestore(d.store.rowMaker.get())) return true;
  kc_ConnectWorkspace ws;
  kf_ReserveForRestore(*d.store.rowMaker, ws);
  kc_BlobStore store;
  store.entries.reserve(d.store.entries.capacity());
  std::vector<BlobId> topIds;
  topIds.reserve(d.topIds.capacity());
  const kc_WorkspaceNeeds reserved = kf_WorkspaceNeeds(ws);
  const std::size_t entries = store.entries.capacity(), top = topIds.capacity();
  kf_RestoreBlobs(*d.store.rowMaker, ws, store, topIds);
  return kf_WorkspaceNeeds(ws) == reserved && store.entries.capacity() == entries && topIds.capacity() == top;
}

Bytes sceneBytes(const kcBlobResults& results) {
  Scene copy(*results.connectedBlobs());
  return archive_bytes::stored(copy);
}

TEST(ParallelAnalysis, ParallelAnalysis_randomImagesAndSettings_sameSceneAsOneThreadOnEveryCount) {
  const kc_BandMinimum small(1, 1);  // split even the smallest images
  std::mt19937 rng(30);
  for (int round = 0; round < 120; ++round) {
    const long x = static_cast<long>(rng() % 200) - 100, y = static_cast<long>(rng() % 200) - 100;
    const long w = 1 + static_cast<long>(rng() % 300), h = 2 + static_cast<long>(rng() % 150);
    const kcPelBuffer<unsigned char> image = randomPels(rng, w, h, {x, y});
    const kcBlobParams params = randomParams(rng, image);
    kcBlobResults one;
    kfBlobAnalysis(image, params, one);
    const Bytes expected = sceneBytes(one);
    const bool measured = round % 6 == 0;  // every measure, chain and link as well
    const archive_fixture::Fingerprint answers =
        measured ? archive_fixture::answers(*one.connectedBlobs()) : archive_fixture::Fingerprint();
    for (int threads = 1; threads <= 8; ++threads) {
      SCOPED_TRACE(::testing::Message() << "round " << round << ", " << threads << " threads");
      kcBlobResults many;
      kfBlobAnalysis(image, params, many, threads);
      ASSERT_EQ(sceneBytes(many), expected);
      ASSERT_TRUE(many.rle() == one.rle());
      ASSERT_TRUE(restoresWithoutAllocating(*many.connectedBlobs()));
      if (measured) {
        ASSERT_EQ(archive_fixture::answers(*many.connectedBlobs()), answers);
      }
    }
  }
}

TEST(ParallelAnalysis, ParallelAnalysis_refusalsCancellationAndFailures_asOneThreadLeavesThem) {
  const kc_BandMinimum small(1, 1);
  std::mt19937 rng(31);
  const kcPelBuffer<unsigned char> image = randomPels(rng, 200, 300);
  kcBlobParams params;
  params.setSegmentationHardThresh(1, false);
  kcBlobResults results;
  kfBlobAnalysis(image, params, results, 4);
  Bytes previous = sceneBytes(results);
  EXPECT_THROW(kfBlobAnalysis(image, params, results, -1), kcBlobDefs::BadParams);
  EXPECT_EQ(sceneBytes(results), previous);

  // Stopped at every point the caller's checks reach: Abandoned, the previous scene kept.
  int stopped = 0;
  for (unsigned long n = 0; n < 64; ++n) {
    const kcPelBuffer<unsigned char> other = randomPels(rng, 300, 2000);  // every band checks a few times
    try {
      kcAttention::Scope scope;
      scope.abandonAfter(n);
      kfBlobAnalysis(other, params, results, 1 + static_cast<int>(n % 8));
      break;
    } catch (const kcAttention::Abandoned&) {
      ++stopped;
    }
    ASSERT_EQ(sceneBytes(results), previous) << n;
  }
  EXPECT_GT(stopped, 0);
  previous = sceneBytes(results);

  // A refusal met after the bands were encoded reaches the caller once, nothing changed.
  params.morph({static_cast<keBlobParamsMorphOp>(99)});
  EXPECT_THROW(kfBlobAnalysis(image, params, results, 8), kcBlobDefs::BadParams);
  EXPECT_EQ(sceneBytes(results), previous);
}

}  // namespace
