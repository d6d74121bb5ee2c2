// Tests of the blob's moment measures: against a pel-level reference on seeded random regions,
// the exact symmetric branch, client transforms, and caches following the scene's counters.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <foundation/rlebuffer.h>
#include <foundation/xform.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "connect/connect_fixture.h"
#include "platform/foundation/archive_bytes.h"
#include "scene/blobdesc_fixture.h"

namespace {

using Scene = kcBlobSceneDescription;
using scene_fixture::measures;
using scene_fixture::record;
using scene_fixture::solidRegion;

// Pels: a grid of pel values at an image position, and its run-length form.
struct Pels {
  connecttest::Grid g;
  kcPair<long> origin;
  kcRLEBuffer runs() const { return connecttest::encode(g, origin); }
};

// Reference moments summed pel by pel, each pel a unit square weighted by its value.
struct Reference {
  double weight = 0, cx = 0, cy = 0, xx = 0, yy = 0, xy = 0;
  explicit Reference(const Pels& p) {
    auto each = [&](auto f) {
      for (int y = 0; y < p.g.height; ++y)
        for (int x = 0; x < p.g.width; ++x)
          f(double(p.g.at(x, y)), double(p.origin.x() + x) + 0.5, double(p.origin.y() + y) + 0.5);
    };
    each([&](double v, double x, double y) { weight += v, cx += v * x, cy += v * y; });
    cx /= weight, cy /= weight;
    each([&](double v, double x, double y) {
      xx += v * ((x - cx) * (x - cx) + 1.0 / 12), yy += v * ((y - cy) * (y - cy) + 1.0 / 12);
      xy += v * (x - cx) * (y - cy);
    });
  }
};

// randomPels(rng, weighted): up to 30 x 30 pels anywhere, with holes; values 0/1 or 0..255.
Pels randomPels(std::mt19937& rng, bool weighted) {
  auto in = [&](long lo, long hi) { return std::uniform_int_distribution<long>(lo, hi)(rng); };
  Pels p{{int(in(1, 30)), int(in(1, 30)), {}}, {in(-500, 500), in(-500, 500)}};
  const long density = in(20, 90);
  for (int i = 0; i < p.g.width * p.g.height; ++i)
    p.g.pels.push_back(in(1, 100) > density ? 0 : static_cast<std::uint8_t>(weighted ? in(1, 255) : 1));
  p.g.pels[0] = 1;
  return p;
}

// fill(scene, regions, labels, kind, scale): an analysed scene with these top-level blobs.
void fill(Scene& scene, const std::vector<kcRLEBuffer>& regions, const std::vector<unsigned char>& labels,
          Scene::Analysis kind, unsigned char scale) {
  std::vector<kc_BlobPlan> plans(regions.size());
  std::vector<BlobId> top;
  for (std::size_t i = 0; i < regions.size(); ++i)
    plans[i].region = regions[i], plans[i].label = labels[i], top.push_back(static_cast<BlobId>(i + 1));
  kc_BSDData& d = kc_SceneBuilder::data(scene);
  d.connectivityKind = kind, d.scaleVal = scale, d.sceneWindow = kcPelRect(-1000, -1000, 3000, 3000);
  kc_BlobStore store;
  kc_SceneBuilder::fill(store, plans, {-1000, -1000});
  kc_SceneBuilder::install(scene, store, top);
  kc_SceneBuilder::finishAnalysis(scene);
}

void expectClose(double actual, double expected, double rel = 1e-9) {
  EXPECT_NEAR(actual, expected, rel * std::max(1.0, std::fabs(expected)));
}

kcXform<2> affine(double a, double b, double c, double d, double tx, double ty) {
  return kcXform<2>(kcMatrix<2>(a, b, c, d), kcVector<2>(tx, ty));
}

// Each round also views the region through a client transform: none, an axis scale, a rotation
// (principal moments kept, axis turned) or a perspective (linearised at the centroid).
TEST(Moments_measures, randomWeightedAndBinaryRegions_matchPelReferenceThroughClientXforms) {
  std::mt19937 rng(7);
  const unsigned char scales[] = {1, 3, 128};
  const double c = std::cos(0.3), s = std::sin(0.3);
  const kc2XformPerspective::Elements xforms[] = {
      {1, 0, 0, 0, 1, 0, 0, 0, 1}, {2, 0, 0, 0, 1, 0, 0, 0, 1}, {c, -s, 0, s, c, 0, 0, 0, 1},
      {1, 0.1, 5, 0.05, 1.2, -3, 1e-3, 2e-3, 1}};
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    const Pels p = randomPels(rng, round % 2 == 0);
    const Reference ref(p);
    const unsigned char scale = scales[round % 3];
    const kc2XformPerspective::Elements& h = xforms[round % 4];
    // A blob (weights over the scale value) and a hole of the same region (weights as they are).
    Scene scene, labelled;
    fill(scene, {p.runs(), p.runs()}, {1, 0}, Scene::eGreyScale, scale);
    fill(labelled, {p.runs()}, {7}, Scene::eLabelled, 1);
    expectClose(scene.getBlob(2)->area(), ref.weight);
    expectClose(labelled.getBlob(1)->area(), ref.weight);
    if (round % 4 == 3)
      scene.clientFromImageXformBase(kc2XformPerspective(h));
    else if (round % 4 != 0)
      scene.clientFromImageXform(affine(h[0], h[1], h[3], h[4], 0, 0));
    auto map = [&](double x, double y) {
      const double w = h[6] * x + h[7] * y + h[8];
      return kcVector<2>((h[0] * x + h[1] * y + h[2]) / w, (h[3] * x + h[4] * y + h[5]) / w);
    };
    const double e = 1e-2;  // Jacobian columns at the centroid by central differences
    const kcVector<2> jx = (map(ref.cx + e, ref.cy) - map(ref.cx - e, ref.cy)) / (2 * e);
    const kcVector<2> jy = (map(ref.cx, ref.cy + e) - map(ref.cx, ref.cy - e)) / (2 * e);
    // Second moments through the Jacobian: det J M J^T.
    const double j00 = jx.x(), j01 = jy.x(), j10 = jx.y(), j11 = jy.y(), det = std::fabs(j00 * j11 - j01 * j10);
    const double xx = det * (j00 * j00 * ref.xx + 2 * j00 * j01 * ref.xy + j01 * j01 * ref.yy);
    const double yy = det * (j10 * j10 * ref.xx + 2 * j10 * j11 * ref.xy + j11 * j11 * ref.yy);
    const double xy = det * (j00 * j10 * ref.xx + (j00 * j11 + j01 * j10) * ref.xy + j01 * j11 * ref.yy);
    const double rel = round % 4 == 3 ? 1e-6 : 1e-9;
    const kcBlob& b = *scene.getBlob(1);
    expectClose(b.area(), det * ref.weight / scale, rel);
    expectClose(b.centerOfMass().x(), map(ref.cx, ref.cy).x(), rel);
    expectClose(b.centerOfMass().y(), map(ref.cx, ref.cy).y(), rel);
    expectClose(b.inertia().first, xx, rel);
    expectClose(b.inertia().second, yy, rel);
    const double half = (xx + yy) / 2, disc = std::hypot((xx - yy) / 2, xy);
    expectClose(b.inertiaPrincipal().first, half - disc, 1e-7);
    expectClose(b.inertiaPrincipal().second, half + disc, 1e-7);
    const double twice = 2 * b.angle().toDouble();
    EXPECT_NEAR(std::cos(twice), (xx - yy) / 2 / disc, 1e-6);
    EXPECT_NEAR(std::sin(twice), xy / disc, 1e-6);
  }
}


