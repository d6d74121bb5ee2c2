// Tests of the filtered and sorted view: the heap sort's order (ties and values that are not numbers
// included), the filter test at each level of the tree, lazy rebuilding, and failures during a
// rebuild.
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
#include <utility>
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

// The procedure written out over a 1-based array, as the reference for the library's version.
Items referenceHeapSort(Items a, bool ascending) {
  const std::size_t n = a.size();
  if (n < 2) return a;
  a.insert(a.begin(), kc_ViewKey{});
  auto better = [&](double x, double y) { return ascending ? x > y : !(x >= y); };
  auto sink = [&](double k, double y) { return ascending ? !(k >= y) : k > y; };
  std::size_t l = n / 2 + 1, r = n;
  for (;;) {
    kc_ViewKey k;
    if (l > 1) {
      k = a[--l];
    } else {
      k = std::exchange(a[r], a[1]);
      if (--r == 1) {
        a[1] = k;
        break;
      }
    }
    std::size_t i = l, j = 2 * l;
    while (j <= r) {
      if (j < r && better(a[j + 1].key, a[j].key)) ++j;
      if (!sink(k.key, a[j].key)) break;
      a[i] = a[j];
      i = j;
      j *= 2;
    }
    a[i] = k;
  }
  a.erase(a.begin());
  return a;
}

