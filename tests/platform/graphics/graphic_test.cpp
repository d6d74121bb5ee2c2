// Graphics and the graphic list: ownership on append, errors, cross and rectangle geometry.
#include <graphics/graphic.h>

#include <foundation/exception.h>

#include <gtest/gtest.h>

#include <array>

namespace {

constexpr double kTol = 1e-12;

void expectPoints(const std::array<kcVector<2>, 4>& got, const std::array<kcVector<2>, 4>& want) {
  for (std::size_t i = 0; i < 4; ++i) EXPECT_NEAR((got[i] - want[i]).length(), 0, kTol) << "point " << i;
}

// An owned graphic is shared, an unowned one cloned (unaffected by later changes); a null handle is
// refused appending nothing.
TEST(GraphicList, GraphicList_append_ownedSharedUnownedCloned_nullOrIndexPastEndRefused) {
  kcGraphicHandle cross(new kcGraphicCross(kcCross({1, 2}, kcRadian(0), 4), kcColor::redColor()));
  kcGraphicList list;
  list.append(cross, true);
  list.append(cross, false);
  EXPECT_THROW(list.append(kcGraphicHandle(), false), kcBadPointer);
  cross->color(kcColor::blueColor());
  ASSERT_EQ(list.size(), 2u);
  EXPECT_TRUE(&list[0] == cross.get() && &list.at(1) != cross.get() && list[1].kind() == kcGraphic::eCross);
  EXPECT_TRUE(list[0].color() == kcColor::blueColor() && list[1].color() == kcColor::redColor());
  EXPECT_THROW(list.at(2), kcBadArgument);
}

// Crosses: the first stroke along the angle. Rectangles about (5, 7): the width side along the
// rotation, the height side leaning by the skew.
TEST(Geometry, Cross_ends_AffineRectangle_corners_rotationAndSkew) {
  expectPoints(kcCross({10, 20}, kcRadian(kfPi / 2), 4).ends(), {{{10, 18}, {10, 22}, {12, 20}, {8, 20}}});
  const std::pair<kcAffineRectangle, std::array<kcVector<2>, 4>> cases[] = {
      {kcAffineRectangle({5, 7}, 4, 2, kcRadian(0), kcRadian(0)), {{{3, 6}, {7, 6}, {7, 8}, {3, 8}}}},
      {kcAffineRectangle({5, 7}, 4, 2, kcRadian(kfPi / 2), kcRadian(0)), {{{6, 5}, {6, 9}, {4, 9}, {4, 5}}}},
      {kcAffineRectangle({5, 7}, 4, 2 * std::sqrt(2.0), kcRadian(0), kcRadian(-kfPi / 4)), {{{2, 6}, {6, 6}, {8, 8}, {4, 8}}}}};
  for (const auto& [rect, corners] : cases) expectPoints(rect.corners(), corners);
}

}  // namespace
