// The blob's archive form: the blob, its record with every cached measure, the older forms that
// are still read, and the checks that keep a hostile archive from reaching a query.
#include <blob/blob.h>
#include <blob/blobdesc.h>

#include "object/blob_archive.h"
#include "measure/blob_chain.h"
#include "store/blob_parts.h"
#include "store/bsd_data.h"

#include <foundation/archive.h>
#include <foundation/geometry.h>
#include <foundation/persist.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace {

constexpr unsigned char kVersion = 1;
constexpr unsigned char kRecordVersion = 3;
// The lines the blob's and its record's version errors report: fixed numbers, part of the errors'
// messages and archive forms.
constexpr int kBlobVersionLine = 1481;
constexpr int kRecordVersionLine = 168;
constexpr kc_Persist::Level kBlobLevel{kVersion, "blob/blob", kBlobVersionLine};
constexpr kc_Persist::Level kRecordLevel{kRecordVersion, "blob/blob", kRecordVersionLine};
constexpr std::uint64_t kMaxProjectionValue = 0xFFFFFFFFu;

// RecordForm: the record as the archive holds it, field for field.
struct RecordForm {
  long parent = 0, nextSibling = 0, prevSibling = 0, firstChild = 0, numChildren = 0;
  long nextShown = 0, prevShown = 0, firstShown = 0, numShown = 0;
  long shownStamp = -1;
  std::vector<keBlobDirection> chainCode;
  kcPair<long> chainStart{0, 0};
  std::vector<unsigned long> rowProjection, columnProjection, diagonalProjection;
  long pelCount = -1;
  double area = 0.0;
  bool areaValid = false;
  long horizontalSteps = 0, verticalSteps = 0, corners = 0;
  double perimeter = 0.0;
  long perimeterStamp = -1;
  double centroidX = 0.0;
  bool centroidXValid = false;
  double centroidY = 0.0;
  bool centroidYValid = false;
  kcVector<2> centerOfMass;
  long centerOfMassStamp = -1;
  double sumXX = 0.0;
  bool sumXXValid = false;
  double sumYY = 0.0;
  bool sumYYValid = false;
  double sumXY = 0.0;
  bool sumXYValid = false;
  kcPair<double> inertia{0.0, 0.0};
  long inertiaStamp = -1;
  kcRadian angle;
  kcPair<double> inertiaPrincipal{0.0, 0.0};
  long principalStamp = -1;
  double acircularityRms = 0.0;
  long acircularityRmsStamp = -1;
  kcRectangle<double> boundingBox;
  kcVector<2> median;
  long extentStamp = -1;
  kcRadian extentAngle;
  double extentExclusion = 0.0;
  kcVector<2> center;
  bool centerValid = false;
  long transformStamp = -1;
  kcXform<2> clientFromImage;
  double xScale = 0.0, yScale = 0.0, areaScale = 0.0, aspect = 0.0, scale = 0.0;
  bool interior = false;
  bool interiorValid = false;
};

// Stamps are unsigned in memory and travel through the signed 32-bit long unchanged.
long stampOut(Stamp s) { return static_cast<long>(static_cast<std::int32_t>(s)); }
Stamp stampIn(long v) { return static_cast<Stamp>(v); }

// listLinks(ar, first, count): the child lists of record versions 0 to 2: the ids as a vector;
// the first one (0 for none) and the length are kept.
void listLinks(kcArchive& ar, long& first, long& count) {
  std::vector<long> ids;
  kc_Persist::vector(ar, ids);
  first = ids.empty() ? 0 : ids.front();
  count = static_cast<long>(ids.size());
}

void archiveLinks(kcArchive& ar, RecordForm& f, unsigned char version) {
  if (version >= 3) {
    ar || f.parent || f.nextSibling || f.prevSibling || f.firstChild || f.numChildren;
    ar || f.nextShown || f.prevShown || f.firstShown || f.numShown;
    return;
  }
  ar || f.parent || f.nextSibling || f.prevSibling;
  listLinks(ar, f.firstChild, f.numChildren);
  ar || f.nextShown || f.prevShown;
  listLinks(ar, f.firstShown, f.numShown);
}

