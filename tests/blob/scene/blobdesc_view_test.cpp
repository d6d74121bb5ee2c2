// Tests of the filtered and sorted view: every shown list against the filter test and the heap
// sort applied to its plain list, values that are not numbers, and failures during a rebuild.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
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

long idOf(const kc_ViewKey& item) { return item.id; }
long idOf(const kcBlob* b) { return b->id(); }

template <class List>
Ids idsOf(const List& list) {
  Ids out;
  for (const auto& item : list) out.push_back(idOf(item));
  return out;
}

// sorted(items, ascending): the ids in the order the library's heap sort leaves them.
Ids sorted(Items items, bool ascending) {
  kf_ViewSort(items.data(), items.size(), ascending);
  return idsOf(items);
}

// walk(first, shown, back): the ids from first along the shown or plain siblings, forwards or back.
Ids walk(const kcBlob* first, bool shown = true, bool back = false) {
  Ids out;
  for (const kcBlob* b = first; b != nullptr; b = back ? b->prevSibling(shown) : b->nextSibling(shown))
    out.push_back(b->id());
  return out;
}

// ---- the view of a scene ----

// Random analysed scenes with random filters and sort states (none set: area, largest first; set;
// set and cleared, which still orders; disabled: id order), changed once after every view was
// built: every shown list agrees with the filter test and the heap sort applied to the matching
// plain list, a blob left out has no shown neighbours, and a rejected parent hides its children
// from the top level only.
TEST(BlobDescView, BlobDescView_randomScenes_everyShownListMatchesItsPlainList) {
  std::mt19937 rng(18);
  const kcBlob::Measure measures[] = {kcBlob::eArea, kcBlob::eCenterOfMassX, kcBlob::ePerimeter,
                                      kcBlob::eLabel, kcBlob::eBoundingBoxWidth};
  int shownSeen = 0, rejectedSeen = 0;
  for (int round = 0; round < 120; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Desc s;
    s.extremaAngle(kcRadian(0.3));
    const connecttest::Grid g = connecttest::randomGrid(rng, 6 + static_cast<int>(rng() % 20), 6 + static_cast<int>(rng() % 20));
    s.connectComponentsGreyScale(connecttest::encode(g), 1, false, Desc::eNone, 0);
    std::vector<kcBlobFilter> filters;
    kcBlob::Measure sortBy = kcBlob::eArea;
    bool ascending = false, set = false, disabled = false;  // a cleared sort still orders by its measure
    for (int pass = 0; pass < 2; ++pass) {  // the second changes what the first's views were built for
      if (pass == 1 && rng() % 2 == 0) s.clearFilters(), filters.clear();
      for (int f = static_cast<int>(rng() % 3); f > 0; --f) {
        const kcBlob::Measure m = measures[rng() % 5];
        const double low = static_cast<double>(rng() % 6), high = low + static_cast<double>(rng() % 20);
        const bool exclude = rng() % 3 == 0;
        if (std::any_of(filters.begin(), filters.end(), [&](const kcBlobFilter& old) { return old.measure == m; }))
          continue;  // one filter per measure
        s.setFilter(m, low, high, exclude);
        filters.push_back({m, low, high, exclude});
      }
      const unsigned state = rng() % 4;  // kept, set, set and cleared, disabled
      if (state == 1 || state == 2) {
        if (rng() % 2 == 0) sortBy = measures[rng() % 5];  // else the same measure, maybe the other order
        ascending = rng() % 2 == 0;
        const auto descending = static_cast<Desc::SortOrder>(rng() % 2 ? 0 : 7);  // any order but ascending
        s.setSort(sortBy, ascending ? Desc::eAscending : descending);
        set = true, disabled = false;
      }
      if (state == 2) s.clearSort(), set = false;
      if (state == 3) s.disableSort(), set = false, disabled = true;
      kcBlob::Measure setBy = kcBlob::eLabel;
      Desc::SortOrder order = Desc::eAscending;
      ASSERT_EQ(s.getSort(setBy, order), set);  // answers the set sort only, else leaves its outputs
      EXPECT_TRUE(set ? setBy == sortBy && order == (ascending ? Desc::eAscending : Desc::eDescending)
                      : setBy == kcBlob::eLabel && order == Desc::eAscending);

      auto view = [&](const Ids& plain) {
        Items kept;
        for (long id : plain) {
          const kcBlob& b = *s.getBlob(id);
          const bool passes = std::all_of(filters.begin(), filters.end(), [&](const kcBlobFilter& f) {
            const double v = b.measure(f.measure);
            return (f.low <= v && v <= f.high) != f.exclude;
          });
          if (passes) kept.push_back({b.measure(sortBy), static_cast<BlobId>(id)});
        }
        return disabled ? idsOf(kept) : sorted(kept, ascending);
      };
      Ids all(static_cast<std::size_t>(s.numBlobs(false)));
      std::iota(all.begin(), all.end(), 1L);
      ASSERT_EQ(idsOf(s.allBlobs(true)), view(all)) << "pass " << pass;
      EXPECT_EQ(s.numBlobs(true), static_cast<long>(view(all).size()));
      const Ids top = view(walk(s.firstTop(false), false));
      EXPECT_EQ(walk(s.firstTop(true)), top);
      EXPECT_EQ(walk(s.lastTop(true), true, true), Ids(top.rbegin(), top.rend()));
      for (long id = 1; id <= s.numBlobs(false); ++id) {
        const kcBlob* b = s.getBlob(id);
        const Ids children = view(walk(b->firstChild(false), false));
        ASSERT_EQ(walk(b->firstChild(true)), children) << "blob " << id;
        EXPECT_EQ(b->numChildren(true), static_cast<long>(children.size()));
        EXPECT_EQ(walk(b->lastChild(true), true, true), Ids(children.rbegin(), children.rend()));
        EXPECT_EQ(walk(b->lastChild(false), false, true).size(), walk(b->firstChild(false), false).size());
        const bool shown = !view({id}).empty();
        EXPECT_TRUE(shown || (b->nextSibling(true) == nullptr && b->prevSibling(true) == nullptr));
        ++(shown ? shownSeen : rejectedSeen);
      }
    }
  }
  EXPECT_GT(shownSeen, 300);
  EXPECT_GT(rejectedSeen, 300);
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

// A measure failing during a rebuild propagates and leaves the view stale, so the next query tries
// again; preCompute fills the asked blobs only.
TEST(BlobDescView, BlobDescView_failingMeasureOrPreCompute_retriedOrFillsTheAskedBlobsOnly) {
  Desc s;
  fill(s, {0, 1, 0}, {}, {2, 1, 3});
  const kcBlob* b1 = s.getBlob(1);
  const auto bad = static_cast<kcBlob::Measure>(43);
  s.setFilter(bad, 0, 1, false);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::uint64_t before = data(s).viewBuilds;
    EXPECT_THROW(s.numBlobs(true), kcBlob::BadMeasure);
    EXPECT_THROW(s.firstTop(true), kcBlob::BadMeasure);
    EXPECT_THROW(b1->firstChild(true), kcBlob::BadMeasure);
    EXPECT_EQ(data(s).viewBuilds - before, 3u);
  }
  s.unSetFilter(bad);
  s.setSort(static_cast<kcBlob::Measure>(-1), Desc::eAscending);  // an invalid sort key fails alike
  EXPECT_THROW(s.allBlobs(true), kcBlob::BadMeasure);
  s.disableSort();
  EXPECT_EQ(idsOf(s.allBlobs(true)), (Ids{1, 2, 3}));
  EXPECT_EQ(b1->firstChild(true), s.getBlob(2));

  scene_fixture::entry(*s.getBlob(3)).label = 2;
  s.setFilter(kcBlob::eLabel, 2, 2, false);
  s.preCompute(kcBlob::eArea, true);
  auto areaKnown = [&](long id) { return scene_fixture::record(*s.getBlob(id)).areaValid; };
  EXPECT_TRUE(!areaKnown(1) && !areaKnown(2) && areaKnown(3));
  s.preCompute(kcBlob::eArea, false);
  EXPECT_TRUE(areaKnown(1) && areaKnown(2));
  EXPECT_THROW(s.preCompute(bad, false), kcBlob::BadMeasure);
  EXPECT_THROW(Desc().preCompute(kcBlob::eArea, true), Desc::Degenerate);
}

}  // namespace