// Solid rectangles: a square and a bar take the exact symmetric branch; a second bar's caches
// follow the scene's counters and valid flags.
TEST(Moments_rectangles, symmetricBranchExact_cachesFollowCountersAndValidFlags) {
  Scene scene;
  fill(scene, {solidRegion(10, 20, 6, 2), solidRegion(1, 1, 5, 5), solidRegion(0, 0, 4, 1)}, {1, 1, 1},
       Scene::eGreyScale, 1);
  EXPECT_TRUE(scene.getBlob(2)->angle().toDouble() == 0.0 && scene.getBlob(2)->elongation() == 1.0);
  EXPECT_NEAR(scene.getBlob(3)->inertiaPrincipal().first, 1.0 / 3, 1e-12);
  EXPECT_NEAR(scene.getBlob(3)->elongation(), 16.0, 1e-12);
  const kcBlob* b = scene.getBlob(1);
  EXPECT_EQ(b->area(), 12.0);
  EXPECT_EQ(record(*b).measures, 0u);  // the area needs no other cache
  b->inertia();
  kc_BlobRecord& r = record(*b);
  kc_BlobMeasures& m = measures(*b);
  EXPECT_TRUE(m.boundary.diagonalProjection.empty());  // created on first need only
  b->centerOfMass(), b->angle();
  const std::uint64_t notices = b->mutationCount();
  // Poisoned caches are answered while current, without notice.
  const kcPair<double> poison(-7, -7);
  m.inertia = m.inertiaPrincipal = poison;
  r.centerOfMass = kcVector<2>(-7, -7);
  EXPECT_EQ(b->inertia(), poison);
  EXPECT_EQ(b->centerOfMass(), kcVector<2>(-7, -7));
  EXPECT_EQ(b->mutationCount(), notices);
  // A translation moves transformCounter only: the centre follows, from the centroid, which
  // never goes stale; the moments stay.
  r.centroidX = 100.5;
  scene.clientFromImageXform(affine(1, 0, 0, 1, 3, 4));
  EXPECT_EQ(b->centerOfMass(), kcVector<2>(103.5, 25));
  EXPECT_EQ(b->inertia(), poison);
  EXPECT_EQ(b->inertiaPrincipal(), poison);
  // A new matrix moves matrixCounter: sumXX = 12 x 6^2 / 12 = 36, times 4 (matrix) x 4 (area).
  scene.clientFromImageXform(affine(2, 0, 0, 2, 0, 0));
  EXPECT_NEAR(b->inertia().first, 16 * 36.0, 1e-9);
  EXPECT_NE(b->inertiaPrincipal(), poison);
  EXPECT_EQ(b->area(), 48.0);
  EXPECT_THROW(kcBlob().area(), kcBlobSceneDescription::BadId);  // a blob without a scene
}

