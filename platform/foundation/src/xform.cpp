// Plane transforms: the affine and perspective maps and the cache of a transform pair.
#include <foundation/assert.h>
#include <foundation/xform.h>

#include <cmath>

namespace {

using Elements = kc2XformPerspective::Elements;

double determinantOf(const Elements& h) {
  return h[0] * (h[4] * h[8] - h[5] * h[7]) - h[1] * (h[3] * h[8] - h[5] * h[6]) +
         h[2] * (h[3] * h[7] - h[4] * h[6]);
}

// isInvertible(h): every element finite and a finite, nonzero determinant.
bool isInvertible(const Elements& h) {
  for (double v : h) {
    if (!std::isfinite(v)) return false;
  }
  double d = determinantOf(h);
  return d != 0.0 && std::isfinite(d);
}

[[noreturn]] void throwNotInvertible() {
  throw kcBadArgument(L"The perspective transform is singular and cannot be inverted.");
}

[[noreturn]] void throwOffDomain() {
  throw kcBadArgument(L"The point lies on the vanishing line of the perspective transform.");
}

const kcPtrHandle_const<kc2XformBase>& identityForward() {
  static const kcPtrHandle_const<kc2XformBase> h(new kc2XformLinear());
  return h;
}

const kcPtrHandle_const<kc2XformBase>& identityInverse() {
  static const kcPtrHandle_const<kc2XformBase> h(new kc2XformLinear());
  return h;
}

kc2XformLinear linearOf(const kc2XformBase& t) {
  if (const auto* linear = dynamic_cast<const kc2XformLinear*>(&t)) return *linear;
  return kc2XformLinear(t.linearize(kcVector<2>()));
}

}  // namespace

kc2XformBase::~kc2XformBase() = default;

kcPtrHandle_const<kc2XformBase> kc2XformLinear::inverse() const {
  kcXform<2> inv = x_.inverse();
  return kcPtrHandle_const<kc2XformBase>(new kc2XformLinear(inv));
}

kcPtrHandle<kc2XformBase> kc2XformLinear::clone() const {
  return kcPtrHandle<kc2XformBase>(new kc2XformLinear(*this));
}

kc2XformPerspective::kc2XformPerspective(const Elements& h) : h_(h) {
  if (!isInvertible(h_)) throwNotInvertible();
}

kcVector<2> kc2XformPerspective::mapPoint(const kcVector<2>& p) const {
  double w = h_[6] * p.x() + h_[7] * p.y() + h_[8];
  if (w == 0.0) throwOffDomain();
  return {(h_[0] * p.x() + h_[1] * p.y() + h_[2]) / w, (h_[3] * p.x() + h_[4] * p.y() + h_[5]) / w};
}

kcPtrHandle_const<kc2XformBase> kc2XformPerspective::inverse() const {
  const Elements& h = h_;
  double d = determinantOf(h);
  // Adjugate (transposed cofactors) over the determinant.
  Elements inv{(h[4] * h[8] - h[5] * h[7]) / d, (h[2] * h[7] - h[1] * h[8]) / d,
               (h[1] * h[5] - h[2] * h[4]) / d, (h[5] * h[6] - h[3] * h[8]) / d,
               (h[0] * h[8] - h[2] * h[6]) / d, (h[2] * h[3] - h[0] * h[5]) / d,
               (h[3] * h[7] - h[4] * h[6]) / d, (h[1] * h[6] - h[0] * h[7]) / d,
               (h[0] * h[4] - h[1] * h[3]) / d};
  if (!isInvertible(inv)) throwNotInvertible();
  return kcPtrHandle_const<kc2XformBase>(new kc2XformPerspective(inv));
}

kcXform<2> kc2XformPerspective::linearize(const kcVector<2>& at) const {
  const Elements& h = h_;
  if (isLinear()) {
    // An affine map: its own matrix and translation, independent of the point.
    return kcXform<2>(kcMatrix<2>(h[0] / h[8], h[1] / h[8], h[3] / h[8], h[4] / h[8]),
                      kcVector<2>(h[2] / h[8], h[5] / h[8]));
  }
  kcVector<2> q = mapPoint(at);  // throws off the domain
  double w = h[6] * at.x() + h[7] * at.y() + h[8];
  kcMatrix<2> j((h[0] - q.x() * h[6]) / w, (h[1] - q.x() * h[7]) / w,
                (h[3] - q.y() * h[6]) / w, (h[4] - q.y() * h[7]) / w);
  return kcXform<2>(j, q - j * at);
}

kcPtrHandle<kc2XformBase> kc2XformPerspective::clone() const {
  return kcPtrHandle<kc2XformBase>(new kc2XformPerspective(*this));
}

kc2XformCache::kc2XformCache() : forward_(identityForward()), inverse_(identityInverse()) {}

void kc2XformCache::set(kcPtrHandle_const<kc2XformBase> primary, bool primaryIsInverse) {
  kcPtrHandle_const<kc2XformBase> derived = primary->inverse();
  KC_ASSERT(derived, "inverse() hands out a transform");
  forward_ = primaryIsInverse ? derived : primary;
  inverse_ = primaryIsInverse ? primary : derived;
  inverseIsPrimary_ = primaryIsInverse;
}

void kc2XformCache::xform(const kcPtrHandle_const<kc2XformBase>& h, bool share) {
  if (!h) throw kcBadPointer(L"The transform handle is null.");
  set(share ? h : kcPtrHandle_const<kc2XformBase>(h->clone()), false);
}

void kc2XformCache::xformInverse(const kcPtrHandle_const<kc2XformBase>& h, bool share) {
  if (!h) throw kcBadPointer(L"The transform handle is null.");
  set(share ? h : kcPtrHandle_const<kc2XformBase>(h->clone()), true);
}

void kc2XformCache::xform(const kc2XformBase& x) { set(x.clone(), false); }

void kc2XformCache::xformInverse(const kc2XformBase& x) { set(x.clone(), true); }

kc2XformLinear kc2XformCache::linearXform() const {
  if (!isLinear()) throw kcBadArgument(L"The transform is not linear.");
  return linearOf(*forward_);
}

kc2XformLinear kc2XformCache::linearXformInverse() const {
  if (!isLinear()) throw kcBadArgument(L"The transform is not linear.");
  return linearOf(*inverse_);
}
