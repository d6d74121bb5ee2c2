// Tests of the scene's archive form: round trips with views and caches, the older data forms,
// and damaged, newer or hostile archives.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>
#include <foundation/archive.h>
#include <foundation/persist.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "archive_fixture.h"
#include "scene/blobdesc_fixture.h"

namespace {

using namespace archive_fixture;
using scene_fixture::data;
using Scene = kcBlobSceneDescription;

// queried(kind): an analysed scene with settings whose caches and views every query has filled.
Scene queried(Scene::Analysis kind) {
  Scene scene = analysed(kind);
  withSettings(scene);
  answers(scene);
  return scene;
}

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

// (Storing back to the same bytes, and the invariant of what loads: the corpus test.)
TEST(SceneArchive, analysedSceneWithSettings_answersAsBeforeWithoutRebuildOrRecompute) {
  for (std::size_t round = 0; round < 6; ++round) {  // each kind of analysis, as analysed and with settings
    const Scene::Analysis kind = std::array{Scene::eGreyScale, Scene::eLabelled, Scene::eWholeImageGreyScale}[round % 3];
    SCOPED_TRACE(round);
    Scene scene = analysed(kind), copy;
    if (round >= 3) withSettings(scene);
    const Fingerprint before = answers(scene);
    EXPECT_EQ(load(stored(scene), copy), 0u);
    // The same queries again fill, in the copy, exactly the caches they fill in the original
    // (the extents keep only the last angle asked for), and rebuild no view.
    const std::vector<std::uint64_t> notices = mutations(copy), original = mutations(scene);
    const std::uint64_t builds = data(copy).viewBuilds;
    EXPECT_TRUE(answers(copy) == before);
    answers(scene);
    for (std::size_t i = 0; i < notices.size(); ++i)
      EXPECT_EQ(mutations(copy)[i] - notices[i], mutations(scene)[i] - original[i]) << "blob " << i + 1;
    EXPECT_EQ(data(copy).viewBuilds, builds) << "a view was rebuilt";
    EXPECT_EQ(copy.getBlob(1)->scene(), &copy);
  }
}

// ---- damaged or hostile data, made by storing a corrupted scene

// corrupted(change): the bytes of a queried grey-scale scene after change(data) in memory.
template <class Change>
Bytes corrupted(Change change) {
  Scene scene = queried(Scene::eGreyScale);
  change(data(scene));
  return stored(scene);
}

// withCountAfter(counter, count): the bytes of a queried grey-scale scene with the count that follows
// the given counter and a version byte raised to count (the counter is marked to be found).
Bytes withCountAfter(std::uint32_t kc_BSDData::*counter, unsigned long count) {
  const long mark = 0x5EEDF00D;
  Bytes bytes = corrupted([&](kc_BSDData& d) { d.*counter = static_cast<std::uint32_t>(mark); });
  const Bytes wide = storedValue(count);
  std::copy(wide.begin(), wide.end(), bytes.begin() + static_cast<long>(find(bytes, storedValue(mark)) + 4 + 1));
  return bytes;
}

// Settings no query could survive, tree links or ids out of place, runs that do not fill their rows,
// counts beyond the data, a newer data version.
TEST(SceneArchive, dataNoQueryCouldSurviveOrOfANewerVersion_refused) {
  const std::pair<const char*, void (*)(kc_BSDData&)> cases[] = {
      {"analysis 3", [](kc_BSDData& d) { d.connectivityKind = static_cast<Scene::Analysis>(3); }},
      {"cleanup 7", [](kc_BSDData& d) { d.cleanupKind = static_cast<Scene::ConnectCleanup>(7); }},
      {"cleanup with negative minimum", [](kc_BSDData& d) { d.cleanupKind = Scene::ePrune, d.minPels = -1; }},
      {"sort order 2", [](kc_BSDData& d) { d.sortOrder = static_cast<Scene::SortOrder>(2); }},
      {"sort set and disabled", [](kc_BSDData& d) { d.sortDisabled = true; }},
      {"filter low above high", [](kc_BSDData& d) { d.filters[0].low = d.filters[0].high + 1.0; }},
      {"filter limit not a number", [](kc_BSDData& d) { d.filters[0].high = std::numeric_limits<double>::quiet_NaN(); }},
      {"two filters on one measure", [](kc_BSDData& d) { d.filters[1].measure = d.filters[0].measure; }},
      {"negative exclusion", [](kc_BSDData& d) { d.extremaExcludeArea = -1.0; }},
      {"exclusion of 50 percent", [](kc_BSDData& d) { d.extremaExcludeArea = 50.0, d.extremaAreaIsPercent = true; }},
      {"analysed without a window", [](kc_BSDData& d) { d.sceneWindow = kcPelRect(d.sceneWindow.ul().x(), d.sceneWindow.ul().y(), 0, 7); }},
      {"parent beyond the blobs", [](kc_BSDData& d) { d.store.entry(3).parent = d.numBlobs() + 1; }},
      {"sibling cycle", [](kc_BSDData& d) { d.store.entry(1).nextSibling = 1; }},
      {"child count", [](kc_BSDData& d) { d.makeTreeLinks(); ++d.store.counts[1]; }},
      {"child listed twice", [](kc_BSDData& d) { d.topIds.push_back(d.topIds.front()); }},
      {"top id beyond the blobs", [](kc_BSDData& d) { d.topIds.push_back(d.numBlobs() + 1); }},
      {"shown id 0", [](kc_BSDData& d) { d.shownIds.push_back(0); }},
      {"scale value 0", [](kc_BSDData& d) { d.scaleVal = 0; }},
      {"hole inside a hole", [](kc_BSDData& d) { d.store.entry(d.store.entry(3).parent).label = 0; }},
      {"run row too short", [](kc_BSDData& d) { ++d.store.runs->data()[d.store.rowOffsets[0] + 1]; }},
  };
  for (const auto& [what, change] : cases) {
    SCOPED_TRACE(what);
    refusal<kcArchive::Damaged>(corrupted(change));
  }
  refusal<kcArchive::Damaged>(withCountAfter(&kc_BSDData::matrixCounter, 0x7FFFFFFF));     // blobs
  refusal<kcArchive::Damaged>(withCountAfter(&kc_BSDData::shownIdsCounter, 0xFFFFFFFF));  // filters
  // The data's version byte follows its class name (the scene's own leads its form: the corpus test).
  Bytes newer = corrupted([](kc_BSDData&) {});
  ++newer[find(newer, "kc_BSDData") + 10];
  EXPECT_STREQ(refusal<kcArchive::UnknownVersion>(newer).file(), "blob/blobdesc");
  // The oldest data form holds the client transform itself: a singular one is refused.
  Bytes v0 = seed("scene-data-v0.bin");
  Scene old;
  load(v0, old);
  const Bytes client = storedValue(old.clientFromImageXform());
  const Bytes singular = storedValue(kcXform<2>(kcMatrix<2>(0.0, 0.0, 0.0, 0.0), kcVector<2>()));
  const std::size_t at = find(v0, client);
  ASSERT_LE(at + singular.size(), v0.size());
  std::copy(singular.begin(), singular.end(), v0.begin() + static_cast<long>(at));
  refusal<kcArchive::Damaged>(v0);
}

// A null data pointer loads as a degenerate scene; an object of another class is refused (and deleted).
TEST(SceneArchive, nullDataPointer_loadsDegenerateWithDefaultData_anotherClassRefused) {
  Scene scene = queried(Scene::eGreyScale);
  EXPECT_EQ(load(Bytes{0, 0, 0, 0}, scene), 0u);  // versions, "not degenerate", a null pointer
  EXPECT_TRUE(scene.isDegenerate() && scene.numFilters() == 0);
  Bytes bytes{0, 0, 1};  // "degenerate", then a pointer to a new object of another class
  const Bytes params = paramsObject();
  bytes.insert(bytes.end(), params.begin(), params.end());
  refusal<kcArchive::Damaged>(bytes);
}

// ---- damaged or hostile blobs and views

TEST(SceneArchive, parentsThatCycleAwayFromTheTop_refusedAsDamaged) {
  // Blobs 1 and 3 list each other as their only child and parent: each in one list, every count
  // right, but walking up the parents would never end.
  Scene scene;
  scene_fixture::fill(scene, {0, 0, 0});
  kc_BSDData& d = data(scene);
  d.connectivityKind = Scene::eLabelled;  // no alternation of blobs and holes to trip over first
  d.topIds = {2};
  for (kc_BlobEntry& e : d.store.entries) e.nextSibling = 0;
  d.store.prevs.clear();
  auto& one = d.store.entries[0];
  auto& three = d.store.entries[2];
  one.parent = three.firstChild = 3 - 2;
  three.parent = one.firstChild = 3;
  d.makeTreeLinks();  // each of the two one child
  refusal<kcArchive::Damaged>(stored(scene));
}

// The corpus seed holds blobs 1 and 2 in the oldest blob form, both copies of the ring of a
// grey-scale scene of picture(), with only blob 2 in the scene's top list, and a scaling client
// transform (set back to the identity to compare in pels).
TEST(SceneArchive, blobsOfTheOldestForm_standAtTheTopLevelAndRecompute) {
  Scene source = analysed(Scene::eGreyScale);
  const kcBlob& ring = *source.getBlob(kRing);
  Scene scene;
  EXPECT_EQ(load(seed("scene-data-v3-oldest-blobs.bin"), scene), 0u);
  scene.clientFromImageXform(kcXform<2>());
  ASSERT_EQ(scene.numBlobs(false), 2);
  // Their links are lost: they stand at the top level, blob 1 (outside the stored list) after it.
  const kcBlob *one = scene.getBlob(1), *two = scene.getBlob(2);
  EXPECT_TRUE(scene.firstTop(false) == two && two->nextSibling(false) == one && scene.lastTop(false) == one);
  EXPECT_TRUE(one->parent() == nullptr && one->area() == ring.area() && two->perimeter() == ring.perimeter());
}

TEST(SceneArchive, viewLinksOrTransformValuesThatContradict_droppedAndComputedAgain) {
  Scene original = queried(Scene::eGreyScale);
  const Fingerprint before = answers(original);
  const Bytes bytes = corrupted([](kc_BSDData& d) {
    const BlobId first = d.shownTopIds.front();
    d.store.links[first - 1].nextShown = first;  // a cycle among current links
    d.clientXScale = 99.0, d.xformIsLinear = false;
  });
  Scene scene;
  load(bytes, scene);
  EXPECT_TRUE(answers(scene) == before);
}

TEST(SceneArchive, unknownMeasureInFilterOrSort_loadsAndIsRefusedWhenUsed) {
  for (bool inSort : {false, true}) {
    Scene scene = analysed(Scene::eGreyScale), copy;
    const auto unknown = static_cast<kcBlob::Measure>(99);
    inSort ? scene.setSort(unknown, Scene::eDescending) : scene.setFilter(unknown, 0.0, 1.0, false);
    load(stored(scene), copy);
    EXPECT_THROW(copy.numBlobs(true), kcBlob::BadMeasure);
    EXPECT_EQ(copy.numBlobs(false), scene.numBlobs(false));
  }
}

}  // namespace
