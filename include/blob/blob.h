// The blob: one connected region of a scene with its tree links and measures; the chain-code
// directions; the legacy kc_BlobData.
//
// Usage: a blob's measures are computed on first request and cached; its tree links walk the
// scene's blobs and holes.
//   void printTree(const kcBlob& blob, int depth) {
//     std::printf("%*s%s %ld: area %.1f, perimeter %.2f\n", 2 * depth, "",
//                 blob.label() != 0 ? "blob" : "hole", blob.id(), blob.area(), blob.perimeter());
//     for (const kcBlob* c = blob.firstChild(false); c != nullptr; c = c->nextSibling(false))
//       printTree(*c, depth + 1);
//   }
#pragma once

#include <blob/blobdefs.h>

#include <foundation/geometry.h>
#include <foundation/persistent.h>
#include <foundation/rlebuffer.h>

#include <graphics/graphic.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class kcBlobSceneDescription;
class kc_BSDData;
class kc_BlobArray;
struct kc_BlobCopy;
struct kc_BlobParts;

// keBlobDirection: one step of a boundary chain code in image coordinates (y points down the
// image); keBlobDirectionEnd ends a chain.
enum keBlobDirection : std::int32_t {
  keBlobDirectionPosX = 0,  // (+1, 0)
  keBlobDirectionNegX = 1,  // (-1, 0)
  keBlobDirectionPosY = 2,  // (0, +1)
  keBlobDirectionNegY = 3,  // (0, -1)
  keBlobDirectionEnd = 4
};

// kcBlob: one blob or hole of a scene description. Scenes own their blobs and hand out
// const kcBlob* pointers, valid until the scene is analysed again, assigned, loaded or destroyed.
// (A pointer kept past a new analysis reads the blob now numbered as it was, or throws
// kcBlobSceneDescription::BadId when there is none; nothing out of range is ever read.)
// A blob copied out of its scene keeps pointing to that scene and answers its tree queries from
// the scene's current blobs; once the scene is analysed again its links may name other blobs, and
// an id that no longer exists throws kcBlobSceneDescription::BadId rather than reading anything
// out of range.
//
// Queries are const but fill caches; a blob (and its scene) must not be used from two threads at
// once.
class BLOB_EXPORT kcBlob : public kcPersistent {
 public:
  // Measure: the scalar measures selectable by number (filters, sort, pre-computation). Stored as a
  // 32-bit value; values outside 0..42 are accepted where stored and refused where computed.
  enum Measure : std::int32_t {
    eLabel = 0,
    eArea = 1,
    eNumSteps = 2,
    ePerimeter = 3,
    eNumChildren = 4,
    eCenterOfMassX = 5,
    eCenterOfMassY = 6,
    eInertiaX = 7,
    eInertiaY = 8,
    eInertiaPrincipalMin = 9,
    eInertiaPrincipalMax = 10,
    eElongation = 11,
    eAngle = 12,
    eAcircularity = 13,
    eAcircularityRms = 14,
    eIsInterior = 15,
    eImageBoundingBoxCenterX = 16,
    eImageBoundingBoxCenterY = 17,
    eImageBoundingBoxMinX = 18,
    eImageBoundingBoxMaxX = 19,
    eImageBoundingBoxMinY = 20,
    eImageBoundingBoxMaxY = 21,
    eImageBoundingBoxWidth = 22,
    eImageBoundingBoxHeight = 23,
    eImageBoundingBoxAspect = 24,
    eMedianX = 25,
    eMedianY = 26,
    eCenterX = 27,
    eCenterY = 28,
    eBoundingBoxMinX = 29,
    eBoundingBoxMaxX = 30,
    eBoundingBoxMinY = 31,
    eBoundingBoxMaxY = 32,
    eBoundingBoxWidth = 33,
    eBoundingBoxHeight = 34,
    eAspect = 35,
    eBoundingBoxPrincipalMinX = 36,
    eBoundingBoxPrincipalMaxX = 37,
    eBoundingBoxPrincipalMinY = 38,
    eBoundingBoxPrincipalMaxY = 39,
    eBoundingBoxPrincipalWidth = 40,
    eBoundingBoxPrincipalHeight = 41,
    eAspectPrincipal = 42
  };

