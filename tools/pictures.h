// The pictures blob-analyze makes of an analysis: the analysed image with its blobs' graphics
// (SVG or PNG) and the scene's label image (PNG).
#pragma once

#include "image_io.h"

#include <string>
#include <vector>

class kcBlobSceneDescription;

namespace tool {

// kDefaultDrawFlags: the centre-of-mass cross, the label, the image bounding box and the boundary.
inline constexpr unsigned long kDefaultDrawFlags = 1 | 4 | 8 | 32;

// drawFlags(list): the flags named in the comma-separated list (centerOfMass, principalCross,
// label, imageBoundingBox, principalBox, boundary). Throws std::invalid_argument naming an empty,
// unknown or repeated name and listing the valid ones.
unsigned long drawFlags(const std::string& list);

// overlayZoom(width, height): output pels per image pel of a PNG overlay: the smallest whole
// number that makes the longer side at least 512 pels, at most 8.
int overlayZoom(long width, long height);

// overlay(image, scene, flags, shown, svg): the image with the graphics flags select of each blob
// of scene.allBlobs(shown), labelled with its id. svg true: an SVG document (the image embedded as
// a PNG, graphics as vector elements in image coordinates); false: a PNG file, the image enlarged
// by overlayZoom with the graphics drawn over it. Library errors (kcException) pass through.
std::vector<unsigned char> overlay(const GreyImage& image, const kcBlobSceneDescription& scene, unsigned long flags,
                                   bool shown, bool svg);

// labelImage(scene, shown): scene.makeImage(shown, 0) as an 8-bit grey PNG: each pel the value
// the scene paints there (a binary image's blobs are 1, holes and background 0).
std::vector<unsigned char> labelImage(const kcBlobSceneDescription& scene, bool shown);

// writeFile(path, bytes): replaces the file path with bytes as blob-analyze's --output does (a
// regular file is replaced only when all was written). Throws OutputError.
void writeFile(const std::string& path, const std::vector<unsigned char>& bytes);

}  // namespace tool