// archiveRecord(ar, f): the record's own version byte and fields, in archive order.
void archiveRecord(kcArchive& ar, RecordForm& f) {
  const unsigned char version = kc_Persist::version(ar, kRecordLevel);
  archiveLinks(ar, f, version);
  ar || f.shownStamp;
  kc_Persist::vector(ar, f.chainCode);
  kc_Persist::pair(ar, f.chainStart);
  kc_Persist::vector(ar, f.rowProjection);
  kc_Persist::vector(ar, f.columnProjection);
  kc_Persist::vector(ar, f.diagonalProjection);
  ar || f.pelCount || f.area || f.areaValid;
  ar || f.horizontalSteps || f.verticalSteps || f.corners;
  ar || f.perimeter || f.perimeterStamp;
  ar || f.centroidX || f.centroidXValid || f.centroidY || f.centroidYValid;
  ar || f.centerOfMass;
  ar || f.centerOfMassStamp;
  ar || f.sumXX || f.sumXXValid || f.sumYY || f.sumYYValid || f.sumXY || f.sumXYValid;
  kc_Persist::pair(ar, f.inertia);
  ar || f.inertiaStamp;
  ar || f.angle;
  kc_Persist::pair(ar, f.inertiaPrincipal);
  ar || f.principalStamp;
  ar || f.acircularityRms || f.acircularityRmsStamp;
  kf_PersistenceHelper<double>(ar, f.boundingBox);
  ar || f.median;
  ar || f.extentStamp;
  ar || f.extentAngle;
  ar || f.extentExclusion;
  ar || f.center;
  ar || f.centerValid;
  if (version >= 1) {
    ar || f.transformStamp;
    ar || f.clientFromImage;
    ar || f.xScale || f.yScale || f.areaScale || f.aspect || f.scale;
  }
  if (version >= 2) ar || f.interior || f.interiorValid;
}

// projectionOut(p): a projection as the archive holds it; one with a sum beyond 32 bits is
// written as unknown (empty) and computed again after loading.
std::vector<unsigned long> projectionOut(const std::vector<std::uint64_t>& p) {
  for (std::uint64_t v : p)
    if (v > kMaxProjectionValue) return {};
  return std::vector<unsigned long>(p.begin(), p.end());
}

