// Tests of the scene's filter and sort settings: validation, state transitions and the moves of
// the view counter (one per effective change, none otherwise), including its wrap.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "scene/blobdesc_fixture.h"

namespace {

using Desc = kcBlobSceneDescription;
using Msg = kc_BlobMessages;
using Params = kcBlobDefs::BadParams;
using scene_fixture::data;

std::uint32_t view(const Desc& s) { return data(s).viewCounter; }

kcBlob::Measure measureAt(const Desc& s, long index) {
  kcBlob::Measure m{};
  double low = 0, high = 0;
  bool exclude = false;
  s.getFilter(index, m, low, high, exclude);
  return m;
}

// ---- filters ----

TEST(BlobDescFilter_set, refusals_throwInOrderAndChangeNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Desc s;
  s.setFilter(kcBlob::eArea, 1, 2, false);
  const std::uint64_t notices = s.mutationCount();
  EXPECT_SCENE_ERROR(s.setFilter(kcBlob::eArea, 5, 4, false), Desc::DuplicateFilter,
                     Msg::eDuplicateFilter);
  for (auto [low, high] : {std::pair{2.0, 1.0}, {nan, 1.0}, {1.0, nan}})
    EXPECT_SCENE_ERROR(s.setFilter(kcBlob::eLabel, low, high, false), Params, Msg::eFilterLimits);
  EXPECT_TRUE(s.numFilters() == 1 && view(s) == 1 && s.mutationCount() == notices);
  s.unSetFilter(kcBlob::eArea);
  s.setFilter(kcBlob::eArea, -INFINITY, INFINITY, true);  // infinite limits are numbers
  double low = 0, high = 0;
  bool exclude = false;
  EXPECT_TRUE(s.getFilter(kcBlob::eArea, low, high, exclude));
  EXPECT_TRUE(exclude && low == -INFINITY && high == INFINITY);
}

TEST(BlobDescFilter_remove, keepsOrder_andNoOpsMoveNothing) {
  Desc s;
  s.clearFilters();
  EXPECT_EQ(view(s), 0u);
  for (kcBlob::Measure m : {kcBlob::eArea, kcBlob::eLabel, kcBlob::ePerimeter})
    s.setFilter(m, 1, 1, false);
  s.unSetFilter(kcBlob::eLabel);
  s.unSetFilter(kcBlob::eLabel);  // already gone: view stays valid
  EXPECT_EQ(view(s), 4u);
  ASSERT_EQ(s.numFilters(), 2);
  EXPECT_EQ(measureAt(s, 0), kcBlob::eArea);
  EXPECT_EQ(measureAt(s, 1), kcBlob::ePerimeter);
  s.clearFilters();
  s.clearFilters();
  EXPECT_EQ(view(s), 5u);
  EXPECT_EQ(s.numFilters(), 0);
}

TEST(BlobDescFilter_get, indexOutOfRange_throwsMessage3_unknownMeasureLeavesOutputs) {
  Desc s;
  s.setFilter(kcBlob::eArea, 1, 2, false);
  kcBlob::Measure m = kcBlob::eLabel;
  double low = 9, high = 9;
  bool exclude = true;
  for (long index : {1L, -1L})
    EXPECT_SCENE_ERROR(s.getFilter(index, m, low, high, exclude), Params, Msg::eBadFilterIndex);
  EXPECT_FALSE(s.getFilter(kcBlob::eLabel, low, high, exclude));
  EXPECT_TRUE(m == kcBlob::eLabel && low == 9 && high == 9 && exclude);
}

// ---- sort ----

TEST(BlobDescSort_states, everyTransition_movesViewOnlyWhenEffective) {
  Desc s;
  kcBlob::Measure m = kcBlob::ePerimeter;
  Desc::SortOrder o = Desc::eDescending;
  s.clearSort();  // default state: nothing
  EXPECT_EQ(view(s), 0u);
  s.setSort(kcBlob::eArea, Desc::eDescending);  // the default order, but now explicit
  s.setSort(kcBlob::eArea, Desc::eDescending);
  EXPECT_EQ(view(s), 1u);
  s.setSort(kcBlob::eLabel, Desc::eAscending);
  s.clearSort();
  s.clearSort();
  EXPECT_EQ(view(s), 3u);
  EXPECT_FALSE(s.getSort(m, o));
  EXPECT_EQ(m, kcBlob::ePerimeter);  // outputs untouched
  EXPECT_TRUE(data(s).sortMeasure == kcBlob::eLabel && data(s).sortOrder == Desc::eAscending);
  s.setSort(kcBlob::eLabel, Desc::eAscending);
  s.disableSort();
  s.disableSort();
  s.clearSort();
  EXPECT_TRUE(view(s) == 5 && !s.getSort(m, o) && data(s).sortDisabled);
  s.setSort(kcBlob::eLabel, static_cast<Desc::SortOrder>(7));  // stored as descending
  EXPECT_TRUE(s.getSort(m, o));
  EXPECT_TRUE(m == kcBlob::eLabel && o == Desc::eDescending && !data(s).sortDisabled);
  s.setSort(kcBlob::eLabel, Desc::eDescending);
  EXPECT_EQ(view(s), 6u);
}

// ---- the counter's wrap ----

TEST(BlobDescCounter_wrap, neverTakesNeverComputedValue_soStaleStampsStayStale) {
  Desc s;
  scene_fixture::fill(s, {0, 1});
  kc_ShownLinks& r = kc_SceneBuilder::parts(*s.getBlob(1)).shown();
  r.shownStamp = kNeverComputed;
  r.firstShown = 0;
  data(s).viewCounter = 0xFFFFFFFEu;
  s.disableSort();  // lands on 0, not on the record's "never computed"
  EXPECT_EQ(s.getBlob(1)->firstChild(true), s.getBlob(2));

  kc_BSDData loaded;
  loaded.matrixCounter = kNeverComputed;
  loaded.transformCounter = 5;
  loaded.sanitizeCounters();
  EXPECT_TRUE(loaded.matrixCounter == 0 && loaded.transformCounter == 5);
}

}  // namespace
