// The scene's connectivity entries: settings and blobs written into the scene, whole-image
// analysis, reuse of the augmented image, and abandoned analyses leaving the scene as it was.
#include "connect/connect_fixture.h"
#include "base/messages.h"
#include "platform/foundation/archive_bytes.h"
#include "scene/blobdesc_fixture.h"
#include "scene/scene_builder.h"

#include <blob/blobdefs.h>
#include <blob/blobdesc.h>
#include <foundation/attention.h>
#include <foundation/exception.h>

#include <gtest/gtest.h>

using connecttest::draw;
using connecttest::encode;
using connecttest::Grid;
using Scene = kcBlobSceneDescription;

namespace {

const kc_ConnectivityAugmentedRLE* cached(Scene& scene) {
  return dynamic_cast<const kc_ConnectivityAugmentedRLE*>(kc_SceneBuilder::data(scene).augmentedCache.get());
}

// A 40-row image with a ring in rows 20..22, so that the attention check runs in the scan (rows
// 15 and 31) and in the writing of the rows (the same rows).
Grid tallImage(std::uint8_t v) {
  Grid g{5, 40, std::vector<std::uint8_t>(200, 0)};
  for (std::size_t p : {101u, 102u, 103u, 106u, 108u, 111u, 112u, 113u}) g.pels[p] = v;  // rows 20..22
  return g;
}

}  // namespace

TEST(ConnectScene, ConnectScene_greyAnalysis_writesBlobsTreeAndSettings) {
  Scene scene;
  scene.connectComponentsGreyScale(encode(draw({"###", "#.#", "###"}), {10, 20}), 3, false,
                                   Scene::ePrune, 0);
  ASSERT_EQ(scene.numBlobs(false), 2);
  const kcBlob *ring = scene.getBlob(1), *hole = scene.getBlob(2);
  EXPECT_TRUE(scene.firstTop(false) == ring && hole->parent() == ring);
  EXPECT_EQ(hole->region().offset(), (kcPair<long>{11, 21}));
  EXPECT_EQ(scene.sceneWindow(), kcPelRect(10, 20, 3, 3));
  EXPECT_TRUE(scene.scaleVal() == 3 && scene.minPels() == 0);

  // Without a cleanup the stored minimum stays, though the scene no longer reports it; a labelled
  // scene has no scale.
  scene.connectComponentsLabelled(encode(draw({"12"})), Scene::eNone, 99);
  EXPECT_EQ(kc_SceneBuilder::data(scene).minPels, 0);
  EXPECT_SCENE_ERROR(scene.minPels(), kcBlobDefs::BadParams, kc_BlobMessages::eMinPelsMeaningless);
  EXPECT_SCENE_ERROR(scene.scaleVal(), kcBlobDefs::BadParams, kc_BlobMessages::eScaleMeaningless);
  EXPECT_TRUE(scene.connectivityKind() == Scene::eLabelled && scene.getBlob(2)->label() == 2);
}

// Whole image: one weighted blob trimmed to the non-zero pels; topIds holds it, or nothing.
TEST(ConnectScene, ConnectScene_wholeImage_oneTrimmedBlobOrNone) {
  Grid g{30, 8, std::vector<std::uint8_t>(240, 0)};
  g.pels[100] = g.pels[130] = g.pels[160] = 4, g.pels[170] = 9;  // (10, 3..5) and (20, 5)
  Scene scene;
  scene.connectComponentsGreyScale(encode(draw({"#.#"})), 1, false, Scene::eNone, 0);
  ASSERT_EQ(scene.numBlobs(false), 2);
  scene.connectComponentsGreyScale(encode(g, {100, 200}), 2, true, Scene::eNone, 0);
  ASSERT_EQ(scene.numBlobs(false), 1);
  const kcBlob* b = scene.getBlob(1);
  EXPECT_TRUE(scene.connectivityKind() == Scene::eWholeImageGreyScale && b->label() == 1 && scene.firstTop(false) == b);
  EXPECT_EQ(b->imageBoundingBox(), kcPelRect(110, 203, 11, 3));
  EXPECT_EQ(b->region().pointToRow(2)[0], 4);  // the image's own values
  EXPECT_EQ(kc_SceneBuilder::parts(*b).measures().boundary.rowProjection, (std::vector<std::uint64_t>{4, 4, 13}));

  scene.connectComponentsGreyScale(encode(draw({"...", "..."})), 1, true, Scene::eNone, 0);
  EXPECT_TRUE(scene.numBlobs(false) == 0 && scene.firstTop(false) == nullptr);
}