// formOf(...): the record form of a blob's caches.
RecordForm formOf(const kc_BlobEntry& e, BlobId prevSibling, std::uint32_t numChildren, const kc_BlobRecord& r,
                  const kc_BlobMeasures& m, const kc_ShownLinks& s) {
  RecordForm f;
  f.parent = e.parent;
  f.nextSibling = e.nextSibling;
  f.prevSibling = prevSibling;
  f.firstChild = e.firstChild;
  f.numChildren = numChildren;
  f.nextShown = s.nextShown;
  f.prevShown = s.prevShown;
  f.firstShown = s.firstShown;
  f.numShown = s.numShown;
  f.shownStamp = stampOut(s.shownStamp);
  const kc_BlobBoundaryData& b = m.boundary;
  f.chainCode = b.chainCode;
  f.chainStart = b.chainStart;
  f.rowProjection = projectionOut(b.rowProjection);
  f.columnProjection = projectionOut(b.columnProjection);
  f.diagonalProjection = projectionOut(b.diagonalProjection);
  f.pelCount = e.pelCount > 0 ? e.pelCount : r.pelCount;
  f.area = r.area;
  f.areaValid = r.areaValid;
  f.horizontalSteps = b.horizontalSteps;
  f.verticalSteps = b.verticalSteps;
  f.corners = b.corners;
  f.perimeter = b.perimeter;
  f.perimeterStamp = stampOut(m.perimeterStamp);
  f.centroidX = r.centroidX;
  f.centroidY = r.centroidY;
  f.centroidXValid = f.centroidYValid = r.centroidValid;
  f.centerOfMass = r.centerOfMass;
  f.centerOfMassStamp = stampOut(r.centerOfMassStamp);
  f.sumXX = m.sumXX;
  f.sumXXValid = m.sumXXValid;
  f.sumYY = m.sumYY;
  f.sumYYValid = m.sumYYValid;
  f.sumXY = b.sumXY;
  f.sumXYValid = m.sumXYValid;
  f.inertia = m.inertia;
  f.inertiaStamp = stampOut(m.inertiaStamp);
  f.angle = m.angle;
  f.inertiaPrincipal = m.inertiaPrincipal;
  f.principalStamp = stampOut(m.principalStamp);
  f.acircularityRms = m.acircularityRms;
  f.acircularityRmsStamp = stampOut(m.acircularityRmsStamp);
  f.boundingBox = m.boundingBox;
  f.median = m.median;
  f.extentStamp = stampOut(m.extentStamp);
  f.extentAngle = m.extentAngle;
  f.extentExclusion = m.extentExclusion;
  f.center = m.center;
  f.centerValid = m.centerValid;
  f.transformStamp = stampOut(m.transformStamp);
  f.clientFromImage = m.clientFromImage;
  f.xScale = m.xScale;
  f.yScale = m.yScale;
  f.areaScale = m.areaScale;
  f.aspect = m.aspect;
  f.scale = m.scale;
  f.interior = m.interior;
  f.interiorValid = m.interiorValid;
  return f;
}

// linkIn(v, limit): a stored id; refused unless 0 <= v <= limit.
BlobId linkIn(long v, std::uint64_t limit) {
  if (v < 0 || static_cast<std::uint64_t>(v) > limit) kcArchive::damaged();
  return static_cast<BlobId>(v);
}

// projectionIn(p, length): a stored projection, dropped (empty: computed again) unless it has
// the region's length.
std::vector<std::uint64_t> projectionIn(const std::vector<unsigned long>& p, long length) {
  if (p.size() != static_cast<std::size_t>(length)) return {};
  return std::vector<std::uint64_t>(p.begin(), p.end());
}

// chainFits(f, region, touch): whether the stored chain, its start and its counts are the
// region's outline as tracing it gives them.
bool chainFits(const RecordForm& f, const kcRLEBuffer& region, kc_Chain::Touch touch) {
  const kc_Chain::Trace t =
      kc_Chain::trace(region.pointToRow(0), static_cast<std::int32_t>(region.width()),
                      static_cast<std::int32_t>(region.height()), region.offset(), touch);
  return t.code == f.chainCode && t.start == f.chainStart && t.horizontalSteps == f.horizontalSteps &&
         t.verticalSteps == f.verticalSteps && t.corners == f.corners;
}

// LoadedBlob: what one load produces, before it is committed.
struct LoadedBlob {
  kc_BlobEntry entry;
  BlobId prevSibling = 0;
  std::uint32_t numChildren = 0;
  kc_BlobRecord record;
  kc_ShownLinks shown;
};

// takeBoundary(f, region, kind, label, m): the chain and its perimeter caches when the chain is
// the region's outline; otherwise they stay unknown.
void takeBoundary(const RecordForm& f, const kcRLEBuffer& region, const kcBlobSceneDescription::Analysis* kind,
                  std::uint8_t label, kc_BlobMeasures& m) {
  if (f.chainCode.empty() || kind == nullptr || *kind == kcBlobSceneDescription::eWholeImageGreyScale) return;
  const bool labelled = *kind == kcBlobSceneDescription::eLabelled;
  const kc_Chain::Touch touch = labelled ? kc_Chain::Touch{false, true} : kc_Chain::Touch{label != 0, label != 0};
  if (!chainFits(f, region, touch)) return;
  kc_BlobBoundaryData& b = m.boundary;
  b.chainCode = f.chainCode;
  b.chainStart = f.chainStart;
  b.horizontalSteps = static_cast<std::int32_t>(f.horizontalSteps);
  b.verticalSteps = static_cast<std::int32_t>(f.verticalSteps);
  b.corners = static_cast<std::int32_t>(f.corners);
  b.perimeter = f.perimeter;
  m.perimeterStamp = stampIn(f.perimeterStamp);
  m.acircularityRms = f.acircularityRms;
  m.acircularityRmsStamp = stampIn(f.acircularityRmsStamp);
}