  // BadMeasure (0x10001a03): a measure number is invalid, or the measure cannot be computed for
  // this blob's kind of analysis. Same pattern as kcBlobDefs::BadParams; registered and refused
  // on archive loading under "kcBlob::BadMeasure".
  class BLOB_EXPORT BadMeasure : public kcBlobDefs::Errors {
   public:
    static constexpr long kErrorNumber = 0x10001a03;
    explicit BadMeasure(const wchar_t* message = nullptr) : Errors(message) {}
    KC_CONCRETE_EXCEPTION(BadMeasure);

   protected:
    void serialize_(kcArchive& ar, unsigned char version);
  };

  // kcBlob(): no scene, id 0, label 0, empty rectangle and region, caches in their initial state.
  // Allocates the blob's own data.
  kcBlob();
  // Copy: scene, id, label, rectangle, region, links and every cached value with its stamp or
  // flag; the copy owns its data (the region shares the scene's immutable runs) and is not touched
  // by later analyses of the scene. Allocation failures propagate and leave nothing behind.
  kcBlob(const kcBlob& other);
  // Assignment: gives notice (mutating()), then copies as the copy constructor does.
  // Self-assignment does nothing. Strong guarantee: a failure leaves the target unchanged.
  kcBlob& operator=(const kcBlob& other);
  ~kcBlob() override;

  // id(): the number in the scene, 1 to numBlobs(false); 0 in a blob never filled.
  long id() const { return id_; }
  // label(): the pel class of the region (1 blob / 0 hole in a non-binary grey-scale analysis,
  // else the region's pel value).
  unsigned char label() const;
  // region(): the region as a run-length image the size of imageBoundingBox(), at its origin.
  // The first call on a blob of a scene makes the image (a view on the scene's runs, which it
  // keeps alive in every copy); the reference lives as the blob pointer does.
  const kcRLEBuffer& region() const;
  // scene(): the owning scene; null only in a blob never filled.
  const kcBlobSceneDescription* scene() const {
    return (where_ & 1) == 0 ? reinterpret_cast<const kcBlobSceneDescription*>(where_) : ownScene();
  }
  // imageBoundingBox(): the smallest pel rectangle, in image coordinates, holding the region.
  kcPelRect imageBoundingBox() const;

  // Tree navigation. Each returns a blob of the same scene (valid as the scene's pointers) or null.
  // With shown false the raw links of the last analysis are read; with shown true those of the
  // scene's filtered and sorted view: the children (or siblings) that pass the scene's filters, in
  // the scene's sort order. That view is brought up to date first (computing the measures the
  // filters and sort need, which may throw their errors, and giving notice on the records it
  // writes). A blob that is itself filtered out still answers for its own children; its shown
  // siblings are null. A stored id that is not a blob of the scene throws
  // kcBlobSceneDescription::BadId; a blob with links but no scene throws it too.
  //
  // parent(): the enclosing region, null at the top level.
  const kcBlob* parent() const;
  // nextSibling(shown), prevSibling(shown): the neighbours among the children of the same parent
  // (top-level blobs: among the top-level blobs), null at the ends.
  const kcBlob* nextSibling(bool shown) const;
  const kcBlob* prevSibling(bool shown) const;
  // firstChild(shown), lastChild(shown): the ends of the list of enclosed regions, null when empty.
  // lastChild walks the list: cost linear in its length. A list longer than the scene's number of
  // blobs (a cycle in damaged links) throws kcInvariantFailure.
  const kcBlob* firstChild(bool shown) const;
  const kcBlob* lastChild(bool shown) const;
  // numChildren(shown): the number of enclosed regions (shown true: those in the view).
  long numChildren(bool shown) const;