TEST(ViewSort_ties, handWorkedOrders) {
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

TEST(ViewSort_random, matchesTheProcedure_withManyTiesAndNaNs) {
  std::mt19937 rng(17);
  const double pool[] = {0.0, 1.0, 2.0, -1.0, kNaN, INFINITY};
  for (int round = 0; round < 3000; ++round) {
    Items in(rng() % 40);
    const bool ascending = rng() % 2 == 0, withNaN = round % 3 == 0;
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = {pool[rng() % (withNaN ? 6 : 4)], static_cast<BlobId>(i + 1)};
    const Items got = librarySort(in, ascending);
    ASSERT_EQ(idsOf(got), idsOf(referenceHeapSort(in, ascending))) << "round " << round;
    for (std::size_t i = 0; i < got.size(); ++i) {
      // Each key travels with its id; without NaNs the keys come out ordered.
      EXPECT_TRUE(got[i].key == in[got[i].id - 1].key || std::isnan(got[i].key));
      EXPECT_TRUE(withNaN || i == 0 || (ascending ? got[i - 1].key <= got[i].key : got[i - 1].key >= got[i].key));
    }
  }
}

// ---- the view of a scene ----

// Sort settings, defaults and the filter test on a flat scene of four blobs of areas 5, 3, 5, 7. After
// each step the list, the count and both walks of the top level agree, and a blob left out of the
// view has no shown neighbours.
TEST(BlobDescView_flat, sortStates_rangeFilters_andNaN) {
  Desc s;
  fill(s, {0, 0, 0, 0}, {}, {5, 3, 5, 7});
  kcBlob::Measure m{};
  Desc::SortOrder order{};
  EXPECT_FALSE(s.getSort(m, order));
  const auto area = kcBlob::eArea, bad = static_cast<kcBlob::Measure>(43);
  const std::pair<std::function<void()>, Ids> steps[] = {
      {[] {}, {4, 3, 1, 2}},  // by area, largest first; ties 3 before 1
      {[&] { s.setSort(area, Desc::eAscending); s.clearSort(); }, {2, 3, 1, 4}},  // the cleared sort still orders
      {[&] { s.disableSort(); s.clearSort(); }, {1, 2, 3, 4}},
      {[&] { s.setFilter(area, 5, 5, false); }, {1, 3}},
      {[&] { s.unSetFilter(area); s.setFilter(area, 5, 5, true); }, {2, 4}},
      // The first failing filter ends the test: no blob reaches the invalid measure of the second.
      {[&] { s.unSetFilter(area); s.setFilter(area, 100, 200, false); s.setFilter(bad, 0, 1, false); }, {}},
      {[&] {
         s.clearFilters();
         scene_fixture::record(*s.getBlob(2)).area = kNaN;  // a value that is not a number
         s.setFilter(area, -INFINITY, INFINITY, false);
       },
       {1, 3, 4}},
      {[&] { s.unSetFilter(area); s.setFilter(area, -INFINITY, INFINITY, true); }, {2}},
  };
  for (const auto& [apply, want] : steps) {
    apply();
    SCOPED_TRACE(::testing::PrintToString(want));
    EXPECT_EQ(idsOf(s.allBlobs(true)), want);
    EXPECT_EQ(s.numBlobs(true), static_cast<long>(want.size()));
    EXPECT_EQ(walk(s.firstTop(true)), want);
    EXPECT_EQ(walk(s.lastTop(true), prevShown), Ids(want.rbegin(), want.rend()));
    for (long id = 1; id <= 4; ++id) {
      const kcBlob* b = s.getBlob(id);
      const bool shown = std::find(want.begin(), want.end(), id) != want.end();
      EXPECT_TRUE(shown || (b->nextSibling(true) == nullptr && b->prevSibling(true) == nullptr)) << id;
    }
  }
}

// Each level is filtered on its own. Tree: 1 (area 10) holds 2 (area 2) and 3 (area 3); 4 (area 1)
// is top level too.
TEST(BlobDescView_levels, rejectedParent_hidesChildrenOnlyFromTheTopWalk) {
  Desc s;
  fill(s, {0, 1, 1, 0}, {}, {10, 2, 3, 1});
  const kcBlob* b1 = s.getBlob(1);
  EXPECT_EQ(b1->nextSibling(true), s.getBlob(4));
  s.setFilter(kcBlob::eArea, 2, 5, false);
  EXPECT_EQ(s.firstTop(true), nullptr);
  EXPECT_EQ(s.lastTop(true), nullptr);
  EXPECT_EQ(idsOf(s.allBlobs(true)), (Ids{3, 2}));
  EXPECT_EQ(s.numBlobs(true), 2);
  EXPECT_TRUE(b1->numChildren(true) == 2 && b1->numChildren(false) == 2);
  EXPECT_EQ(walk(b1->firstChild(true)), (Ids{3, 2}));
  EXPECT_EQ(b1->lastChild(true), s.getBlob(2));
  EXPECT_EQ(b1->nextSibling(true), nullptr);  // its link to 4 belonged to the earlier view
  s.setFilter(kcBlob::eImageBoundingBoxMinX, 12, 100, false);  // drops 2 (at x = 10)
  EXPECT_EQ(walk(b1->firstChild(true)), Ids{3});
  s.setFilter(kcBlob::eLabel, 1, 1, false);  // drops every child
  EXPECT_EQ(b1->lastChild(true), nullptr);
  EXPECT_TRUE(b1->numChildren(true) == 0 && b1->numChildren(false) == 2);
}

// Random analysed scenes with random filters and sorts: every shown list agrees with the filter
// test and the heap sort applied to the matching plain list.
TEST(BlobDescView_random, everyShownListMatchesItsPlainList) {
  std::mt19937 rng(18);
  const kcBlob::Measure measures[] = {kcBlob::eArea, kcBlob::eCenterOfMassX, kcBlob::ePerimeter,
                                      kcBlob::eLabel, kcBlob::eBoundingBoxWidth};
  int shownSeen = 0, rejectedSeen = 0;
  for (int round = 0; round < 120; ++round) {
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
    const kcBlob::Measure sortBy = measures[rng() % 5];
    const bool ascending = rng() % 2 == 0, disabled = rng() % 5 == 0;
    disabled ? s.disableSort() : s.setSort(sortBy, ascending ? Desc::eAscending : Desc::eDescending);

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
      return idsOf(disabled ? kept : librarySort(kept, ascending));
    };
    Ids all(static_cast<std::size_t>(s.numBlobs(false)));
    std::iota(all.begin(), all.end(), 1L);
    ASSERT_EQ(idsOf(s.allBlobs(true)), view(all));
    EXPECT_EQ(s.numBlobs(true), static_cast<long>(view(all).size()));
    EXPECT_EQ(walk(s.firstTop(true)), view(walk(s.firstTop(false), nextPlain)));
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

// ---- rebuilding ----

TEST(BlobDescView_rebuild, onlyAfterAnEffectiveChange_oncePerView) {
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
      {"disable sort", [&] { s.disableSort(); }, 3},
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

TEST(BlobDescView_rebuild, failingMeasure_propagatesLeavesViewStale_nextQueryRetries) {
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
    EXPECT_TRUE(d.shownIdsCounter != d.viewCounter && d.shownTopCounter != d.viewCounter);
    EXPECT_NE(kc_SceneBuilder::parts(*b1).shown().shownStamp, d.viewCounter);
  }
  s.unSetFilter(bad);
  s.setSort(static_cast<kcBlob::Measure>(-1), Desc::eAscending);  // an invalid sort key fails alike
  EXPECT_THROW(s.allBlobs(true), kcBlob::BadMeasure);
  s.disableSort();
  EXPECT_EQ(idsOf(s.allBlobs(true)), (Ids{1, 2, 3}));
  EXPECT_EQ(b1->firstChild(true), s.getBlob(2));
}

TEST(BlobDescView_preCompute, fillsTheAskedBlobsOnly) {
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
