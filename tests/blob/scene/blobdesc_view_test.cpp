// Tests of the filtered and sorted view: the heap sort's order of ties, every shown list against
// the filter test and the sort applied to its plain list, values that are not numbers, lazy
// rebuilding, and failures during a rebuild.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "connect/connect_fixture.h"
#include "scene/blobdesc_fixture.h"
#include "store/view_sort.h"

namespace {

using Desc = kcBlobSceneDescription;
using scene_fixture::data;
using scene_fixture::fill;
using Ids = std::vector<long>;
using Items = std::vector<kc_ViewKey>;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

Items librarySort(Items items, bool ascending) {
  kf_ViewSort(items.data(), items.size(), ascending);
  return items;
}

Ids idsOf(const Items& items) {
  Ids out;
  for (const kc_ViewKey& item : items) out.push_back(item.id);
  return out;
}

Ids idsOf(const std::vector<const kcBlob*>& blobs) {
  Ids out;
  for (const kcBlob* b : blobs) out.push_back(b->id());
  return out;
}

const kcBlob* nextShown(const kcBlob* b) { return b->nextSibling(true); }
const kcBlob* prevShown(const kcBlob* b) { return b->prevSibling(true); }
const kcBlob* nextPlain(const kcBlob* b) { return b->nextSibling(false); }

// walk(first, next): the ids from first along next until null.
Ids walk(const kcBlob* first, const kcBlob* (*next)(const kcBlob*) = nextShown) {
  Ids out;
  for (const kcBlob* b = first; b != nullptr; b = next(b)) out.push_back(b->id());
  return out;
}

// ---- the heap sort ----

// The order of equal keys is the procedure's, worked by hand; a NaN is placed by the comparisons.
TEST(ViewSort, ViewSort_tiesAndNaN_procedureOrder) {
  struct Case {
    std::vector<double> keys;
    bool ascending;
    Ids want;
  };
  const Case cases[] = {
      {{7, 7, 7, 7}, false, {2, 3, 4, 1}},
      {{7, 7, 7, 7}, true, {2, 3, 4, 1}},
      {{3, 1, 4, 1, 5, 9, 2, 6}, true, {2, 4, 7, 1, 3, 5, 8, 6}},
      {{3, 1, 4, 1, 5, 9, 2, 6}, false, {6, 8, 5, 3, 1, 7, 4, 2}},
      {{1, 1}, true, {2, 1}},
      {{1, 1, 1}, false, {2, 3, 1}},
      {{kNaN, 1}, true, {1, 2}},  // the sift moves 1 above the NaN, the extraction puts it back
      {{5}, true, {1}},
      {{}, false, {}},
  };
  for (const Case& c : cases) {
    Items items;
    for (double key : c.keys) items.push_back({key, static_cast<BlobId>(items.size() + 1)});
    EXPECT_EQ(idsOf(librarySort(items, c.ascending)), c.want) << ::testing::PrintToString(c.keys);
  }
}

// Random keys with many ties: each key travels with its id and the keys come out ordered.
TEST(ViewSort, ViewSort_randomKeys_orderedPermutation) {
  std::mt19937 rng(17);
  for (int round = 0; round < 3000; ++round) {
    Items in(rng() % 40);
    const bool ascending = rng() % 2 == 0;
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = {static_cast<double>(rng() % 5) - 1, static_cast<BlobId>(i + 1)};
    const Items got = librarySort(in, ascending);
    ASSERT_EQ(got.size(), in.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      ASSERT_EQ(got[i].key, in.at(got[i].id - 1).key) << "round " << round;
      ASSERT_TRUE(i == 0 || (ascending ? got[i - 1].key <= got[i].key : got[i - 1].key >= got[i].key)) << round;
    }
    Ids ids = idsOf(got), all(in.size());
    std::sort(ids.begin(), ids.end());
    std::iota(all.begin(), all.end(), 1L);
    ASSERT_EQ(ids, all) << "round " << round;
  }
}

// ---- the view of a scene ----

// Random analysed scenes with random filters and sort states (none set: area, largest first; set;
// set and cleared, which still orders; disabled: id order): every shown list agrees with the
// filter test and the heap sort applied to the matching plain list, a blob left out has no shown
// neighbours, and a rejected parent hides its children from the top level only.
TEST(BlobDescView, BlobDescView_randomScenes_everyShownListMatchesItsPlainList) {
  std::mt19937 rng(18);
  const kcBlob::Measure measures[] = {kcBlob::eArea, kcBlob::eCenterOfMassX, kcBlob::ePerimeter,
                                      kcBlob::eLabel, kcBlob::eBoundingBoxWidth};
  int shownSeen = 0, rejectedSeen = 0;
  for (int round = 0; round < 160; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    connecttest::Grid g{6 + static_cast<int>(rng() % 20), 6 + static_cast<int>(rng() % 20), {}};
    for (int p = 0; p < g.width * g.height; ++p) g.pels.push_back(rng() % 100 < 45 ? 1 : 0);
    Desc s;
    s.extremaAngle(kcRadian(0.3));
    s.connectComponentsGreyScale(connecttest::encode(g), 1, false, Desc::eNone, 0);
    std::vector<kcBlobFilter> filters;
    for (int f = static_cast<int>(rng() % 3); f > 0; --f) {
      const kcBlob::Measure m = measures[rng() % 5];
      const double low = static_cast<double>(rng() % 6), high = low + static_cast<double>(rng() % 20);
      const bool exclude = rng() % 4 == 0;
      const auto onM = [&](const kcBlobFilter& old) { return old.measure == m; };
      if (std::any_of(filters.begin(), filters.end(), onM)) continue;  // one filter per measure
      s.setFilter(m, low, high, exclude);
      filters.push_back({m, low, high, exclude});
    }
    kcBlob::Measure sortBy = kcBlob::eArea;
    bool ascending = false;
    const unsigned state = rng() % 4;  // none set, set, set and cleared, disabled
    if (state == 1 || state == 2) {
      sortBy = measures[rng() % 5];
      ascending = rng() % 2 == 0;
      s.setSort(sortBy, ascending ? Desc::eAscending : Desc::eDescending);
    }
    if (state == 2) s.clearSort();
    if (state == 3) s.disableSort();

    auto view = [&](const Ids& plain) {
      Items kept;
      for (long id : plain) {
        const kcBlob& b = *s.getBlob(id);
        const bool pass = std::all_of(filters.begin(), filters.end(), [&](const kcBlobFilter& f) {
          const double v = b.measure(f.measure);
          return (f.low <= v && v <= f.high) != f.exclude;
        });
        if (pass) kept.push_back({b.measure(sortBy), static_cast<BlobId>(id)});
      }
      return idsOf(state == 3 ? kept : librarySort(kept, ascending));
    };
    Ids all(static_cast<std::size_t>(s.numBlobs(false)));
    std::iota(all.begin(), all.end(), 1L);
    ASSERT_EQ(idsOf(s.allBlobs(true)), view(all));
    EXPECT_EQ(s.numBlobs(true), static_cast<long>(view(all).size()));
    const Ids top = view(walk(s.firstTop(false), nextPlain));
    EXPECT_EQ(walk(s.firstTop(true)), top);
    EXPECT_EQ(walk(s.lastTop(true), prevShown), Ids(top.rbegin(), top.rend()));
    for (long id = 1; id <= s.numBlobs(false); ++id) {
      const kcBlob* b = s.getBlob(id);
      const Ids children = view(walk(b->firstChild(false), nextPlain));
      ASSERT_EQ(walk(b->firstChild(true)), children) << "blob " << id;
      EXPECT_EQ(b->numChildren(true), static_cast<long>(children.size()));
      EXPECT_EQ(walk(b->lastChild(true), prevShown), Ids(children.rbegin(), children.rend()));
      const bool shown = !view({id}).empty();
      EXPECT_TRUE(shown || (b->nextSibling(true) == nullptr && b->prevSibling(true) == nullptr));
      ++(shown ? shownSeen : rejectedSeen);
    }
  }
  EXPECT_GT(shownSeen, 500);
  EXPECT_GT(rejectedSeen, 500);
}

// A value that is not a number fails an including filter and passes an excluding one; the first
// failing filter ends the test, so no blob reaches the invalid measure of the second.
TEST(BlobDescView, BlobDescView_NaNAndFailingFirstFilter_decidedByTheFilterTest) {
  Desc s;
  fill(s, {0, 0, 0}, {}, {5, 3, 7});
  s.numBlobs(true);  // the areas are known
  scene_fixture::record(*s.getBlob(2)).area = kNaN;
  s.disableSort();
  s.setFilter(kcBlob::eArea, -INFINITY, INFINITY, false);
  EXPECT_EQ(idsOf(s.allBlobs(true)), (Ids{1, 3}));
  s.unSetFilter(kcBlob::eArea);
  s.setFilter(kcBlob::eArea, -INFINITY, INFINITY, true);
  EXPECT_EQ(idsOf(s.allBlobs(true)), (Ids{2}));
  s.unSetFilter(kcBlob::eArea);
  s.setFilter(kcBlob::eArea, 100, 200, false);
  s.setFilter(static_cast<kcBlob::Measure>(43), 0, 1, false);
  EXPECT_TRUE(s.allBlobs(true).empty() && s.firstTop(true) == nullptr);
}

// ---- rebuilding ----

TEST(BlobDescView, BlobDescView_settingChanges_rebuildOnlyAfterAnEffectiveChangeOncePerView) {
  Desc s;
  fill(s, {0, 1, 1, 0}, {}, {4, 1, 2, 3});
  const std::uint64_t& builds = data(s).viewBuilds;
  auto queryAll = [&] {
    s.numBlobs(true);
    s.firstTop(true)->nextSibling(true);
    s.getBlob(1)->firstChild(true);
  };
  queryAll();
  const kcXform<2> shifted(kcMatrix<2>(), kcVector<2>(3, 0));
  struct Change {
    const char* what;
    std::function<void()> apply;
    int rebuilds;  // of the three views
  };
  const Change changes[] = {
      {"nothing", [] {}, 0},
      {"filter", [&] { s.setFilter(kcBlob::eArea, 0, 100, false); }, 3},
      {"unset filter on a measure without one", [&] { s.unSetFilter(kcBlob::ePerimeter); }, 0},
      {"sort", [&] { s.setSort(kcBlob::eArea, Desc::eAscending); }, 3},
      {"the same sort", [&] { s.setSort(kcBlob::eArea, Desc::eAscending); }, 0},
      {"another order stored as descending", [&] { s.setSort(kcBlob::eArea, static_cast<Desc::SortOrder>(7)); }, 3},
      {"descending, as stored", [&] { s.setSort(kcBlob::eArea, Desc::eDescending); }, 0},
      {"clear sort", [&] { s.clearSort(); }, 3},
      {"clear sort again", [&] { s.clearSort(); }, 0},
      {"disable sort", [&] { s.disableSort(); }, 3},
      {"disable sort again", [&] { s.disableSort(); }, 0},
      {"clear sort while disabled", [&] { s.clearSort(); }, 0},
      {"transform", [&] { s.clientFromImageXform(shifted); }, 3},
      {"the same transform", [&] { s.clientFromImageXform(shifted); }, 0},
      {"analysis", [&] { fill(s, {0, 1, 1, 0}, {}, {4, 1, 2, 3}); }, 3},
      {"clear filters", [&] { s.clearFilters(); }, 3},
      {"clear no filters", [&] { s.clearFilters(); }, 0},
  };
  for (const Change& c : changes) {
    const std::uint64_t before = builds;
    c.apply();
    queryAll();
    queryAll();
    EXPECT_EQ(builds - before, static_cast<std::uint64_t>(c.rebuilds)) << c.what;
  }
}

TEST(BlobDescView, BlobDescView_failingMeasure_propagatesLeavesViewStaleNextQueryRetries) {
  Desc s;
  fill(s, {0, 1, 0}, {}, {2, 1, 3});
  kc_BSDData& d = data(s);
  const kcBlob* b1 = s.getBlob(1);
  const auto bad = static_cast<kcBlob::Measure>(43);
  s.setFilter(bad, 0, 1, false);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::uint64_t before = d.viewBuilds;
    EXPECT_THROW(s.numBlobs(true), kcBlob::BadMeasure);
    EXPECT_THROW(s.firstTop(true), kcBlob::BadMeasure);
    EXPECT_THROW(b1->firstChild(true), kcBlob::BadMeasure);
    EXPECT_EQ(d.viewBuilds - before, 3u);
  }
  s.unSetFilter(bad);
  s.setSort(static_cast<kcBlob::Measure>(-1), Desc::eAscending);  // an invalid sort key fails alike
  EXPECT_THROW(s.allBlobs(true), kcBlob::BadMeasure);
  s.disableSort();
  EXPECT_EQ(idsOf(s.allBlobs(true)), (Ids{1, 2, 3}));
  EXPECT_EQ(b1->firstChild(true), s.getBlob(2));
}

TEST(BlobDescView, BlobDescView_preCompute_fillsTheAskedBlobsOnly) {
  Desc s;
  fill(s, {0, 0, 0}, {}, {2, 1, 3});
  s.disableSort();
  scene_fixture::entry(*s.getBlob(2)).label = 1;
  s.setFilter(kcBlob::eLabel, 1, 1, false);
  s.preCompute(kcBlob::eArea, true);
  auto areaKnown = [&](long id) { return scene_fixture::record(*s.getBlob(id)).areaValid; };
  EXPECT_TRUE(!areaKnown(1) && areaKnown(2) && !areaKnown(3));
  s.preCompute(kcBlob::eArea, false);
  EXPECT_TRUE(areaKnown(1) && areaKnown(3));
  EXPECT_THROW(s.preCompute(static_cast<kcBlob::Measure>(43), false), kcBlob::BadMeasure);
  EXPECT_THROW(Desc().preCompute(kcBlob::eArea, true), Desc::Degenerate);
}

}  // namespace
