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

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <type_traits>
#include <vector>

namespace {

constexpr unsigned char kVersion = 1;
constexpr unsigned char kRecordVersion = 3;
// The lines the blob's and its record's version errors report: fixed numbers, kept in the errors'
// messages and archive forms.
constexpr int kBlobVersionLine = 1481;
constexpr int kRecordVersionLine = 168;
constexpr kc_Persist::Level kBlobLevel{kVersion, "blob/blob", kBlobVersionLine};
constexpr kc_Persist::Level kRecordLevel{kRecordVersion, "blob/blob", kRecordVersionLine};
constexpr std::uint64_t kMaxProjectionValue = 0xFFFFFFFFu;

// Places<kLoading>: where the fields of a blob's record live: its entry, its previous sibling and
// number of children (which a scene makes on demand), its record, its other caches and its view
// links. Read-only when storing.
template <bool kLoading>
struct Places {
  template <class T>
  using Ref = std::conditional_t<kLoading, T&, const T&>;
  Ref<kc_BlobEntry> entry;
  Ref<BlobId> prevSibling;
  Ref<std::uint32_t> numChildren;
  Ref<kc_BlobRecord> record;
  Ref<kc_BlobMeasures> measures;
  Ref<kc_ShownLinks> shown;
};

// kOutline tags the fields measured along the chain code: a load keeps them only when the stored
// chain is the region's outline, and otherwise leaves them unknown (computed again).
struct Outline {};
constexpr Outline kOutline;

// Extent: what a projection's length must match: the region's rows, columns or diagonals.
enum class Extent { eRows, eColumns, eDiagonals };

// recordFields(v, p): the record's archive form: each field once, in archive order, with the
// record version that added it. The visitor's member says how a field is archived:
//   value       each field by its own operator|| (the int32 counts take 4 bytes, as longs do)
//   link        each a blob id as a long, 0 for none
//   list        a list's first id and length as two longs; before version 3 the list's ids
//   stamp       a change counter's value: its 32 bits through a signed long
//   vector      kc_Persist::vector; pair: kc_Persist::pair; rectangle: kf_PersistenceHelper
//   projection  the sums as a vector of unsigned long
//   pelCount    the entry's pel count, or the record's when the entry has none
//   centroid    x, x valid, y, y valid; memory holds one valid flag for both
template <class V, class P>
void recordFields(V& v, P& p) {
  auto& e = p.entry;
  auto& r = p.record;
  auto& m = p.measures;
  auto& b = m.boundary;
  auto& s = p.shown;
  v.link(0, e.parent, e.nextSibling, p.prevSibling);
  v.list(0, e.firstChild, p.numChildren);
  v.link(0, s.nextShown, s.prevShown);
  v.list(0, s.firstShown, s.numShown);
  v.stamp(0, s.shownStamp);
  v.vector(kOutline, 0, b.chainCode);
  v.pair(kOutline, 0, b.chainStart);
  v.projection(0, b.rowProjection, Extent::eRows);
  v.projection(0, b.columnProjection, Extent::eColumns);
  v.projection(0, b.diagonalProjection, Extent::eDiagonals);
  v.pelCount(0, e.pelCount, r.pelCount);
  v.value(0, r.area, r.areaValid);
  v.value(kOutline, 0, b.horizontalSteps, b.verticalSteps, b.corners, b.perimeter);
  v.stamp(kOutline, 0, m.perimeterStamp);
  v.centroid(0, r.centroidX, r.centroidY, r.centroidValid);
  v.value(0, r.centerOfMass);
  v.stamp(0, r.centerOfMassStamp);
  v.value(0, m.sumXX, m.sumXXValid, m.sumYY, m.sumYYValid, b.sumXY, m.sumXYValid);
  v.pair(0, m.inertia);
  v.stamp(0, m.inertiaStamp);
  v.value(0, m.angle);
  v.pair(0, m.inertiaPrincipal);
  v.stamp(0, m.principalStamp);
  v.value(kOutline, 0, m.acircularityRms);
  v.stamp(kOutline, 0, m.acircularityRmsStamp);
  v.rectangle(0, m.boundingBox);
  v.value(0, m.median);
  v.stamp(0, m.extentStamp);
  v.value(0, m.extentAngle, m.extentExclusion, m.center, m.centerValid);
  v.stamp(1, m.transformStamp);
  v.value(1, m.clientFromImage, m.xScale, m.yScale, m.areaScale, m.aspect, m.scale);
  v.value(2, m.interior, m.interiorValid);
}

// Stamps are unsigned in memory and travel through the signed 32-bit long unchanged.
long stampOut(Stamp s) { return static_cast<long>(static_cast<std::int32_t>(s)); }
Stamp stampIn(long v) { return static_cast<Stamp>(v); }

// unknown(field), unknownStamp(s): a field in the state of one never computed: value-initialised,
// and a stamp that is never current.
template <class T>
void unknown(T& field) {
  field = T{};
}
void unknownStamp(Stamp& s) { s = kNeverComputed; }

// StoreRecord: writes the fields of recordFields at the current record version. A projection with
// a sum beyond 32 bits is written as unknown (empty) and computed again after loading.
class StoreRecord {
 public:
  explicit StoreRecord(kcArchive& ar) : ar_(ar) {}

