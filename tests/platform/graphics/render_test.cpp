// The renderer: the pen's reach on both sides of a line, zoom and view mapping, refusals, and the
// enlarged grey background.
#include <graphics/render.h>

#include <foundation/exception.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

const kcColor kBlack = kcColor::blackColor();
const kcColor kRed = kcColor::redColor();

kcGraphicView makeView(long width, long height, int zoom) { return {{}, {0, 0}, width, height, zoom}; }

void addPolyline(kcGraphicList& list, std::vector<kcVector<2>> points) {
  list.append(kcGraphicHandle(new kcGraphicSimple<kcPolyline>(kcPolyline(std::move(points), false), kRed)), true);
}

// A 4 x 4 square outlined along pel corners (2, 2) .. (6, 6): the pen colours the output pels whose
// centres lie within one output pel of the outline, i.e. the ring between the square grown and
// shrunk by one output pel. At zoom 1 that is the square's border pels and the pels just outside;
// at any zoom it reaches into the block of every border pel.
TEST(Render, Render_squareOutlineOnPelCorners_colorsBorderAndOutsideRingOnly) {
  // The shift moves both the transform and the origin: no net effect.
  for (const auto& [zoom, shift] : {std::pair{1, kcVector<2>(0, 0)}, {3, kcVector<2>(0, 0)}, {2, kcVector<2>(-3, 5)}}) {
    SCOPED_TRACE(zoom);
    kcGraphicView view = makeView(10, 10, zoom);
    view.imageFromClient = kcXform<2>(kcMatrix<2>(), shift);
    view.origin = {static_cast<long>(shift.x()), static_cast<long>(shift.y())};
    kcGraphicList list;
    addPolyline(list, {{2, 2}, {6, 2}, {6, 6}, {2, 6}, {2, 2}});
    kcRgbImage canvas(10 * zoom, 10 * zoom);
    kfRenderGraphics(list, view, canvas);
    const double lo = 2.0 * zoom, hi = 6.0 * zoom;
    for (long y = 0; y < canvas.height; ++y)
      for (long x = 0; x < canvas.width; ++x) {
        const double cx = static_cast<double>(x) + 0.5, cy = static_cast<double>(y) + 0.5;
        const bool outer = cx > lo - 1 && cx < hi + 1 && cy > lo - 1 && cy < hi + 1;
        const bool inner = cx > lo + 1 && cx < hi - 1 && cy > lo + 1 && cy < hi - 1;
        ASSERT_EQ(canvas.at(x, y), outer && !inner ? kRed : kBlack) << x << "," << y;
      }
  }
}

TEST(Render, Render_canvasOrViewMismatch_throwsBadArgumentAndDrawsNothing) {
  kcGraphicList list;
  addPolyline(list, {{0, 0}, {9, 9}});
  kcRgbImage canvas(10, 10);
  EXPECT_THROW(kfRenderGraphics(list, makeView(10, 10, 2), canvas), kcBadArgument);
  EXPECT_THROW(kfRenderGraphics(list, makeView(10, 10, 0), canvas), kcBadArgument);
  canvas.pels.pop_back();
  EXPECT_THROW(kfRenderGraphics(list, makeView(10, 10, 1), canvas), kcBadArgument);
  EXPECT_THROW(canvas.at(0, 0), kcBadArgument);
  canvas.pels.push_back(0);
  EXPECT_THROW(canvas.at(10, 0), kcBadArgument);
  EXPECT_THROW(kcRgbImage(-1, 2), kcBadArgument);
  EXPECT_THROW(kcRgbImage(1L << 20, 1L << 20), kcBadArgument);
}

TEST(RgbFromGrey, RgbFromGrey_eachPelBecomesAZoomSquareBlock) {
  kcPelBuffer<unsigned char> grey(3, 2);
  grey.offset({100, -7});  // no effect on the pels
  for (long y = 0; y < 2; ++y)
    for (long x = 0; x < 3; ++x) grey.pointToRow(y)[x] = static_cast<unsigned char>(10 * y + x + 1);
  const kcRgbImage rgb = kfRgbFromGrey(grey, 3);
  ASSERT_TRUE(rgb.width == 9 && rgb.height == 6);
  for (long y = 0; y < 6; ++y)
    for (long x = 0; x < 9; ++x) {
      const auto v = static_cast<std::uint8_t>(10 * (y / 3) + x / 3 + 1);
      ASSERT_EQ(rgb.at(x, y), kcColor(v, v, v)) << x << "," << y;
    }
  EXPECT_EQ(kfRgbFromGrey(kcPelBuffer<unsigned char>(), 2).pels.size(), 0u);
  EXPECT_THROW(kfRgbFromGrey(grey, 0), kcBadArgument);
}

}  // namespace
