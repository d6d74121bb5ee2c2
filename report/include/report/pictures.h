// The pictures blob-analyze makes of an analysis: the analysed image with its blobs' graphics
// (SVG or PNG) and the scene's label image (PNG), written to a stream as they are made.
#pragma once

#include <report/image_io.h>

#include <graphics/render.h>

#include <iosfwd>
#include <string>

class kcBlobSceneDescription;

namespace report {

// kDefaultDrawFlags: the centre-of-mass cross, the label, the image bounding box and the boundary.
inline constexpr unsigned long kDefaultDrawFlags = 1 | 4 | 8 | 32;

// drawFlags(list): the flags named in the comma-separated list (centerOfMass, principalCross,
// label, imageBoundingBox, principalBox, boundary). Throws std::invalid_argument naming an empty,
// unknown or repeated name and listing the valid ones.
unsigned long drawFlags(const std::string& list);

// overlayZoom(width, height): output pels per image pel of a PNG overlay: the smallest whole
// number that makes the longer side at least 512 pels, at most 8.
int overlayZoom(long width, long height);

// pngDataUri(image): a data: URI of image as a grey PNG file, base64-encoded as it is compressed.
std::string pngDataUri(const GreyImage& image);

// writeOverlay(out, image, scene, flags, shown, svg): the image with the graphics flags select of
// each blob of scene.allBlobs(shown), labelled with its id, written to out. svg true: an SVG
// document (the image embedded as a PNG, graphics as vector elements in image coordinates); false:
// a PNG file, the image enlarged by overlayZoom with the graphics drawn over it. The graphics are
// made and written (SVG) or drawn (PNG) one blob at a time; what is held besides is the embedded
// PNG's text (SVG) or the enlarged canvas, 3 bytes per output pel (PNG), which is written row by
// row. Library errors (kcException) and ImageError pass through; stream failures are left in out's
// state, and out may hold part of the picture after a throw.
void writeOverlay(std::ostream& out, const GreyImage& image, const kcBlobSceneDescription& scene, unsigned long flags,
                  bool shown, bool svg);

// renderOverlay(image, scene, flags, shown, zoom): image (its first pel at image position
// image.offset()) enlarged zoom times (1..8) with the graphics
// flags select of each blob of scene.allBlobs(shown) drawn over it, each labelled with its id, as
// writeOverlay's PNG shows it. Library errors pass through.
kcRgbImage renderOverlay(const kcPelBuffer_const<unsigned char>& image, const kcBlobSceneDescription& scene,
                         unsigned long flags, bool shown, int zoom);

// writeLabelImage(out, scene, shown): scene.makeImage(shown, 0) as an 8-bit grey PNG, written row
// by row: each pel the value the scene paints there (a binary image's blobs are 1, holes and
// background 0). Errors as for writeOverlay.
void writeLabelImage(std::ostream& out, const kcBlobSceneDescription& scene, bool shown);

}  // namespace report
