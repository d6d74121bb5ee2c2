// The oriented extents against pel squares integrated by brute force, under client transforms; the
// exclusion units, the reversed directions, the cache, and the ill-posed requests.
#include "measure/blob_extents.h"

#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <foundation/rlebuffer.h>
#include <foundation/xform.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "connect/connect_fixture.h"
#include "store/blob_record.h"
#include "scene/scene_builder.h"

namespace {

using connecttest::draw;
using connecttest::encode;
using connecttest::Grid;
using Scene = kcBlobSceneDescription;

constexpr double kPi = 3.14159265358979323846;

// ---- the reference: the blob's pels as weighted unit squares in client space ----

struct Pel {
  double x, y, weight;
};

std::vector<Pel> pelsOf(const kcBlob& b) {
  const kcRLEBuffer& r = b.region();
  std::vector<Pel> pels;
  for (long y = 0; y < r.height(); ++y) {
    long x = r.offset().x();
    for (const unsigned char* run = r.pointToRow(y); run[1] != 0; run += 2) {
      for (int i = 0; i < run[1] && run[0] != 0; ++i)
        pels.push_back({static_cast<double>(x + i), static_cast<double>(r.offset().y() + y), double(run[0])});
      x += run[1];
    }
  }
  return pels;
}

// Frame: client coordinates relative to the centre of mass along a unit axis; a pel corner
// (x + s, y + r) lies at base(x, y) + a s + b r.
struct Axis {
  kcMatrix<2> m;
  kcVector<2> t, com, dir;
  double base(double x, double y) const {
    return (m * kcVector<2>(x, y) + t - com).dot(dir);
  }
  double a() const { return m.element(0, 0) * dir.x() + m.element(1, 0) * dir.y(); }
  double b() const { return m.element(0, 1) * dir.x() + m.element(1, 1) * dir.y(); }
};

// below(axis, pels, z): the weight of the pel squares lying below z along the axis, exactly (the
// distribution of a s + b r for s, r uniform on [0, 1] is a trapezoid).
double below(const Axis& axis, const std::vector<Pel>& pels, double z) {
  double a = axis.a(), b = axis.b(), shift = 0.0;
  if (a < 0) shift += a, a = -a;
  if (b < 0) shift += b, b = -b;
  if (a < b) std::swap(a, b);
  const auto ramp = [](double v) { return v > 0 ? v * v : 0.0; };
  double sum = 0.0;
  for (const Pel& p : pels) {
    const double v = z - axis.base(p.x, p.y) - shift;
    double f;
    if (b <= 1e-9 * a) f = std::clamp(v / a, 0.0, 1.0);
    else f = (ramp(v) - ramp(v - a) - ramp(v - b) + ramp(v - a - b)) / (2 * a * b);
    sum += p.weight * std::clamp(f, 0.0, 1.0);
  }
  return sum;
}

// extent(axis, pels): the least and greatest position of any pel corner along the axis.
std::pair<double, double> extent(const Axis& axis, const std::vector<Pel>& pels) {
  double lo = INFINITY, hi = -INFINITY;
  for (const Pel& p : pels)
    for (double s : {0.0, 1.0})
      for (double r : {0.0, 1.0}) {
        const double v = axis.base(p.x + s, p.y + r);
        lo = std::min(lo, v), hi = std::max(hi, v);
      }
  return {lo, hi};
}

// quantile(axis, pels, mass, lo, hi): where the weight of the pel squares below reaches mass, by
// bisection on below() over [lo, hi] to well under 1e-6 of it.
double quantile(const Axis& axis, const std::vector<Pel>& pels, double mass, double lo, double hi) {
  for (int i = 0; i < 40; ++i) {
    const double mid = (lo + hi) / 2;
    (below(axis, pels, mid) > mass ? hi : lo) = mid;
  }
  return (lo + hi) / 2;
}

Scene analysed(const Grid& g, unsigned char scale = 1) {
  Scene scene;
  scene.connectComponentsGreyScale(encode(g, {3, -2}), scale, false, Scene::eNone, 0);
  return scene;
}

struct Transform {
  const char* name;
  kcMatrix<2> m;
  kcVector<2> t;
};

const Transform kTransforms[] = {
    {"identity", kcMatrix<2>(), kcVector<2>(0, 0)},
    {"scaled", kcMatrix<2>(2.5, 0, 0, 0.75), kcVector<2>(-4, 9)},
    {"rotated", kcMatrix<2>(std::cos(0.5), -std::sin(0.5), std::sin(0.5), std::cos(0.5)), kcVector<2>(1, 2)},
    {"sheared", kcMatrix<2>(1, 0.4, 0, 1.5), kcVector<2>(0, -3)},
};

// Every blob and hole of random grids (weighted pels included) at 24 angles under each transform:
// without exclusion the box is the pels' extent; with 10 % excluded the box edges leave that weight
// outside and the median halves it, within 0.01 bin of the exact positions (exactly along pel axes).
TEST(BlobExtents, randomBlobs_boxAndMedianAgreeWithThePelSquares) {
  std::mt19937 rng(16);
  double largest = 0.0;  // the largest error seen, in bins
  for (int round = 0; round < 40; ++round) {
    const int scale = round % 4 == 3 ? 5 : 1;
    Grid g{2 + static_cast<int>(rng() % 11), 2 + static_cast<int>(rng() % 11), {}};
    for (int p = 0; p < g.width * g.height; ++p)
      g.pels.push_back(static_cast<std::uint8_t>(rng() % 100 < 55 ? 1 + rng() % static_cast<unsigned>(scale) : 0));
    Scene scene = analysed(g, static_cast<unsigned char>(scale));
    const Transform& x = kTransforms[round % 4];
    scene.clientFromImageXform(kcXform<2>(x.m, x.t));
    for (long id = 1; id <= scene.numBlobs(false); ++id) {
      const kcBlob& b = *scene.getBlob(id);
      const std::vector<Pel> pels = pelsOf(b);
      double total = 0.0;
      for (const Pel& p : pels) total += p.weight;
      for (int k = 0; k < 24; ++k) {
        const double theta = k * kPi / 12;
        SCOPED_TRACE(testing::Message() << x.name << " round " << round << " blob " << id << " angle " << k);
        const kcVector<2> u(std::cos(theta), std::sin(theta)), w(-std::sin(theta), std::cos(theta));
        const Axis alongU{x.m, x.t, b.centerOfMass(), u}, alongW{x.m, x.t, b.centerOfMass(), w};
        const double tol = 1e-9 * (1 + std::fabs(x.m.element(0, 0)) + std::fabs(x.m.element(1, 1)));

        scene.extremaExcludeAreaPels(0);
        const kcRectangle<double> box = b.boundingBox(false, kcRadian(theta));
        const auto [u0, u1] = extent(alongU, pels);
        const auto [w0, w1] = extent(alongW, pels);
        ASSERT_NEAR(box.ul().x(), u0, tol);
        ASSERT_NEAR(box.lr().x(), u1, tol);
        ASSERT_NEAR(box.ul().y(), w0, tol);
        ASSERT_NEAR(box.lr().y(), w1, tol);
        const kcVector<2> c = b.center(false, kcRadian(theta)) - b.centerOfMass();
        ASSERT_NEAR(c.dot(u), (u0 + u1) / 2, tol);
        ASSERT_NEAR(c.dot(w), (w0 + w1) / 2, tol);

        scene.extremaExcludeAreaPercent(10);
        const double e = 0.1 * total, massTol = 1e-9 * total;
        const kcRectangle<double> cut = b.boundingBox(true, kcRadian(theta));
        const kcVector<2> median = b.median(kcRadian(theta)) - b.centerOfMass();
        const bool exact = k % 6 == 0 && x.m.element(0, 1) == 0 && x.m.element(1, 0) == 0;
        // expectSplit(axis, z, mass): the weight below z is mass (exactly when the axis runs along
        // the pels), z within 0.01 bin of the exact position.
        const auto expectSplit = [&](const Axis& axis, double z, double mass, double lo, double hi) {
          const double bin = std::hypot(axis.a(), axis.b());
          const double error = std::fabs(z - quantile(axis, pels, mass, lo, hi)) / bin;
          largest = std::max(largest, error);
          EXPECT_LE(error, 0.01);
          if (exact) {
            EXPECT_NEAR(below(axis, pels, z), mass, massTol);
          }
        };
        expectSplit(alongU, cut.ul().x(), e, u0, u1);
        expectSplit(alongU, cut.lr().x(), total - e, u0, u1);
        expectSplit(alongW, cut.ul().y(), e, w0, w1);
        expectSplit(alongW, cut.lr().y(), total - e, w0, w1);
        expectSplit(alongU, median.dot(u), total / 2, u0, u1);
        expectSplit(alongW, median.dot(w), total / 2, w0, w1);
        if (HasFailure()) return;
      }
    }
  }
  RecordProperty("largestErrorInBins", testing::PrintToString(largest));
}

// The box itself is checked by the random blobs; here the ratios and the image rectangle.
TEST(BlobExtents, rectangle_aspectAtRightAngles_imageRectangleCenterAndAspect) {
  Scene scene = analysed(draw({"......", ".####.", ".####.", "......"}));
  const kcBlob& b = *scene.getBlob(1);
  ASSERT_EQ(b.area(), 8.0);
  EXPECT_EQ(b.aspect(false, kcRadian(0)), 0.5);
  EXPECT_NEAR(b.aspect(false, kcRadian(kPi / 2)), 2, 1e-12);
  EXPECT_EQ(b.imageBoundingBoxAspect(), 0.5);
  EXPECT_EQ(b.imageBoundingBoxCenter(), kcVector<2>(3 + 3, -2 + 2));
  Scene one = analysed(draw({"....", "....", "...#"}));
  EXPECT_EQ(one.getBlob(1)->imageBoundingBoxCenter(), kcVector<2>(3 + 3.5, -2 + 2.5));
}

// A soft-threshold blob weighs the scale value per pel: a 10 % exclusion of a full 10 x 10 blob is
// one row and column at each end in every unit; the hole around it weighs 1 per pel.
TEST(BlobExtents, weightedBlob_exclusionInEveryUnit) {
  Grid g{12, 12, std::vector<std::uint8_t>(144)};
  for (int y = 1; y <= 10; ++y)
    for (int x = 1; x <= 10; ++x) g.pels[static_cast<std::size_t>(y * 12 + x)] = 11;
  Scene scene = analysed(g, 11);
  const kcBlob& b = *scene.getBlob(1);
  ASSERT_EQ(b.label(), 1);
  const kcRectangle<double> eightByEight(-4, -4, 8, 8);
  scene.extremaExcludeAreaPercent(10);
  EXPECT_EQ(b.boundingBox(true, kcRadian(0)), eightByEight);
  scene.extremaExcludeAreaPels(10);
  EXPECT_EQ(b.boundingBox(true, kcRadian(0)), eightByEight);
  scene.clientFromImageXform(kcXform<2>(kcMatrix<2>(2, 0, 0, 2), kcVector<2>(0, 0)));
  scene.extremaExcludeArea(40);  // 10 pels of 4 client units
  EXPECT_EQ(b.boundingBox(true, kcRadian(0)), kcRectangle<double>(-8, -8, 16, 16));
  EXPECT_EQ(b.boundingBox(false, kcRadian(0)), kcRectangle<double>(-10, -10, 20, 20));
  // A hole of that size inside a weighted ring weighs 1 per pel: 10 pels are its outer row.
  for (std::uint8_t& p : g.pels) p = static_cast<std::uint8_t>(11 - p);
  Scene ring = analysed(g, 11);
  ring.extremaExcludeAreaPels(10);
  const kcBlob& hole = *ring.getBlob(2);
  ASSERT_EQ(hole.label(), 0);
  EXPECT_EQ(hole.boundingBox(true, kcRadian(0)), eightByEight);
}

TEST(BlobExtents, illPosedRequests_zeroBoxesAndNaNs) {
  Scene scene = analysed(draw({".......", ".####..", ".#####.", "......."}));
  const kcBlob& b = *scene.getBlob(1);
  scene.extremaExcludeAreaPels(5);  // more than half of the 9-pel blob at each end
  for (double theta : {0.0, 0.3, kPi / 2, 2.0}) {
    const kcRectangle<double> box = b.boundingBox(true, kcRadian(theta));
    EXPECT_EQ(box.width(), 0.0);
    EXPECT_EQ(box.height(), 0.0);
    EXPECT_TRUE(std::isnan(b.aspect(true, kcRadian(theta))));
    const kcVector<2> median = b.median(kcRadian(theta));
    EXPECT_TRUE(std::isfinite(median.x()) && std::isfinite(median.y()));
  }
  for (double theta : {NAN, INFINITY}) {
    const kcRectangle<double> box = b.boundingBox(false, kcRadian(theta));
    EXPECT_TRUE(std::isnan(box.ul().x()) && std::isnan(box.width()) && std::isnan(box.height()));
    EXPECT_TRUE(std::isnan(b.center(false, kcRadian(theta)).x()));
    EXPECT_TRUE(std::isnan(b.median(kcRadian(theta)).y()));
    EXPECT_TRUE(std::isnan(b.aspect(true, kcRadian(theta))));
  }
  EXPECT_EQ(b.boundingBox(false, kcRadian(0)).width(), 5.0);  // a NaN request left nothing behind
  // The quantile walks stop at the projection's ends, even for a total the bins do not hold.
  const std::uint64_t bins[] = {0, 3, 0, 5, 0};
  const kc_Extents::Quantiles q = kc_Extents::quantiles(bins, 5, 8.0, 4.0);
  EXPECT_TRUE(q.low == 3.2 && q.high == 3.2 && q.median == 3.2);
  const kc_Extents::Quantiles all = kc_Extents::quantiles(bins, 5, 8.0, 8.0);
  EXPECT_TRUE(all.low == 0 && all.high == 0 && all.median == 3.2);
  const kc_Extents::Quantiles short_ = kc_Extents::quantiles(bins, 5, 100.0, 10.0);
  EXPECT_TRUE(short_.low == 5 && short_.high == 0 && short_.median == 5);
}

// The last (angle, exclusion) is kept until the transform changes; another one recomputes.
TEST(BlobExtents, cache_lastRequestOnly) {
  Scene scene = analysed(draw({".....", ".###.", ".##..", "....."}));
  const kcBlob& b = *scene.getBlob(1);
  kc_BlobMeasures& m = kc_SceneBuilder::parts(b).measures();
  const kcRectangle<double> poison(-7, -7, 1, 1);
  const kcRectangle<double> at0 = b.boundingBox(false, kcRadian(0));
  m.boundingBox = poison;
  EXPECT_EQ(b.boundingBox(false, kcRadian(0)), poison);
  EXPECT_NE(b.boundingBox(false, kcRadian(0.1)), poison);
  EXPECT_EQ(b.boundingBox(false, kcRadian(0)), at0);
  m.boundingBox = poison;
  scene.extremaExcludeAreaPels(1);
  EXPECT_EQ(b.boundingBox(false, kcRadian(0)), poison);  // exclusion off: the same request
  EXPECT_NE(b.boundingBox(true, kcRadian(0)), poison);
  m.boundingBox = poison;
  scene.clientFromImageXform(kcXform<2>(kcMatrix<2>(), kcVector<2>(1, 0)));
  EXPECT_NE(b.boundingBox(true, kcRadian(0)), poison);
  // center is cached with the extents and cleared by their recomputation.
  const kcVector<2> c = b.center(true, kcRadian(0));
  m.center = kcVector<2>(-7, -7);
  EXPECT_EQ(b.center(true, kcRadian(0)), kcVector<2>(-7, -7));
  b.boundingBox(true, kcRadian(0.2));
  EXPECT_EQ(b.center(true, kcRadian(0)), c);
}

}  // namespace
