// The measure table: every kcBlob::Measure with its name and how it is computed; measure(m) and
// the name lookup read it, and nothing else in the library or its tools lists the measures.
#include <blob/blob.h>
#include <blob/blobdesc.h>

#include "base/messages.h"

#include <cstring>
#include <iterator>

namespace {

// Entry: one measure. value(blob, angle) computes it, angle being the scene's extrema angle.
struct Entry {
  const char* name;
  double (*value)(const kcBlob& blob, const kcRadian& angle);
};

double whole(long v) { return static_cast<double>(v); }

// Element m is measure number m.
constexpr Entry kMeasures[] = {
    {"label", [](const kcBlob& b, const kcRadian&) { return whole(b.label()); }},
    {"area", [](const kcBlob& b, const kcRadian&) { return b.area(); }},
    {"numSteps", [](const kcBlob& b, const kcRadian&) { return whole(b.numSteps()); }},
    {"perimeter", [](const kcBlob& b, const kcRadian&) { return b.perimeter(); }},
    {"numChildren", [](const kcBlob& b, const kcRadian&) { return whole(b.numChildren(false)); }},
    {"centerOfMassX", [](const kcBlob& b, const kcRadian&) { return b.centerOfMass().x(); }},
    {"centerOfMassY", [](const kcBlob& b, const kcRadian&) { return b.centerOfMass().y(); }},
    {"inertiaX", [](const kcBlob& b, const kcRadian&) { return b.inertia().first; }},
    {"inertiaY", [](const kcBlob& b, const kcRadian&) { return b.inertia().second; }},
    {"inertiaPrincipalMin", [](const kcBlob& b, const kcRadian&) { return b.inertiaPrincipal().first; }},
    {"inertiaPrincipalMax", [](const kcBlob& b, const kcRadian&) { return b.inertiaPrincipal().second; }},
    {"elongation", [](const kcBlob& b, const kcRadian&) { return b.elongation(); }},
    {"angle", [](const kcBlob& b, const kcRadian&) { return b.angle().toDouble(); }},
    {"acircularity", [](const kcBlob& b, const kcRadian&) { return b.acircularity(); }},
    {"acircularityRms", [](const kcBlob& b, const kcRadian&) { return b.acircularityRms(); }},
    {"isInterior", [](const kcBlob& b, const kcRadian&) { return b.isInterior() ? 1.0 : 0.0; }},
    {"imageBoundingBoxCenterX", [](const kcBlob& b, const kcRadian&) { return b.imageBoundingBoxCenter().x(); }},
    {"imageBoundingBoxCenterY", [](const kcBlob& b, const kcRadian&) { return b.imageBoundingBoxCenter().y(); }},
    {"imageBoundingBoxMinX", [](const kcBlob& b, const kcRadian&) { return whole(b.imageBoundingBox().ul().x()); }},
    {"imageBoundingBoxMaxX", [](const kcBlob& b, const kcRadian&) { return whole(b.imageBoundingBox().lr().x()); }},
    {"imageBoundingBoxMinY", [](const kcBlob& b, const kcRadian&) { return whole(b.imageBoundingBox().ul().y()); }},
    {"imageBoundingBoxMaxY", [](const kcBlob& b, const kcRadian&) { return whole(b.imageBoundingBox().lr().y()); }},
    {"imageBoundingBoxWidth", [](const kcBlob& b, const kcRadian&) { return whole(b.imageBoundingBox().width()); }},
    {"imageBoundingBoxHeight", [](const kcBlob& b, const kcRadian&) { return whole(b.imageBoundingBox().height()); }},
    {"imageBoundingBoxAspect", [](const kcBlob& b, const kcRadian&) { return b.imageBoundingBoxAspect(); }},
    {"medianX", [](const kcBlob& b, const kcRadian& a) { return b.median(a).x(); }},
    {"medianY", [](const kcBlob& b, const kcRadian& a) { return b.median(a).y(); }},
    {"centerX", [](const kcBlob& b, const kcRadian& a) { return b.center(true, a).x(); }},
    {"centerY", [](const kcBlob& b, const kcRadian& a) { return b.center(true, a).y(); }},
    {"boundingBoxMinX", [](const kcBlob& b, const kcRadian& a) { return b.boundingBox(true, a).ul().x(); }},
    {"boundingBoxMaxX", [](const kcBlob& b, const kcRadian& a) { return b.boundingBox(true, a).lr().x(); }},
    {"boundingBoxMinY", [](const kcBlob& b, const kcRadian& a) { return b.boundingBox(true, a).ul().y(); }},
    {"boundingBoxMaxY", [](const kcBlob& b, const kcRadian& a) { return b.boundingBox(true, a).lr().y(); }},
    {"boundingBoxWidth", [](const kcBlob& b, const kcRadian& a) { return b.boundingBox(true, a).width(); }},
    {"boundingBoxHeight", [](const kcBlob& b, const kcRadian& a) { return b.boundingBox(true, a).height(); }},
    {"aspect", [](const kcBlob& b, const kcRadian& a) { return b.aspect(true, a); }},
    {"boundingBoxPrincipalMinX", [](const kcBlob& b, const kcRadian&) { return b.boundingBoxPrincipal(true).ul().x(); }},
    {"boundingBoxPrincipalMaxX", [](const kcBlob& b, const kcRadian&) { return b.boundingBoxPrincipal(true).lr().x(); }},
    {"boundingBoxPrincipalMinY", [](const kcBlob& b, const kcRadian&) { return b.boundingBoxPrincipal(true).ul().y(); }},
    {"boundingBoxPrincipalMaxY", [](const kcBlob& b, const kcRadian&) { return b.boundingBoxPrincipal(true).lr().y(); }},
    {"boundingBoxPrincipalWidth", [](const kcBlob& b, const kcRadian&) { return b.boundingBoxPrincipal(true).width(); }},
    {"boundingBoxPrincipalHeight",
     [](const kcBlob& b, const kcRadian&) { return b.boundingBoxPrincipal(true).height(); }},
    {"aspectPrincipal", [](const kcBlob& b, const kcRadian&) { return b.aspectPrincipal(true); }},
};
static_assert(std::size(kMeasures) == kcBlob::eAspectPrincipal + 1, "one entry for every measure");

const Entry* entryOf(kcBlob::Measure m) {
  const auto index = static_cast<std::uint32_t>(m);  // negative values are outside too
  return index < std::size(kMeasures) ? &kMeasures[index] : nullptr;
}

}  // namespace

double kcBlob::measure(Measure m) const {
  const Entry* entry = entryOf(m);
  if (entry == nullptr) throw BadMeasure(kc_BlobMessages::kBlob[kc_BlobMessages::eBadMeasure]);
  const kcBlobSceneDescription* scene = this->scene();
  const kcRadian angle = scene != nullptr ? scene->extremaAngle() : kcRadian();
  return entry->value(*this, angle);
}

const char* kfBlobMeasureName(kcBlob::Measure m) {
  const Entry* entry = entryOf(m);
  return entry != nullptr ? entry->name : nullptr;
}

bool kfBlobMeasureFromName(const char* name, kcBlob::Measure& m) {
  if (name == nullptr) return false;
  for (std::size_t i = 0; i < std::size(kMeasures); ++i) {
    if (std::strcmp(kMeasures[i].name, name) == 0) {
      m = static_cast<kcBlob::Measure>(i);
      return true;
    }
  }
  return false;
}
