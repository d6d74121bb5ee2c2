// Private to the run-length image sources: the geometry of the slanted projection, shared by its
// bins (rle_project.cpp) and the positions inside them (rle_locate.cpp).
#pragma once

#include <foundation/geometry.h>

#include <cmath>
#include <cstddef>

#pragma GCC visibility push(hidden)

// kc_Slant: the geometry of a type 0 projection over one image. The unit axis is mirrored to
// non-negative components (ax, ay) by mirroring x and/or y, so every position is a sum of
// non-negative products and lies in [0, span] exactly as computed. The bins and locateInBins both
// place runs through it, so they agree to the last bit.
struct kc_Slant {
  // Shape: the trapezoid of one run: ramps `ramp` bins long and a plateau of density `height`;
  // wide when the run is at least as long along the axis as its height (L ax >= ay).
  struct Shape {
    double ramp, height;
    bool wide;
  };

  kc_Slant(const kcVector<2>& axis, long imageWidth, long imageHeight)
      : ax(std::fabs(axis.x())), ay(std::fabs(axis.y())), flipX(axis.x() < 0.0), flipY(axis.y() < 0.0),
        width(imageWidth), height(imageHeight) {}

  double span() const { return ax * static_cast<double>(width) + ay * static_cast<double>(height); }
  std::size_t bins() const { return static_cast<std::size_t>(std::ceil(span())); }
  // top(y), left(x, length): the mirrored top edge of row y and left edge of a run starting at x.
  double top(long y) const { return static_cast<double>(flipY ? height - 1 - y : y); }
  double left(long x, long length) const { return static_cast<double>(flipX ? width - x - length : x); }
  // start(left, top), end(left, top, length): the run's footprint [s0, s1] along the axis.
  double start(double left, double top) const { return ax * left + ay * top; }
  double end(double left, double top, long length) const {
    return ax * (left + static_cast<double>(length)) + ay * (top + 1.0);
  }
  Shape shapeOf(unsigned value, unsigned length) const {
    const double along = ax * length;
    if (along >= ay) return Shape{ay, value / ax, true};
    return Shape{along, static_cast<double>(value * length) / ay, false};
  }

  double ax, ay;
  bool flipX, flipY;
  long width, height;
};

#pragma GCC visibility pop
