// Archive forms of the plane transforms and of the transform cache; registry entries.
#include <foundation/archive.h>
#include <foundation/persist.h>
#include <foundation/xform.h>

#include <cmath>

namespace {

// Each class level is at version 0; its registered name is the file its version errors report.
constexpr kc_Persist::Level kBaseLevel{0, "kc2XformBase", 0};
constexpr kc_Persist::Level kLinearLevel{0, "kc2XformLinear", 0};
constexpr kc_Persist::Level kPerspectiveLevel{0, "kc2XformPerspective", 0};

[[noreturn]] void throwDamaged(const wchar_t* what) { throw kcArchive::Damaged(what); }

// loadShared(ar): reads a transform pointer and hands it out in a handle. A new object is adopted;
// a back-reference is shared only when handles already hold that object (so it is counted and
// cannot be freed under another owner). Everything else is refused with Damaged.
kcPtrHandle_const<kc2XformBase> loadShared(kcArchive& ar) {
  kcPersistent* raw = nullptr;
  bool isNew = false;
  kcPersistent::serializePointer(ar, nullptr, raw, false, &isNew);
  if (raw == nullptr) throwDamaged(L"The archived transform is missing.");
  auto* xform = dynamic_cast<kc2XformBase*>(raw);
  if (xform == nullptr) {
    if (isNew) delete raw;
    throwDamaged(L"The archived object is not a transform.");
  }
  if (!isNew && xform->refCount() == 0) {
    throwDamaged(L"The archived transform reference is invalid.");
  }
  return kcPtrHandle_const<kc2XformBase>(xform);
}

}  // namespace

void kc2XformBase::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, kBaseLevel, &kc2XformBase::serialize_);
}

void kc2XformBase::serialize_(kcArchive& ar, unsigned char) { kcPersistent::dispatchSerialize(ar); }

kc_Instantiator kc2XformLinear::sExemplar{"kc2XformLinear", typeid(kc2XformLinear),
                                          &kc2XformLinear::make};

kcPersistent* kc2XformLinear::make() { return new kc2XformLinear(); }

void kc2XformLinear::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, kLinearLevel, &kc2XformLinear::serialize_);
}

void kc2XformLinear::serialize_(kcArchive& ar, unsigned char) {
  kc2XformBase::dispatchSerialize(ar);
  ar || x_;  // the value operator commits only after all six elements were read
}

kc_Instantiator kc2XformPerspective::sExemplar{"kc2XformPerspective", typeid(kc2XformPerspective),
                                               &kc2XformPerspective::make};

kcPersistent* kc2XformPerspective::make() { return new kc2XformPerspective(); }

void kc2XformPerspective::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, kPerspectiveLevel, &kc2XformPerspective::serialize_);
}

void kc2XformPerspective::serialize_(kcArchive& ar, unsigned char) {
  kc2XformBase::dispatchSerialize(ar);
  Elements h = h_;
  for (double& v : h) ar || v;
  if (!ar.isLoading()) return;
  try {
    *this = kc2XformPerspective(h);
  } catch (const kcBadArgument&) {
    throwDamaged(L"The archived perspective transform is singular.");
  }
}

kcArchive& operator||(kcArchive& ar, kc2XformCache& cache) {
  kc_Persist::version(ar, kc_Persist::kUnnamed);
  bool inverseIsPrimary = cache.inverseIsPrimary_;
  ar || inverseIsPrimary;
  if (ar.isStoring()) {
    const kc2XformBase* primary = (inverseIsPrimary ? cache.inverse_ : cache.forward_).get();
    kcPersistent* unused = nullptr;
    kcPersistent::serializePointer(ar, const_cast<kc2XformBase*>(primary), unused, false);
    return ar;
  }
  kcPtrHandle_const<kc2XformBase> primary = loadShared(ar);
  try {
    cache.set(primary, inverseIsPrimary);
  } catch (const kcBadArgument&) {
    throwDamaged(L"The archived transform cannot be inverted.");
  }
  return ar;
}
