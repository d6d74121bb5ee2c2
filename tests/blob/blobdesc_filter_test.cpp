// Tests of the scene's filter and sort settings: validation, state transitions and the moves of
// the view counter (exactly one per effective change, none otherwise).
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "blobdesc_fixture.h"

namespace {

using Desc = kcBlobSceneDescription;
using Msg = kc_BlobMessages;

std::uint32_t view(const Desc& s) { return scene_fixture::data(s).viewCounter; }

struct FilterValues {
  kcBlob::Measure m;
  double low, high;
  bool exclude;
};

FilterValues filterAt(const Desc& s, long index) {
  FilterValues f{};
  s.getFilter(index, f.m, f.low, f.high, f.exclude);
  return f;
}

// ---- filters ----

TEST(BlobDescFilter_set, appendsInOrder_andMovesViewOncePerFilter) {
  Desc s;
  s.setFilter(kcBlob::eArea, 1, 2, false);
  s.setFilter(kcBlob::eLabel, 3, 3, true);
  EXPECT_EQ(view(s), 2u);
  ASSERT_EQ(s.numFilters(), 2);
  FilterValues f = filterAt(s, 1);
  EXPECT_EQ(f.m, kcBlob::eLabel);
  EXPECT_EQ(f.low, 3);
  EXPECT_TRUE(f.exclude);
  double low = 0, high = 0;
  bool exclude = true;
  EXPECT_TRUE(s.getFilter(kcBlob::eArea, low, high, exclude));
  EXPECT_EQ(low, 1);
  EXPECT_EQ(high, 2);
  EXPECT_FALSE(exclude);
}

TEST(BlobDescFilter_set, duplicate_throwsMessage7BeforeTheRangeTest) {
  Desc s;
  s.setFilter(kcBlob::eArea, 1, 2, false);
  EXPECT_SCENE_ERROR(s.setFilter(kcBlob::eArea, 5, 4, false), Desc::DuplicateFilter,
                     Msg::eDuplicateFilter);
  EXPECT_EQ(s.numFilters(), 1);
  EXPECT_EQ(view(s), 1u);
  s.unSetFilter(kcBlob::eArea);
  s.setFilter(kcBlob::eArea, 4, 5, false);
  EXPECT_EQ(filterAt(s, 0).low, 4);
}

TEST(BlobDescFilter_set, lowAboveHighOrNotANumber_throwsMessage4AndChangesNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Desc s;
  const std::uint64_t notices = s.mutationCount();
  EXPECT_SCENE_ERROR(s.setFilter(kcBlob::eArea, 2, 1, false), kcBlobDefs::BadParams,
                     Msg::eFilterLimits);
  EXPECT_SCENE_ERROR(s.setFilter(kcBlob::eArea, nan, 1, false), kcBlobDefs::BadParams,
                     Msg::eFilterLimits);
  EXPECT_SCENE_ERROR(s.setFilter(kcBlob::eArea, 1, nan, false), kcBlobDefs::BadParams,
                     Msg::eFilterLimits);
  EXPECT_EQ(s.numFilters(), 0);
  EXPECT_EQ(view(s), 0u);
  EXPECT_EQ(s.mutationCount(), notices);
  s.setFilter(kcBlob::eArea, -INFINITY, INFINITY, false);  // infinite limits are numbers
  EXPECT_EQ(s.numFilters(), 1);
}

TEST(BlobDescFilter_unSet, removesAndClosesGap_orDoesNothing) {
  Desc s;
  s.setFilter(kcBlob::eArea, 1, 1, false);
  s.setFilter(kcBlob::eLabel, 2, 2, false);
  s.setFilter(kcBlob::ePerimeter, 3, 3, false);
  s.unSetFilter(kcBlob::eLabel);
  EXPECT_EQ(view(s), 4u);
  ASSERT_EQ(s.numFilters(), 2);
  EXPECT_EQ(filterAt(s, 0).m, kcBlob::eArea);
  EXPECT_EQ(filterAt(s, 1).m, kcBlob::ePerimeter);

  const std::uint64_t notices = s.mutationCount();
  s.unSetFilter(kcBlob::eLabel);  // no filter: notice given, counter still
  EXPECT_EQ(view(s), 4u);
  EXPECT_GT(s.mutationCount(), notices);
}

TEST(BlobDescFilter_clear, movesViewOnce_orNothingWithoutFilters) {
  Desc s;
  const std::uint64_t notices = s.mutationCount();
  s.clearFilters();
  EXPECT_EQ(view(s), 0u);
  EXPECT_EQ(s.mutationCount(), notices);
  s.setFilter(kcBlob::eArea, 1, 1, false);
  s.setFilter(kcBlob::eLabel, 1, 1, false);
  s.clearFilters();
  EXPECT_EQ(view(s), 3u);
  EXPECT_EQ(s.numFilters(), 0);
}

TEST(BlobDescFilter_get, indexOutOfRange_throwsMessage3AndLeavesOutputs) {
  Desc s;
  s.setFilter(kcBlob::eArea, 1, 2, false);
  kcBlob::Measure m = kcBlob::eLabel;
  double low = 9, high = 9;
  bool exclude = true;
  EXPECT_SCENE_ERROR(s.getFilter(1, m, low, high, exclude), kcBlobDefs::BadParams,
                     Msg::eBadFilterIndex);
  EXPECT_SCENE_ERROR(s.getFilter(-1, m, low, high, exclude), kcBlobDefs::BadParams,
                     Msg::eBadFilterIndex);
  EXPECT_FALSE(s.getFilter(kcBlob::eLabel, low, high, exclude));
  EXPECT_EQ(m, kcBlob::eLabel);
  EXPECT_EQ(low, 9);
  EXPECT_TRUE(exclude);
}

// ---- sort ----

TEST(BlobDescSort_set, sameSortTwice_movesViewOnce) {
  Desc s;
  s.setSort(kcBlob::eLabel, Desc::eAscending);
  s.setSort(kcBlob::eLabel, Desc::eAscending);
  EXPECT_EQ(view(s), 1u);
  s.setSort(kcBlob::eLabel, Desc::eDescending);
  s.setSort(kcBlob::eArea, Desc::eDescending);
  EXPECT_EQ(view(s), 3u);
  kcBlob::Measure m{};
  Desc::SortOrder o{};
  EXPECT_TRUE(s.getSort(m, o));
  EXPECT_EQ(m, kcBlob::eArea);
  EXPECT_EQ(o, Desc::eDescending);
}

TEST(BlobDescSort_set, defaultMeasureAndOrderWithoutSetSort_stillMovesView) {
  Desc s;  // default state already orders by area, descending
  s.setSort(kcBlob::eArea, Desc::eDescending);
  EXPECT_EQ(view(s), 1u);
}

TEST(BlobDescSort_set, orderOtherThanAscending_isStoredDescending) {
  Desc s;
  s.setSort(kcBlob::eLabel, static_cast<Desc::SortOrder>(7));
  EXPECT_EQ(scene_fixture::data(s).sortOrder, Desc::eDescending);
  s.setSort(kcBlob::eLabel, Desc::eDescending);  // the same sort: nothing moves
  EXPECT_EQ(view(s), 1u);
}

TEST(BlobDescSort_disable, twice_movesViewOnce_andClearSortThenDoesNothing) {
  Desc s;
  s.setSort(kcBlob::eLabel, Desc::eAscending);
  s.disableSort();
  s.disableSort();
  EXPECT_EQ(view(s), 2u);
  kcBlob::Measure m{};
  Desc::SortOrder o{};
  EXPECT_FALSE(s.getSort(m, o));
  EXPECT_TRUE(scene_fixture::data(s).sortDisabled);
  const std::uint64_t notices = s.mutationCount();
  s.clearSort();
  EXPECT_EQ(view(s), 2u);
  EXPECT_EQ(s.mutationCount(), notices);
  EXPECT_TRUE(scene_fixture::data(s).sortDisabled);
  s.setSort(kcBlob::eLabel, Desc::eAscending);  // leaves the disabled state
  EXPECT_FALSE(scene_fixture::data(s).sortDisabled);
  EXPECT_EQ(view(s), 3u);
}

TEST(BlobDescSort_clear, fromSet_keepsMeasureAndOrder_outsideSetDoesNothing) {
  Desc s;
  s.clearSort();
  EXPECT_EQ(view(s), 0u);
  s.setSort(kcBlob::eLabel, Desc::eAscending);
  s.clearSort();
  EXPECT_EQ(view(s), 2u);
  kcBlob::Measure m = kcBlob::ePerimeter;
  Desc::SortOrder o = Desc::eDescending;
  EXPECT_FALSE(s.getSort(m, o));
  EXPECT_EQ(m, kcBlob::ePerimeter);
  EXPECT_EQ(scene_fixture::data(s).sortMeasure, kcBlob::eLabel);
  EXPECT_EQ(scene_fixture::data(s).sortOrder, Desc::eAscending);
  s.clearSort();
  EXPECT_EQ(view(s), 2u);
}

// ---- the counter itself ----

TEST(BlobDescCounter_wrap, increment_skipsNeverComputedValue) {
  Desc s;
  kc_SceneBuilder::data(s).viewCounter = 0xFFFFFFFEu;
  s.setFilter(kcBlob::eArea, 0, 1, false);
  EXPECT_EQ(view(s), 0u);
  s.clearFilters();
  EXPECT_EQ(view(s), 1u);
}

TEST(BlobDescCounter_wrap, staleStampNeverLooksCurrent) {
  Desc s;
  scene_fixture::fill(s, {0, 1});
  kc_BSDData& d = kc_SceneBuilder::data(s);
  kc_BlobRecord& r = kc_SceneBuilder::record(d.blobs[0]);
  r.shownStamp = kNeverComputed;
  r.firstShown = 0;
  d.viewCounter = 0xFFFFFFFEu;
  s.disableSort();  // would land on 0xFFFFFFFF without the skip
  EXPECT_EQ(s.getBlob(1)->firstChild(true), s.getBlob(2));
}

TEST(BlobDescCounter_load, sanitize_replacesNeverComputedByZero) {
  kc_BSDData d;
  d.viewCounter = kNeverComputed;
  d.matrixCounter = kNeverComputed;
  d.transformCounter = 5;
  d.sanitizeCounters();
  EXPECT_EQ(d.viewCounter, 0u);
  EXPECT_EQ(d.matrixCounter, 0u);
  EXPECT_EQ(d.transformCounter, 5u);
}

}  // namespace
