// The measure selector and its names, and the interior test against a pel-level reference.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <foundation/rlebuffer.h>
#include <foundation/xform.h>

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "connect/connect_fixture.h"
#include "scene/scene_builder.h"

namespace {

using connecttest::draw;
using connecttest::encode;
using connecttest::Grid;
using Scene = kcBlobSceneDescription;
using M = kcBlob::Measure;

// direct(b, m): measure m by its own call, as the selector documents it.
double direct(const kcBlob& b, M m, const kcRadian& a) {
  const kcPelRect r = b.imageBoundingBox();
  const kcRectangle<double> ib(double(r.ul().x()), double(r.ul().y()), double(r.width()), double(r.height()));
  const kcRectangle<double> box = b.boundingBox(true, a), pbox = b.boundingBoxPrincipal(true);
  const double v[] = {double(b.label()), b.area(), double(b.numSteps()), b.perimeter(), double(b.numChildren(false)),
                      b.centerOfMass().x(), b.centerOfMass().y(), b.inertia().first, b.inertia().second,
                      b.inertiaPrincipal().first, b.inertiaPrincipal().second, b.elongation(), b.angle().toDouble(),
                      b.acircularity(), b.acircularityRms(), b.isInterior() ? 1.0 : 0.0,
                      b.imageBoundingBoxCenter().x(), b.imageBoundingBoxCenter().y(), ib.ul().x(), ib.lr().x(),
                      ib.ul().y(), ib.lr().y(), ib.width(), ib.height(), b.imageBoundingBoxAspect(),
                      b.median(a).x(), b.median(a).y(), b.center(true, a).x(), b.center(true, a).y(), box.ul().x(),
                      box.lr().x(), box.ul().y(), box.lr().y(), box.width(), box.height(), b.aspect(true, a),
                      pbox.ul().x(), pbox.lr().x(), pbox.ul().y(), pbox.lr().y(), pbox.width(), pbox.height(),
                      b.aspectPrincipal(true)};
  static_assert(std::size(v) == kcBlob::eAspectPrincipal + 1);
  return v[m];
}

TEST(BlobMeasure, everyMeasure_equalsItsDirectCall) {
  Scene scene;
  scene.connectComponentsGreyScale(encode(draw({"........", ".###..#.", ".#.#.##.", ".###....", "........"})), 1,
                                   false, Scene::eNone, 0);
  scene.extremaAngle(kcRadian(0.4));
  scene.extremaExcludeAreaPels(0.5);
  scene.setFilter(kcBlob::eArea, 2, 1000, false);  // numChildren counts filtered children too
  for (long id = 1; id <= scene.numBlobs(false); ++id) {
    const kcBlob& b = *scene.getBlob(id);
    for (int m = 0; m <= kcBlob::eAspectPrincipal; ++m) {
      const double got = b.measure(M(m)), want = direct(b, M(m), kcRadian(0.4));
      EXPECT_TRUE(got == want || (std::isnan(got) && std::isnan(want))) << kfBlobMeasureName(M(m)) << " of " << id;
    }
  }
  const kcBlob& outer = *scene.getBlob(1);
  EXPECT_EQ(outer.measure(kcBlob::eNumChildren), 1.0);
  for (int bad : {43, -1, 1 << 30}) EXPECT_THROW(outer.measure(M(bad)), kcBlob::BadMeasure);
}

// A round trip from each name back to its measure also proves the names distinct.
TEST(BlobMeasure, names_roundTripAndFollowTheEnumeration) {
  for (int m = 0; m <= kcBlob::eAspectPrincipal; ++m) {
    const char* name = kfBlobMeasureName(M(m));
    M back = kcBlob::eLabel;
    EXPECT_TRUE(name != nullptr && kfBlobMeasureFromName(name, back) && back == m) << m;
  }
  for (int bad : {43, -1}) EXPECT_EQ(kfBlobMeasureName(M(bad)), nullptr);
  M unchanged = kcBlob::eArea;
  for (const char* bad : {"Area", "eArea", "", "aspectPrincipalX", static_cast<const char*>(nullptr)})
    EXPECT_FALSE(kfBlobMeasureFromName(bad, unchanged));
  EXPECT_EQ(unchanged, kcBlob::eArea);
}

// interior(b, window, mask, maskAt): the blob touches no window edge and every pel has its eight
// neighbours among the mask's non-zero pels (mask null: no mask).
bool interior(const kcBlob& b, const kcPelRect& window, const Grid* mask, kcPair<long> maskAt) {
  const kcPelRect r = b.imageBoundingBox();
  if (r.ul().x() == window.ul().x() || r.ul().y() == window.ul().y() || r.lr().x() == window.lr().x() ||
      r.lr().y() == window.lr().y())
    return false;
  if (mask == nullptr) return true;
  const auto inMask = [&](long x, long y) {
    x -= maskAt.x(), y -= maskAt.y();
    return x >= 0 && y >= 0 && x < mask->width && y < mask->height && mask->at(int(x), int(y)) != 0;
  };
  const kcPelBuffer<unsigned char> pels = b.region().image();
  for (long y = 0; y < pels.height(); ++y)
    for (long x = 0; x < pels.width(); ++x)
      for (int d = 0; d < 9 && pels.pointToRow(y)[x] != 0; ++d)  // the pel and its eight neighbours
        if (!inMask(pels.offset().x() + x + d % 3 - 1, pels.offset().y() + y + d / 3 - 1)) return false;
  return true;
}

// Random scenes with random masks (mostly set, with holes) smaller and larger than the window, at
// offsets that put them partly outside it.
TEST(BlobInterior, randomMasks_agreeWithEveryPelsNeighbours) {
  std::mt19937 rng(16);
  int interiorSeen = 0, maskRefusals = 0;
  for (int round = 0; round < 400; ++round) {
    const auto below = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const auto grid = [&](int w, int h, unsigned percentSet, unsigned values) {
      Grid r{w, h, {}};
      for (int p = 0; p < w * h; ++p) r.pels.push_back(static_cast<std::uint8_t>(rng() % 100 < percentSet ? 1 + rng() % values : 0));
      return r;
    };
    const Grid g = grid(4 + below(14), 4 + below(14), 30, 1);
    const Grid mask = grid(1 + below(g.width + 6), 1 + below(g.height + 6), 93, 3);
    const kcPair<long> at(1 + below(9), -6 + below(9));
    const bool withMask = round % 5 != 0;
    Scene scene;
    scene.connectComponentsGreyScale(encode(g, {5, -2}), 1, false, Scene::eNone, 0);
    if (withMask) kc_SceneBuilder::mask(scene, encode(mask, at));
    for (long id = 1; id <= scene.numBlobs(false); ++id) {
      const kcBlob& b = *scene.getBlob(id);
      const bool want = interior(b, scene.sceneWindow(), withMask ? &mask : nullptr, at);
      ASSERT_EQ(b.isInterior(), want) << "round " << round << " blob " << id;
      interiorSeen += want;
      maskRefusals += withMask && !want && interior(b, scene.sceneWindow(), nullptr, at);
    }
  }
  EXPECT_GT(interiorSeen, 100);
  EXPECT_GT(maskRefusals, 100);
}

// Computed once: the transform, a filter or another mask leave the answer as it was (here, the
// mask missing a diagonal neighbour refuses the pel; without the mask it would be interior).
TEST(BlobInterior, answerIsKept) {
  Scene scene;
  kc_SceneBuilder::mask(scene, encode(draw({"##.", "###", "###"}), {1, 1}));
  scene.connectComponentsGreyScale(encode(draw({".....", ".....", "..#..", ".....", "....."})), 1, false,
                                   Scene::eNone, 0);
  const kcBlob& pel = *scene.getBlob(1);
  EXPECT_FALSE(pel.isInterior());
  scene.clientFromImageXform(kcXform<2>(kcMatrix<2>(2, 0, 0, 2), kcVector<2>(0, 0)));
  scene.setFilter(kcBlob::eArea, 5, 10, false);
  kc_SceneBuilder::mask(scene, kcRLEBuffer());
  EXPECT_FALSE(pel.isInterior());
}

}  // namespace
