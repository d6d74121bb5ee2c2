// Tests of the filtered and sorted view: the heap sort's order (ties and values that are not numbers
// included), the filter test at each level of the tree, lazy rebuilding, and failures during a
// rebuild.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <gtest/gtest.h>

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
#include "scene/view_sort.h"

namespace {

using Desc = kcBlobSceneDescription;
using scene_fixture::data;
using scene_fixture::fill;
using Ids = std::vector<long>;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// viewSort(keys, ids, ascending): the library's sort of the keys with their ids.
void viewSort(std::vector<double>& keys, std::vector<BlobId>& ids, bool ascending) {
  std::vector<kc_ViewKey> items;
  for (std::size_t i = 0; i < keys.size(); ++i) items.push_back({keys[i], ids[i]});
  kf_ViewSort(items.data(), items.size(), ascending);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    keys[i] = items[i].key;
    ids[i] = items[i].id;
  }
}

Ids sorted(std::vector<double> keys, bool ascending) {
  std::vector<BlobId> ids(keys.size());
  std::iota(ids.begin(), ids.end(), BlobId{1});
  viewSort(keys, ids, ascending);
  return Ids(ids.begin(), ids.end());
}

Ids idsOf(const std::vector<const kcBlob*>& blobs) {
  Ids out;
  for (const kcBlob* b : blobs) out.push_back(b->id());
  return out;
}

// walk(first, next): the ids from first along next until null.
Ids walk(const kcBlob* first, const std::function<const kcBlob*(const kcBlob*)>& next) {
  Ids out;
  for (const kcBlob* b = first; b != nullptr; b = next(b)) out.push_back(b->id());
  return out;
}

// ---- the heap sort ----

// The procedure written out over 1-based arrays, as the reference for the library's version.
void referenceHeapSort(std::vector<double>& keys, std::vector<BlobId>& ids, bool ascending) {
  const std::size_t n = keys.size();
  if (n < 2) return;
  std::vector<double> a(1, 0.0);
  std::vector<BlobId> b(1, 0);
  a.insert(a.end(), keys.begin(), keys.end());
  b.insert(b.end(), ids.begin(), ids.end());
  auto better = [&](double x, double y) { return ascending ? x > y : !(x >= y); };
  auto sink = [&](double k, double y) { return ascending ? !(k >= y) : k > y; };
  std::size_t l = n / 2 + 1, r = n;
  for (;;) {
    double k;
    BlobId id;
    if (l > 1) {
      l = l - 1;
      k = a[l];
      id = b[l];
    } else {
      k = a[r];
      id = b[r];
      a[r] = a[1];
      b[r] = b[1];
      r = r - 1;
      if (r == 1) {
        a[1] = k;
        b[1] = id;
        break;
      }
    }
    std::size_t i = l, j = 2 * l;
    while (j <= r) {
      if (j < r && better(a[j + 1], a[j])) j = j + 1;
      if (sink(k, a[j])) {
        a[i] = a[j];
        b[i] = b[j];
        i = j;
        j = 2 * j;
      } else {
        j = r + 1;
      }
    }
    a[i] = k;
    b[i] = id;
  }
  keys.assign(a.begin() + 1, a.end());
  ids.assign(b.begin() + 1, b.end());
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
  for (const Case& c : cases) EXPECT_EQ(sorted(c.keys, c.ascending), c.want) << ::testing::PrintToString(c.keys);
}

TEST(ViewSort_random, matchesTheProcedure_withManyTiesAndNaNs) {
  std::mt19937 rng(17);
  const double pool[] = {0.0, 1.0, 2.0, -1.0, kNaN, INFINITY};
  for (int round = 0; round < 3000; ++round) {
    const std::size_t n = rng() % 40;
    const bool ascending = rng() % 2 == 0;
    const bool withNaN = round % 3 == 0;
    std::vector<double> keys(n);
    for (double& k : keys) k = pool[rng() % (withNaN ? 6 : 4)];
    std::vector<BlobId> ids(n);
    std::iota(ids.begin(), ids.end(), BlobId{1});
    std::vector<double> wantKeys = keys, gotKeys = keys;
    std::vector<BlobId> wantIds = ids, gotIds = ids;
    referenceHeapSort(wantKeys, wantIds, ascending);
    viewSort(gotKeys, gotIds, ascending);
    ASSERT_EQ(gotIds, wantIds) << "round " << round;
    for (std::size_t i = 0; i < n; ++i) {
      // Each key travels with its id; without NaNs the keys come out ordered.
      EXPECT_TRUE(gotKeys[i] == keys[gotIds[i] - 1] || std::isnan(gotKeys[i]));
      if (!withNaN && i > 0) {
        EXPECT_TRUE(ascending ? gotKeys[i - 1] <= gotKeys[i] : gotKeys[i - 1] >= gotKeys[i]);
      }
    }
  }
}