  template <class... T>
  void value(unsigned char, const T&... fields) {
    (write(fields), ...);
  }
  template <class... T>
  void link(unsigned char, const T&... ids) {
    (put(ids), ...);
  }
  void list(unsigned char, BlobId first, std::uint32_t count) {
    put(first);
    put(count);
  }
  void stamp(unsigned char, Stamp s) { put(stampOut(s)); }
  template <class T>
  void vector(unsigned char, const std::vector<T>& field) {
    std::vector<T> copy = field;
    kc_Persist::vector(ar_, copy);
  }
  template <class T>
  void pair(unsigned char, const T& field) {
    T copy = field;
    kc_Persist::pair(ar_, copy);
  }
  void projection(unsigned char, const std::vector<std::uint64_t>& field, Extent) {
    std::vector<unsigned long> sums;
    if (std::all_of(field.begin(), field.end(), [](std::uint64_t v) { return v <= kMaxProjectionValue; }))
      sums.assign(field.begin(), field.end());
    kc_Persist::vector(ar_, sums);
  }
  void pelCount(unsigned char, std::int32_t entry, std::int32_t record) { put(entry > 0 ? entry : record); }
  void centroid(unsigned char, double x, double y, bool valid) {
    bool xValid = valid, yValid = valid;
    ar_ || x || xValid || y || yValid;
  }
  void rectangle(unsigned char, const kcRectangle<double>& field) {
    kcRectangle<double> copy = field;
    kf_PersistenceHelper<double>(ar_, copy);
  }
  // The outline's fields are written as any others.
  template <class... T>
  void value(Outline, unsigned char since, const T&... fields) {
    value(since, fields...);
  }
  void stamp(Outline, unsigned char since, Stamp s) { stamp(since, s); }
  template <class T>
  void vector(Outline, unsigned char since, const T& field) {
    vector(since, field);
  }
  template <class T>
  void pair(Outline, unsigned char since, const T& field) {
    pair(since, field);
  }

 private:
  template <class T>
  void write(const T& field) {
    T copy = field;
    ar_ || copy;
  }
  void put(long v) { ar_ || v; }

  kcArchive& ar_;
};

// LoadRecord: reads the fields of recordFields, stored at version, into a blob's fresh caches; a
// field that version does not hold is unknown. A link must lie in 0..limit and a length in the
// 32-bit range; finish() refuses the record (Damaged) when one did not, once all of it was read.
// A projection whose length does not fit the region is unknown; so is a pel count the region
// cannot weigh (a pel weighs its value, up to 255), which is then computed again when needed.
class LoadRecord {
 public:
  LoadRecord(kcArchive& ar, unsigned char version, const kcRLEBuffer& region, std::uint64_t limit)
      : ar_(ar), version_(version), region_(region), limit_(limit) {}

