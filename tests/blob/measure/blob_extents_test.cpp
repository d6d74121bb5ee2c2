// The oriented extents against the pel squares under client transforms; the exclusion units and
// the ill-posed requests.
#include "measure/blob_extents.h"

#include <algorithm>

#include "measure/measure_fixture.h"

namespace {

using namespace measuretest;

constexpr double kPi = 3.14159265358979323846;

// Span: one pel square projected on a client axis, relative to the centre of mass.
struct Span {
  double lo, len, weight;
};

// spans(b, x, theta): b's pels along the client axis at angle theta under client transform x.
std::vector<Span> spans(const kcBlob& b, const kcXform<2>& x, double theta) {
  const kcVector<2> axis(std::cos(theta), std::sin(theta));
  const kcPelBuffer<unsigned char> pels = b.region().image();
  std::vector<Span> out;
  for (long y = 0; y < pels.height(); ++y)
    for (long i = 0; i < pels.width(); ++i) {
      if (pels.pointToRow(y)[i] == 0) continue;
      double lo = INFINITY, hi = -INFINITY;
      for (long c = 0; c < 4; ++c) {
        const kcVector<2> corner(double(pels.offset().x() + i + c % 2), double(pels.offset().y() + y + c / 2));
        const double v = (x.mapPoint(corner) - b.centerOfMass()).dot(axis);
        lo = std::min(lo, v), hi = std::max(hi, v);
      }
      out.push_back({lo, hi - lo, double(pels.pointToRow(y)[i])});
    }
  return out;
}

// below(spans, z): the weight below z, exact where the axis runs along the pel edges.
double below(const std::vector<Span>& spans, double z) {
  double sum = 0.0;
  for (const Span& s : spans) sum += s.weight * std::clamp((z - s.lo) / s.len, 0.0, 1.0);
  return sum;
}

// ends(spans): the lowest and the highest point the pel squares reach.
std::pair<double, double> ends(const std::vector<Span>& spans) {
  double lo = INFINITY, hi = -INFINITY;
  for (const Span& s : spans) lo = std::min(lo, s.lo), hi = std::max(hi, s.lo + s.len);
  return {lo, hi};
}

// Identity, scaled, rotated and sheared.
const kcXform<2> kTransforms[] = {{kcMatrix<2>(), kcVector<2>(0, 0)},
                                  {kcMatrix<2>(2.5, 0, 0, 0.75), kcVector<2>(-4, 9)},
                                  {kcMatrix<2>(std::cos(0.5), -std::sin(0.5), std::sin(0.5), std::cos(0.5)), kcVector<2>(1, 2)},
                                  {kcMatrix<2>(1, 0.4, 0, 1.5), kcVector<2>(0, -3)}};

// Every blob and hole of random grids (weighted pels included) at 24 angles under each transform:
// without exclusion the box and its centre are the pels' extent; along the pel edges, with a tenth
// of the weight excluded (in percent, in pels or in client area; a weighted blob's pel weighs the
// scale value, a hole's 1), the box edges leave that weight outside and the median halves it.
TEST(BlobExtents, randomBlobs_boxAndMedianAgreeWithThePelSquares) {
  std::mt19937 rng(16);
  for (int round = 0; round < 48; ++round) {
    const unsigned scale = round % 4 == 1 ? 5 : 1;
    const int width = 2 + static_cast<int>(rng() % 11), height = 2 + static_cast<int>(rng() % 11);
    Scene scene = analysed(randomPels(rng, width, height, 55, scale), {3, -2}, static_cast<unsigned char>(scale));
    const kcXform<2>& x = kTransforms[round % 4];
    scene.clientFromImageXform(x);
    for (long id = 1; id <= scene.numBlobs(false); ++id) {
      const kcBlob& b = *scene.getBlob(id);
      for (int k = 0; k < 24; ++k) {
        const double theta = k * kPi / 12;
        SCOPED_TRACE(testing::Message() << "round " << round << " blob " << id << " angle " << k);
        const std::vector<Span> u = spans(b, x, theta), w = spans(b, x, theta + kPi / 2);
        const auto [uLo, uHi] = ends(u);
        const auto [wLo, wHi] = ends(w);
        scene.extremaExcludeAreaPels(0);
        const kcRectangle<double> box = b.boundingBox(false, kcRadian(theta));
        const kcVector<2> c = b.center(false, kcRadian(theta)) - b.centerOfMass();
        const kcVector<2> du(std::cos(theta), std::sin(theta)), dw(-std::sin(theta), std::cos(theta));
        const double tol = 1e-9 * (1 + std::fabs(x.matrix().element(0, 0)) + std::fabs(x.matrix().element(1, 1)));
        for (const auto& [got, want] : {std::pair(box.ul().x(), uLo), {box.lr().x(), uHi}, {box.ul().y(), wLo},
                                        {box.lr().y(), wHi}, {c.dot(du), (uLo + uHi) / 2}, {c.dot(dw), (wLo + wHi) / 2}})
          ASSERT_NEAR(got, want, tol);
        if (k % 6 != 0 || round % 4 >= 2) continue;
        const double total = below(u, INFINITY);
        const double tenth = total / 10 / (b.label() != 0 ? double(scale) : 1.0);  // in pels
        if (round % 3 == 0)
          scene.extremaExcludeAreaPercent(10);
        else if (round % 3 == 1)
          scene.extremaExcludeAreaPels(tenth);
        else
          scene.extremaExcludeArea(tenth * x.matrix().element(0, 0) * x.matrix().element(1, 1));
        const kcRectangle<double> cut = b.boundingBox(true, kcRadian(theta));
        const kcVector<2> median = b.median(kcRadian(theta)) - b.centerOfMass();
        for (const auto& [along, z, share] : {std::tuple(&u, cut.ul().x(), 0.1), {&u, cut.lr().x(), 0.9},
                                              {&w, cut.ul().y(), 0.1}, {&w, cut.lr().y(), 0.9},
                                              {&u, median.dot(du), 0.5}, {&w, median.dot(dw), 0.5}})
          EXPECT_NEAR(below(*along, z), share * total, 1e-9 * total);
      }
    }
  }
}

TEST(BlobExtents, illPosedRequests_zeroBoxesAndNaNs) {
  Scene scene = analysed(draw({".......", ".####..", ".#####.", "......."}));
  const kcBlob& b = *scene.getBlob(1);
  scene.extremaExcludeAreaPels(5);  // more than half of the 9-pel blob at each end
  for (double theta : {0.0, 0.3, kPi / 2, 2.0}) {
    const kcRectangle<double> box = b.boundingBox(true, kcRadian(theta));
    EXPECT_TRUE(box.width() == 0.0 && box.height() == 0.0 && std::isnan(b.aspect(true, kcRadian(theta))));
    EXPECT_TRUE(std::isfinite(b.median(kcRadian(theta)).x()));
  }
  for (double theta : {NAN, INFINITY})
    EXPECT_TRUE(std::isnan(b.boundingBox(false, kcRadian(theta)).width()) && std::isnan(b.median(kcRadian(theta)).y()));
  EXPECT_EQ(b.boundingBox(false, kcRadian(0)).width(), 5.0);  // a NaN request left nothing behind
  // The quantile walks stop at the projection's ends, even for a total the bins do not hold.
  const std::uint64_t bins[] = {0, 3, 0, 5, 0};
  const kc_Extents::Quantiles all = kc_Extents::quantiles(bins, 5, 8.0, 8.0);
  EXPECT_TRUE(all.low == 0 && all.high == 0 && all.median == 3.2);
  const kc_Extents::Quantiles short_ = kc_Extents::quantiles(bins, 5, 100.0, 10.0);
  EXPECT_TRUE(short_.low == 5 && short_.high == 0 && short_.median == 5);
}

}  // namespace
