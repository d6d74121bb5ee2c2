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

#include "measure/blob_record.h"
#include "scene/bsd_data.h"
#include "scene/scene_builder.h"

namespace {

// Pels: a grid of pel values at an image position, and its run-length form.
struct Pels {
  long w, h;
  kcPair<long> origin;
  std::vector<unsigned char> v;
  kcRLEBuffer runs() const {
    kc_RLERowWriter writer(w, h);
    for (long y = 0; y < h; ++y, writer.endRow())
      for (long x = 0; x < w; ++x) writer.put(v[static_cast<std::size_t>(y * w + x)], 1);
    return writer.finish(origin, kc2XformCache());
  }
};

// Reference moments summed pel by pel, each pel a unit square weighted by its value.
struct Reference {
  double weight = 0, cx = 0, cy = 0, xx = 0, yy = 0, xy = 0;
  explicit Reference(const Pels& p) {
    auto each = [&](auto f) {
      for (long y = 0; y < p.h; ++y)
        for (long x = 0; x < p.w; ++x)
          f(double(p.v[static_cast<std::size_t>(y * p.w + x)]),
            static_cast<double>(p.origin.x() + x) + 0.5, static_cast<double>(p.origin.y() + y) + 0.5);
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
  Pels p{in(1, 30), in(1, 30), {in(-500, 500), in(-500, 500)}, {}};
  const long density = in(20, 90);
  for (long i = 0; i < p.w * p.h; ++i)
    p.v.push_back(in(1, 100) > density ? 0 : static_cast<unsigned char>(weighted ? in(1, 255) : 1));
  p.v[0] = 1;
  return p;
}

// fill(scene, regions, labels, kind, scale): an analysed scene with these top-level blobs.
void fill(kcBlobSceneDescription& scene, const std::vector<kcRLEBuffer>& regions,
          const std::vector<unsigned char>& labels, kcBlobSceneDescription::Analysis kind,
          unsigned char scale) {
  kc_BSDData& d = kc_SceneBuilder::data(scene);
  std::vector<kc_BlobPlan> plans(regions.size());
  std::vector<BlobId> top;
  for (std::size_t i = 0; i < regions.size(); ++i) {
    plans[i].region = regions[i];
    plans[i].label = labels[i];
    top.push_back(static_cast<BlobId>(i + 1));
  }
  d.connectivityKind = kind;
  d.scaleVal = scale;
  d.sceneWindow = kcPelRect(-1000, -1000, 3000, 3000);
  kc_BlobStore store;
  kc_SceneBuilder::fill(store, plans, {-1000, -1000});
  kc_SceneBuilder::install(scene, store, top);
  kc_SceneBuilder::finishAnalysis(scene);
}

kc_BlobRecord& record(const kcBlob* b) { return kc_SceneBuilder::parts(*b).record(); }
kc_BlobMeasures& measures(const kcBlob* b) { return kc_SceneBuilder::parts(*b).measures(); }

void expectClose(double actual, double expected, double rel = 1e-9) {
  EXPECT_NEAR(actual, expected, rel * std::max(1.0, std::fabs(expected)));
}

kcXform<2> affine(double a, double b, double c, double d, double tx, double ty) {
  return kcXform<2>(kcMatrix<2>(a, b, c, d), kcVector<2>(tx, ty));
}

TEST(Moments_measures, randomWeightedAndBinaryRegions_matchPelReference) {
  std::mt19937 rng(7);
  const unsigned char scales[] = {1, 3, 128};
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    const Pels p = randomPels(rng, round % 2 == 0);
    const Reference ref(p);
    const unsigned char scale = scales[round % 3];
    // A blob (weights over the scale value) and a hole of the same region (weights as they are).
    kcBlobSceneDescription scene, labelled;
    fill(scene, {p.runs(), p.runs()}, {1, 0}, kcBlobSceneDescription::eGreyScale, scale);
    fill(labelled, {p.runs()}, {7}, kcBlobSceneDescription::eLabelled, 1);
    const kcBlob* blob = scene.getBlob(1);
    expectClose(blob->area(), ref.weight / scale);
    expectClose(scene.getBlob(2)->area(), ref.weight);
    expectClose(labelled.getBlob(1)->area(), ref.weight);
    expectClose(blob->centerOfMass().x(), ref.cx);
    expectClose(blob->centerOfMass().y(), ref.cy);
    expectClose(blob->inertia().first, ref.xx);
    expectClose(blob->inertia().second, ref.yy);
    const double half = (ref.xx + ref.yy) / 2, disc = std::hypot((ref.xx - ref.yy) / 2, ref.xy);
    expectClose(blob->inertiaPrincipal().first, half - disc, 1e-7);
    expectClose(blob->inertiaPrincipal().second, half + disc, 1e-7);
    const double twice = 2 * blob->angle().toDouble();
    EXPECT_NEAR(std::cos(twice), (ref.xx - ref.yy) / 2 / disc, 1e-6);
    EXPECT_NEAR(std::sin(twice), ref.xy / disc, 1e-6);
  }
}

TEST(Moments_measures, squareAndBar_symmetricBranchIsExact) {
  Pels square{5, 5, {1, 1}, std::vector<unsigned char>(25, 1)};
  Pels bar{4, 1, {0, 0}, std::vector<unsigned char>(4, 1)};
  kcBlobSceneDescription scene;
  fill(scene, {square.runs(), bar.runs()}, {1, 1}, kcBlobSceneDescription::eGreyScale, 1);
  EXPECT_EQ(scene.getBlob(1)->angle().toDouble(), 0.0);
  EXPECT_EQ(scene.getBlob(1)->elongation(), 1.0);
  EXPECT_NEAR(scene.getBlob(2)->inertiaPrincipal().first, 1.0 / 3, 1e-12);
  EXPECT_NEAR(scene.getBlob(2)->elongation(), 16.0, 1e-12);
}

TEST(Moments_clientXform, scaleAndRotation_followTheMatrix) {
  std::mt19937 rng(11);
  const Pels p = randomPels(rng, true);
  kcBlobSceneDescription plain, scaled, rotated;
  for (auto* s : {&plain, &scaled, &rotated})
    fill(*s, {p.runs()}, {1}, kcBlobSceneDescription::eGreyScale, 2);
  const double c = std::cos(0.3), s = std::sin(0.3);
  scaled.clientFromImageXform(affine(2, 0, 0, 1, 0, 0));
  rotated.clientFromImageXform(affine(c, -s, s, c, 0, 0));
  const kcBlob *b0 = plain.getBlob(1), *b1 = scaled.getBlob(1), *b2 = rotated.getBlob(1);
  expectClose(b1->area(), 2 * b0->area());
  expectClose(b1->inertia().first, 8 * b0->inertia().first);
  expectClose(b1->inertia().second, 2 * b0->inertia().second);
  // A rotation keeps the principal moments and turns the axis (angles taken modulo pi).
  expectClose(b2->inertiaPrincipal().first, b0->inertiaPrincipal().first, 1e-7);
  expectClose(b2->inertiaPrincipal().second, b0->inertiaPrincipal().second, 1e-7);
  const double turn = 2 * (b2->angle().toDouble() - b0->angle().toDouble() - 0.3);
  EXPECT_NEAR(std::sin(turn), 0.0, 1e-7);
  EXPECT_GT(std::cos(turn), 0.0);
}

TEST(Moments_clientXform, perspective_linearisedAtCentroid) {
  std::mt19937 rng(5);
  const Pels p = randomPels(rng, false);
  const Reference ref(p);
  const kc2XformPerspective::Elements h{1, 0.1, 5, 0.05, 1.2, -3, 1e-3, 2e-3, 1};
  auto map = [&](double x, double y) {
    const double w = h[6] * x + h[7] * y + h[8];
    return kcVector<2>((h[0] * x + h[1] * y + h[2]) / w, (h[3] * x + h[4] * y + h[5]) / w);
  };
  kcBlobSceneDescription scene;
  fill(scene, {p.runs()}, {1}, kcBlobSceneDescription::eGreyScale, 1);
  scene.clientFromImageXformBase(kc2XformPerspective(h));
  const kcBlob* b = scene.getBlob(1);
  // Jacobian columns at the centroid by central differences.
  const double e = 1e-4;
  const kcVector<2> jx = (map(ref.cx + e, ref.cy) - map(ref.cx - e, ref.cy)) / (2 * e);
  const kcVector<2> jy = (map(ref.cx, ref.cy + e) - map(ref.cx, ref.cy - e)) / (2 * e);
  const double det = std::fabs(jx.x() * jy.y() - jy.x() * jx.y());
  expectClose(b->centerOfMass().x(), map(ref.cx, ref.cy).x());
  expectClose(b->centerOfMass().y(), map(ref.cx, ref.cy).y());
  expectClose(b->area(), det * ref.weight, 1e-6);
  const double ixx = jx.x() * jx.x() * ref.xx + 2 * jx.x() * jy.x() * ref.xy + jy.x() * jy.x() * ref.yy;
  expectClose(b->inertia().first, det * ixx, 1e-6);
}

TEST(Moments_caches, followCountersAndValidFlags) {
  Pels bar{6, 2, {10, 20}, std::vector<unsigned char>(12, 1)};
  kcBlobSceneDescription scene;
  fill(scene, {bar.runs()}, {1}, kcBlobSceneDescription::eGreyScale, 1);
  const kcBlob* b = scene.getBlob(1);
  EXPECT_EQ(b->area(), 12.0);
  EXPECT_EQ(record(b).measures, 0u);  // the area needs no other cache
  b->inertia();
  kc_BlobRecord& r = record(b);
  kc_BlobMeasures& m = measures(b);
  EXPECT_TRUE(m.boundary.diagonalProjection.empty());  // created on first need only
  b->centerOfMass();
  b->angle();
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

}  // namespace
