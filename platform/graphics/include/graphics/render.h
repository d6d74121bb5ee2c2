// Drawing graphics into RGB pels: the RGB image, a grey image enlarged into one, and the renderer.
#pragma once

#include <graphics/color.h>
#include <graphics/graphic.h>
#include <graphics/view.h>

#include <foundation/pelbuffer.h>

#include <cstdint>
#include <vector>

// kcRgbImage: width x height pels of three bytes (r, g, b), rows top first, no padding. An image
// is well-formed when both sizes are non-negative, width * height is at most kMaxPels and pels
// holds exactly 3 * width * height bytes; the members are public, so the functions below check
// this where they rely on it.
struct kcRgbImage {
  // Largest number of pels an image made here may hold (3 bytes each).
  static constexpr long kMaxPels = 1L << 30;

  long width = 0;
  long height = 0;
  std::vector<std::uint8_t> pels;

  // An empty image (0 x 0).
  kcRgbImage() = default;
  // kcRgbImage(w, h, fill): a w x h image with every pel fill. Throws kcBadArgument when w or h is
  // negative or w * h exceeds kMaxPels; nothing is allocated then.
  kcRgbImage(long w, long h, const kcColor& fill = kcColor::blackColor());

  // at(x, y): the colour of pel (x, y). Throws kcBadArgument when the image is not well-formed or
  // (x, y) lies outside it.
  kcColor at(long x, long y) const;
};

// kfRgbFromGrey(grey, zoom): grey enlarged zoom times: each pel becomes a zoom x zoom block of
// that grey level. An unbound image gives an empty result. The result is the canvas for a view with
// origin grey.offset(), grey's width and height, and this zoom. Throws kcBadArgument when zoom is
// below 1 or the result would exceed kcRgbImage::kMaxPels. Cost: one write per output byte.
kcRgbImage kfRgbFromGrey(const kcPelBuffer_const<unsigned char>& grey, int zoom);

// kfRenderGraphics(list, view, canvas): draws every graphic of list into canvas, in list order,
// placed by view (see kcGraphicView::outputPoint).
//
// Lines are drawn with a pen two output pels square centred on points sampled along each segment
// at most half an output pel apart: a sample at (px, py) colours pels floor(px - 0.5) ..
// floor(px + 0.5) by floor(py - 0.5) .. floor(py + 0.5). So a line along pel corners colours the
// pels on both sides of it. Crosses draw their two strokes, polylines their segments (and the
// closing one when closed), affine rectangles their four edges, all in color().
//
// Text uses a built-in 3 x 5 font (digits, '-', '.', and space; any other character is a hollow
// box), glyphs one font pel apart, each font pel zoom x zoom output pels. Glyph pels are in
// color() over a backing rectangle of color2() reaching one font pel beyond the glyphs. The glyph
// box is placed at the output point of position + offset by the alignment: 0 its upper-left corner
// there, 1 its centre, 2 its lower-right corner; any other value as 0. Text keeps its size and
// stays upright whatever the view's map does.
//
// Everything is clipped to the canvas. Segments are clipped before sampling, so the cost is bounded
// by the visible length; a segment or text whose mapped position is not finite is skipped.
// Throws kcBadArgument, before drawing anything, when view.outputSize() throws or when canvas is
// not a well-formed image of exactly view.outputSize(). Cost: linear in the points and characters
// plus the output pels drawn.
void kfRenderGraphics(const kcGraphicList& list, const kcGraphicView& view, kcRgbImage& canvas);