// An analysed scene only marks the area, centroid and centre of mass of blobs with pel sums as
// computed; they answer, and archive, exactly as records computed from the regions do, also after a
// new client transform turns the marks into records.
TEST(Moments_marks, markedMeasures_answerAndArchiveAsRecords) {
  const kcRLEBuffer image = connecttest::encode(connecttest::draw({"#####..#", "#.#.#.##", "#####...", "..#..#.."}), {5, 7});
  Scene marked, recorded;
  for (Scene* s : {&marked, &recorded}) s->connectComponentsGreyScale(image, 3, false, Scene::eNone, 0);
  kc_SceneBuilder::data(recorded).store.records.resize(static_cast<std::size_t>(recorded.numBlobs(false)));
  ASSERT_TRUE(kc_SceneBuilder::data(marked).store.records.empty() && !kc_SceneBuilder::data(recorded).store.records.empty());
  const auto ask = [](const Scene& s, long id) {
    const kcBlob* b = s.getBlob(id);
    return std::vector<double>{b->area(), b->centerOfMass().x(), b->centerOfMass().y()};
  };
  for (long id = 1; id <= marked.numBlobs(false); id += 2) EXPECT_EQ(ask(marked, id), ask(recorded, id));
  for (Scene* s : {&marked, &recorded}) s->clientFromImageXform(affine(0, -1, 2, 0, 4, 1));
  EXPECT_EQ(archive_bytes::stored(marked), archive_bytes::stored(recorded));  // old centres, old stamps
  for (long id = 1; id <= marked.numBlobs(false); ++id) EXPECT_EQ(ask(marked, id), ask(recorded, id));
  EXPECT_EQ(archive_bytes::stored(marked), archive_bytes::stored(recorded));
}

}  // namespace