// Analysing images of one size again reuses the cached engine state and the scene's storage: the
// store filled by one analysis is the one the analysis after next fills again. Another size keeps
// the engine's arrays.
TEST(ConnectScene, ConnectScene_imagesOfOneSize_reuseEngineStateAndStorage) {
  Scene scene;
  const kcRLEBuffer image = encode(tallImage(1));
  scene.connectComponentsGreyScale(image, 1, false, Scene::eNone, 0);
  const kc_ConnectivityAugmentedRLE* first = cached(scene);
  ASSERT_NE(first, nullptr);
  const kc_BlobEntry* entries = &kc_SceneBuilder::data(scene).store.entries[0];
  for (int again = 0; again < 2; ++again) scene.connectComponentsGreyScale(image, 1, false, Scene::eNone, 0);
  EXPECT_EQ(cached(scene), first);
  EXPECT_EQ(&kc_SceneBuilder::data(scene).store.entries[0], entries);

  // Analysing a copy, which shares the cached state, leaves the source's alone.
  Scene copy(scene);
  copy.connectComponentsGreyScale(image, 1, false, Scene::eNone, 0);
  EXPECT_TRUE(cached(copy) != first && cached(scene) == first);

  // An image of another height takes new state but keeps the engine's arrays, unless a copy
  // still shares the state they are in.
  const auto workspace = [](Scene& s) { return &const_cast<kc_ConnectivityAugmentedRLE*>(cached(s))->workspace(); };
  const kc_ConnectWorkspace* arrays = workspace(scene);
  scene.connectComponentsGreyScale(encode(draw({"#.#"})), 1, false, Scene::eNone, 0);
  EXPECT_TRUE(cached(scene) != first && workspace(scene) == arrays);
  const Scene sharing(scene);
  scene.connectComponentsGreyScale(image, 1, false, Scene::eNone, 0);
  EXPECT_NE(workspace(scene), arrays);
}

// Rows made on demand are abandoned as an analysis is: the query throws and the scene makes them
// at the next one.
TEST(ConnectScene, ConnectScene_rowsAbandonedOnDemand_madeAtTheNextQuery) {
  Scene scene;
  const kcRLEBuffer tall = encode(tallImage(3));
  {
    kcAttention::Scope scope;
    scope.abandonAfter(2);  // the scan checks twice
    scene.connectComponentsGreyScale(tall, 1, false, Scene::eNone, 0);
  }
  EXPECT_EQ(scene.numBlobs(false), 2);
  {
    kcAttention::Scope scope;
    scope.abandonAfter(3);  // the rows: a scan, then the writing (twice over the rows)
    EXPECT_THROW(scene.getBlob(1)->region(), kcAttention::Abandoned);
  }
  kcAttention::Scope scope;
  scope.abandonAfter(6);
  EXPECT_EQ(scene.getBlob(1)->region().width(), 3);
}

