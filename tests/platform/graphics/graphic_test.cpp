// Graphics and the graphic list: ownership on append, errors, cross and rectangle geometry.
#include <graphics/graphic.h>

#include <foundation/exception.h>

#include <gtest/gtest.h>

#include <array>

namespace {

constexpr double kTol = 1e-12;

void expectPoints(const std::array<kcVector<2>, 4>& got, const std::array<kcVector<2>, 4>& want) {
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_NEAR(got[i].x(), want[i].x(), kTol) << "point " << i;
    EXPECT_NEAR(got[i].y(), want[i].y(), kTol) << "point " << i;
  }
}

TEST(GraphicList, GraphicList_append_ownedSharesTheObjectUnownedHoldsAnUnaffectedClone) {
  kcGraphicHandle cross(new kcGraphicCross(kcCross({1, 2}, kcRadian(0), 4), kcColor::redColor()));
  kcGraphicList list;
  list.append(cross, true);
  list.append(cross, false);
  cross->color(kcColor::blueColor());
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(&list[0], cross.get());
  EXPECT_NE(&list.at(1), cross.get());
  EXPECT_EQ(list[0].color(), kcColor::blueColor());
  EXPECT_EQ(list[1].color(), kcColor::redColor());
  EXPECT_EQ(list[1].kind(), kcGraphic::eCross);
}

TEST(GraphicList, GraphicList_nullHandleOrIndexPastEnd_throwAndAppendNothing) {
  kcGraphicList list;
  list.append(kcGraphicHandle(new kcGraphicSimple<kcPolyline>(kcPolyline({}, false), kcColor())), true);
  EXPECT_THROW(list.append(kcGraphicHandle(), true), kcBadPointer);
  EXPECT_THROW(list.append(kcGraphicHandle(), false), kcBadPointer);
  EXPECT_EQ(list.size(), 1u);
  EXPECT_NO_THROW(list.at(0));
  EXPECT_THROW(list.at(1), kcBadArgument);
}

TEST(Cross, Cross_ends_firstStrokeAlongTheAngle) {
  const kcVector<2> c(10, 20);
  expectPoints(kcCross(c, kcRadian(0), 4).ends(), {{{8, 20}, {12, 20}, {10, 18}, {10, 22}}});
  expectPoints(kcCross(c, kcRadian(kfPi / 2), 4).ends(), {{{10, 18}, {10, 22}, {12, 20}, {8, 20}}});
}

TEST(AffineRectangle, AffineRectangle_corners_rotationAndSkew) {
  struct Case {
    double width, height, rotation, skew;
    std::array<kcVector<2>, 4> corners;
  };
  const Case cases[] = {
      {4, 2, 0, 0, {{{-2, -1}, {2, -1}, {2, 1}, {-2, 1}}}},
      {4, 2, kfPi / 2, 0, {{{1, -2}, {1, 2}, {-1, 2}, {-1, -2}}}},
      // Height side at 45 degrees: a parallelogram leaning right.
      {4, 2 * std::sqrt(2.0), 0, -kfPi / 4, {{{-3, -1}, {1, -1}, {3, 1}, {-1, 1}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rotation);
    const kcVector<2> centre(5, 7);
    kcAffineRectangle rect(centre, c.width, c.height, kcRadian(c.rotation), kcRadian(c.skew));
    std::array<kcVector<2>, 4> shifted = c.corners;
    for (kcVector<2>& p : shifted) p += centre;
    expectPoints(rect.corners(), shifted);
  }
}

}  // namespace
