// Conversion of a scene's boundaries to featurelet chains: a drawn case worked out by hand, the
// empty and failing cases, and random scenes checked against the blobs' chain codes.
#include <featurelet/chain_set.h>
#include <featurelet/featurelet.h>

#include <new>
#include <utility>

#include "measure/measure_fixture.h"
#include "scene/blobdesc_fixture.h"

namespace {

using namespace measuretest;
using Corners = std::vector<std::pair<double, double>>;

Corners cornersOf(const kcFeatureletChainSet& set, long chain) {
  Corners corners;
  for (const kfeat_featurelet& f : set.chain(chain)) corners.emplace_back(f.x, f.y);
  return corners;
}

// cornersOf(blob, client): the pel corner before each step of the blob's chain code, from its
// start, in client coordinates.
Corners cornersOf(const kcBlob& b, const kcXform<2>& client) {
  std::vector<keBlobDirection> code;
  kcPair<long> at = b.boundaryChainCode(code);
  Corners corners;
  for (const keBlobDirection d : code) {
    if (d == keBlobDirectionEnd) break;
    const kcVector<2> p = client.mapPoint(kcVector<2>(static_cast<double>(at.x()), static_cast<double>(at.y())));
    corners.emplace_back(p.x(), p.y());
    at = {at.x() + (d == keBlobDirectionPosX) - (d == keBlobDirectionNegX),
          at.y() + (d == keBlobDirectionPosY) - (d == keBlobDirectionNegY)};
  }
  return corners;
}

// A ring around a hole, and a bar: topOnly drops the hole, the others keep the view's order (by
// area, largest first: ring, bar, hole); a translation just beyond 1e-15 moves the points.
TEST(BlobFeatures, BlobFeatures_topOnly_dropsTheHoleTinyTranslationMovesThePoints) {
  Scene scene = analysed(draw({".....", ".###.", ".#.#.", ".###.", ".....", "...##"}));
  const auto all = kfConvertToFeatures(&scene, false, false), top = kfConvertToFeatures(&scene, false, true);
  ASSERT_TRUE(all->numChains() == 3 && top->numChains() == 2);
  EXPECT_TRUE(cornersOf(*top, 0) == cornersOf(*all, 0) && cornersOf(*top, 1) == cornersOf(*all, 1));
  EXPECT_EQ(cornersOf(*top, 1), (Corners{{3, 5}, {4, 5}, {5, 5}, {5, 6}, {4, 6}, {3, 6}}));
  scene.clientFromImageXform(kcXform<2>(kcMatrix<2>(), kcVector<2>(1e-14, 0)));
  EXPECT_DOUBLE_EQ(kfConvertToFeatures(&scene, false, false)->chain(1)[0].x, 3 + 1e-14);
}

// No scene, or none shown, gives an empty set; refusals; failures after the C chain set exists, in its filling and
// in the mapping after the result took it (the sanitizer build checks that the set is freed
// exactly once in each case).
TEST(BlobFeatures, BlobFeatures_refusedOrFailingPartWay_throwFreeingTheChainSetOnce) {
  const auto none = kfConvertToFeatures(nullptr, false, false);
  EXPECT_TRUE(none->numChains() == 0 && none->imageFromClientXformBase() == nullptr);
  const Scene degenerate;
  EXPECT_SCENE_ERROR(kfConvertToFeatures(&degenerate, false, false), Scene::Degenerate, kc_BlobMessages::eDegenerate);
  const Scene whole = analysed(draw({"#.", ".#"}), {0, 0}, 1, true);
  EXPECT_THROW(kfConvertToFeatures(&whole, false, false), kcBlob::BadMeasure);
  EXPECT_THROW(kfConvertToFeatures(*whole.getBlob(1), false), kcBlob::BadMeasure);
  EXPECT_THROW(kfConvertToFeatures(kcBlob(), false), kcBadArgument);
  Scene scene = analysed(draw({"#.#", "...", "#.."}));
  for (const int after : {0, 1}) {  // kfeat_featureletChainSet_new, then its filling
    kfeat_failAllocation(after);
    EXPECT_THROW(kfConvertToFeatures(&scene, false, false), std::bad_alloc) << after;
    kfeat_failAllocation(-1);
  }
  EXPECT_EQ(kfConvertToFeatures(&scene, false, false)->numChains(), 3) << "nothing left armed";
  scene.clientFromImageXformBase(kc2XformPerspective({1, 0, 0, 0, 1, 0, 1, 0, -2}));  // no image of x = 2
  EXPECT_THROW(kfConvertToFeatures(&scene, false, false), kcBadArgument);
  scene.setFilter(kcBlob::eArea, 100, 200, false);  // nothing shown: an empty set with the scene's transform
  const auto filtered = kfConvertToFeatures(&scene, false, false);
  EXPECT_TRUE(filtered->numChains() == 0 && filtered->imageFromClientXformBase() == scene.imageFromClientXformBase());
}

// Each chain holds the corners of its blob's chain code, in order for a blob and reversed for a
// hole (grey-scale scenes alternate the two down the tree), the other way with reverse, under a
// rotated client transform too; each direction is that of next - previous corner plus pi/2, in
// [0, 2 pi). Each blob converted alone gives that chain too.
TEST(BlobFeatures, BlobFeatures_randomScenes_chainsFollowTheChainCodesWithNormalDirections) {
  std::mt19937 rng(46);
  const kcXform<2> clients[] = {kcXform<2>(), kcXform<2>(kcMatrix<2>::rotation(kcRadian(0.5)), kcVector<2>(7, -3))};
  for (int i = 0; i < 100; ++i) {
    Scene scene = analysed(connecttest::randomGrid(rng, 1 + static_cast<int>(rng() % 14), 1 + static_cast<int>(rng() % 14)));
    for (const kcXform<2>& client : clients) {
      scene.clientFromImageXform(client);
      const std::vector<const kcBlob*> blobs = scene.allBlobs(true);
      for (const bool reverse : {false, true}) {
        SCOPED_TRACE(testing::Message() << "scene " << i << (reverse ? ", reversed" : "")
                                        << (client.isIdentity() ? "" : ", rotated"));
        const auto set = kfConvertToFeatures(&scene, reverse, false);
        ASSERT_EQ(set->numChains(), static_cast<long>(blobs.size()));
        for (std::size_t b = 0; b < blobs.size(); ++b) {
          const Corners corners = cornersOf(*blobs[b], client);
          const bool backwards = (blobs[b]->label() == 0) != reverse;
          const Corners want = backwards ? Corners(corners.rbegin(), corners.rend()) : corners;
          const auto one = kfConvertToFeatures(*blobs[b], reverse);
          ASSERT_TRUE(one->numChains() == 1 && one->isClosed(0) && set->isClosed(static_cast<long>(b)));
          for (const auto& chain : {set->chain(static_cast<long>(b)), one->chain(0)}) {
            ASSERT_EQ(chain.size(), want.size());
            for (std::size_t k = 0; k < want.size(); ++k) {
              const kfeat_featurelet& f = chain[k];
              const auto& [px, py] = want[(k + want.size() - 1) % want.size()];
              const auto& [nx, ny] = want[(k + 1) % want.size()];
              const double length = std::hypot(nx - px, ny - py);
              ASSERT_NEAR(f.x, want[k].first, 1e-9);
              ASSERT_NEAR(f.y, want[k].second, 1e-9);
              ASSERT_TRUE(f.hasDirection == 1 && f.magnitude == 0 && f.weight == 1);
              ASSERT_TRUE(f.angle >= 0 && f.angle < 2 * kfPi);
              ASSERT_NEAR(std::cos(f.angle), -(ny - py) / length, 1e-9);
              ASSERT_NEAR(std::sin(f.angle), (nx - px) / length, 1e-9);
            }
          }
        }
      }
    }
  }
}

}  // namespace
