// Plane geometry values: angle ranges, matrix and affine-map algebra, and their archive forms.
#include <foundation/archive.h>
#include <foundation/geometry.h>
#include <foundation/persist.h>

#include <limits>

namespace {

constexpr double kTwoPi = 2.0 * kfPi;

[[noreturn]] void throwSingular() {
  throw kcBadArgument(L"The matrix is singular and cannot be inverted.");
}

}  // namespace

kcRadian kcRadian::norm() const {
  if (!std::isfinite(value_)) return kcRadian(std::numeric_limits<double>::quiet_NaN());
  double r = std::fmod(value_, kTwoPi);  // exact, same sign as value_
  if (r < 0.0) r += kTwoPi;
  // A tiny negative r rounds up to 2 pi itself; that direction is 0. Also turns -0 into +0.
  if (r >= kTwoPi || r == 0.0) r = 0.0;
  return kcRadian(r);
}

kcRadian kcRadian::plain() const {
  double r = norm().value_;
  // r in (pi, 2 pi) lies within a factor 2 of 2 pi, so the subtraction is exact and stays > -pi.
  if (r > kfPi) r -= kTwoPi;
  return kcRadian(r);
}

void kf_ThrowBadRectangle() {
  throw kcBadArgument(L"A pel rectangle needs a nonnegative size and a representable far corner.");
}

kcMatrix<2> kcMatrix<2>::rotation(const kcRadian& a) {
  double c = std::cos(a.toDouble());
  double s = std::sin(a.toDouble());
  return {c, -s, s, c};
}

void kcMatrix<2>::throwBadIndex() {
  throw kcBadArgument(L"A 2x2 matrix element index must be 0 or 1.");
}

kcMatrix<2> kcMatrix<2>::operator*(const kcMatrix& o) const {
  return {a_[0][0] * o.a_[0][0] + a_[0][1] * o.a_[1][0],
          a_[0][0] * o.a_[0][1] + a_[0][1] * o.a_[1][1],
          a_[1][0] * o.a_[0][0] + a_[1][1] * o.a_[1][0],
          a_[1][0] * o.a_[0][1] + a_[1][1] * o.a_[1][1]};
}

kcMatrix<2> kcMatrix<2>::inverse() const {
  double d = determinant();
  if (d == 0.0 || !std::isfinite(d)) throwSingular();
  // + 0.0 turns a zero's sign positive, so that the identity inverts to itself bit for bit.
  kcMatrix r(a_[1][1] / d + 0.0, -a_[0][1] / d + 0.0, -a_[1][0] / d + 0.0, a_[0][0] / d + 0.0);
  for (const auto& row : r.a_) {
    for (double v : row) {
      if (!std::isfinite(v)) throwSingular();
    }
  }
  return r;
}

kcXform<2> kcXform<2>::inverse() const {
  kcMatrix<2> mi = m_.inverse();
  const kcVector<2> t = mi * t_;
  return kcXform(mi, kcVector<2>(-t.x() + 0.0, -t.y() + 0.0));
}

kcXform<2> kcXform<2>::compose(const kcXform& first) const {
  return kcXform(m_ * first.m_, m_ * first.t_ + t_);
}

bool kfRealEq(const kcXform<2>& a, const kcXform<2>& b, double tolerance) {
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 2; ++c) {
      if (!kfRealEq(a.matrix().element(r, c), b.matrix().element(r, c), tolerance)) return false;
    }
  }
  return kfRealEq(a.trans().x(), b.trans().x(), tolerance) &&
         kfRealEq(a.trans().y(), b.trans().y(), tolerance);
}

kcArchive& operator||(kcArchive& ar, kcRadian& r) {
  double v = r.toDouble();
  ar || v;
  if (ar.isLoading()) r = kcRadian(v);
  return ar;
}

kcArchive& operator||(kcArchive& ar, kcVector<2>& v) {
  double x = v.x();
  double y = v.y();
  ar || x || y;
  if (ar.isLoading()) v = kcVector<2>(x, y);
  return ar;
}

kcArchive& operator||(kcArchive& ar, kcXform<2>& x) {
  kc_Persist::version(ar, kc_Persist::kUnnamed);
  const kcMatrix<2>& m = x.matrix();
  double e[6] = {m.element(0, 0), m.element(0, 1), m.element(1, 0), m.element(1, 1), x.trans().x(),
                 x.trans().y()};
  for (double& v : e) ar || v;
  if (ar.isLoading()) x = kcXform<2>(kcMatrix<2>(e[0], e[1], e[2], e[3]), kcVector<2>(e[4], e[5]));
  return ar;
}

template <>
void kf_PersistenceHelper<long>(kcArchive& ar, kcRectangle<long>& r) {
  kc_Persist::version(ar, kc_Persist::kUnnamed);
  long x = r.ul().x(), y = r.ul().y(), w = r.width(), h = r.height();
  ar || x || y || w || h;
  if (!ar.isLoading()) return;
  constexpr long kMax = std::numeric_limits<long>::max();
  if (w < 0 || h < 0 || x > kMax - w || y > kMax - h) {
    throw kcArchive::Damaged(
        L"The archived pel rectangle has a negative size or an unrepresentable corner.");
  }
  r = kcRectangle<long>(x, y, w, h);
}

template <>
void kf_PersistenceHelper<double>(kcArchive& ar, kcRectangle<double>& r) {
  kc_Persist::version(ar, kc_Persist::kUnnamed);
  double x = r.ul().x(), y = r.ul().y(), w = r.width(), h = r.height();
  ar || x || y || w || h;
  if (ar.isLoading()) r = kcRectangle<double>(x, y, w, h);
}
