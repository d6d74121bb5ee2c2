// Tests of the scene's label image, its drawing with running labels, and its self-test.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <gtest/gtest.h>

#include <foundation/assert.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "connect/connect_fixture.h"
#include "scene/blobdesc_fixture.h"

namespace {

using connecttest::draw;
using connecttest::encode;
using connecttest::Grid;
using Desc = kcBlobSceneDescription;
using scene_fixture::data;
using scene_fixture::entry;

const kcPair<long> kOffset(3, -2);

// Every pel of the label image: the analysed pel where a shown region holds it, else the
// background; no two regions hold one pel. Unfiltered, a grey-scale scene of weighted pels or a
// labelled scene renders its own image back.
TEST(BlobDescMakeImage, BlobDescMakeImage_randomScenes_paintTheShownRegionsOwnPels) {
  std::mt19937 rng(19);
  for (int round = 0; round < 150; ++round) {
    SCOPED_TRACE(round);
    const bool labelled = round % 3 == 0, filtered = round % 4 >= 2;
    const Grid g = connecttest::randomGrid(rng, 5 + static_cast<int>(rng() % 16), 5 + static_cast<int>(rng() % 16));
    Desc s;
    labelled ? s.connectComponentsLabelled(encode(g, kOffset), Desc::eNone, 0)
             : s.connectComponentsGreyScale(encode(g, kOffset), 1, false, Desc::eNone, 0);
    const unsigned char background = round % 2 ? 7 : 0;
    if (filtered) s.setFilter(kcBlob::eArea, 2, 6, false);
    std::vector<int> want(g.pels.size(), -1);
    for (const kcBlob* b : s.allBlobs(false)) {
      const kcPelBuffer<unsigned char> pels = b->region().image();
      const bool shown = !filtered || (b->area() >= 2 && b->area() <= 6);
      for (long y = 0; y < pels.height(); ++y)
        for (long x = 0; x < pels.width(); ++x) {
          const long p = (y + pels.offset().y() - kOffset.y()) * g.width + x + pels.offset().x() - kOffset.x();
          if (pels.pointToRow(y)[x] == 0) continue;
          ASSERT_EQ(want.at(static_cast<std::size_t>(p)), -1) << "pel " << p << " in two regions";
          want[static_cast<std::size_t>(p)] = shown ? g.pels[static_cast<std::size_t>(p)] : background;
        }
    }
    const kcPelBuffer<unsigned char> image = s.makeImage(filtered, background);
    ASSERT_TRUE(image.width() == g.width && image.height() == g.height && image.offset() == kOffset);
    for (int p = 0; p < g.width * g.height; ++p) {
      const int w = want[static_cast<std::size_t>(p)];
      ASSERT_EQ(image.pointToRow(p / g.width)[p % g.width], w == -1 ? background : w) << "pel " << p;
    }
  }
}

TEST(BlobDescMakeImage, BlobDescMakeImage_clientTransform_carriedDegenerateSceneRefused) {
  Desc s;
  s.connectComponentsGreyScale(encode(draw({"#"})), 1, false, Desc::eNone, 0);
  const kcXform<2> scaled(kcMatrix<2>(2, 0, 0, 3), kcVector<2>(1, 1));
  s.clientFromImageXform(scaled);
  EXPECT_TRUE(s.makeImage(false, 100).xformCache().linearXformInverse().xform() == scaled);
  EXPECT_THROW(Desc().makeImage(false, 0), Desc::Degenerate);
}

// labelsOf(list, first, step): the text and position of every step-th graphic from first on.
using Labels = std::vector<std::pair<std::wstring, kcVector<2>>>;
Labels labelsOf(const kcGraphicList& list, std::size_t first, std::size_t step) {
  Labels l;
  for (std::size_t i = first; i < list.size(); i += step) {
    const auto& text = dynamic_cast<const kcGraphicText&>(list[i]);
    l.emplace_back(text.text(), text.position());
  }
  return l;
}

TEST(BlobDescDraw, BlobDescDraw_labels_runOverTheDrawnList) {
  Desc s;
  scene_fixture::fill(s, {0, 0, 0, 0}, {}, {3, 1, 4, 2});
  const auto at = [&](long id) { return s.getBlob(id)->centerOfMass(); };
  kcGraphicList plain, shown, none;
  s.draw(plain, kcBlob::eDrawLabel, false);
  EXPECT_EQ(labelsOf(plain, 0, 1), (Labels{{L"0", at(1)}, {L"1", at(2)}, {L"2", at(3)}, {L"3", at(4)}}));
  s.setFilter(kcBlob::eArea, 2, 10, false);  // blobs 1, 3, 4 by area, largest first: 3, 1, 4
  s.draw(shown, kcBlob::eDrawLabel | kcBlob::eDrawCenterOfMass, true);
  ASSERT_EQ(shown.size(), 6u);
  EXPECT_EQ(labelsOf(shown, 1, 2), (Labels{{L"0", at(3)}, {L"1", at(1)}, {L"2", at(4)}}));
  s.setFilter(kcBlob::eLabel, 9, 9, false);
  s.draw(none, 63, true);
  EXPECT_TRUE(none.empty());
  EXPECT_THROW(Desc().draw(none, 63, false), Desc::Degenerate);
}

// The self-test finds each damage of a sound analysed scene (a ring around a hole holding an
// island): a sample of its checks, one per kind of stored field.
TEST(BlobDescInvariant, BlobDescInvariant_damages_triggerTheirChecks) {
  struct Damage { const char* what; void (*apply)(Desc&, kc_BSDData&); };
  const Damage damages[] = {
      {"analysis kind", [](Desc&, kc_BSDData& d) { d.connectivityKind = static_cast<Desc::Analysis>(3); }},
      {"window width", [](Desc&, kc_BSDData& d) { d.sceneWindow = kcPelRect(0, 0, 0, 5); }},
      {"a blob's link", [](Desc& s, kc_BSDData&) { entry(*s.getBlob(2)).nextSibling = 9; }},
      {"shown id", [](Desc& s, kc_BSDData& d) { s.numBlobs(true), d.shownIds.push_back(9); }},
      {"filter limits", [](Desc&, kc_BSDData& d) { d.filters.push_back({kcBlob::eArea, 2, 1, false}); }},
      {"set and disabled sort", [](Desc&, kc_BSDData& d) { d.sortSet = d.sortDisabled = true; }},
      {"hole in a hole", [](Desc& s, kc_BSDData&) { entry(*s.getBlob(3)).label = 0; }},
  };
  const Grid g = draw({".......", ".#####.", ".#...#.", ".#.#.#.", ".#...#.", ".#####.", "......."});
  for (const Damage& damage : damages) {
    Desc s;
    s.connectComponentsGreyScale(encode(g), 1, false, Desc::eNone, 0);
    EXPECT_NO_THROW(s.repInvariant()) << damage.what;
    damage.apply(s, data(s));
    EXPECT_THROW(s.repInvariant(), kcInvariantFailure) << damage.what;
  }
}

}  // namespace