// ---- the view of a scene ----

// Sort settings, defaults and the filter test on a flat scene of four blobs of areas 5, 3, 5, 7.
TEST(BlobDescView_flat, sortStates_rangeFilters_andNaN) {
  Desc s;
  fill(s, {0, 0, 0, 0}, {}, {5, 3, 5, 7});
  kcBlob::Measure m{};
  Desc::SortOrder order{};
  EXPECT_EQ(s.numBlobs(true), 4);
  EXPECT_EQ(idsOf(s.allBlobs(true)), (Ids{4, 3, 1, 2}));  // by area, largest first; ties 3 before 1
  EXPECT_FALSE(s.getSort(m, order));
  EXPECT_EQ(walk(s.firstTop(true), [](const kcBlob* b) { return b->nextSibling(true); }), (Ids{4, 3, 1, 2}));
  EXPECT_EQ(walk(s.lastTop(true), [](const kcBlob* b) { return b->prevSibling(true); }), (Ids{2, 1, 3, 4}));

  s.setSort(kcBlob::eArea, Desc::eAscending);
  s.clearSort();
  EXPECT_EQ(idsOf(s.allBlobs(true)), (Ids{2, 3, 1, 4}));  // the cleared sort still orders
  s.disableSort();
  s.clearSort();
  EXPECT_EQ(idsOf(s.allBlobs(true)), (Ids{1, 2, 3, 4}));

  s.setFilter(kcBlob::eArea, 5, 5, false);
  EXPECT_EQ(idsOf(s.allBlobs(true)), (Ids{1, 3}));
  EXPECT_EQ(s.firstTop(true)->id(), 1);
  EXPECT_EQ(s.getBlob(2)->nextSibling(true), nullptr);  // out of the view: no shown neighbours
  s.unSetFilter(kcBlob::eArea);
  s.setFilter(kcBlob::eArea, 5, 5, true);
  EXPECT_EQ(idsOf(s.allBlobs(true)), (Ids{2, 4}));

  // The first failing filter ends the test: no blob reaches the invalid measure of the second.
  s.unSetFilter(kcBlob::eArea);
  s.setFilter(kcBlob::eArea, 100, 200, false);
  s.setFilter(static_cast<kcBlob::Measure>(43), 0, 1, false);
  EXPECT_EQ(idsOf(s.allBlobs(true)), Ids{});
  s.clearFilters();

  scene_fixture::record(*s.getBlob(2)).area = kNaN;  // a value that is not a number
  s.setFilter(kcBlob::eArea, -INFINITY, INFINITY, false);
  EXPECT_EQ(idsOf(s.allBlobs(true)), (Ids{1, 3, 4}));
  s.unSetFilter(kcBlob::eArea);
  s.setFilter(kcBlob::eArea, -INFINITY, INFINITY, true);
  EXPECT_EQ(idsOf(s.allBlobs(true)), Ids{2});
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
  EXPECT_EQ(b1->numChildren(true), 2);
  EXPECT_EQ(b1->numChildren(false), 2);
  EXPECT_EQ(walk(b1->firstChild(true), [](const kcBlob* b) { return b->nextSibling(true); }), (Ids{3, 2}));
  EXPECT_EQ(b1->lastChild(true), s.getBlob(2));
  EXPECT_EQ(b1->nextSibling(true), nullptr);  // its link to 4 belonged to the earlier view
  s.setFilter(kcBlob::eImageBoundingBoxMinX, 12, 100, false);  // drops 2 (at x = 10)
  EXPECT_EQ(b1->firstChild(true), s.getBlob(3));
  EXPECT_EQ(s.getBlob(3)->nextSibling(true), nullptr);
  s.setFilter(kcBlob::eLabel, 1, 1, false);  // drops every child
  EXPECT_EQ(b1->lastChild(true), nullptr);
  EXPECT_EQ(b1->numChildren(true), 0);
  EXPECT_EQ(b1->numChildren(false), 2);
}