  // Moment measures. Each is computed from the region on first request and cached in the record:
  // values in image coordinates never go stale; client values follow the scene's transform (the
  // centre of mass its translation too, the others its linear part) and are recomputed on the
  // first request after it changed. Filling a cache gives notice. Every pel counts with its run's
  // value (weighted blobs). A non-linear client transform is linearised at the blob's centroid.
  // Cost of a first request: one pass over the runs plus the length of the row, column or
  // diagonal projection it needs (created on first need); later requests are constant.
  // A blob without a scene throws kcBlobSceneDescription::BadId; a non-linear transform that
  // cannot be evaluated at the centroid throws the platform's error and caches nothing new.
  //
  // area(): the area in client units. In a grey-scale or whole-image scene a blob (label not 0)
  // weighs its pel values divided by the scene's scale value; holes and labelled regions count
  // pels.
  double area() const;
  // centerOfMass(): the weighted centre of the pels (pel (x, y) is the square from (x, y) to
  // (x + 1, y + 1)), in client coordinates.
  kcVector<2> centerOfMass() const;
  // inertia(): the second moments about the centre of mass along the client x and y axes, each
  // pel a unit square weighted by its value (scale value not applied), in client units.
  kcPair<double> inertia() const;
  // inertiaPrincipal(): the smaller and the larger principal second moment.
  kcPair<double> inertiaPrincipal() const;
  // elongation(): inertiaPrincipal().second / inertiaPrincipal().first.
  double elongation() const;
  // angle(): the angle of the major principal axis (the direction of the larger moment), in
  // (-pi/2, pi/2], in client coordinates (y down the image in the identity case). Exactly 0 for a region whose second
  // moments are exactly symmetric; an isotropic region with rounding residue may report +-pi/4.
  kcRadian angle() const;

  // Boundary measures. The region's outer outline (its holes are regions of their own) is traced
  // once along pel edges into a chain code and cached: steps of keBlobDirection with the region on
  // the right of each (clockwise on a screen whose y axis points down), from chainStart, the
  // upper-left corner of the region's first pel in raster order, back to it. Pels touching only at
  // a corner are part of one outline for blobs of grey-scale scenes, not for their holes; labelled
  // regions follow their six-connectivity. Cost of the first request: the region's runs plus the
  // chain's length. Every one of them throws kcBlob::BadMeasure ("It is not possible to compute
  // the boundary chain, ...") in a whole-image scene, caching nothing; other measures still work.
  //
  // boundaryChainCode(code): replaces code with the steps followed by keBlobDirectionEnd
  // (numSteps() + 1 entries) and returns chainStart in image coordinates.
  kcPair<long> boundaryChainCode(std::vector<keBlobDirection>& code) const;
  // numSteps(): the number of steps of the chain.
  long numSteps() const;
  // perimeter(): 0.94806 x (horizontal steps + vertical steps - 0.58579 x convex corners), each
  // corner's two unit edges replaced by its diagonal; under a client matrix other than the identity
  // the steps are weighted by its x and y scales (a non-linear pair linearised at the centroid).
  // Cached until the client matrix changes.
  double perimeter() const;
  // acircularity(): perimeter()^2 / (4 pi area()), near 1 for a disc; from the cached perimeter and
  // area.
  double acircularity() const;
  // acircularityRms(): 1 + the root mean square of (distance to the centre of mass - R) over the
  // chain's corner points, divided by R, the radius of the disc of the blob's area; all in client
  // units. Cached until the client matrix changes.
  double acircularityRms() const;

  // Oriented extents. Along the client axes u = (cos angle, sin angle) and w = (-sin angle,
  // cos angle), the extents of the blob's pels (each a unit square weighted by its value) as offsets
  // from centerOfMass(); with exclude true the scene's extrema exclusion is left out at each end
  // (an amount in client area, pels or percent of the blob's weight; a blob weighted by its values
  // counts the scene's scale value per pel, holes and labelled regions 1). An exclusion above half
  // the blob gives a box of zero width and height. The last (angle, exclusion) is cached until the
  // client transform changes; another angle or exclusion recomputes. A non-finite angle gives NaN
  // everywhere without computing anything. Cost: the region's row or column projection (angles
  // along the pel axes) or an angular projection (the runs plus its bins per row).
  //
  // boundingBox(exclude, angle): the box, origin and size along u and w.
  kcRectangle<double> boundingBox(bool exclude, const kcRadian& angle) const;
  // center(exclude, angle): the box's centre in client coordinates.
  kcVector<2> center(bool exclude, const kcRadian& angle) const;
  // aspect(exclude, angle): box height / width; NaN (0/0) for a box of zero size.
  double aspect(bool exclude, const kcRadian& angle) const;
  // median(angle): the point whose offsets split the weight in half along u and along w, with the
  // scene's exclusion applied (it decides which extents are cached with it).
  kcVector<2> median(const kcRadian& angle) const;
  // boundingBoxPrincipal(exclude), centerPrincipal(exclude), aspectPrincipal(exclude): the same
  // at angle().
  kcRectangle<double> boundingBoxPrincipal(bool exclude) const;
  kcVector<2> centerPrincipal(bool exclude) const;
  double aspectPrincipal(bool exclude) const;
  // imageBoundingBoxAspect(): imageBoundingBox() height / width. imageBoundingBoxCenter(): its
  // centre, in image coordinates.
  double imageBoundingBoxAspect() const;
  kcVector<2> imageBoundingBoxCenter() const;

