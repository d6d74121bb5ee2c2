// The renderer: the pen's reach on both sides of a line, zoom and view mapping, crosses, text
// placement, clipping of huge and non-finite positions, and the enlarged grey background.
#include <graphics/render.h>

#include <foundation/exception.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
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
  struct Case {
    int zoom;
    kcVector<2> shift;  // moves both the transform and the origin: no net effect
  };
  for (const Case& c : {Case{1, {0, 0}}, Case{3, {0, 0}}, Case{2, {-3, 5}}}) {
    SCOPED_TRACE(c.zoom);
    kcGraphicView view = makeView(10, 10, c.zoom);
    view.imageFromClient = kcXform<2>(kcMatrix<2>(), c.shift);
    view.origin = {static_cast<long>(c.shift.x()), static_cast<long>(c.shift.y())};
    kcGraphicList list;
    addPolyline(list, {{2, 2}, {6, 2}, {6, 6}, {2, 6}, {2, 2}});
    kcRgbImage canvas(10 * c.zoom, 10 * c.zoom);
    kfRenderGraphics(list, view, canvas);
    const double lo = 2.0 * c.zoom, hi = 6.0 * c.zoom;
    for (long y = 0; y < canvas.height; ++y) {
      for (long x = 0; x < canvas.width; ++x) {
        const double cx = static_cast<double>(x) + 0.5, cy = static_cast<double>(y) + 0.5;
        const bool outer = cx > lo - 1 && cx < hi + 1 && cy > lo - 1 && cy < hi + 1;
        const bool inner = cx > lo + 1 && cx < hi - 1 && cy > lo + 1 && cy < hi - 1;
        ASSERT_EQ(canvas.at(x, y), outer && !inner ? kRed : kBlack) << x << "," << y;
      }
    }
  }
}

TEST(Render, Render_cross_colorsItsCentreAndNotFarAway) {
  kcGraphicList list;
  list.append(kcGraphicHandle(new kcGraphicCross(kcCross({10, 7}, kcRadian(0.3), 7), kRed)), true);
  kcRgbImage canvas(40, 30);
  kfRenderGraphics(list, makeView(20, 15, 2), canvas);
  EXPECT_EQ(canvas.at(20, 14), kRed);
  EXPECT_EQ(canvas.at(19, 13), kRed);
  EXPECT_EQ(canvas.at(28, 22), kBlack);  // between the arms
  EXPECT_EQ(canvas.at(0, 0), kBlack);
}

// "12" at zoom 2: glyph box 14 x 10 output pels, backing 2 output pels beyond it.
TEST(Render, Render_text_placedByAlignmentOverItsBacking) {
  struct Case {
    int alignment;
    long left, top;  // the glyph box's output corner for the point (15, 15), i.e. output (30, 30)
  };
  for (const Case& c : {Case{0, 30, 30}, Case{1, 23, 25}, Case{2, 16, 20}}) {
    SCOPED_TRACE(c.alignment);
    kcGraphicList list;
    list.append(kcGraphicHandle(new kcGraphicText(L"12", {10, 12}, {5, 3}, kcUIFormat(0, c.alignment),
                                                  kcColor::greenColor(), kcColor::blueColor())),
                true);
    kcRgbImage canvas(60, 60);
    kfRenderGraphics(list, makeView(30, 30, 2), canvas);
    EXPECT_EQ(canvas.at(c.left - 2, c.top - 2), kcColor::blueColor());
    EXPECT_EQ(canvas.at(c.left + 15, c.top + 11), kcColor::blueColor());
    EXPECT_EQ(canvas.at(c.left + 2, c.top), kcColor::greenColor());  // top of the '1'
    EXPECT_EQ(canvas.at(c.left, c.top), kcColor::blueColor());       // beside it
    for (long y = 0; y < 60; ++y) {
      for (long x = 0; x < 60; ++x) {
        const bool inBacking = x >= c.left - 2 && x < c.left + 16 && y >= c.top - 2 && y < c.top + 12;
        if (!inBacking) {
          ASSERT_EQ(canvas.at(x, y), kBlack) << x << "," << y;
        }
      }
    }
  }
}

TEST(Render, Render_hugeAndNonFiniteCoordinates_clippedOrSkippedQuickly) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  kcGraphicList list;
  addPolyline(list, {{-1e308, 10.5}, {1.7e308, 10.5}});  // crosses the canvas: drawn
  addPolyline(list, {{nan, 0}, {3, 3}, {inf, 5}, {-inf, -inf}, {1e300, -1e300}});
  list.append(kcGraphicHandle(new kcGraphicCross(kcCross({1e300, 5}, kcRadian(0), 1e300), kRed)), true);
  list.append(kcGraphicHandle(new kcGraphicSimple<kcAffineRectangle>(
                  kcAffineRectangle({25, 25}, 1e308, 1e308, kcRadian(0.5), kcRadian(0)), kRed)),
              true);
  for (const kcVector<2> at : {kcVector<2>(nan, 0), kcVector<2>(1e300, 1e300), kcVector<2>(-1e300, 3), kcVector<2>(-3000, 20)}) {
    list.append(kcGraphicHandle(new kcGraphicText(std::wstring(1000, L'8'), at, {0, 0}, kcUIFormat(), kRed, kRed)), true);
  }
  kcRgbImage canvas(50, 50);
  kfRenderGraphics(list, makeView(50, 50, 1), canvas);
  EXPECT_EQ(canvas.at(25, 10), kRed);
  EXPECT_EQ(canvas.at(25, 11), kRed);
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
  EXPECT_EQ(canvas.at(5, 5), kBlack);
  EXPECT_THROW(canvas.at(10, 0), kcBadArgument);
  EXPECT_THROW(kcRgbImage(-1, 2), kcBadArgument);
  EXPECT_THROW(kcRgbImage(1L << 20, 1L << 20), kcBadArgument);
}

TEST(RgbFromGrey, RgbFromGrey_eachPelBecomesAZoomSquareBlock) {
  kcPelBuffer<unsigned char> grey(3, 2);
  grey.offset({100, -7});  // no effect on the pels
  for (long y = 0; y < 2; ++y) {
    for (long x = 0; x < 3; ++x) grey.pointToRow(y)[x] = static_cast<unsigned char>(10 * y + x + 1);
  }
  const kcRgbImage rgb = kfRgbFromGrey(grey, 3);
  ASSERT_EQ(rgb.width, 9);
  ASSERT_EQ(rgb.height, 6);
  for (long y = 0; y < 6; ++y) {
    for (long x = 0; x < 9; ++x) {
      const auto v = static_cast<std::uint8_t>(10 * (y / 3) + x / 3 + 1);
      ASSERT_EQ(rgb.at(x, y), kcColor(v, v, v)) << x << "," << y;
    }
  }
  EXPECT_EQ(kfRgbFromGrey(kcPelBuffer<unsigned char>(), 2).pels.size(), 0u);
  EXPECT_THROW(kfRgbFromGrey(grey, 0), kcBadArgument);
}

}  // namespace