// Random analysed scenes with random filters and sorts: every shown list agrees with the filter
// test and the heap sort applied to the matching plain list.
TEST(BlobDescView_random, everyShownListMatchesItsPlainList) {
  using connecttest::Grid;
  std::mt19937 rng(18);
  const kcBlob::Measure measures[] = {kcBlob::eArea, kcBlob::eCenterOfMassX, kcBlob::ePerimeter,
                                      kcBlob::eLabel, kcBlob::eBoundingBoxWidth};
  int shownSeen = 0, rejectedSeen = 0;
  for (int round = 0; round < 120; ++round) {
    Grid g;
    g.width = 6 + static_cast<int>(rng() % 20);
    g.height = 6 + static_cast<int>(rng() % 20);
    for (int p = 0; p < g.width * g.height; ++p) g.pels.push_back(rng() % 100 < 45 ? 1 : 0);
    Desc s;
    s.extremaAngle(kcRadian(0.3));
    s.connectComponentsGreyScale(connecttest::encode(g), 1, false, Desc::eNone, 0);
    std::vector<kcBlobFilter> filters;
    for (int f = static_cast<int>(rng() % 3); f > 0; --f) {
      const kcBlob::Measure m = measures[rng() % 5];
      const double low = static_cast<double>(rng() % 6), high = low + static_cast<double>(rng() % 20);
      const bool exclude = rng() % 4 == 0;
      double oldLow, oldHigh;
      bool oldExclude;
      if (s.getFilter(m, oldLow, oldHigh, oldExclude)) continue;
      s.setFilter(m, low, high, exclude);
      filters.push_back({m, low, high, exclude});
    }
    const kcBlob::Measure sortBy = measures[rng() % 5];
    const bool ascending = rng() % 2 == 0, disabled = rng() % 5 == 0;
    if (disabled)
      s.disableSort();
    else
      s.setSort(sortBy, ascending ? Desc::eAscending : Desc::eDescending);

    auto view = [&](const Ids& plain) {
      Ids kept;
      std::vector<double> keys;
      for (long id : plain) {
        const kcBlob& b = *s.getBlob(id);
        bool pass = true;
        for (const kcBlobFilter& f : filters) {
          const double v = b.measure(f.measure);
          pass = pass && (f.low <= v && v <= f.high) != f.exclude;
        }
        if (!pass) continue;
        kept.push_back(id);
        keys.push_back(b.measure(sortBy));
      }
      if (disabled) return kept;
      std::vector<BlobId> order(kept.begin(), kept.end());
      viewSort(keys, order, ascending);
      return Ids(order.begin(), order.end());
    };
    auto next = [](const kcBlob* b) { return b->nextSibling(true); };
    auto prev = [](const kcBlob* b) { return b->prevSibling(true); };
    auto nextRaw = [](const kcBlob* b) { return b->nextSibling(false); };

    Ids all(static_cast<std::size_t>(s.numBlobs(false)));
    std::iota(all.begin(), all.end(), 1L);
    ASSERT_EQ(idsOf(s.allBlobs(true)), view(all)) << "round " << round;
    EXPECT_EQ(s.numBlobs(true), static_cast<long>(view(all).size()));
    const Ids top = view(walk(s.firstTop(false), nextRaw));
    EXPECT_EQ(walk(s.firstTop(true), next), top) << "round " << round;
    for (long id = 1; id <= s.numBlobs(false); ++id) {
      const kcBlob* b = s.getBlob(id);
      const Ids children = view(walk(b->firstChild(false), nextRaw));
      ASSERT_EQ(walk(b->firstChild(true), next), children) << "round " << round << " blob " << id;
      EXPECT_EQ(b->numChildren(true), static_cast<long>(children.size()));
      Ids backwards(children.rbegin(), children.rend());
      EXPECT_EQ(walk(b->lastChild(true), prev), backwards);
      const bool shown = !view({id}).empty();
      if (!shown) {
        EXPECT_TRUE(b->nextSibling(true) == nullptr && b->prevSibling(true) == nullptr);
      }
      shownSeen += shown;
      rejectedSeen += !shown;
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
    EXPECT_NE(d.shownIdsCounter, d.viewCounter);
    EXPECT_NE(d.shownTopCounter, d.viewCounter);
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
  Desc degenerate;
  EXPECT_THROW(degenerate.preCompute(kcBlob::eArea, true), Desc::Degenerate);
}

}  // namespace
