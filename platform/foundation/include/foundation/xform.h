// Plane transforms as persistent shared objects: the transform base, the affine and perspective
// transforms, and the cache holding a transform together with its inverse.
#pragma once

#include <foundation/geometry.h>
#include <foundation/handle.h>
#include <foundation/persistent.h>

#include <array>

class kcArchive;

// kc2XformBase: any map of the plane, held through kcPtrHandle_const<kc2XformBase>. Transforms are
// immutable once built (only assignment and loading change one), so a handle may be shared freely;
// whoever shares a transform must not assign to it or load into it while others hold it.
class kc2XformBase : public kcPersistent, public kcRepBase {
 public:
  ~kc2XformBase() override;

  // mapPoint(p): the image of p. Throws kcBadArgument when p is outside the map's domain.
  virtual kcVector<2> mapPoint(const kcVector<2>& p) const = 0;
  // inverse(): a new transform, held by the returned handle, that undoes this one. Throws
  // kcBadArgument when the map cannot be inverted.
  virtual kcPtrHandle_const<kc2XformBase> inverse() const = 0;
  // isLinear(): whether the map is affine, so that linearize() gives the same map at every point.
  virtual bool isLinear() const = 0;
  // linearize(at): the affine map that agrees with this one to first order at at (value and
  // Jacobian). For a linear map, the map itself, whatever at is. Throws kcBadArgument when at is
  // outside the domain.
  virtual kcXform<2> linearize(const kcVector<2>& at) const = 0;
  // clone(): a new copy of the same class and value, held by the returned handle.
  virtual kcPtrHandle<kc2XformBase> clone() const = 0;

 protected:
  kc2XformBase() = default;
  kc2XformBase(const kc2XformBase&) = default;
  kc2XformBase& operator=(const kc2XformBase&) = default;

  // Archive level of the base: a version byte 0, then the kcPersistent part. Another version
  // throws kcArchive::UnknownVersion("kc2XformBase", 0).
  void dispatchSerialize(kcArchive& ar) override;

 private:
  void serialize_(kcArchive& ar, unsigned char version);
};

// kc2XformLinear: an affine transform kcXform<2> as a kc2XformBase. Default is the identity.
// Any kcXform<2> may be wrapped, a singular one included (inverse() then throws).
// Registered as "kc2XformLinear". Archive form: version byte 0, the kc2XformBase level, then the
// kcXform<2>.
class kc2XformLinear : public kc2XformBase {
 public:
  kc2XformLinear() = default;
  explicit kc2XformLinear(const kcXform<2>& x) : x_(x) {}

  // xform(): the wrapped affine map (a copy when called on a temporary, so a reference bound to
  // the result never dangles); the conversion gives a copy of the same.
  const kcXform<2>& xform() const& { return x_; }
  kcXform<2> xform() && { return x_; }
  operator kcXform<2>() const { return x_; }

  kcVector<2> mapPoint(const kcVector<2>& p) const override { return x_.mapPoint(p); }
  // inverse(): a new kc2XformLinear of the inverse map; a singular matrix throws kcBadArgument.
  kcPtrHandle_const<kc2XformBase> inverse() const override;
  bool isLinear() const override { return true; }
  kcXform<2> linearize(const kcVector<2>&) const override { return x_; }
  kcPtrHandle<kc2XformBase> clone() const override;

  // Equality of the wrapped kcXform<2>, exact.
  friend bool operator==(const kc2XformLinear& a, const kc2XformLinear& b) { return a.x_ == b.x_; }

 protected:
  void dispatchSerialize(kcArchive& ar) override;

 private:
  void serialize_(kcArchive& ar, unsigned char version);
  static kcPersistent* make();
  static kc_Instantiator sExemplar;

  kcXform<2> x_;
};

// kc2XformPerspective: the plane projective map given by a 3x3 matrix H (row-major h[0..8]):
//   w = h6 x + h7 y + h8,  x' = (h0 x + h1 y + h2) / w,  y' = (h3 x + h4 y + h5) / w.
// Default is the identity (H = I). H must be invertible with finite elements. Its domain is the
// plane less the line w = 0. isLinear() is true exactly when h6 = h7 = 0. Equality compares the
// nine elements exactly (so H and 2H, the same map, compare unequal).
// Registered as "kc2XformPerspective". Archive form: version byte 0, the kc2XformBase level, then
// the nine elements as doubles; loading a singular or non-finite H throws kcArchive::Damaged and
// leaves the object unchanged.
class kc2XformPerspective : public kc2XformBase {
 public:
  using Elements = std::array<double, 9>;