// takeRecord(f, region, kind, label, limit, out, m): the loaded record checked against the region
// and placed in the blob's caches.
void takeRecord(const RecordForm& f, const kcRLEBuffer& region, const kcBlobSceneDescription::Analysis* kind,
                std::uint8_t label, std::uint64_t limit, LoadedBlob& out, kc_BlobMeasures& m) {
  kc_BlobEntry& e = out.entry;
  e.parent = linkIn(f.parent, limit);
  e.nextSibling = linkIn(f.nextSibling, limit);
  out.prevSibling = linkIn(f.prevSibling, limit);
  e.firstChild = linkIn(f.firstChild, limit);
  out.numChildren = linkIn(f.numChildren, std::numeric_limits<std::int32_t>::max());
  // The count is the region's weight (a pel weighs its value, up to 255); one the region cannot
  // hold is unknown, and computed again when needed.
  const std::uint64_t most = 255u * static_cast<std::uint64_t>(region.width()) * static_cast<std::uint64_t>(region.height());
  e.pelCount = f.pelCount < 1 || static_cast<std::uint64_t>(f.pelCount) > most ? -1
                                                                                : static_cast<std::int32_t>(f.pelCount);
  kc_ShownLinks& s = out.shown;
  s.nextShown = linkIn(f.nextShown, limit);
  s.prevShown = linkIn(f.prevShown, limit);
  s.firstShown = linkIn(f.firstShown, limit);
  s.numShown = linkIn(f.numShown, std::numeric_limits<std::int32_t>::max());
  s.shownStamp = stampIn(f.shownStamp);

  kc_BlobRecord& r = out.record;
  r.area = f.area;
  r.areaValid = f.areaValid;
  r.centroidX = f.centroidX;
  r.centroidY = f.centroidY;
  r.centroidValid = f.centroidXValid && f.centroidYValid;
  r.centerOfMass = f.centerOfMass;
  r.centerOfMassStamp = stampIn(f.centerOfMassStamp);

  kc_BlobBoundaryData& b = m.boundary;
  b.rowProjection = projectionIn(f.rowProjection, region.height());
  b.columnProjection = projectionIn(f.columnProjection, region.width());
  b.diagonalProjection = projectionIn(f.diagonalProjection, region.width() + region.height() - 1);
  takeBoundary(f, region, kind, label, m);
  m.sumXX = f.sumXX;
  m.sumXXValid = f.sumXXValid;
  m.sumYY = f.sumYY;
  m.sumYYValid = f.sumYYValid;
  b.sumXY = f.sumXY;
  m.sumXYValid = f.sumXYValid;
  m.inertia = f.inertia;
  m.inertiaStamp = stampIn(f.inertiaStamp);
  m.angle = f.angle;
  m.inertiaPrincipal = f.inertiaPrincipal;
  m.principalStamp = stampIn(f.principalStamp);
  m.boundingBox = f.boundingBox;
  m.median = f.median;
  m.extentStamp = stampIn(f.extentStamp);
  m.extentAngle = f.extentAngle;
  m.extentExclusion = f.extentExclusion;
  m.center = f.center;
  m.centerValid = f.centerValid;
  m.transformStamp = stampIn(f.transformStamp);
  m.clientFromImage = f.clientFromImage;
  m.xScale = f.xScale;
  m.yScale = f.yScale;
  m.areaScale = f.areaScale;
  m.aspect = f.aspect;
  m.scale = f.scale;
  m.interior = f.interior;
  m.interiorValid = f.interiorValid;
}

