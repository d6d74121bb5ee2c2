// Plane geometry values: pairs, vectors, angles, rectangles, 2x2 matrices and affine maps.
#pragma once

#include <foundation/exception.h>

#include <cmath>
#include <limits>
#include <type_traits>

class kcArchive;

// kcPair<T>: two values of one type. Public members first and second; x() and y() read them
// under their geometric names. Equality compares both members exactly.
template <class T>
struct kcPair {
  T first{};
  T second{};

  constexpr kcPair() = default;
  constexpr kcPair(T a, T b) : first(a), second(b) {}

  constexpr T x() const { return first; }
  constexpr T y() const { return second; }

  constexpr bool operator==(const kcPair&) const = default;
};

// kcRadian: an angle in radians. The stored value is kept exactly as given (no normalisation on
// construction or arithmetic); norm() and plain() give the two canonical ranges. Equality is exact
// comparison of the stored values, so kcRadian(0) != kcRadian(2 pi).
class kcRadian {
 public:
  constexpr kcRadian() = default;
  constexpr explicit kcRadian(double radians) : value_(radians) {}

  // toDouble(): the stored value in radians.
  constexpr double toDouble() const { return value_; }

  // norm(): the same direction with a value in [0, 2 pi), where 2 pi is the double nearest to it.
  // A value that is not finite gives NaN.
  kcRadian norm() const;
  // plain(): the same direction with a value in (-pi, pi]. A value that is not finite gives NaN.
  kcRadian plain() const;

  constexpr kcRadian operator-() const { return kcRadian(-value_); }
  constexpr kcRadian operator+(const kcRadian& o) const { return kcRadian(value_ + o.value_); }
  constexpr kcRadian operator-(const kcRadian& o) const { return kcRadian(value_ - o.value_); }
  constexpr kcRadian operator*(double f) const { return kcRadian(value_ * f); }
  constexpr kcRadian operator/(double f) const { return kcRadian(value_ / f); }
  kcRadian& operator+=(const kcRadian& o) { value_ += o.value_; return *this; }
  kcRadian& operator-=(const kcRadian& o) { value_ -= o.value_; return *this; }

  constexpr bool operator==(const kcRadian&) const = default;

 private:
  double value_ = 0.0;
};

// kfPi: the double nearest to pi.
inline constexpr double kfPi = 3.141592653589793;

// kcVector<N>: a vector of N doubles; only the plane vector kcVector<2> exists.
template <int N>
class kcVector;

// kcVector<2>: a point or displacement in the plane. Default (0, 0). Arithmetic is componentwise;
// equality is exact.
template <>
class kcVector<2> {
 public:
  constexpr kcVector() = default;
  constexpr kcVector(double x, double y) : x_(x), y_(y) {}
  // From a pair of any arithmetic type (pel corners, offsets): (first, second) as doubles.
  template <class T>
  constexpr explicit kcVector(const kcPair<T>& p)
      : x_(static_cast<double>(p.first)), y_(static_cast<double>(p.second)) {}

  constexpr double x() const { return x_; }
  constexpr double y() const { return y_; }
  void x(double v) { x_ = v; }
  void y(double v) { y_ = v; }

  constexpr kcVector operator-() const { return {-x_, -y_}; }
  constexpr kcVector operator+(const kcVector& o) const { return {x_ + o.x_, y_ + o.y_}; }
  constexpr kcVector operator-(const kcVector& o) const { return {x_ - o.x_, y_ - o.y_}; }
  constexpr kcVector operator*(double f) const { return {x_ * f, y_ * f}; }
  constexpr kcVector operator/(double f) const { return {x_ / f, y_ / f}; }
  kcVector& operator+=(const kcVector& o) { x_ += o.x_; y_ += o.y_; return *this; }
  kcVector& operator-=(const kcVector& o) { x_ -= o.x_; y_ -= o.y_; return *this; }
  kcVector& operator*=(double f) { x_ *= f; y_ *= f; return *this; }
  kcVector& operator/=(double f) { x_ /= f; y_ /= f; return *this; }

  // dot(o): x * o.x + y * o.y.
  constexpr double dot(const kcVector& o) const { return x_ * o.x_ + y_ * o.y_; }
  // length(): the Euclidean length, without intermediate overflow (std::hypot).
  double length() const { return std::hypot(x_, y_); }
  // angle(): the direction atan2(y, x), in (-pi, pi]; (0, 0) gives 0.
  kcRadian angle() const { return kcRadian(std::atan2(y_, x_)); }

  constexpr bool operator==(const kcVector&) const = default;

 private:
  double x_ = 0.0;
  double y_ = 0.0;
};

constexpr kcVector<2> operator*(double f, const kcVector<2>& v) { return v * f; }

// kcPoint: a position in the plane.
using kcPoint = kcVector<2>;

// kf_ThrowBadRectangle(): throws kcBadArgument with the fixed message for a pel rectangle whose
// size is negative or whose far corner is not representable. Used by kcRectangle<long>.
[[noreturn]] void kf_ThrowBadRectangle();