// An analysis abandoned at any attention check leaves the scene archiving the bytes it archived
// before, blobs, tree, settings, counters, caches, views and rows included, whether its blobs were
// written over and put back (scenes of the engine) or the analysis ran aside (the labelled fill,
// whole image), with measures asked or not; the cached engine state is dropped.
TEST(ConnectScene, ConnectScene_abandonedAtEveryCheck_sceneArchivesAsBefore) {
  const kcRLEBuffer first = encode(tallImage(3), {2, 3});
  Grid other = tallImage(5);
  other.pels[7] = other.pels[190] = 1;
  const kcRLEBuffer second = encode(other);
  using Analyse = void (*)(Scene&, const kcRLEBuffer&);
  const std::pair<const char*, Analyse> kinds[] = {
      {"grey prune", [](Scene& s, const kcRLEBuffer& i) { s.connectComponentsGreyScale(i, 2, false, Scene::ePrune, 1); }},
      {"grey fill", [](Scene& s, const kcRLEBuffer& i) { s.connectComponentsGreyScale(i, 2, false, Scene::eFill, 2); }},
      {"labelled", [](Scene& s, const kcRLEBuffer& i) { s.connectComponentsLabelled(i, Scene::eNone, 0); }},
      {"labelled fill", [](Scene& s, const kcRLEBuffer& i) { s.connectComponentsLabelled(i, Scene::eFill, 2); }},
      {"whole image", [](Scene& s, const kcRLEBuffer& i) { s.connectComponentsGreyScale(i, 2, true, Scene::eNone, 0); }},
  };
  for (const auto& [what, analyse] : kinds) {
    for (int asked = 0; asked < 3; ++asked) {  // nothing; the everyday measures; a record and rows
      SCOPED_TRACE(std::string(what) + " " + std::to_string(asked));
      Scene scene;
      analyse(scene, first);
      const kcBlob* blob = scene.getBlob(1);
      if (asked >= 1) (void)blob->area(), (void)blob->centerOfMass();
      if (asked >= 2) (void)scene.getBlob(scene.numBlobs(false))->inertia(), (void)blob->region();
      const Scene before(scene);  // copies the caches as they stand, rows unmade included
      for (unsigned long checks = 0; checks < 2; ++checks) {
        kcAttention::Scope scope;
        scope.abandonAfter(checks);
        EXPECT_THROW(kinds[checks].second(scene, second), kcAttention::Abandoned);
        EXPECT_EQ(scene.getBlob(1), blob);
        EXPECT_EQ(cached(scene), nullptr);
      }
      Scene copy(before);
      EXPECT_EQ(archive_bytes::stored(scene), archive_bytes::stored(copy));
    }
  }
}

// Values a caller can pass but no analysis can use are refused before anything runs.
TEST(ConnectScene, ConnectScene_badArguments_refusedSceneUnchanged) {
  Scene scene;
  const kcRLEBuffer image = encode(draw({"#.#"}));
  scene.connectComponentsGreyScale(image, 1, false, Scene::eNone, 0);
  const kcBlob* before = scene.getBlob(1);
  using M = kc_BlobMessages;
  const auto refused = [&](auto call, const wchar_t* message) {  // message null: kcBadArgument
    try {
      call(), ADD_FAILURE() << "not refused";
    } catch (const kcBlobDefs::BadParams& e) {
      EXPECT_EQ(e.message(false), message);
    } catch (const kcBadArgument&) {
      EXPECT_EQ(message, nullptr);
    }
    EXPECT_EQ(scene.getBlob(1), before);
  };
  refused([&] { scene.connectComponentsGreyScale(image, 0, false, Scene::eNone, 0); }, M::kTool[M::eScaleNotPositive]);
  refused([&] { scene.connectComponentsGreyScale({}, 1, false, Scene::eNone, 0); }, M::kTool[M::eImageUnbound]);
  refused([&] { scene.connectComponentsGreyScale(image, 1, true, Scene::eFill, 0); }, M::kTool[M::eCleanupWithWholeImage]);
  refused([&] { scene.connectComponentsLabelled(image, Scene::ePrune, -1); }, M::kTool[M::eMinPelsNegative]);
  refused([&] { scene.connectComponentsLabelled(image, static_cast<Scene::ConnectCleanup>(3), 0); }, nullptr);
  refused([&] { scene.connectComponentsGreyScale(image, 1, false, Scene::ePrune, 1L << 40); }, nullptr);
}
