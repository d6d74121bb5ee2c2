// Graphics and the graphic list: each graphic is one shape or text with its colours, held by a
// counted handle; a list keeps graphics in the order they were appended.
#pragma once

#include <graphics/color.h>
#include <graphics/shapes.h>

#include <foundation/geometry.h>
#include <foundation/handle.h>

#include <cstddef>
#include <string>
#include <vector>

// kcGraphic: base of every graphic. kind() tells which derived class it is, so that a reader (a
// test, the SVG writer, the renderer) can inspect it without casting blindly.
class kcGraphic : public kcRepBase {
 public:
  enum Kind { eCross, eText, ePolyline, eAffineRectangle };

  ~kcGraphic() override;
  virtual Kind kind() const = 0;
  // clone(): a new copy of this graphic (held by no handle yet).
  virtual kcGraphic* clone() const = 0;

  const kcColor& color() const { return color_; }
  void color(const kcColor& c) { color_ = c; }

 protected:
  explicit kcGraphic(const kcColor& color) : color_(color) {}

 private:
  kcColor color_;
};

using kcGraphicHandle = kcPtrHandle<kcGraphic>;

// kcGraphicCross: a cross.
class kcGraphicCross : public kcGraphic {
 public:
  kcGraphicCross(const kcCross& cross, const kcColor& color) : kcGraphic(color), cross_(cross) {}
  Kind kind() const override { return eCross; }
  kcGraphicCross* clone() const override { return new kcGraphicCross(*this); }
  const kcCross& cross() const { return cross_; }

 private:
  kcCross cross_;
};

// kcGraphicText: text placed at position + offset according to its format. color is the text's,
// color2 the second colour (the backing drawn behind the text).
class kcGraphicText : public kcGraphic {
 public:
  kcGraphicText(std::wstring text, const kcVector<2>& position, const kcVector<2>& offset, const kcUIFormat& format,
                const kcColor& color, const kcColor& color2)
      : kcGraphic(color), text_(std::move(text)), position_(position), offset_(offset), format_(format),
        color2_(color2) {}
  Kind kind() const override { return eText; }
  kcGraphicText* clone() const override { return new kcGraphicText(*this); }

  const std::wstring& text() const { return text_; }
  const kcVector<2>& position() const { return position_; }
  const kcVector<2>& offset() const { return offset_; }
  const kcUIFormat& format() const { return format_; }
  const kcColor& color2() const { return color2_; }

 private:
  std::wstring text_;
  kcVector<2> position_;
  kcVector<2> offset_;
  kcUIFormat format_;
  kcColor color2_;
};

// kcGraphicSimple<Shape>: a graphic of one plain shape (kcPolyline or kcAffineRectangle).
template <class Shape>
class kcGraphicSimple : public kcGraphic {
 public:
  kcGraphicSimple(const Shape& shape, const kcColor& color) : kcGraphic(color), shape_(shape) {}
  Kind kind() const override;
  kcGraphicSimple* clone() const override { return new kcGraphicSimple(*this); }
  const Shape& shape() const { return shape_; }

 private:
  Shape shape_;
};

template <>
inline kcGraphic::Kind kcGraphicSimple<kcPolyline>::kind() const { return ePolyline; }
template <>
inline kcGraphic::Kind kcGraphicSimple<kcAffineRectangle>::kind() const { return eAffineRectangle; }

// kcGraphicList: graphics in the order appended.
class kcGraphicList {
 public:
  // append(g, own): appends g. own true: the list holds g's graphic itself (the caller gives it
  // up); own false: the list holds a clone, so later changes through g do not reach it. A null
  // handle throws kcBadPointer and appends nothing.
  void append(const kcGraphicHandle& g, bool own);

  std::size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  // operator[](i): graphic i (0-based); i must be below size().
  const kcGraphic& operator[](std::size_t i) const { return *items_[i]; }
  // at(i): the same, throwing kcBadArgument when i is not below size().
  const kcGraphic& at(std::size_t i) const;
  void clear() { items_.clear(); }

 private:
  std::vector<kcGraphicHandle> items_;
};
