// Tests of the blob's moment measures: exact pel sums on seeded random regions, the symmetric
// branch, client transforms, and caches following the scene's counters.
#include <algorithm>

#include "measure/exact_sums.h"
#include "measure/measure_fixture.h"
#include "platform/foundation/archive_bytes.h"
#include "scene/blobdesc_fixture.h"

namespace {

using measuretest::randomPels;
using measuretest::Scene;
using scene_fixture::measures;
using scene_fixture::record;
using scene_fixture::solidRegion;

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

kcXform<2> affine(double a, double b, double c, double d, double tx, double ty) {
  return kcXform<2>(kcMatrix<2>(a, b, c, d), kcVector<2>(tx, ty));
}

// ---- exactness: the second moments are the exact sums rounded once ----

__extension__ typedef __int128 I128;

// Regions of every connectivity kind, far from the origin, binary and weighted: sumXX, sumYY and
// sumXY (read back through a shear, which mixes all three) are the exact pel sums rounded once;
// regions symmetric under a quarter turn and a reflection give angle 0 and equal principal moments
// exactly, also under a uniform scale; a reflection in an axis gives 0 or pi/2 exactly; every angle
// lies in (-pi/2, pi/2].
TEST(Moments_exact, randomAndSymmetricRegions_roundedOnceAndSymmetricExactly) {
  std::mt19937 rng(31);
  const Scene::Analysis kinds[] = {Scene::eGreyScale, Scene::eLabelled, Scene::eWholeImageGreyScale};
  const double half = 1.57079632679489661923;
  for (int round = 0; round < 90; ++round) {
    SCOPED_TRACE(round);
    const auto in = [&rng](unsigned lo, unsigned hi) { return static_cast<unsigned>(lo + rng() % (hi - lo + 1)); };
    const int w = static_cast<int>(in(1, 30)), h = static_cast<int>(in(1, 30));
    connecttest::Grid p = randomPels(rng, w, h, in(20, 90), round % 2 == 0 ? 255 : 1);
    p.pels[0] = 1;
    // The region as drawn, with its mirror image left-right, or with all eight images under the
    // square's symmetries (bit 0 mirrors x, bit 1 mirrors y, bit 2 swaps the axes).
    const int sym = round % 3, images = sym == 0 ? 1 : sym == 1 ? 2 : 8, side = std::max(w, h);
    connecttest::Grid g{sym == 2 ? side : w, sym == 2 ? side : h, {}};
    for (int y = 0; y < g.height; ++y)
      for (int x = 0; x < g.width; ++x) {
        int v = 0;
        for (int t = 0; t < images; ++t) {
          const int mx = t & 1 ? g.width - 1 - x : x, my = t & 2 ? g.height - 1 - y : y;
          const int px = t & 4 ? my : mx, py = t & 4 ? mx : my;
          if (px < w && py < h) v = std::max<int>(v, p.at(px, py));
        }
        g.pels.push_back(static_cast<std::uint8_t>(v));
      }
    I128 n = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    for (int y = 0; y < g.height; ++y)
      for (int x = 0; x < g.width; ++x) {
        const I128 v = g.at(x, y);
        n += v, sx += v * x, sy += v * y, sxx += v * x * x, syy += v * y * y, sxy += v * x * y;
      }
    Scene scene;
    const auto far = [&rng] { return 1000 * (static_cast<long>(rng() % 1001) - 500); };
    fill(scene, {connecttest::encode(g, {far(), far()})}, {static_cast<unsigned char>(1 + round % 5)},
         kinds[round % 3], 1);
    const kcBlob& b = *scene.getBlob(1);
    const kcPair<double> inertia = b.inertia();
    const auto rounded = [n](I128 spread) {  // (12 spread + n^2) / 12 n, of the pel squares' sums
      return kc_Exact::quotient(kc_Exact::toWide(static_cast<kc_Exact::U128>(12 * spread + n * n)),
                                static_cast<std::uint64_t>(12 * n));
    };
    EXPECT_EQ(inertia.first, rounded(n * sxx - sx * sx));
    EXPECT_EQ(inertia.second, rounded(n * syy - sy * sy));
    const double angle = b.angle().toDouble();
    EXPECT_TRUE(angle > -half && angle <= half);
    if (sym == 2) {
      EXPECT_EQ(angle, 0.0);
      EXPECT_EQ(b.inertiaPrincipal().first, b.inertiaPrincipal().second);
      scene.clientFromImageXform(affine(2.5, 0, 0, 2.5, 7, -3));
      EXPECT_EQ(b.angle().toDouble(), 0.0);
      EXPECT_EQ(b.elongation(), 1.0);
    } else if (sym == 1) {
      EXPECT_EQ(angle, inertia.first < inertia.second ? half : 0.0);
    }
    // Through a shear x' = x + y the product sum appears: Ixx' = xx + 2 xy + yy.
    scene.clientFromImageXform(affine(1, 1, 0, 1, 0, 0));
    const double xy = (b.inertia().first - inertia.first - inertia.second) / 2;
    EXPECT_NEAR(xy, static_cast<double>(n * sxy - sx * sy) / static_cast<double>(n), 1e-9 * (1 + std::fabs(xy)));
  }
}

// Quotients against the compiler's rounding of 128-bit integers: a tail of exactly half an ulp
// (ties to even) or just above it, divided by 1 and, shifted, by 8.
TEST(Moments_exact, quotients_roundedToNearestTiesToEven) {
  std::mt19937_64 rng(5);
  for (int i = 0; i < 1000; ++i) {
    const kc_Exact::U128 mantissa = (rng() >> 11) | (std::uint64_t{1} << 52);
    const kc_Exact::U128 num = (((mantissa << 11) | 0x400) << 8) | static_cast<unsigned>(i % 2);
    EXPECT_EQ(kc_Exact::quotient(kc_Exact::toWide(num), 1), static_cast<double>(num)) << i;
    EXPECT_EQ(kc_Exact::quotient(kc_Exact::toWide(num << 3), 8), static_cast<double>(num)) << i;
  }
}

// Solid rectangles: a 4 x 1 bar's principal moment and elongation; a tall bar's angle is pi/2, not
// -pi/2; a 6 x 2 bar's caches follow the scene's counters and valid flags.
TEST(Moments_rectangles, closedForms_cachesFollowCountersAndValidFlags) {
  Scene scene;
  fill(scene, {solidRegion(10, 20, 6, 2), solidRegion(0, 0, 4, 1), solidRegion(0, 0, 4, 9)}, {1, 1, 1},
       Scene::eGreyScale, 1);
  EXPECT_NEAR(scene.getBlob(2)->inertiaPrincipal().first, 1.0 / 3, 1e-12);
  EXPECT_NEAR(scene.getBlob(2)->elongation(), 16.0, 1e-12);
  EXPECT_EQ(scene.getBlob(3)->angle().toDouble(), 1.57079632679489661923);
  const kcBlob* b = scene.getBlob(1);
  EXPECT_EQ(b->area(), 12.0);
  b->inertia();
  kc_BlobRecord& r = record(*b);
  kc_BlobMeasures& m = measures(*b);
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
  // Turned half round, a tall bar's product sum is -0: its angle is still pi/2.
  scene.clientFromImageXform(affine(-1, 0, 0, -1, 0, 0));
  EXPECT_EQ(scene.getBlob(3)->angle().toDouble(), 1.57079632679489661923);
}

// An analysed scene only marks the area, centroid and centre of mass of blobs with pel sums as
// computed; they answer, and archive, exactly as records computed from the regions do, also after a
// new client transform turns the marks into records, and under one set before any measure (the
// marks then answer under it).
TEST(Moments_marks, markedMeasures_answerAndArchiveAsRecords) {
  const kcRLEBuffer image = connecttest::encode(connecttest::draw({"#####..#", "#.#.#.##", "#####...", "..#..#.."}), {5, 7});
  const auto ask = [](const Scene& s, long id) {
    const kcBlob* b = s.getBlob(id);
    return std::vector<double>{b->area(), b->centerOfMass().x(), b->centerOfMass().y()};
  };
  for (const bool clientFirst : {false, true}) {
    SCOPED_TRACE(clientFirst ? "client transform first" : "client transform later");
    Scene marked, recorded;
    for (Scene* s : {&marked, &recorded}) {
      s->connectComponentsGreyScale(image, 3, false, Scene::eNone, 0);
      if (clientFirst) s->clientFromImageXform(affine(0, -1, 2, 0, 4, 1));
    }
    kc_SceneBuilder::data(recorded).store.records.resize(static_cast<std::size_t>(recorded.numBlobs(false)));
    ASSERT_TRUE(kc_SceneBuilder::data(marked).store.records.empty() && !kc_SceneBuilder::data(recorded).store.records.empty());
    for (long id = 1; id <= marked.numBlobs(false); id += 2) EXPECT_EQ(ask(marked, id), ask(recorded, id));
    if (clientFirst) continue;
    for (Scene* s : {&marked, &recorded}) s->clientFromImageXform(affine(0, -1, 2, 0, 4, 1));
    EXPECT_EQ(archive_bytes::stored(marked), archive_bytes::stored(recorded));  // old centres, old stamps
    for (long id = 1; id <= marked.numBlobs(false); ++id) EXPECT_EQ(ask(marked, id), ask(recorded, id));
    EXPECT_EQ(archive_bytes::stored(marked), archive_bytes::stored(recorded));
  }
}

}  // namespace
