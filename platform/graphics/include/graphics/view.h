// The view of graphics onto an image: where client coordinates land and which part is drawn.
#pragma once

#include <foundation/geometry.h>

// kcGraphicView: how graphics in client coordinates map onto a canvas over an image.
// A client point p lies at image position imageFromClient.mapPoint(p); image pel (x, y) covers
// [x, x + 1) x [y, y + 1). The canvas shows the width x height image pels whose upper-left pel is
// origin, each as a zoom x zoom block of output pels.
struct kcGraphicView {
  kcXform<2> imageFromClient;
  kcPair<long> origin{0, 0};
  long width = 0;
  long height = 0;
  int zoom = 1;

  // outputSize(): the canvas size in output pels, (width * zoom, height * zoom). Throws
  // kcBadArgument when width or height is negative, zoom is below 1, or a product overflows long.
  kcPair<long> outputSize() const;
  // outputPoint(p): client point p in continuous output coordinates, ((q.x - origin.x) * zoom,
  // (q.y - origin.y) * zoom) with q = imageFromClient.mapPoint(p); output pel (i, j) covers
  // [i, i + 1) x [j, j + 1). Not checked: the result is not finite when p or the map is not, or
  // when the map overflows.
  kcVector<2> outputPoint(const kcVector<2>& p) const;
};