  template <class... T>
  void value(unsigned char since, T&... fields) {
    (read(since, fields), ...);
  }
  template <class... T>
  void link(unsigned char since, T&... ids) {
    (readLink(since, ids), ...);
  }
  void list(unsigned char since, BlobId& first, std::uint32_t& count) {
    if (absent(since, first) || absent(since, count)) return;
    long f = 0, n = 0;
    if (version_ >= 3) {
      f = get();
      n = get();
    } else {
      std::vector<long> ids;
      kc_Persist::vector(ar_, ids);
      f = ids.empty() ? 0 : ids.front();
      n = static_cast<long>(ids.size());
    }
    first = checked(f, limit_);
    count = checked(n, std::numeric_limits<std::int32_t>::max());
  }
  void stamp(unsigned char since, Stamp& s) {
    if (version_ < since) return unknownStamp(s);
    s = stampIn(get());
  }
  template <class T>
  void vector(unsigned char since, std::vector<T>& field) {
    if (absent(since, field)) return;
    kc_Persist::vector(ar_, field);
  }
  template <class T>
  void pair(unsigned char since, T& field) {
    if (absent(since, field)) return;
    kc_Persist::pair(ar_, field);
  }
  void projection(unsigned char since, std::vector<std::uint64_t>& field, Extent extent) {
    if (absent(since, field)) return;
    std::vector<unsigned long> sums;
    kc_Persist::vector(ar_, sums);
    const long length = extent == Extent::eRows      ? region_.height()
                        : extent == Extent::eColumns ? region_.width()
                                                     : region_.width() + region_.height() - 1;
    if (sums.size() == static_cast<std::size_t>(length)) field.assign(sums.begin(), sums.end());
  }
  void pelCount(unsigned char since, std::int32_t& entry, std::int32_t&) {
    entry = -1;
    if (version_ < since) return;
    const long v = get();
    const std::uint64_t most =
        255u * static_cast<std::uint64_t>(region_.width()) * static_cast<std::uint64_t>(region_.height());
    if (v >= 1 && static_cast<std::uint64_t>(v) <= most) entry = static_cast<std::int32_t>(v);
  }
  void centroid(unsigned char since, double& x, double& y, bool& valid) {
    if (absent(since, x) || absent(since, y) || absent(since, valid)) return;
    bool xValid = false, yValid = false;
    ar_ || x || xValid || y || yValid;
    valid = xValid && yValid;
  }
  void rectangle(unsigned char since, kcRectangle<double>& field) {
    if (absent(since, field)) return;
    kf_PersistenceHelper<double>(ar_, field);
  }
  // The outline's fields are read as any others; loadRecord decides whether they stay.
  template <class... T>
  void value(Outline, unsigned char since, T&... fields) {
    value(since, fields...);
  }
  void stamp(Outline, unsigned char since, Stamp& s) { stamp(since, s); }
  template <class T>
  void vector(Outline, unsigned char since, T& field) {
    vector(since, field);
  }
  template <class T>
  void pair(Outline, unsigned char since, T& field) {
    pair(since, field);
  }

  void finish() const {
    if (outOfRange_) kcArchive::damaged();
  }

 private:
  template <class T>
  bool absent(unsigned char since, T& field) {
    if (version_ >= since) return false;
    unknown(field);
    return true;
  }
  template <class T>
  void read(unsigned char since, T& field) {
    if (!absent(since, field)) ar_ || field;
  }
  void readLink(unsigned char since, BlobId& id) {
    if (!absent(since, id)) id = checked(get(), limit_);
  }
  long get() {
    long v = 0;
    ar_ || v;
    return v;
  }
  std::uint32_t checked(long v, std::uint64_t limit) {
    if (v < 0 || static_cast<std::uint64_t>(v) > limit) outOfRange_ = true;
    return static_cast<std::uint32_t>(v);
  }