// checkRegion(region, rect): refuses a region that is unbound, differs from the rectangle or has
// no pel of a non-zero value (the measures need one).
void checkRegion(const kcRLEBuffer& region, const kcPelRect& rect) {
  if (region.isDegenerate() || region.width() != rect.width() || region.height() != rect.height() ||
      region.offset() != rect.ul() || !kf_RegionHasPel(region))
    kcArchive::damaged();
}

// loadScene(ar, target, keep): the blob's scene pointer. A blob of a scene being loaded names it
// by a back-reference (anything else is refused). A blob loaded alone keeps a scene that arrives
// as a new object in keep; a back-reference to an object of another class gives null.
const kcBlobSceneDescription* loadScene(kcArchive& ar, bool inScene,
                                        std::vector<std::shared_ptr<kcPersistent>>& keep) {
  if (inScene) {
    const kcBlobSceneDescription* scene = nullptr;
    kc_Persist::referencePointer(ar, scene);
    return scene;
  }
  kcPersistent* raw = nullptr;
  bool created = false;
  kc_Persist::pointer(ar, raw, created);
  if (!created) return dynamic_cast<const kcBlobSceneDescription*>(raw);
  auto* scene = dynamic_cast<kcBlobSceneDescription*>(raw);
  if (scene == nullptr) {
    delete raw;
    kcArchive::damaged();
  }
  keep.push_back(std::shared_ptr<kcPersistent>(scene));
  return scene;
}

// loadLegacy(ar, keep): the kc_BlobData pointer of the oldest blob form. Nothing of it is used;
// an object it creates is kept (in keep) rather than deleted, so that the archive's table of
// loaded objects never names freed memory while the load goes on.
void loadLegacy(kcArchive& ar, std::vector<std::shared_ptr<kcPersistent>>& keep) {
  kcPersistent* raw = nullptr;
  bool created = false;
  kc_Persist::pointer(ar, raw, created);
  if (created) keep.push_back(std::shared_ptr<kcPersistent>(raw));
}

}  // namespace

bool kf_RegionHasPel(const kcRLEBuffer& region) {
  for (long y = 0; y < region.height(); ++y)
    for (const unsigned char* run = region.pointToRow(y); run[1] != 0; run += 2)
      if (run[0] != 0) return true;
  return false;
}

kc_Instantiator kcBlob::sExemplar{"kcBlob", typeid(kcBlob), &kcBlob::make};

kcPersistent* kcBlob::make() { return new kcBlob(); }

void kcBlob::dispatchSerialize(kcArchive& ar) {
  // Refused before the version byte, so that a refused store writes nothing.
  if (ar.isStoring() && own() == nullptr && !data().storingBlobs)
    throw kcBadArgument(L"A blob held by a scene is archived with its scene or as a copy.");
  kc_Persist::dispatch(ar, *this, kBlobLevel, &kcBlob::serialize_);
}

void kcBlob::serialize_(kcArchive& ar, unsigned char version) {
  if (ar.isStoring()) {
    storeFields(ar);
    return;
  }
  loadFields(ar, version);
}

