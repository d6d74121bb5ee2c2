// Conversion of a scene's boundaries to featurelet chains: drawn cases worked out by hand, the
// empty and failing cases, and random scenes checked against a flood-fill labelling of their pels.
#include <blob/blob.h>
#include <blob/blobdesc.h>

#include <featurelet/chain_set.h>
#include <featurelet/featurelet.h>

#include <foundation/xform.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <random>
#include <span>
#include <utility>
#include <vector>

#include "common/flood_fill.h"
#include "connect/connect_fixture.h"
#include "scene/blobdesc_fixture.h"

namespace {

using connecttest::draw;
using connecttest::encode;
using connecttest::Grid;
using Scene = kcBlobSceneDescription;
using Corners = std::vector<std::pair<double, double>>;

Scene analysed(const Grid& g, bool wholeImage = false) {
  Scene scene;
  scene.connectComponentsGreyScale(encode(g), 1, wholeImage, Scene::eNone, 0);
  return scene;
}

Corners cornersOf(const kcFeatureletChainSet& set, long chain) {
  Corners corners;
  for (const kfeat_featurelet& f : set.chain(chain)) corners.emplace_back(f.x, f.y);
  return corners;
}

Corners reversed(Corners c) { return Corners(c.rbegin(), c.rend()); }

bool sameFeaturelet(const kfeat_featurelet& a, const kfeat_featurelet& b) {
  return a.x == b.x && a.y == b.y && a.hasDirection == b.hasDirection && a.angle == b.angle &&
         a.magnitude == b.magnitude && a.weight == b.weight;
}

kcXform<2> translation(double x, double y) { return kcXform<2>(kcMatrix<2>(), kcVector<2>(x, y)); }

// ---- drawn cases ----

TEST(BlobFeatures_drawn, singlePel_fourCornersPointingIn_reverseTurnsThemAround) {
  const Scene scene = analysed(draw({"...", ".#.", "..."}));
  const auto set = kfConvertToFeatures(&scene, false, false), back = kfConvertToFeatures(&scene, true, false);
  ASSERT_EQ(set->numChains(), 1);
  EXPECT_TRUE(set->isClosed(0));
  EXPECT_EQ(cornersOf(*set, 0), (Corners{{1, 1}, {2, 1}, {2, 2}, {1, 2}}));
  EXPECT_EQ(cornersOf(*back, 0), reversed(cornersOf(*set, 0)));
  // next - previous corner turned by a quarter: towards the pel's centre, in [0, 2 pi); reversed,
  // the opposite direction.
  const double in[] = {kfPi / 4, 3 * kfPi / 4, 5 * kfPi / 4, 7 * kfPi / 4};
  for (std::size_t k = 0; k < 4; ++k) {
    const kfeat_featurelet& f = set->chain(0)[k];
    EXPECT_NEAR(f.angle, in[k], 1e-15);
    EXPECT_TRUE(f.hasDirection == 1 && f.magnitude == 0 && f.weight == 1) << "the rest as initialised";
    EXPECT_NEAR(back->chain(0)[k].angle, std::fmod(in[3 - k] + kfPi, 2 * kfPi), 1e-14);
  }
}

TEST(BlobFeatures_drawn, blobWithHole_oppositeSenses_reverseSwapsThem_topOnlyDropsTheHole) {
  const Scene scene = analysed(draw({".....", ".###.", ".#.#.", ".###.", ".....", "...##"}));
  ASSERT_EQ(scene.numBlobs(false), 3);  // the ring, its hole, the bar
  const Corners ring = {{1, 1}, {2, 1}, {3, 1}, {4, 1}, {4, 2}, {4, 3}, {4, 4},
                        {3, 4}, {2, 4}, {1, 4}, {1, 3}, {1, 2}};
  const Corners bar = {{3, 5}, {4, 5}, {5, 5}, {5, 6}, {4, 6}, {3, 6}};
  const Corners hole = {{2, 2}, {3, 2}, {3, 3}, {2, 3}};
  const auto plain = kfConvertToFeatures(&scene, false, false), back = kfConvertToFeatures(&scene, true, false);
  ASSERT_TRUE(plain->numChains() == 3 && back->numChains() == 3);  // by area, largest first
  EXPECT_TRUE(cornersOf(*plain, 0) == ring && cornersOf(*plain, 1) == bar);
  EXPECT_TRUE(cornersOf(*back, 0) == reversed(ring) && cornersOf(*back, 1) == reversed(bar));
  EXPECT_TRUE(cornersOf(*plain, 2) == reversed(hole) && cornersOf(*back, 2) == hole);
  // The hole's directions point out of it, into the ring: from (2, 2) towards the pel (1, 1).
  EXPECT_NEAR(plain->chain(2)[3].angle, 5 * kfPi / 4, 1e-15);

  const auto top = kfConvertToFeatures(&scene, false, true);
  ASSERT_EQ(top->numChains(), 2);
  EXPECT_TRUE(cornersOf(*top, 0) == ring && cornersOf(*top, 1) == bar);
  EXPECT_TRUE(std::ranges::equal(top->chain(0), plain->chain(0), [](const auto& a, const auto& b) {
    return a.x == b.x && a.y == b.y && a.angle == b.angle;
  }));
}

// Only a transform farther than 1e-15 from the identity moves the pel corners (a real move is
// checked with the random scenes).
TEST(BlobFeatures_drawn, clientTranslationNearTheIdentity_movesThePointsOnlyBeyondTheTolerance) {
  for (const double dx : {1e-14, 1e-16}) {
    Scene scene = analysed(draw({"#.", ".."}));
    scene.clientFromImageXform(translation(dx, 0));
    const auto set = kfConvertToFeatures(&scene, false, false);
    const double x = dx > 1e-15 ? dx : 0;
    EXPECT_EQ(cornersOf(*set, 0), (Corners{{x, 0}, {1 + x, 0}, {1 + x, 1}, {x, 1}})) << dx;
    for (std::size_t k = 0; k < 4; ++k) EXPECT_NEAR(set->chain(0)[k].angle, double(2 * k + 1) * kfPi / 4, 1e-15) << dx;
  }
}

// ---- empty results and failures ----

TEST(BlobFeatures_empty, nullSceneHasNoTransform_filteredSceneCarriesItsOwn) {
  const auto none = kfConvertToFeatures(nullptr, false, false);
  EXPECT_TRUE(none->numChains() == 0 && none->imageFromClientXformBase() == nullptr);
  Scene scene = analysed(draw({"#.#", "..."}));
  scene.clientFromImageXform(translation(3, 4));
  scene.setFilter(kcBlob::eArea, 100, 200, false);
  const auto filtered = kfConvertToFeatures(&scene, false, false);
  EXPECT_EQ(filtered->numChains(), 0);
  EXPECT_EQ(filtered->imageFromClientXformBase(), scene.imageFromClientXformBase());
}

TEST(BlobFeatures_failure, degenerateAndWholeImageScenes_refused) {
  const Scene degenerate;
  EXPECT_SCENE_ERROR(kfConvertToFeatures(&degenerate, false, false), Scene::Degenerate, kc_BlobMessages::eDegenerate);
  const Scene whole = analysed(draw({"#.", ".#"}), true);
  EXPECT_THROW(kfConvertToFeatures(&whole, false, false), kcBlob::BadMeasure);
  EXPECT_THROW(kfConvertToFeatures(*whole.getBlob(1), false), kcBlob::BadMeasure);
  EXPECT_THROW(kfConvertToFeatures(kcBlob(), false), kcBadArgument);
}

// Failures after the C chain set exists: in its filling, and in the mapping after the result took
// it. The sanitizer build checks that the set is freed exactly once in each case.
TEST(BlobFeatures_failure, failingPartWay_freesTheChainSetOnce) {
  Scene scene = analysed(draw({"#.#", "...", "#.."}));
  for (const int after : {0, 1}) {  // kfeat_featureletChainSet_new, then its filling
    kfeat_failAllocation(after);
    EXPECT_THROW(kfConvertToFeatures(&scene, false, false), std::bad_alloc) << after;
    kfeat_failAllocation(-1);
  }
  EXPECT_EQ(kfConvertToFeatures(&scene, false, false)->numChains(), 3) << "nothing left armed";
  scene.clientFromImageXformBase(kc2XformPerspective({1, 0, 0, 0, 1, 0, 1, 0, -2}));  // no image of x = 2
  EXPECT_THROW(kfConvertToFeatures(&scene, false, false), kcBadArgument);
}

// ---- random scenes against the pels ----

// expectOnBoundary(g, component, c, inward, chain, imageFromClient): the chain's corners, mapped
// back to the image, are pel corners of the outline of flood-fill component c, one unit step apart;
// each direction points at a pel of c and away from one outside it (inward), or the other way
// round, except at a corner where c touches itself across a diagonal and both diagonal pels lie
// beside the direction.
void expectOnBoundary(const Grid& g, const std::vector<int>& component, int c, bool inward,
                      std::span<const kfeat_featurelet> chain, const kcXform<2>& imageFromClient) {
  const auto in = [&](long x, long y) {  // pels beyond the image lie in no component
    return x >= 0 && y >= 0 && x < g.width && y < g.height &&
           component[static_cast<std::size_t>(y * g.width + x)] == c;
  };
  std::vector<kcPair<long>> corners;
  for (const kfeat_featurelet& f : chain) {
    const kcVector<2> p = imageFromClient.mapPoint(kcVector<2>(f.x, f.y));
    const kcPair<long> q(std::lround(p.x()), std::lround(p.y()));
    ASSERT_NEAR(p.x(), static_cast<double>(q.x()), 1e-9);
    ASSERT_NEAR(p.y(), static_cast<double>(q.y()), 1e-9);
    corners.push_back(q);
    const bool ul = in(q.x() - 1, q.y() - 1), ur = in(q.x(), q.y() - 1);
    const bool ll = in(q.x() - 1, q.y()), lr = in(q.x(), q.y());
    ASSERT_TRUE((ul || ur || ll || lr) && !(ul && ur && ll && lr)) << "a corner of the outline";
    ASSERT_EQ(f.hasDirection, 1);
    if ((ul && lr && !ur && !ll) || (ur && ll && !ul && !lr)) continue;  // the region pinched at a corner
    const kcVector<2> u = imageFromClient.mapVector(kcVector<2>(std::cos(f.angle), std::sin(f.angle)));
    const kcVector<2> half = u / (2 * u.length());
    const kcVector<2> ahead = p + half, behind = p - half;
    EXPECT_EQ(in(std::lround(std::floor(ahead.x())), std::lround(std::floor(ahead.y()))), inward);
    EXPECT_NE(in(std::lround(std::floor(behind.x())), std::lround(std::floor(behind.y()))), inward);
  }
  for (std::size_t k = 0; k < corners.size(); ++k) {
    const kcPair<long> a = corners[k], b = corners[(k + 1) % corners.size()];
    EXPECT_EQ(std::labs(b.x() - a.x()) + std::labs(b.y() - a.y()), 1) << "step " << k;
  }
}

// Each chain follows its blob of the view; directions point into blobs and out of holes (grey-scale
// scenes alternate the two down the tree), the other way with reverse; under a rotated client
// transform too. Each blob converted alone gives its chain of the scene.
TEST(BlobFeatures_random, everyFeaturelet_onItsBlobsOutline_pointingByTheSense) {
  std::mt19937 rng(46);
  const kcXform<2> clients[] = {kcXform<2>(), kcXform<2>(kcMatrix<2>::rotation(kcRadian(0.5)), kcVector<2>(7, -3))};
  for (int i = 0; i < 150; ++i) {
    Grid g;
    g.width = 1 + static_cast<int>(rng() % 14);
    g.height = 1 + static_cast<int>(rng() % 14);
    const auto density = static_cast<unsigned>(25 + rng() % 60);
    for (int p = 0; p < g.width * g.height; ++p) g.pels.push_back(rng() % 100 < density ? 1 : 0);
    int count = 0;
    const std::vector<int> component = floodfill::components(g.width, g.height, g.pels, floodfill::Joins::eGrey, count);
    Scene scene = analysed(g);
    for (const kcXform<2>& client : clients) {
      scene.clientFromImageXform(client);
      const std::vector<const kcBlob*> blobs = scene.allBlobs(true);
      for (const bool reverse : {false, true}) {
        SCOPED_TRACE(testing::Message() << "scene " << i << (reverse ? ", reversed" : "")
                                        << (client.isIdentity() ? "" : ", rotated"));
        const auto set = kfConvertToFeatures(&scene, reverse, false);
        ASSERT_EQ(set->numChains(), static_cast<long>(blobs.size()));
        for (std::size_t b = 0; b < blobs.size(); ++b) {
          std::vector<keBlobDirection> code;
          const kcPair<long> start = blobs[b]->boundaryChainCode(code);
          const int c = component[static_cast<std::size_t>(start.y() * g.width + start.x())];
          const auto chain = set->chain(static_cast<long>(b));
          ASSERT_EQ(static_cast<long>(chain.size()), blobs[b]->numSteps());
          ASSERT_TRUE(set->isClosed(static_cast<long>(b)));
          expectOnBoundary(g, component, c, (blobs[b]->label() != 0) != reverse, chain, client.inverse());
          if (testing::Test::HasFatalFailure()) return;
          // One blob at a time, the same chain.
          const auto one = kfConvertToFeatures(*blobs[b], reverse);
          ASSERT_EQ(one->numChains(), 1);
          EXPECT_TRUE(std::equal(chain.begin(), chain.end(), one->chain(0).begin(), one->chain(0).end(), sameFeaturelet));
        }
      }
    }
  }
}

}  // namespace
