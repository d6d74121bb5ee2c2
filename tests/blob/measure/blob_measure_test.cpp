// The measure selector and its names, and the interior test against a pel-level reference.
#include "measure/measure_fixture.h"
#include "scene/scene_builder.h"

namespace {

using namespace measuretest;
using M = kcBlob::Measure;

// The selector passes the scene's extrema angle and asks for the excluded extents; numChildren
// counts filtered children too. A round trip from each name back to its measure also proves the
// names distinct; numbers outside the table have no name and are refused.
TEST(BlobMeasure, selectorAndNames_followTheSceneSettingsAndRoundTrip) {
  Scene scene = analysed(draw({"........", ".###..#.", ".#.#.##.", ".###....", "........"}));
  scene.extremaAngle(kcRadian(0.4));
  scene.extremaExcludeAreaPels(0.5);
  scene.setFilter(kcBlob::eArea, 2, 1000, false);
  const kcBlob& outer = *scene.getBlob(1);
  EXPECT_EQ(outer.measure(kcBlob::eBoundingBoxWidth), outer.boundingBox(true, kcRadian(0.4)).width());
  EXPECT_NE(outer.measure(kcBlob::eBoundingBoxWidth), outer.boundingBox(false, kcRadian(0.4)).width());
  EXPECT_EQ(outer.measure(kcBlob::eNumChildren), 1.0);
  for (int m = 0; m <= kcBlob::eAspectPrincipal; ++m) {
    const char* name = kfBlobMeasureName(M(m));
    M back = kcBlob::eLabel;
    EXPECT_TRUE(name != nullptr && kfBlobMeasureFromName(name, back) && back == m) << m;
  }
  for (int bad : {43, -1, 1 << 30}) {
    EXPECT_THROW(outer.measure(M(bad)), kcBlob::BadMeasure);
    EXPECT_EQ(kfBlobMeasureName(M(bad)), nullptr);
  }
  M unchanged = kcBlob::eArea;
  for (const char* bad : {"Area", "eArea", "", "aspectPrincipalX", static_cast<const char*>(nullptr)})
    EXPECT_FALSE(kfBlobMeasureFromName(bad, unchanged));
  EXPECT_EQ(unchanged, kcBlob::eArea);
}

// interior(b, window, mask, maskAt): every pel of the blob has its eight neighbours inside the
// window and, with a mask (not null), among the mask's non-zero pels.
bool interior(const kcBlob& b, const kcPelRect& window, const Grid* mask, kcPair<long> maskAt) {
  const auto inside = [&](long x, long y) {
    if (x < window.ul().x() || y < window.ul().y() || x >= window.lr().x() || y >= window.lr().y()) return false;
    x -= maskAt.x(), y -= maskAt.y();
    return mask == nullptr ||
           (x >= 0 && y >= 0 && x < mask->width && y < mask->height && mask->at(int(x), int(y)) != 0);
  };
  const kcPelBuffer<unsigned char> pels = b.region().image();
  for (long y = 0; y < pels.height(); ++y)
    for (long x = 0; x < pels.width(); ++x)
      for (int d = 0; d < 9 && pels.pointToRow(y)[x] != 0; ++d)  // the pel and its eight neighbours
        if (!inside(pels.offset().x() + x + d % 3 - 1, pels.offset().y() + y + d / 3 - 1)) return false;
  return true;
}

// Random scenes with random masks (mostly set, with holes) smaller and larger than the window, at
// offsets that put them partly outside it. The answer is computed once: dropping the mask, a new
// transform or a filter leave it as it was.
TEST(BlobInterior, randomMasks_agreeWithEveryPelsNeighbours) {
  std::mt19937 rng(16);
  int interiorSeen = 0, maskRefusals = 0;
  for (int round = 0; round < 400; ++round) {
    const auto below = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const int width = 4 + below(14), height = 4 + below(14);
    const Grid g = randomPels(rng, width, height, 30, 1);
    const int maskWidth = 1 + below(width + 6), maskHeight = 1 + below(height + 6);
    const Grid mask = randomPels(rng, maskWidth, maskHeight, 93, 3);
    const kcPair<long> at(1 + below(9), -6 + below(9));
    const bool withMask = round % 5 != 0;
    Scene scene = analysed(g, {5, -2});
    if (withMask) kc_SceneBuilder::mask(scene, encode(mask, at));
    std::vector<bool> answers;
    for (long id = 1; id <= scene.numBlobs(false); ++id) {
      const kcBlob& b = *scene.getBlob(id);
      const bool want = interior(b, scene.sceneWindow(), withMask ? &mask : nullptr, at);
      ASSERT_EQ(b.isInterior(), want) << "round " << round << " blob " << id;
      answers.push_back(want);
      interiorSeen += want;
      maskRefusals += withMask && !want && interior(b, scene.sceneWindow(), nullptr, at);
    }
    kc_SceneBuilder::mask(scene, kcRLEBuffer());
    scene.clientFromImageXform(kcXform<2>(kcMatrix<2>(2, 0, 0, 2), kcVector<2>(0, 0)));
    scene.setFilter(kcBlob::eArea, 5, 10, false);
    for (long id = 1; id <= scene.numBlobs(false); ++id)
      ASSERT_EQ(scene.getBlob(id)->isInterior(), answers[static_cast<std::size_t>(id - 1)]) << round << " again";
  }
  EXPECT_GT(interiorSeen, 100);
  EXPECT_GT(maskRefusals, 100);
}

}  // namespace