void kcBlob::storeFields(kcArchive& ar) {
  kcPersistent::dispatchSerialize(ar);
  const kcBlobSceneDescription* scene = this->scene();
  kc_Persist::referencePointer(ar, scene);
  // A blob of a scene writes the region view it hands out, made now if it was not yet: the
  // archive identifies objects archived in place by address, so the view must outlive the store.
  kcRLEBuffer& region = const_cast<kcRLEBuffer&>(this->region());
  const kc_BlobParts p = parts();
  long id = id_;
  unsigned char label = p.entry.label;
  kcPelRect rect = p.imageRect();
  ar || id || label;
  kf_PersistenceHelper<long>(ar, rect);
  ar || region;
  static const kc_BlobMeasures kNone;
  RecordForm f;
  if (p.copy) {
    f = formOf(p.entry, p.copy->prevSibling, p.copy->numChildren, p.copy->record,
               p.copy->measures ? *p.copy->measures : kNone, p.copy->shown);
  } else {
    const kc_BlobStore& s = *p.store;
    const kc_BlobRecord& r = p.record();  // made (with the region view) from marks, if any
    const kc_ShownLinks shown = s.links.empty() ? kc_ShownLinks{} : s.links[p.id - 1];
    kc_BSDData& d = data();
    f = formOf(p.entry, d.prevSiblingOf(p.id), d.numChildrenOf(p.id), r, s.extra[r.measures - 1], shown);
  }
  archiveRecord(ar, f);
}

void kcBlob::loadFields(kcArchive& ar, unsigned char version) {
  kc_BlobLoadTarget* target = own() != nullptr ? own()->loadTarget : nullptr;
  auto fresh = std::make_unique<kc_BlobCopy>();
  std::vector<std::shared_ptr<kcPersistent>>& keep = target ? *target->retired : fresh->keep;
  kcPersistent::dispatchSerialize(ar);
  const kcBlobSceneDescription* scene = loadScene(ar, target != nullptr, keep);
  long id = 0;
  unsigned char label = 0;
  kcPelRect rect;
  ar || id || label;
  kf_PersistenceHelper<long>(ar, rect);
  // Ids and links name blobs of the scene: a blob alone without one has neither.
  const std::uint64_t numBlobs = target ? target->numBlobs : scene ? scene->data_->numBlobs() : 0;
  if (id < 0 || (target && static_cast<std::uint64_t>(id) != target->id)) kcArchive::damaged();
  if (!target && scene && (id < 1 || static_cast<std::uint64_t>(id) > numBlobs)) kcArchive::damaged();
  // The region is read in place where it stays: the archive's table of loaded objects names it.
  kc_BlobMeasures* measures = target ? target->measures : (fresh->measures = std::make_unique<kc_BlobMeasures>()).get();
  kcRLEBuffer& region = target ? measures->region : fresh->region;
  ar || region;
  // A blob never filled (no scene, no region) is archived as it is; any other needs its region.
  const bool empty = !target && scene == nullptr && region.isDegenerate() && rect == kcPelRect() &&
                     region.offset() == kcPair<long>(0, 0);
  if (!empty) checkRegion(region, rect);

  LoadedBlob loaded;
  loaded.entry.label = label;
  if (version >= 1) {
    RecordForm f;
    archiveRecord(ar, f);
    const kcBlobSceneDescription::Analysis* kind =
        target ? &target->kind : scene ? &scene->data_->connectivityKind : nullptr;
    takeRecord(f, region, kind, label, numBlobs, loaded, *measures);
  } else {
    loadLegacy(ar, keep);
    if (target) target->legacy = true;
  }

  fresh->entry = loaded.entry;
  fresh->prevSibling = loaded.prevSibling;
  fresh->numChildren = loaded.numChildren;
  fresh->entry.width = static_cast<std::int32_t>(region.width());  // 0 when empty
  fresh->entry.height = static_cast<std::int32_t>(region.height());
  fresh->origin = region.offset();
  fresh->record = loaded.record;
  fresh->shown = loaded.shown;
  mutating();
  if (target) {
    kc_BlobCopy& c = *own();
    c.entry = fresh->entry;
    c.prevSibling = fresh->prevSibling;
    c.numChildren = fresh->numChildren;
    c.origin = fresh->origin;
    c.record = fresh->record;
    c.shown = fresh->shown;
    return;
  }
  fresh->scene = scene;
  own(std::move(fresh));
  id_ = static_cast<std::int32_t>(id);
}
