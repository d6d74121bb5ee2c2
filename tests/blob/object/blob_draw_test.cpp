// Tests of a blob's graphics: which flags add what, in which order, where and in which colour.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <gtest/gtest.h>

#include <vector>

#include "connect/connect_fixture.h"

namespace {

using connecttest::draw;
using connecttest::encode;
using Desc = kcBlobSceneDescription;
using Points = std::vector<kcVector<2>>;

const kcColor kGreen = kcColor::greenColor();

const Points& polyline(const kcGraphic& g) {
  EXPECT_EQ(g.kind(), kcGraphic::ePolyline);
  EXPECT_FALSE(dynamic_cast<const kcGraphicSimple<kcPolyline>&>(g).shape().closed());
  return dynamic_cast<const kcGraphicSimple<kcPolyline>&>(g).shape().points();
}

Points mapped(const kcXform<2>& x, Points points) {
  for (kcVector<2>& p : points) p = x.mapPoint(p);
  return points;
}

// One pel at (2, 1), under the identity and under a scaling client transform: all six graphics.
TEST(BlobDraw, everyFlag_inOrderWithItsShapeAndColour) {
  const kcXform<2> transforms[] = {kcXform<2>(), kcXform<2>(kcMatrix<2>(2, 0, 0, 3), kcVector<2>(10, -4))};
  for (const kcXform<2>& x : transforms) {
    Desc s;
    s.connectComponentsGreyScale(encode(draw({"....", "..#.", "...."})), 1, false, Desc::eNone, 0);
    s.clientFromImageXform(x);
    const kcBlob& b = *s.getBlob(1);
    kcGraphicList list;
    b.draw(list, 63 | 64 | 1024, L"blob 7");
    ASSERT_EQ(list.size(), 6u);

    const auto& upright = dynamic_cast<const kcGraphicCross&>(list[0]);
    const auto& turned = dynamic_cast<const kcGraphicCross&>(list[1]);
    EXPECT_EQ(upright.cross().center(), x.mapPoint(kcVector<2>(2.5, 1.5)));
    EXPECT_EQ(upright.cross().angle(), kcRadian(0.0));
    EXPECT_EQ(turned.cross().angle(), b.angle());
    EXPECT_EQ(upright.cross().size(), 7.0);
    EXPECT_EQ(turned.cross().size(), 7.0);

    const auto& text = dynamic_cast<const kcGraphicText&>(list[2]);
    EXPECT_EQ(text.text(), L"blob 7");
    EXPECT_EQ(text.position(), b.centerOfMass());
    EXPECT_EQ(text.offset(), kcVector<2>(5, 5));
    EXPECT_EQ(text.format(), kcUIFormat(kcUIFormat::defaultFontId(), 0));
    EXPECT_EQ(text.color2(), kcColor::passColor());

    const Points box = {{2, 1}, {3, 1}, {3, 2}, {2, 2}, {2, 1}};
    EXPECT_EQ(polyline(list[3]), mapped(x, box));

    const auto& principal = dynamic_cast<const kcGraphicSimple<kcAffineRectangle>&>(list[4]).shape();
    const kcRectangle<double> extent = b.boundingBox(true, b.angle());
    EXPECT_EQ(principal.center(), b.center(true, b.angle()));
    EXPECT_EQ(principal.width(), extent.width());
    EXPECT_EQ(principal.height(), extent.height());
    EXPECT_EQ(principal.rotation(), b.angle());
    EXPECT_EQ(principal.skew(), kcRadian(0.0));

    const Points boundary = {{2, 1}, {3, 1}, {3, 2}, {2, 2}, {2, 1}, {2, 1}};
    EXPECT_EQ(polyline(list[5]), mapped(x, boundary));

    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(list[i].color(), kGreen) << i;
    EXPECT_EQ(list[5].color(), kcColor::cyanColor());
  }
}

TEST(BlobDraw, boundaryWalksTheChain_wholeImageSkipsIt_emptyTextKept) {
  Desc s;
  s.connectComponentsGreyScale(encode(draw({"......", ".###..", ".#.##.", ".###..", "......"})), 1, false,
                               Desc::eNone, 0);
  const kcBlob& ring = *s.getBlob(1);
  kcGraphicList list;
  ring.draw(list, kcBlob::eDrawBoundary, L"");
  const Points& points = polyline(list[0]);
  ASSERT_EQ(points.size(), static_cast<std::size_t>(ring.numSteps() + 2));
  for (std::size_t i = 1; i + 1 < points.size(); ++i) EXPECT_EQ((points[i] - points[i - 1]).length(), 1.0) << i;
  EXPECT_EQ(points.front(), kcVector<2>(1, 1));
  EXPECT_EQ(points[points.size() - 2], points.back());

  kcGraphicList empty;
  ring.draw(empty, 0, L"x");
  ring.draw(empty, kcBlob::eDrawLabel, L"");
  ASSERT_EQ(empty.size(), 1u);
  EXPECT_EQ(dynamic_cast<const kcGraphicText&>(empty[0]).text(), L"");

  Desc whole;
  whole.connectComponentsGreyScale(encode(draw({"...", ".#.", "..."})), 1, true, Desc::eNone, 0);
  kcGraphicList wholeList;
  EXPECT_NO_THROW(whole.getBlob(1)->draw(wholeList, kcBlob::eDrawBoundary | kcBlob::eDrawImageBoundingBox, L""));
  ASSERT_EQ(wholeList.size(), 1u);
  EXPECT_EQ(wholeList[0].kind(), kcGraphic::ePolyline);
}

}  // namespace