// kcRectangle<T>: an axis-aligned rectangle, origin (upper-left corner) plus width and height.
// The corner type is kcPair<T> for integer T and kcVector<2> for double. lr() is the exclusive
// corner origin + size: a pel rectangle (3, 4, 2, 1) covers pels (3, 4) and (4, 4), lr() (5, 4).
//
// Integer rectangles hold a non-negative width and height, and lr() never overflows: a constructor
// or setter that would break this throws kcBadArgument and changes nothing. Rectangles of double
// keep any values as given (a computed box may carry a tiny negative size or NaN), and their
// corners are computed in floating point. Equality compares origin and size exactly.
template <class T>
class kcRectangle {
 public:
  using Corner = std::conditional_t<std::is_integral_v<T>, kcPair<T>, kcVector<2>>;

  // The empty rectangle at (0, 0).
  kcRectangle() = default;
  kcRectangle(const Corner& ul, T width, T height) : ul_(ul), width_(width), height_(height) {
    check(ul_, width_, height_);
  }
  kcRectangle(T x, T y, T width, T height) : kcRectangle(Corner(x, y), width, height) {}

  // ul(): the origin (upper-left corner, inclusive). ul(c) moves the rectangle, keeping its size.
  const Corner& ul() const { return ul_; }
  void ul(const Corner& c) { check(c, width_, height_); ul_ = c; }
  // lr(): the exclusive lower-right corner, origin + (width, height).
  Corner lr() const { return Corner(ul_.x() + width_, ul_.y() + height_); }
  T width() const { return width_; }
  void width(T w) { check(ul_, w, height_); width_ = w; }
  T height() const { return height_; }
  void height(T h) { check(ul_, width_, h); height_ = h; }

  // isEmpty(): true when width or height is not positive (or, for double, is NaN).
  bool isEmpty() const { return !(width_ > T(0) && height_ > T(0)); }
  // contains(p): ul <= p < lr in both coordinates (half-open).
  bool contains(const Corner& p) const {
    return p.x() >= ul_.x() && p.y() >= ul_.y() && p.x() < ul_.x() + width_ &&
           p.y() < ul_.y() + height_;
  }
  // intersection(o): the common part; an empty rectangle (size 0, origin of the overlap's
  // clamped corner) when they do not overlap.
  kcRectangle intersection(const kcRectangle& o) const {
    T x0 = ul_.x() > o.ul_.x() ? ul_.x() : o.ul_.x();
    T y0 = ul_.y() > o.ul_.y() ? ul_.y() : o.ul_.y();
    T x1 = lr().x() < o.lr().x() ? lr().x() : o.lr().x();
    T y1 = lr().y() < o.lr().y() ? lr().y() : o.lr().y();
    return kcRectangle(Corner(x0, y0), x1 > x0 ? x1 - x0 : T(0), y1 > y0 ? y1 - y0 : T(0));
  }

  bool operator==(const kcRectangle&) const = default;

 private:
  static void check(const Corner& ul, T w, T h) {
    if constexpr (std::is_integral_v<T>) {
      constexpr T kMax = std::numeric_limits<T>::max();
      if (w < 0 || h < 0 || ul.x() > kMax - w || ul.y() > kMax - h) kf_ThrowBadRectangle();
    } else {
      (void)ul, (void)w, (void)h;
    }
  }

  Corner ul_{};
  T width_{};
  T height_{};
};

// kcPelRect: a rectangle of whole pels.
using kcPelRect = kcRectangle<long>;

template <int N>
class kcMatrix;

// kcMatrix<2>: a 2x2 matrix of doubles, element (row, column). Default is the identity.
// Equality is exact. The scale measures describe the matrix as a map of column vectors:
// xScale() and yScale() are the lengths of the images of the unit x and y vectors (the columns),
// aspect() = yScale / xScale, scale() = sqrt(|det|).
template <>
class kcMatrix<2> {
 public:
  constexpr kcMatrix() = default;
  constexpr kcMatrix(double a00, double a01, double a10, double a11) : a_{{a00, a01}, {a10, a11}} {}

  // rotation(a): [[cos a, -sin a], [sin a, cos a]], turning x towards y.
  static kcMatrix rotation(const kcRadian& a);
  // scaling(sx, sy): diag(sx, sy).
  static constexpr kcMatrix scaling(double sx, double sy) { return {sx, 0.0, 0.0, sy}; }

  // element(row, col): throws kcBadArgument unless both are 0 or 1.
  double element(int row, int col) const { checkIndex(row, col); return a_[row][col]; }
  void element(int row, int col, double v) { checkIndex(row, col); a_[row][col] = v; }

  kcMatrix operator*(const kcMatrix& o) const;
  kcVector<2> operator*(const kcVector<2>& v) const {
    return {a_[0][0] * v.x() + a_[0][1] * v.y(), a_[1][0] * v.x() + a_[1][1] * v.y()};
  }
  kcMatrix operator*(double f) const {
    return {a_[0][0] * f, a_[0][1] * f, a_[1][0] * f, a_[1][1] * f};
  }

