// Tests of the scene's filter and sort settings: validation, what the getters answer, and the view
// counter's wrap. (Which changes rebuild the views is BlobDescView's.)
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

TEST(BlobDescFilter, BlobDescFilter_refusedSettings_throwAndChangeNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Desc s;
  s.setFilter(kcBlob::eArea, 1, 2, false);
  const std::uint64_t notices = s.mutationCount();
  EXPECT_SCENE_ERROR(s.setFilter(kcBlob::eArea, 5, 4, false), Desc::DuplicateFilter, Msg::eDuplicateFilter);
  for (auto [low, high] : {std::pair{2.0, 1.0}, {nan, 1.0}, {1.0, nan}})
    EXPECT_SCENE_ERROR(s.setFilter(kcBlob::eLabel, low, high, false), Params, Msg::eFilterLimits);
  kcBlob::Measure m = kcBlob::eLabel;
  double low = 9, high = 9;
  bool exclude = true;
  for (long index : {1L, -1L})
    EXPECT_SCENE_ERROR(s.getFilter(index, m, low, high, exclude), Params, Msg::eBadFilterIndex);
  EXPECT_FALSE(s.getFilter(kcBlob::eLabel, low, high, exclude));
  EXPECT_TRUE(m == kcBlob::eLabel && low == 9 && high == 9 && exclude);  // outputs untouched
  EXPECT_TRUE(s.numFilters() == 1 && data(s).viewCounter == 1 && s.mutationCount() == notices);
}

// Filters keep their order as others are removed; equal and infinite limits are taken.
TEST(BlobDescFilter, BlobDescFilter_setAndRemove_gettersAnswerInOrder) {
  Desc s;
  for (kcBlob::Measure m : {kcBlob::eArea, kcBlob::eLabel, kcBlob::ePerimeter}) s.setFilter(m, 1, 1, false);
  s.unSetFilter(kcBlob::eLabel);
  s.unSetFilter(kcBlob::eArea);
  s.setFilter(kcBlob::eArea, -INFINITY, INFINITY, true);
  ASSERT_EQ(s.numFilters(), 2);
  kcBlob::Measure m{};
  double low = 0, high = 0;
  bool exclude = false;
  s.getFilter(0, m, low, high, exclude);
  EXPECT_TRUE(m == kcBlob::ePerimeter && low == 1 && high == 1 && !exclude);
  s.getFilter(1, m, low, high, exclude);
  EXPECT_TRUE(m == kcBlob::eArea && low == -INFINITY && high == INFINITY && exclude);
  s.clearFilters();
  EXPECT_EQ(s.numFilters(), 0);
}

// getSort answers only a set sort; any order but ascending is stored as descending.
TEST(BlobDescSort, BlobDescSort_setClearDisable_getSortAnswersTheSetSort) {
  Desc s;
  kcBlob::Measure m = kcBlob::ePerimeter;
  Desc::SortOrder o = Desc::eAscending;
  EXPECT_FALSE(s.getSort(m, o));
  s.setSort(kcBlob::eLabel, static_cast<Desc::SortOrder>(7));
  EXPECT_TRUE(s.getSort(m, o) && m == kcBlob::eLabel && o == Desc::eDescending);
  s.setSort(kcBlob::eArea, Desc::eAscending);
  s.clearSort();
  m = kcBlob::ePerimeter;
  EXPECT_FALSE(s.getSort(m, o));
  EXPECT_EQ(m, kcBlob::ePerimeter);  // outputs untouched
  s.setSort(kcBlob::eArea, Desc::eAscending);
  s.disableSort();
  EXPECT_FALSE(s.getSort(m, o));
  s.setSort(kcBlob::eLabel, Desc::eAscending);
  EXPECT_TRUE(s.getSort(m, o) && m == kcBlob::eLabel && o == Desc::eAscending);
}

// ---- the counter's wrap ----

TEST(BlobDescCounter, BlobDescCounter_wrap_neverTakesNeverComputedSoStaleStampsStayStale) {
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
