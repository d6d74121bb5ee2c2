// Tests of the scene's archive form: round trips with views and caches, the older data forms,
// version refusals, and damaged or hostile archives.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <foundation/archive.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "archive_fixture.h"
#include "persist.h"

namespace {

using namespace archive_fixture;
using Scene = kcBlobSceneDescription;

// queried(kind): an analysed scene with settings whose caches and views every query has filled.
Scene queried(Scene::Analysis kind) {
  Scene scene = analysed(kind);
  withSettings(scene);
  answers(scene);
  return scene;
}

// Offsets in the stored form of a scene archived in place: the scene's version byte, then the
// data's (after its class name).
constexpr std::size_t kSceneVersionAt = 0;
std::size_t dataVersionAt(const Bytes& bytes) { return find(bytes, "kc_BSDData") + 10; }

// refusal(bytes): loads bytes into a queried scene; expects a throw of E and the scene unchanged.
template <class E>
E refusal(const Bytes& bytes) {
  Scene target = queried(Scene::eGreyScale);
  const Fingerprint before = answers(target);
  const kcBlob* first = target.getBlob(1);
  try {
    load(bytes, target);
  } catch (const E& e) {
    EXPECT_EQ(target.getBlob(1), first);
    EXPECT_TRUE(answers(target) == before);
    return e;
  }
  ADD_FAILURE() << "no refusal";
  return E();
}

// ---- round trips

TEST(SceneArchive, analysedSceneWithSettings_answersAsBeforeWithoutRebuildOrRecompute) {
  for (Scene::Analysis kind : {Scene::eGreyScale, Scene::eLabelled, Scene::eWholeImageGreyScale}) {
    SCOPED_TRACE(kind);
    Scene scene = queried(kind);
    const Fingerprint before = answers(scene);
    Bytes bytes = stored(scene);
    Scene copy;
    EXPECT_EQ(load(bytes, copy), 0u);
    // The same queries again fill, in the copy, exactly the caches they fill in the original
    // (the extents keep only the last angle asked for), and rebuild no view.
    const std::vector<std::uint64_t> notices = mutations(copy), original = mutations(scene);
    const std::uint64_t builds = data(copy).viewBuilds;
    EXPECT_TRUE(answers(copy) == before);
    answers(scene);
    std::vector<std::uint64_t> filled, filledOriginal;
    for (std::size_t i = 0; i < notices.size(); ++i) {
      filled.push_back(mutations(copy)[i] - notices[i]);
      filledOriginal.push_back(mutations(scene)[i] - original[i]);
    }
    EXPECT_EQ(filled, filledOriginal);
    EXPECT_EQ(data(copy).viewBuilds, builds) << "a view was rebuilt";
    EXPECT_EQ(copy.getBlob(1)->scene(), &copy);
    copy.repInvariant();
    const Bytes again = stored(copy);
    auto differ = std::mismatch(again.begin(), again.end(), bytes.begin(), bytes.end());
    EXPECT_TRUE(again == bytes) << "first difference at byte " << (differ.first - again.begin());
  }
}

TEST(SceneArchive, degenerateScene_keepsItsSettings) {
  Scene scene;
  withSettings(scene);
  scene.disableSort();
  Bytes bytes = stored(scene);
  Scene copy = analysed(Scene::eGreyScale);
  load(bytes, copy);
  EXPECT_TRUE(copy.isDegenerate());
  EXPECT_TRUE(answers(copy) == answers(scene));
  EXPECT_THROW(copy.numBlobs(false), Scene::Degenerate);
}

TEST(SceneArchive, freshSceneQueriedAfterLoading_computesAsTheOriginalWould) {
  // Nothing cached before storing: the loaded scene computes every measure and view itself.
  Scene scene = analysed(Scene::eGreyScale);
  withSettings(scene);
  Bytes bytes = stored(scene);
  Scene copy;
  load(bytes, copy);
  EXPECT_TRUE(answers(copy) == answers(scene));
}

TEST(SceneArchive, storedForm_versionsFlagAndDataPointer) {
  Scene scene;
  Bytes bytes = stored(scene);
  // scene version 0, kcPersistent 0, degenerate true, a new object named kc_BSDData, version 3.
  const Bytes head{0, 0, 1, 1, 10, 0, 0, 0, 'k', 'c', '_', 'B', 'S', 'D', 'D', 'a', 't', 'a', 3, 0};
  ASSERT_GE(bytes.size(), head.size());
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + static_cast<long>(head.size())), head);
}