  // determinant(): a00 a11 - a01 a10.
  double determinant() const { return a_[0][0] * a_[1][1] - a_[0][1] * a_[1][0]; }
  // inverse(): throws kcBadArgument (message "The matrix is singular and cannot be inverted.")
  // when the determinant is 0 or not finite, or an element of the inverse would not be finite.
  // Zero elements are +0, so the identity inverts to itself bit for bit.
  kcMatrix inverse() const;
  constexpr kcMatrix transpose() const { return {a_[0][0], a_[1][0], a_[0][1], a_[1][1]}; }
  // isIdentity(): exactly the identity.
  bool isIdentity() const { return *this == kcMatrix(); }

  double xScale() const { return std::hypot(a_[0][0], a_[1][0]); }
  double yScale() const { return std::hypot(a_[0][1], a_[1][1]); }
  // aspect(): yScale() / xScale(); IEEE division, so a zero x column gives inf or NaN.
  double aspect() const { return yScale() / xScale(); }
  double scale() const { return std::sqrt(std::fabs(determinant())); }

  constexpr bool operator==(const kcMatrix&) const = default;

 private:
  [[noreturn]] static void throwBadIndex();
  static void checkIndex(int row, int col) {
    if (row < 0 || row > 1 || col < 0 || col > 1) throwBadIndex();
  }
  double a_[2][2] = {{1.0, 0.0}, {0.0, 1.0}};
};

template <int N>
class kcXform;

// kcXform<2>: the affine map p' = M p + t. Default is the identity. Equality is exact (matrix and
// translation). The scale measures are those of the matrix; mapArea(a) = a * |det M|.
template <>
class kcXform<2> {
 public:
  kcXform() = default;
  kcXform(const kcMatrix<2>& m, const kcVector<2>& t) : m_(m), t_(t) {}

  const kcMatrix<2>& matrix() const { return m_; }
  void matrix(const kcMatrix<2>& m) { m_ = m; }
  const kcVector<2>& trans() const { return t_; }
  void trans(const kcVector<2>& t) { t_ = t; }

  // mapPoint(p): M p + t. mapVector(v): M v (a displacement ignores the translation).
  kcVector<2> mapPoint(const kcVector<2>& p) const { return m_ * p + t_; }
  kcVector<2> mapVector(const kcVector<2>& v) const { return m_ * v; }
  // mapArea(a): a * |det M|, the image of an area a.
  double mapArea(double a) const { return a * std::fabs(m_.determinant()); }

  // inverse(): the map q -> M^-1 (q - t), zeros +0. Throws kcBadArgument when M is singular (see
  // kcMatrix<2>::inverse, same message).
  kcXform inverse() const;
  // compose(first): the map p -> this(first(p)): first is applied first. operator* is the same,
  // so (a * b).mapPoint(p) == a.mapPoint(b.mapPoint(p)) up to rounding.
  kcXform compose(const kcXform& first) const;
  kcXform operator*(const kcXform& first) const { return compose(first); }

  double xScale() const { return m_.xScale(); }
  double yScale() const { return m_.yScale(); }
  double aspect() const { return m_.aspect(); }
  double scale() const { return m_.scale(); }
  // isIdentity(): identity matrix and zero translation, exactly.
  bool isIdentity() const { return m_.isIdentity() && t_ == kcVector<2>(); }

  bool operator==(const kcXform&) const = default;

 private:
  kcMatrix<2> m_;
  kcVector<2> t_;
};

// kfRealEq(a, b, tolerance): |a - b| <= tolerance. NaN never compares equal.
inline bool kfRealEq(double a, double b, double tolerance) { return std::fabs(a - b) <= tolerance; }
// kfRealEq(a, b, tolerance): every matrix element and both translation components of a and b
// differ by at most tolerance.
bool kfRealEq(const kcXform<2>& a, const kcXform<2>& b, double tolerance);

// Archive forms (loading overwrites the value only after every part was read):
//   kcRadian: its value in radians as one double.
//   kcVector<2>: x then y, two doubles.
//   kcXform<2>: a version byte 0, then the matrix row by row (a00, a01, a10, a11) and the
//     translation (x, y) as six doubles. Another version throws kcArchive::UnknownVersion(null,
//     0). Any values are accepted, singular maps included.
//   kcRectangle<T> (kf_PersistenceHelper, T long or double): a version byte 0 (otherwise
//     kcArchive::UnknownVersion(null, 0)), then origin x, origin y, width, height as T. Loading a
//     pel rectangle with a negative size or an unrepresentable far corner throws kcArchive::Damaged
//     and leaves the rectangle unchanged.
// Failures of the archive itself pass through.
kcArchive& operator||(kcArchive& ar, kcRadian& r);
kcArchive& operator||(kcArchive& ar, kcVector<2>& v);
kcArchive& operator||(kcArchive& ar, kcXform<2>& x);

template <class T>
void kf_PersistenceHelper(kcArchive& ar, kcRectangle<T>& r);
template <>
void kf_PersistenceHelper<long>(kcArchive& ar, kcRectangle<long>& r);
template <>
void kf_PersistenceHelper<double>(kcArchive& ar, kcRectangle<double>& r);