  kc2XformPerspective() = default;
  // Throws kcBadArgument when H is singular or has an element that is not finite.
  explicit kc2XformPerspective(const Elements& h);

  const Elements& elements() const { return h_; }

  // mapPoint(p): throws kcBadArgument when w is 0 at p (the point maps to infinity).
  kcVector<2> mapPoint(const kcVector<2>& p) const override;
  // inverse(): a new kc2XformPerspective with the inverse matrix H^-1 (adjugate over
  // determinant); throws kcBadArgument when that inverse is not finite.
  kcPtrHandle_const<kc2XformBase> inverse() const override;
  bool isLinear() const override { return h_[6] == 0.0 && h_[7] == 0.0; }
  // linearize(at): the map q -> f(at) + J (q - at) with J the analytic Jacobian of f at at.
  // Throws kcBadArgument when w is 0 at at.
  kcXform<2> linearize(const kcVector<2>& at) const override;
  kcPtrHandle<kc2XformBase> clone() const override;

  friend bool operator==(const kc2XformPerspective& a, const kc2XformPerspective& b) {
    return a.h_ == b.h_;
  }

 protected:
  void dispatchSerialize(kcArchive& ar) override;

 private:
  void serialize_(kcArchive& ar, unsigned char version);
  static kcPersistent* make();
  static kc_Instantiator sExemplar;

  Elements h_{1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
};

// kc2XformCache: a transform and its inverse, kept together. xform() is the forward side,
// xformInverse() the inverse side; setting either side derives the other with inverse(), so they
// are always inverses of each other. Default: the identity on both sides (process-wide shared
// identity objects, so a default cache allocates nothing). Copies share both transform objects.
//
// The side that was set last is the primary one; the other is derived from it. The archive records
// only the primary side, and loading derives the other again, so both sides read back exactly.
class kc2XformCache {
 public:
  kc2XformCache();

  // xform(), xformInverse(): the two sides, never null. The references are valid until the side
  // is set again or the cache dies; a copy of the handle keeps the transform alive.
  const kcPtrHandle_const<kc2XformBase>& xform() const { return forward_; }
  const kcPtrHandle_const<kc2XformBase>& xformInverse() const { return inverse_; }

  // xform(h, share): makes h the forward side and derives the inverse side. With share true the
  // cache holds h's object itself (the caller must not change it afterwards); with share false it
  // holds a private clone. Throws kcBadPointer when h is null and kcBadArgument when the
  // transform cannot be inverted; the cache is then unchanged. Allocates the derived inverse (and
  // the clone). xformInverse(h, share) is the same with the sides exchanged.
  void xform(const kcPtrHandle_const<kc2XformBase>& h, bool share);
  void xformInverse(const kcPtrHandle_const<kc2XformBase>& h, bool share);
  // xform(x), xformInverse(x): the same with a private clone of x.
  void xform(const kc2XformBase& x);
  void xformInverse(const kc2XformBase& x);

  // isLinear(): whether the forward side (and so the inverse) is affine.
  bool isLinear() const { return forward_->isLinear(); }
  // linearXform(), linearXformInverse(): the sides as kc2XformLinear values (they convert to
  // kcXform<2>). Throw kcBadArgument when the cache is not linear. A side that is not itself a
  // kc2XformLinear is taken as its linearisation at the origin.
  kc2XformLinear linearXform() const;
  kc2XformLinear linearXformInverse() const;

  // Archive form: a version byte 0 (otherwise kcArchive::UnknownVersion(null, 0)), a bool that is
  // true when the inverse side is the primary one, then the primary side through
  // kcPersistent::serializePointer. Sides shared with other caches archived earlier in the same
  // archive are written as back-references and shared again on loading. Loading refuses, with
  // kcArchive::Damaged and the cache unchanged, a null pointer, an object that is not a
  // kc2XformBase, a back-reference to a transform not held by a handle, and a transform that
  // cannot be inverted.
  friend kcArchive& operator||(kcArchive& ar, kc2XformCache& cache);

 private:
  void set(kcPtrHandle_const<kc2XformBase> primary, bool primaryIsInverse);

  kcPtrHandle_const<kc2XformBase> forward_;
  kcPtrHandle_const<kc2XformBase> inverse_;
  bool inverseIsPrimary_ = false;
};

kcArchive& operator||(kcArchive& ar, kc2XformCache& cache);
