// The scene's extrema-exclusion settings and its client transform pair.
#include <blob/blobdesc.h>

#include "store/bsd_data.h"
#include "base/messages.h"

namespace {

const wchar_t* sceneMessage(kc_BlobMessages::SceneDesc n) { return kc_BlobMessages::kSceneDesc[n]; }

// checkArea(area): refuses an exclusion area that is negative or not a number.
void checkArea(double area) {
  if (!(area >= 0.0)) throw kcBlobDefs::BadParams(sceneMessage(kc_BlobMessages::eExcludeAreaNegative));
}

}  // namespace

// ---- extrema exclusion ----

void kcBlobSceneDescription::extremaExcludeArea(double area) {
  checkArea(area);
  mutating();
  data_->mutating();
  data_->extremaExcludeArea = area;
  data_->extremaAreaIsClient = true;
  data_->extremaAreaIsPercent = false;
}

void kcBlobSceneDescription::extremaExcludeAreaPels(double area) {
  checkArea(area);
  mutating();
  data_->mutating();
  data_->extremaExcludeArea = area;
  data_->extremaAreaIsClient = false;
  data_->extremaAreaIsPercent = false;
}

void kcBlobSceneDescription::extremaExcludeAreaPercent(double percent) {
  if (!(percent >= 0.0 && percent < 50.0))
    throw kcBlobDefs::BadParams(sceneMessage(kc_BlobMessages::eExcludePercentRange));
  mutating();
  data_->mutating();
  data_->extremaExcludeArea = percent;
  data_->extremaAreaIsClient = false;
  data_->extremaAreaIsPercent = true;
}

double kcBlobSceneDescription::extremaExcludeArea(bool& isClient, bool& isPercent) const {
  isClient = data_->extremaAreaIsClient;
  isPercent = data_->extremaAreaIsPercent;
  return data_->extremaExcludeArea;
}

kcRadian kcBlobSceneDescription::extremaAngle() const { return data_->extremaAngle; }

void kcBlobSceneDescription::extremaAngle(const kcRadian& angle) {
  mutating();
  data_->mutating();
  data_->extremaAngle = angle;
}

// ---- transforms ----

const kcPtrHandle_const<kc2XformBase>& kcBlobSceneDescription::clientFromImageXformBase() const {
  return data_->xformCache.xformInverse();
}

const kcPtrHandle_const<kc2XformBase>& kcBlobSceneDescription::imageFromClientXformBase() const {
  return data_->xformCache.xform();
}

void kcBlobSceneDescription::clientFromImageXformBase(const kcPtrHandle_const<kc2XformBase>& h,
                                                      bool share) {
  mutating();
  kc2XformCache next;
  next.xformInverse(h, share);
  data_->replaceXform(next);
}

void kcBlobSceneDescription::clientFromImageXformBase(const kc2XformBase& x) {
  mutating();
  kc2XformCache next;
  next.xformInverse(x);
  data_->replaceXform(next);
}

void kcBlobSceneDescription::imageFromClientXformBase(const kcPtrHandle_const<kc2XformBase>& h,
                                                      bool share) {
  mutating();
  kc2XformCache next;
  next.xform(h, share);
  data_->replaceXform(next);
}

void kcBlobSceneDescription::imageFromClientXformBase(const kc2XformBase& x) {
  mutating();
  kc2XformCache next;
  next.xform(x);
  data_->replaceXform(next);
}

void kcBlobSceneDescription::clientFromImageXform(const kcXform<2>& x) {
  clientFromImageXformBase(kc2XformLinear(x));
}

void kcBlobSceneDescription::imageFromClientXform(const kcXform<2>& x) {
  imageFromClientXformBase(kc2XformLinear(x));
}

kcXform<2> kcBlobSceneDescription::clientFromImageXform() const {
  return data_->xformCache.linearXformInverse().xform();
}

kcXform<2> kcBlobSceneDescription::imageFromClientXform() const {
  return data_->xformCache.linearXform().xform();
}