  // isInterior(): true when the blob's rectangle touches no edge of the scene's window and, when
  // the scene holds a mask for the interior test, every pel of the blob has all eight neighbours
  // inside the mask (a blob whose rectangle does not lie strictly inside the mask's is not
  // interior). Computed once and cached; it depends on nothing the caller can change afterwards.
  bool isInterior() const;

  // measure(m): measure number m as a double (see Measure; the extents use the scene's extrema
  // angle, read once, with the exclusion on; numChildren counts every child). Throws BadMeasure
  // ("The specified blob measure number is invalid.") for m outside 0..42 before computing
  // anything; the measure's own errors pass through. Whole numbers convert exactly. Undefined
  // ratios (0/0: the aspect of a box of zero size, elongation and acircularity under a singular
  // client transform) are quiet NaNs.
  double measure(Measure m) const;

  // DrawFlag: the bits of draw's flags; each adds one graphic, in this order. Other bits are
  // ignored.
  enum DrawFlag : unsigned long {
    eDrawCenterOfMass = 1,       // a green cross of size 7 on centerOfMass(), upright
    eDrawPrincipalCross = 2,     // the same turned to angle()
    eDrawLabel = 4,              // the text at centerOfMass() offset by (5, 5), green on passColor
    eDrawImageBoundingBox = 8,   // imageBoundingBox() as a green polyline of five corners (ul round to ul)
    eDrawPrincipalBox = 16,      // the principal box (extrema excluded) as a green affine rectangle
    eDrawBoundary = 32,          // the boundary chain as a cyan polyline; skipped in a whole-image scene
  };
  // draw(list, flags, text): appends the graphics flags select to list, in client coordinates
  // (points mapped by the scene's client transform, linearised at the centroid when it is not
  // linear), each held by the list. The boundary polyline runs from the chain's start through the
  // corner reached after every step and back to the start once more (numSteps() + 2 points); the
  // chain is the cached one, or traced for the drawing alone and not cached. The measures' errors
  // propagate; graphics already appended stay in the list.
  void draw(kcGraphicList& list, unsigned long flags, const std::wstring& text) const;

  // repInvariant(): throws kcInvariantFailure at the first broken invariant: a scene is set; the id
  // is valid; the region is bound and of the rectangle's size; the record exists and names this
  // blob as owner; every non-zero raw link is a valid id; after bringing the views up to date, the
  // shown links are valid ids. Brings views up to date as the shown queries do.
  void repInvariant() const;

 protected:
  // Archive form, version 1 (registered as "kcBlob"): the kcPersistent part; the scene (a pointer);
  // id (long); label; image rectangle; region (kcRLEBuffer in place); the record (its own version
  // byte 3, then links, chain, projections and every cached measure with its flag or stamp).
  // Versions 0 (a legacy kc_BlobData in place of the record: every measure is recomputed) and 1,
  // and record versions 0 to 3, are read; a newer blob version throws
  // kcArchive::UnknownVersion("blob/blob", 1481), a newer record ("blob/blob", 168).
  // Loading a blob alone gives a blob with its own data; a scene it names that the archive holds
  // nowhere else is loaded with it and lives as long as the blob and its copies. Loading refuses
  // with kcArchive::Damaged, leaving the blob unchanged: a region that does not match the
  // rectangle or has no pel of a non-zero value, an id or link that names no blob of the scene
  // (a blob without a scene has no links), and a scene pointer to a new object of another class. Caches that do not fit the region (a projection of the wrong
  // length, a chain that is not the region's outline) are dropped and computed again on demand.
  // Cost of loading: linear in the archived bytes (a stored chain is checked by tracing again).
  // Storing a blob held by a scene on its own (not as a copy, not with its scene) throws
  // kcBadArgument before anything is written.
  void dispatchSerialize(kcArchive& ar) override;

 private:
  friend class kcBlobSceneDescription;
  friend class kc_BSDData;
  friend class kc_SceneBuilder;
  friend class kc_BlobArray;
  friend struct kc_Outline;

