// Tests of a blob's graphics: which flags add what, in which order, where and in which colour.
#include "measure/measure_fixture.h"

namespace {

using namespace measuretest;
using Points = std::vector<kcVector<2>>;

Points polyline(const kcGraphic& g) {
  const kcPolyline& line = dynamic_cast<const kcGraphicSimple<kcPolyline>&>(g).shape();
  EXPECT_FALSE(line.closed());
  return line.points();
}

// One pel at (2, 1), under the identity and under a scaling client transform: all six graphics,
// the boundary walking the chain (its start point twice at the end). A whole-image blob has no
// boundary to draw; a label is drawn even when empty.
TEST(BlobDraw, everyFlag_inOrderWithItsShapeAndColour) {
  for (const kcXform<2>& x : {kcXform<2>(), kcXform<2>(kcMatrix<2>(2, 0, 0, 3), kcVector<2>(10, -4))}) {
    Scene s = analysed(draw({"....", "..#.", "...."}));
    s.clientFromImageXform(x);
    const kcBlob& b = *s.getBlob(1);
    kcGraphicList list;
    b.draw(list, 63 | 64 | 1024, L"blob 7");
    ASSERT_EQ(list.size(), 6u);
    const auto& upright = dynamic_cast<const kcGraphicCross&>(list[0]).cross();
    const auto& turned = dynamic_cast<const kcGraphicCross&>(list[1]).cross();
    EXPECT_TRUE(upright.center() == x.mapPoint(kcVector<2>(2.5, 1.5)) && upright.angle() == kcRadian(0.0));
    EXPECT_TRUE(turned.angle() == b.angle() && upright.size() == 7.0 && turned.size() == 7.0);
    const auto& text = dynamic_cast<const kcGraphicText&>(list[2]);
    EXPECT_TRUE(text.text() == L"blob 7" && text.position() == b.centerOfMass() && text.offset() == kcVector<2>(5, 5));
    EXPECT_TRUE(text.format() == kcUIFormat(kcUIFormat::defaultFontId(), 0) && text.color2() == kcColor::passColor());
    Points corners = {{2, 1}, {3, 1}, {3, 2}, {2, 2}, {2, 1}};
    for (kcVector<2>& p : corners) p = x.mapPoint(p);
    EXPECT_EQ(polyline(list[3]), corners);
    const auto& principal = dynamic_cast<const kcGraphicSimple<kcAffineRectangle>&>(list[4]).shape();
    const kcRectangle<double> extent = b.boundingBox(true, b.angle());
    EXPECT_TRUE(principal.center() == b.center(true, b.angle()) && principal.rotation() == b.angle());
    EXPECT_TRUE(principal.width() == extent.width() && principal.height() == extent.height());
    EXPECT_EQ(principal.skew(), kcRadian(0.0));
    corners.push_back(corners.back());
    EXPECT_EQ(polyline(list[5]), corners);
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(list[i].color(), kcColor::greenColor()) << i;
    EXPECT_EQ(list[5].color(), kcColor::cyanColor());
  }
  const Scene whole = analysed(draw({"...", ".#.", "..."}), {0, 0}, 1, true);
  kcGraphicList list;
  whole.getBlob(1)->draw(list, kcBlob::eDrawBoundary | kcBlob::eDrawImageBoundingBox | kcBlob::eDrawLabel, L"");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(dynamic_cast<const kcGraphicText&>(list[0]).text(), L"");
  EXPECT_EQ(list[1].kind(), kcGraphic::ePolyline);
}

}  // namespace