// ---- older data forms, written value by value

// OldData: writes a degenerate scene with data of an older version: no blobs, one filter.
struct OldData {
  unsigned char version;
  kcXform<2> clientFromImage{kcMatrix<2>(2.0, 0.0, 0.0, 2.0), kcVector<2>(1.0, 0.0)};

  Bytes bytes() const {
    Bytes out;
    kcArchive ar(out, kcArchive::eStoring);
    unsigned char zero = 0, v = version, persistent = 0, tag = 1;
    bool degenerate = true;
    std::string name = "kc_BSDData";
    unsigned int length = 10;
    ar || zero || persistent || degenerate || tag || length;
    ar.writeBytes(name.data(), name.size());
    ar || v || persistent;
    int kind = Scene::eLabelled, cleanup = Scene::eNone;
    unsigned char scale = 1;
    long minPels = 0;
    ar || kind || scale || cleanup || minPels;
    kcPelRect window(0, 0, 4, 3);
    kf_PersistenceHelper<long>(ar, window);
    kcXform<2> x = clientFromImage;
    if (version == 0) {
      ar || x;
    } else {
      kc2XformCache cache;
      cache.xformInverse(kc2XformLinear(x));
      bool linear = true;
      ar || cache || linear;
    }
    bool identity = false;
    double scales = 2.0;
    long counter = 5;
    ar || identity || identity || scales || scales || scales || scales || scales || counter || counter;
    unsigned long none = 0;
    ar || zero || none;  // blobs
    for (int list = 0; list < 3; ++list) ar || zero || none;
    int counters = 9;
    ar || counters || counters || counters;
    unsigned long one = 1;
    int measure = kcBlob::ePerimeter;
    double low = 1.0, high = 2.0;
    bool exclude = true, sortSet = true;
    ar || zero || one || measure || low || high || exclude;
    ar || sortSet;
    if (version >= 2) {
      bool disabled = false;
      ar || disabled;
    }
    int sortMeasure = kcBlob::eArea, order = Scene::eAscending;
    double area = 3.0, angle = 0.25;
    bool isClient = true, isPercent = false;
    ar || sortMeasure || order || area || isClient || isPercent || angle;
    if (version >= 3) {
      kcRLEBuffer mask = connecttest::encode(connecttest::draw({"##", "#."}));
      ar || mask;
    }
    return out;
  }
};

TEST(SceneArchive, olderDataVersions_loadWithDefaultsForMissingFields) {
  for (unsigned char version = 0; version <= 3; ++version) {
    SCOPED_TRACE(static_cast<int>(version));
    OldData old{version};
    Scene scene;
    EXPECT_EQ(load(old.bytes(), scene), 0u);
    EXPECT_TRUE(scene.isDegenerate());
    EXPECT_EQ(scene.clientFromImageXform(), old.clientFromImage);
    kcBlob::Measure m;
    double low, high;
    bool exclude;
    scene.getFilter(0, m, low, high, exclude);
    EXPECT_EQ(m, kcBlob::ePerimeter);
    EXPECT_TRUE(exclude);
    Scene::SortOrder order;
    EXPECT_TRUE(scene.getSort(m, order));
    EXPECT_EQ(order, Scene::eAscending);
    EXPECT_FALSE(data(scene).sortDisabled);
    EXPECT_EQ(data(scene).mask.isDegenerate(), version < 3);
    EXPECT_EQ(data(scene).viewCounter, 9u);
    EXPECT_EQ(data(scene).clientXScale, 2.0);
  }
}

// ---- version refusals

TEST(SceneArchive, newerVersions_refusedWithFileAndLine) {
  Scene scene = queried(Scene::eGreyScale);
  const Bytes bytes = stored(scene);
  struct Case {
    const char* what;
    std::size_t at;
    const char* file;
    int line;
  };
  const std::size_t data = dataVersionAt(bytes);
  for (const Case& c : {Case{"scene", kSceneVersionAt, "blob/blobdesc", 1161},
                        Case{"data", data, "blob/blobdesc", 1176}}) {
    SCOPED_TRACE(c.what);
    Bytes newer = bytes;
    ++newer[c.at];
    const kcArchive::UnknownVersion e = refusal<kcArchive::UnknownVersion>(newer);
    EXPECT_STREQ(e.file(), c.file);
    EXPECT_EQ(e.line(), c.line);
  }
}

}  // namespace