  // A blob held by scene's array: everything but its id is read from the scene's store.
  struct InScene {};
  kcBlob(const kcBlobSceneDescription* scene, std::int32_t id, InScene) noexcept;

  // reInit(): caches, links and the pel count return to their initial state; scene, id, label,
  // rectangle and region are kept.
  void reInit() override;

  // validId(id): 1 <= id <= the scene's number of blobs; false without a scene.
  bool validId(long id) const;

  // data(): the scene's data (writable: const queries fill the scene's view caches); throws
  // kcBlobSceneDescription::BadId when the blob has no scene.
  kc_BSDData& data() const;
  // relative(id): the blob with that id in the scene, null for 0; a bad id throws BadId.
  const kcBlob* relative(std::uint32_t id) const;
  // updateChildView(), updateSiblingView(): bring the shown links this blob reads up to date;
  // nothing for a blob without a scene.
  void updateChildView() const;
  void updateSiblingView() const;
  // giveNotice(): mutating() on this blob from a const query that fills a cache (blobs live in
  // their scene's non-const array).
  void giveNotice() const { const_cast<kcBlob*>(this)->mutating(); }
  // parts(): the blob's entry, caches and rows, in its scene's store or in its own data.
  kc_BlobParts parts() const;
  // The general routes of area(), centerOfMass() and imageBoundingBox(): out of line and called
  // last, so that the short routes set up no stack frame.
  double generalArea() const;
  kcVector<2> generalCenterOfMass() const;
  kcPelRect generalBoundingBox() const;
  // copyData(): the data a copy of this blob owns.
  std::unique_ptr<kc_BlobCopy> copyData() const;

  void serialize_(kcArchive& ar, unsigned char version);
  void storeFields(kcArchive& ar);
  void loadFields(kcArchive& ar, unsigned char version);
  static kcPersistent* make();
  static kc_Instantiator sExemplar;

  // own(): the blob's own data (a copy, or a blob never filled or loaded on its own, which names its
  // scene); null for a blob its scene holds. ownScene(): the scene that data name.
  kc_BlobCopy* own() const { return (where_ & 1) != 0 ? reinterpret_cast<kc_BlobCopy*>(where_ - 1) : nullptr; }
  const kcBlobSceneDescription* ownScene() const;
  // own(data): the blob owns data from now on (the data held before, if any, are deleted).
  // held(scene): the blob is held by scene (the data it owned, if any, are deleted).
  void own(std::unique_ptr<kc_BlobCopy> data) noexcept;
  void held(const kcBlobSceneDescription* scene) noexcept;

  // 24 bytes with the persistent base: a scene holds one per blob.
  std::int32_t id_ = 0;
  // where_: the scene that holds the blob, or its own data with the low bit set (see own()).
  std::uintptr_t where_ = 0;
};

// kfBlobMeasureName(m): the name of measure m, its enumerator without the leading 'e' and with a
// lower-case first letter ("area", "centerOfMassX", "aspectPrincipal"); null for m outside 0..42.
// The string lives for the whole program.
BLOB_EXPORT const char* kfBlobMeasureName(kcBlob::Measure m);
// kfBlobMeasureFromName(name, m): sets m to the measure called name (as kfBlobMeasureName spells
// it) and returns true; returns false, leaving m unchanged, for any other name or a null pointer.
BLOB_EXPORT bool kfBlobMeasureFromName(const char* name, kcBlob::Measure& m);

// kc_BlobData: a persistent class without data of its own, kept so that archives of the oldest
// blob format can be read: such an archive embeds one, which reading creates and then leaves
// unused; it is deleted with the loaded blob (or scene), not at once, so that the archive's table
// of loaded objects never names freed memory while the load goes on.
// Registered as "kc_BlobData". Archive form: a version byte 0 and the kcPersistent part; any other
// version throws kcArchive::UnknownVersion("blob/blob", 1622).
class BLOB_EXPORT kc_BlobData : public kcPersistent {
 public:
  kc_BlobData() = default;
  ~kc_BlobData() override;

 protected:
  void dispatchSerialize(kcArchive& ar) override;

 private:
  void serialize_(kcArchive& ar, unsigned char version);
  static kcPersistent* make();
  static kc_Instantiator sExemplar;
};
