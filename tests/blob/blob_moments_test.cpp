// Tests of the blob's moment measures: against a pel-level reference on seeded random regions,
// closed forms, client transforms with their caches, and sums beyond 32 bits.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <foundation/rlebuffer.h>
#include <foundation/xform.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "blob_moments.h"
#include "blob_record.h"
#include "bsd_data.h"
#include "scene_builder.h"

namespace {

using Analysis = kcBlobSceneDescription::Analysis;

// Pels: a small grid of pel values at an image position.
struct Pels {
  long w = 0, h = 0;
  kcPair<long> origin{0, 0};
  std::vector<unsigned char> v;
  unsigned char at(long x, long y) const { return v[static_cast<std::size_t>(y * w + x)]; }
};

kcRLEBuffer encode(const Pels& p) {
  kc_RLERowWriter writer(p.w, p.h);
  for (long y = 0; y < p.h; ++y) {
    for (long x = 0; x < p.w; ++x) writer.put(p.at(x, y), 1);
    writer.endRow();
  }
  return writer.finish(p.origin, kc2XformCache());
}

// Reference moments summed pel by pel: each pel a unit square weighted by its value.
struct Reference {
  double weight = 0, cx = 0, cy = 0, xx = 0, yy = 0, xy = 0;
};
Reference reference(const Pels& p) {
  Reference r;
  for (long y = 0; y < p.h; ++y)
    for (long x = 0; x < p.w; ++x) {
      const double v = p.at(x, y);
      r.weight += v;
      r.cx += v * (p.origin.x() + x + 0.5);
      r.cy += v * (p.origin.y() + y + 0.5);
    }
  r.cx /= r.weight;
  r.cy /= r.weight;
  for (long y = 0; y < p.h; ++y)
    for (long x = 0; x < p.w; ++x) {
      const double v = p.at(x, y), dx = p.origin.x() + x + 0.5 - r.cx,
                   dy = p.origin.y() + y + 0.5 - r.cy;
      r.xx += v * (dx * dx + 1.0 / 12);
      r.yy += v * (dy * dy + 1.0 / 12);
      r.xy += v * dx * dy;
    }
  return r;
}

// randomPels(rng, weighted): up to 30 x 30 pels at a random position, a border of zeros around a
// random interior so the region has holes; values 0/1 or 0..255. Never without weight.
Pels randomPels(std::mt19937& rng, bool weighted) {
  Pels p;
  p.w = std::uniform_int_distribution<long>(1, 30)(rng);
  p.h = std::uniform_int_distribution<long>(1, 30)(rng);
  p.origin = {std::uniform_int_distribution<long>(-500, 500)(rng),
              std::uniform_int_distribution<long>(-500, 500)(rng)};
  std::bernoulli_distribution on(std::uniform_real_distribution<double>(0.2, 0.9)(rng));
  std::uniform_int_distribution<int> value(1, 255);
  for (long i = 0; i < p.w * p.h; ++i)
    p.v.push_back(on(rng) ? static_cast<unsigned char>(weighted ? value(rng) : 1) : 0);
  p.v[0] = 1;
  return p;
}

// Blob: what one blob of a test scene holds.
struct Blob {
  kcRLEBuffer region;
  unsigned char label = 1;
};

// fill(scene, blobs, kind, scale): an analysed scene with these top-level blobs.
void fill(kcBlobSceneDescription& scene, const std::vector<Blob>& specs, Analysis kind,
          unsigned char scale) {
  kc_BSDData& d = kc_SceneBuilder::data(scene);
  std::vector<kcBlob> blobs = kc_SceneBuilder::newBlobs(scene, specs.size());
  std::vector<BlobId> top;
  for (std::size_t i = 0; i < specs.size(); ++i) {
    const kcRLEBuffer& region = specs[i].region;
    kc_SceneBuilder::label(blobs[i]) = specs[i].label;
    kc_SceneBuilder::imageRect(blobs[i]) =
        kcPelRect(region.offset(), region.width(), region.height());
    kc_SceneBuilder::region(blobs[i]) = region;
    kc_SceneBuilder::record(blobs[i]).shownStamp = d.viewCounter;
    top.push_back(static_cast<BlobId>(i + 1));
  }
  d.mutating();
  d.connectivityKind = kind;
  d.scaleVal = scale;
  d.sceneWindow = kcPelRect(-1000, -1000, 3000, 3000);
  kc_SceneBuilder::installBlobs(scene, blobs, top);
  kc_SceneBuilder::finishAnalysis(scene);
}

kc_BlobRecord& record(const kcBlob* b) { return kc_SceneBuilder::record(const_cast<kcBlob&>(*b)); }

void expectClose(double actual, double expected, double rel = 1e-9) {
  EXPECT_NEAR(actual, expected, rel * std::max(1.0, std::fabs(expected)));
}

// ---- measures against the pel reference ----

TEST(Moments_randomRegions, weightedAndBinary_matchPelReference) {
  std::mt19937 rng(7);
  const unsigned char scales[] = {1, 3, 128};
  for (int round = 0; round < 60; ++round) {
    const Pels p = randomPels(rng, round % 2 == 0);
    const Reference ref = reference(p);
    const unsigned char scale = scales[round % 3];
    const kcRLEBuffer region = encode(p);
    kcBlobSceneDescription scene;
    // A blob (weights divided by the scale value), a hole and a labelled region (pels counted).
    fill(scene, {{region, 1}, {region, 0}}, kcBlobSceneDescription::eGreyScale, scale);
    const kcBlob* blob = scene.getBlob(1);
    SCOPED_TRACE(round);
    expectClose(blob->area(), ref.weight / scale);
    expectClose(scene.getBlob(2)->area(), ref.weight);
    expectClose(blob->centerOfMass().x(), ref.cx);
    expectClose(blob->centerOfMass().y(), ref.cy);
    expectClose(blob->inertia().first, ref.xx);
    expectClose(blob->inertia().second, ref.yy);
    const double tr = ref.xx + ref.yy, det = ref.xx * ref.yy - ref.xy * ref.xy;
    const double disc = std::sqrt(tr * tr / 4 - det);
    expectClose(blob->inertiaPrincipal().first, tr / 2 - disc, 1e-7);
    expectClose(blob->inertiaPrincipal().second, tr / 2 + disc, 1e-7);
    expectClose(record(blob).boundary->sumXY, ref.xy, 1e-7);
    kcBlobSceneDescription labelled;
    fill(labelled, {{region, 7}}, kcBlobSceneDescription::eLabelled, 1);
    expectClose(labelled.getBlob(1)->area(), ref.weight);
  }
}

// ---- closed forms (identity scene) ----

kcRLEBuffer solid(long x, long y, long w, long h, unsigned char value = 1) {
  kc_RLERowWriter writer(w, h);
  for (long row = 0; row < h; ++row) {
    writer.put(value, static_cast<std::uint32_t>(w));
    writer.endRow();
  }
  return writer.finish(kcPair<long>{x, y}, kc2XformCache());
}

TEST(Moments_closedForms, pelBarsAndSquare) {
  kcBlobSceneDescription scene;
  fill(scene, {{solid(3, 5, 1, 1)}, {solid(0, 0, 4, 1)}, {solid(2, 2, 1, 4)}, {solid(1, 1, 5, 5)}},
       kcBlobSceneDescription::eGreyScale, 1);
  const kcBlob* pel = scene.getBlob(1);
  EXPECT_EQ(pel->area(), 1.0);
  EXPECT_EQ(pel->centerOfMass(), kcVector<2>(3.5, 5.5));
  EXPECT_NEAR(pel->inertia().first, 1.0 / 12, 1e-12);
  EXPECT_NEAR(pel->inertiaPrincipal().first, 1.0 / 12, 1e-12);
  EXPECT_NEAR(pel->inertiaPrincipal().second, 1.0 / 12, 1e-12);
  EXPECT_NEAR(pel->elongation(), 1.0, 1e-12);

  const kcBlob* bar = scene.getBlob(2);
  EXPECT_NEAR(bar->inertia().first, 16.0 / 3, 1e-12);
  EXPECT_NEAR(bar->inertia().second, 1.0 / 3, 1e-12);
  EXPECT_NEAR(bar->angle().toDouble(), 0.0, 1e-12);
  EXPECT_NEAR(bar->elongation(), 16.0, 1e-12);
  EXPECT_NEAR(std::fabs(scene.getBlob(3)->angle().toDouble()), std::numbers::pi / 2, 1e-12);
  EXPECT_NEAR(scene.getBlob(3)->inertiaPrincipal().first, 1.0 / 3, 1e-12);

  // Symmetric second moments take the exact branch.
  const kcBlob* square = scene.getBlob(4);
  EXPECT_EQ(square->angle().toDouble(), 0.0);
  EXPECT_EQ(square->elongation(), 1.0);
}

TEST(Moments_largeWholeImage, weightBeyond32Bits_areaAndCentreExact) {
  // 8192 x 4096 pels of 128 weigh 2^32: a 32-bit total would wrap to 0.
  kcBlobSceneDescription scene;
  fill(scene, {{solid(0, 0, 8192, 4096, 128)}}, kcBlobSceneDescription::eWholeImageGreyScale, 128);
  const kcBlob* blob = scene.getBlob(1);
  EXPECT_EQ(blob->area(), 33554432.0);
  EXPECT_EQ(blob->centerOfMass(), kcVector<2>(4096, 2048));
  EXPECT_EQ(record(blob).pelCount, -1);  // does not fit the record's 32-bit count
  expectClose(blob->inertia().first, 4294967296.0 * 8192.0 * 8192.0 / 12);
  expectClose(blob->inertia().second, 4294967296.0 * 4096.0 * 4096.0 / 12);
}

// ---- client transforms ----

kcXform<2> affine(double a, double b, double c, double d, double tx, double ty) {
  return kcXform<2>(kcMatrix<2>(a, b, c, d), kcVector<2>(tx, ty));
}

TEST(Moments_clientXform, scaleRotationTranslation_followTheMap) {
  std::mt19937 rng(11);
  const Pels p = randomPels(rng, true);
  kcBlobSceneDescription plain, scaled, rotated;
  for (auto* s : {&plain, &scaled, &rotated})
    fill(*s, {{encode(p)}}, kcBlobSceneDescription::eGreyScale, 2);
  const kcBlob* b0 = plain.getBlob(1);
  scaled.clientFromImageXform(affine(2, 0, 0, 1, 0, 0));
  expectClose(scaled.getBlob(1)->area(), 2 * b0->area());
  expectClose(scaled.getBlob(1)->inertia().first, 8 * b0->inertia().first);
  expectClose(scaled.getBlob(1)->inertia().second, 2 * b0->inertia().second);

  const double th = 0.3;
  rotated.clientFromImageXform(
      affine(std::cos(th), -std::sin(th), std::sin(th), std::cos(th), 10, -4));
  const kcBlob* b1 = rotated.getBlob(1);
  const kcVector<2> c = b0->centerOfMass();
  expectClose(b1->centerOfMass().x(), std::cos(th) * c.x() - std::sin(th) * c.y() + 10);
  expectClose(b1->centerOfMass().y(), std::sin(th) * c.x() + std::cos(th) * c.y() - 4);
  expectClose(b1->area(), b0->area());
  expectClose(b1->inertiaPrincipal().first, b0->inertiaPrincipal().first, 1e-7);
  expectClose(b1->inertiaPrincipal().second, b0->inertiaPrincipal().second, 1e-7);
  double turn = b1->angle().toDouble() - b0->angle().toDouble() - th;
  turn -= std::numbers::pi * std::round(turn / std::numbers::pi);
  EXPECT_NEAR(turn, 0.0, 1e-7);
}

TEST(Moments_clientXform, perspective_linearisedAtCentroid) {
  std::mt19937 rng(5);
  const Pels p = randomPels(rng, false);
  const Reference ref = reference(p);
  const kc2XformPerspective::Elements h{1, 0.1, 5, 0.05, 1.2, -3, 1e-3, 2e-3, 1};
  auto map = [&](double x, double y) {
    const double w = h[6] * x + h[7] * y + h[8];
    return kcVector<2>((h[0] * x + h[1] * y + h[2]) / w, (h[3] * x + h[4] * y + h[5]) / w);
  };
  kcBlobSceneDescription scene;
  fill(scene, {{encode(p)}}, kcBlobSceneDescription::eGreyScale, 1);
  scene.clientFromImageXformBase(kc2XformPerspective(h));
  const kcBlob* b = scene.getBlob(1);
  // Jacobian at the centroid by central differences.
  const double e = 1e-4;
  const kcVector<2> dx = (map(ref.cx + e, ref.cy) - map(ref.cx - e, ref.cy)) / (2 * e);
  const kcVector<2> dy = (map(ref.cx, ref.cy + e) - map(ref.cx, ref.cy - e)) / (2 * e);
  const double det = std::fabs(dx.x() * dy.y() - dy.x() * dx.y());
  expectClose(b->centerOfMass().x(), map(ref.cx, ref.cy).x());
  expectClose(b->centerOfMass().y(), map(ref.cx, ref.cy).y());
  expectClose(b->area(), det * ref.weight, 1e-6);
  const double ixx = dx.x() * dx.x() * ref.xx + 2 * dx.x() * dy.x() * ref.xy + dy.x() * dy.x() * ref.yy;
  expectClose(b->inertia().first, det * ixx, 1e-6);
}

// ---- caches ----

TEST(Moments_caches, followCountersAndValidFlags) {
  kcBlobSceneDescription scene;
  fill(scene, {{solid(10, 20, 6, 2)}}, kcBlobSceneDescription::eGreyScale, 1);
  const kcBlob* b = scene.getBlob(1);
  kc_BlobRecord& r = record(b);
  EXPECT_EQ(b->area(), 12.0);
  b->inertia();
  EXPECT_TRUE(r.boundary->diagonalProjection.empty());  // created on first need only
  b->centerOfMass();
  b->angle();
  EXPECT_FALSE(r.boundary->diagonalProjection.empty());
  const std::uint64_t notices = b->mutationCount();
  // Poisoned caches are returned while they are current, and no notice is given.
  const kcPair<double> poison(-7, -7);
  r.inertia = r.inertiaPrincipal = poison;
  r.centerOfMass = kcVector<2>(-7, -7);
  EXPECT_EQ(b->inertia(), poison);
  EXPECT_EQ(b->centerOfMass(), kcVector<2>(-7, -7));
  EXPECT_EQ(b->mutationCount(), notices);

  // A translation moves transformCounter only: the centre follows (from the cached centroid,
  // which never goes stale), the moments stay.
  r.centroidX = 100.5;
  scene.clientFromImageXform(affine(1, 0, 0, 1, 3, 4));
  EXPECT_EQ(b->centerOfMass(), kcVector<2>(103.5, 25));
  EXPECT_EQ(b->inertia(), poison);
  EXPECT_EQ(b->inertiaPrincipal(), poison);
  EXPECT_GT(b->mutationCount(), notices);

  // A new matrix moves matrixCounter: the moments are recomputed.
  scene.clientFromImageXform(affine(2, 0, 0, 2, 0, 0));
  // 12 pels, 6 wide: sumXX = 12 x 6^2 / 12 = 36; x2 gives 4 from the matrix and 4 from the area.
  EXPECT_NEAR(b->inertia().first, 16 * 36.0, 1e-9);
  EXPECT_EQ(b->area(), 48.0);
  EXPECT_NE(b->inertiaPrincipal(), poison);
}

TEST(Moments_caches, sceneless_blobThrowsBadId) {
  kcBlob blob;
  EXPECT_THROW(blob.area(), kcBlobSceneDescription::BadId);
}

}  // namespace
