// Writing a graphic list as a standalone SVG document over an optional background image.
#pragma once

#include <graphics/graphic.h>
#include <graphics/view.h>

#include <iosfwd>
#include <string>

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
// points and characters.
void kfWriteSvg(std::ostream& out, const kcGraphicList& list, const kcGraphicView& view,
                const std::string& backgroundHref = "");
