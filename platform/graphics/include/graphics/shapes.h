// The shapes graphics are made of: crosses, polylines, affine rectangles, and the text format.
// Coordinates are those of the caller (client coordinates of a scene, as a rule).
#pragma once

#include <foundation/geometry.h>

#include <array>
#include <utility>
#include <vector>

// kcCross: two perpendicular strokes of length size crossing at center, the first along angle.
class kcCross {
 public:
  kcCross() = default;
  kcCross(const kcVector<2>& center, const kcRadian& angle, double size) : center_(center), angle_(angle), size_(size) {}

  const kcVector<2>& center() const { return center_; }
  const kcRadian& angle() const { return angle_; }
  double size() const { return size_; }
  // ends(): the stroke ends: {a0, a1} along angle, then {b0, b1} perpendicular to it.
  std::array<kcVector<2>, 4> ends() const;

 private:
  kcVector<2> center_;
  kcRadian angle_;
  double size_ = 0.0;
};

// kcPolyline: points joined in order; closed also joins the last point to the first.
class kcPolyline {
 public:
  kcPolyline() = default;
  kcPolyline(std::vector<kcVector<2>> points, bool closed) : points_(std::move(points)), closed_(closed) {}

  const std::vector<kcVector<2>>& points() const { return points_; }
  bool closed() const { return closed_; }

 private:
  std::vector<kcVector<2>> points_;
  bool closed_ = false;
};

// kcAffineRectangle: a width x height rectangle centred on center, its width side turned by
// rotation and its height side by rotation + 90 degrees + skew.
class kcAffineRectangle {
 public:
  kcAffineRectangle() = default;
  kcAffineRectangle(const kcVector<2>& center, double width, double height, const kcRadian& rotation,
                    const kcRadian& skew)
      : center_(center), width_(width), height_(height), rotation_(rotation), skew_(skew) {}

  const kcVector<2>& center() const { return center_; }
  double width() const { return width_; }
  double height() const { return height_; }
  const kcRadian& rotation() const { return rotation_; }
  const kcRadian& skew() const { return skew_; }
  // corners(): the four corners in order round the rectangle, starting at center - u/2 - v/2
  // (u the width side, v the height side).
  std::array<kcVector<2>, 4> corners() const;

 private:
  kcVector<2> center_;
  double width_ = 0.0;
  double height_ = 0.0;
  kcRadian rotation_;
  kcRadian skew_;
};

// kcUIFormat: how text is set: a font and an alignment. Alignment 0 puts the text's upper-left
// corner at its position; 1 centres it on the position; 2 puts its lower-right corner there.
class kcUIFormat {
 public:
  kcUIFormat() = default;
  kcUIFormat(int fontId, int alignment) : fontId_(fontId), alignment_(alignment) {}

  // defaultFontId(): the font of plain labels (the only font this stand-in draws).
  static int defaultFontId() { return 0; }
  int fontId() const { return fontId_; }
  int alignment() const { return alignment_; }
  bool operator==(const kcUIFormat&) const = default;

 private:
  int fontId_ = 0;
  int alignment_ = 0;
};