  kcArchive& ar_;
  const unsigned char version_;
  const kcRLEBuffer& region_;
  const std::uint64_t limit_;
  bool outOfRange_ = false;
};

// ClearOutline: makes the outline's fields unknown; the others stay.
struct ClearOutline {
  template <class... T>
  void value(Outline, unsigned char, T&... fields) {
    (unknown(fields), ...);
  }
  void stamp(Outline, unsigned char, Stamp& s) { unknownStamp(s); }
  template <class T>
  void vector(Outline, unsigned char, T& field) {
    unknown(field);
  }
  template <class T>
  void pair(Outline, unsigned char, T& field) {
    unknown(field);
  }
  template <class... T>
  void value(unsigned char, const T&...) {}
  template <class... T>
  void link(unsigned char, const T&...) {}
  template <class... T>
  void list(unsigned char, const T&...) {}
  template <class... T>
  void stamp(unsigned char, const T&...) {}
  template <class... T>
  void vector(unsigned char, const T&...) {}
  template <class... T>
  void pair(unsigned char, const T&...) {}
  template <class... T>
  void projection(unsigned char, const T&...) {}
  template <class... T>
  void pelCount(unsigned char, const T&...) {}
  template <class... T>
  void centroid(unsigned char, const T&...) {}
  template <class... T>
  void rectangle(unsigned char, const T&...) {}
};

// outlineFits(b, region, kind, label): whether the loaded chain, its start and its counts are the
// region's outline as tracing it gives them. Never for a whole-image scene, nor for a blob whose
// scene kind is unknown.
bool outlineFits(const kc_BlobBoundaryData& b, const kcRLEBuffer& region, const kcBlobSceneDescription::Analysis* kind,
                 std::uint8_t label) {
  if (b.chainCode.empty() || kind == nullptr || *kind == kcBlobSceneDescription::eWholeImageGreyScale) return false;
  const bool labelled = *kind == kcBlobSceneDescription::eLabelled;
  const kc_Chain::Touch touch = labelled ? kc_Chain::Touch{false, true} : kc_Chain::Touch{label != 0, label != 0};
  const kc_Chain::Trace t =
      kc_Chain::trace(region.pointToRow(0), static_cast<std::int32_t>(region.width()),
                      static_cast<std::int32_t>(region.height()), region.offset(), touch);
  return t.code == b.chainCode && t.start == b.chainStart && t.horizontalSteps == b.horizontalSteps &&
         t.verticalSteps == b.verticalSteps && t.corners == b.corners;
}

// storeRecord(ar, p): the record's version byte and fields.
void storeRecord(kcArchive& ar, const Places<false>& p) {
  kc_Persist::version(ar, kRecordLevel);
  StoreRecord out(ar);
  recordFields(out, p);
}

// loadRecord(ar, p, region, kind, label, limit): a stored record read into a blob's fresh caches
// and checked against its region (see LoadRecord and outlineFits).
void loadRecord(kcArchive& ar, const Places<true>& p, const kcRLEBuffer& region,
                const kcBlobSceneDescription::Analysis* kind, std::uint8_t label, std::uint64_t limit) {
  LoadRecord in(ar, kc_Persist::version(ar, kRecordLevel), region, limit);
  recordFields(in, p);
  in.finish();
  if (outlineFits(p.measures.boundary, region, kind, label)) return;
  ClearOutline clear;
  recordFields(clear, p);
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
  if (p.copy) {
    static const kc_BlobMeasures kNone;
    const kc_BlobCopy& c = *p.copy;
    storeRecord(ar, {p.entry, c.prevSibling, c.numChildren, c.record, c.measures ? *c.measures : kNone, c.shown});
    return;
  }
  const kc_BlobStore& s = *p.store;
  const kc_BlobRecord& r = p.record();  // made (with the region view) from marks, if any
  const kc_ShownLinks shown = s.links.empty() ? kc_ShownLinks{} : s.links[p.id - 1];
  kc_BSDData& d = data();
  storeRecord(ar, {p.entry, d.prevSiblingOf(p.id), d.numChildrenOf(p.id), r, s.extra[r.measures - 1], shown});
}

void kcBlob::loadFields(kcArchive& ar, unsigned char version) {
  kc_BlobLoadTarget* target = own() != nullptr ? own()->loadTarget : nullptr;
  // A blob of a scene being loaded reads into its temporary copy, which the scene's data take
  // over; any other blob into a fresh copy it adopts once the load succeeded.
  std::unique_ptr<kc_BlobCopy> fresh = target ? nullptr : std::make_unique<kc_BlobCopy>();
  kc_BlobCopy& into = target ? *own() : *fresh;
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

  into.entry.label = label;
  if (version >= 1) {
    const kcBlobSceneDescription::Analysis* kind =
        target ? &target->kind : scene ? &scene->data_->connectivityKind : nullptr;
    loadRecord(ar, {into.entry, into.prevSibling, into.numChildren, into.record, *measures, into.shown}, region,
               kind, label, numBlobs);
  } else {
    loadLegacy(ar, keep);
    if (target) target->legacy = true;
  }
  into.entry.width = static_cast<std::int32_t>(region.width());  // 0 when empty
  into.entry.height = static_cast<std::int32_t>(region.height());
  into.origin = region.offset();
  mutating();
  if (target) return;
  fresh->scene = scene;
  own(std::move(fresh));
  id_ = static_cast<std::int32_t>(id);
}
