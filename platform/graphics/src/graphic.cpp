// Out-of-line parts of the graphics: the shapes' corner geometry and the graphic list.
#include <graphics/graphic.h>

#include <foundation/exception.h>

#include <cmath>

kcGraphic::~kcGraphic() = default;

std::array<kcVector<2>, 4> kcCross::ends() const {
  const double half = size_ / 2.0;
  const kcVector<2> u(std::cos(angle_.toDouble()) * half, std::sin(angle_.toDouble()) * half);
  const kcVector<2> v(-u.y(), u.x());
  return {center_ - u, center_ + u, center_ - v, center_ + v};
}

std::array<kcVector<2>, 4> kcAffineRectangle::corners() const {
  const double a = rotation_.toDouble();
  const double b = a + kfPi / 2.0 + skew_.toDouble();
  const kcVector<2> u(std::cos(a) * width_, std::sin(a) * width_);
  const kcVector<2> v(std::cos(b) * height_, std::sin(b) * height_);
  const kcVector<2> first = center_ - u / 2.0 - v / 2.0;
  return {first, first + u, first + u + v, first + v};
}

void kcGraphicList::append(const kcGraphicHandle& g, bool own) {
  if (!g) throw kcBadPointer();
  items_.push_back(own ? g : kcGraphicHandle(g->clone()));
}

const kcGraphic& kcGraphicList::at(std::size_t i) const {
  if (i >= items_.size()) throw kcBadArgument();
  return *items_[i];
}
