// Writing a graphic list as a standalone SVG document over an optional background image.
#pragma once

#include <graphics/graphic.h>
#include <graphics/view.h>

#include <iosfwd>
#include <string>
#include <string_view>

// kfWriteSvg(out, list, view, backgroundHref): writes one complete SVG document to out.
//
// The document is (view.width x view.height) * view.zoom output pels; its viewBox is the canvas in
// image coordinates (view.origin, view.width, view.height), so every coordinate written is an image
// position: client points are mapped by view.imageFromClient. A non-empty backgroundHref (a file
// path or a data: URI, UTF-8) becomes an <image> covering the canvas with pixelated scaling; the
// text is escaped as an attribute value, and bytes that are not valid UTF-8 become U+FFFD.
//
// Inside one <g> follows exactly one element per graphic, in list order: a cross is a <path> of its
// two strokes, a polyline a <polyline> (a <polygon> when closed), an affine rectangle a <polygon>
// of its corners, text a <text> element. Lines are one output pel wide (1 / zoom image pels) and
// unfilled. Text is UTF-8 (wchar_t read as UTF-32; characters XML does not allow become U+FFFD),
// 7 image pels high, anchored at the mapped point position + offset by its alignment (0 upper-left,
// 1 centre, 2 lower-right, any other value as 0), in color() over a 1-pel outline of color2()
// painted beneath it. A graphic with a point that is not finite after mapping keeps its element,
// but without geometry and with display="none". Numbers are written in the shortest form that
// reads back to the same double. The exact layout and the font family are not promised.
//
// Throws kcBadArgument (from view.outputSize()) for a bad view size or zoom, before writing anything.
// Stream failures are left in out's state; nothing is thrown for them. Cost: linear in the number of
// points and characters. The document is written as kcSvgWriter writes it, in pieces.
void kfWriteSvg(std::ostream& out, const kcGraphicList& list, const kcGraphicView& view,
                const std::string& backgroundHref = "");

// kcSvgWriter: kfWriteSvg's document written piece by piece, so that its graphics need not all be
// held at once. Lists added one after another give the document kfWriteSvg writes for all their
// graphics in one list. Each element goes to out as it is made: the writer holds one element, or
// 64 KiB of the background reference, at a time. Stream failures are left in out's state.
class kcSvgWriter {
 public:
  // kcSvgWriter(out, view, backgroundHref): writes the document's opening: the svg element, the
  // background image when backgroundHref is not empty, and the group that holds the graphics.
  // Throws kcBadArgument (from view.outputSize()) before writing anything. out must outlive the
  // writer; backgroundHref is read only here.
  kcSvgWriter(std::ostream& out, const kcGraphicView& view, std::string_view backgroundHref = {});
  kcSvgWriter(const kcSvgWriter&) = delete;
  kcSvgWriter& operator=(const kcSvgWriter&) = delete;

  // add(list): one element per graphic of list, in list order. Calling it after finish() is an
  // internal assertion (kcInvariantFailure).
  void add(const kcGraphicList& list);
  // finish(): closes the group and the document. Called once, last: a second call is an internal
  // assertion.
  void finish();

 private:
  std::ostream& out_;
  kcXform<2> imageFromClient_;
  std::string piece_;  // the element being written, reused
  bool finished_ = false;
};
