// The scene description: every blob of one analysis, their tree, the filter, sort, extrema and
// transform settings, and the scene's errors; the conversion of its boundaries to featurelets.
//
// Usage: narrowing and ordering the blobs of an analysis without touching them.
//   kcBlobSceneDescription& scene = *results.connectedBlobs();
//   scene.setFilter(kcBlob::eArea, 50, 1e9, false);  // areas from 50 to 1e9 are shown
//   scene.setSort(kcBlob::ePerimeter, kcBlobSceneDescription::eAscending);
//   for (const kcBlob* blob : scene.allBlobs(true))  // the shown blobs, in view order
//     std::printf("%ld: %.2f\n", blob->id(), blob->perimeter());
#pragma once

#include <blob/blob.h>
#include <blob/blobdefs.h>

#include <featurelet/chain_set.h>

#include <graphics/graphic.h>

#include <foundation/geometry.h>
#include <foundation/handle.h>
#include <foundation/pelbuffer.h>
#include <foundation/persistent.h>
#include <foundation/rlebuffer.h>
#include <foundation/xform.h>

#include <cstdint>
#include <memory>
#include <vector>

class kcArchive;
class kc_BSDData;

// kcBlobFilter: one range filter on a blob measure. exclude false keeps the blobs whose value lies
// in [low, high]; exclude true rejects them. A scene holds at most one filter per measure.
struct kcBlobFilter {
  kcBlob::Measure measure = kcBlob::eArea;
  double low = 0.0;
  double high = 0.0;
  bool exclude = false;
};

// kcBlobSceneDescription: the result of one connectivity analysis. A new scene is degenerate: its
// filter, sort, extrema and transform settings can be read and set, but the analysis settings and
// the blob queries throw Degenerate until an analysis has filled it.
//
// Pointers to blobs stay valid until the scene is analysed again, assigned, loaded, re-initialised
// or destroyed. Every query is const, yet queries of the filtered and sorted view (shown true) may
// rebuild it: one scene must not be used from two threads at once. Copies are deep and share only
// the connectivity engine's cached run image.
class BLOB_EXPORT kcBlobSceneDescription : public kcPersistent {
 public:
  // Analysis: which connectivity analysis runs. Any 32-bit value can be stored; values outside
  // the enumerators are refused where they are used, not where they are set or loaded.
  enum Analysis : std::int32_t { eGreyScale = 0, eLabelled = 1, eWholeImageGreyScale = 2 };

  // ConnectCleanup: what happens to regions below the minimum size. Same storage rule.
  enum ConnectCleanup : std::int32_t { eNone = 0, ePrune = 1, eFill = 2 };

  // SortOrder: eDescending puts the largest value first, eAscending the smallest.
  enum SortOrder : std::int32_t { eDescending = 0, eAscending = 1 };

  // The scene's errors follow the pattern of kcBlobDefs::BadParams; each is registered and
  // refused on archive loading under its qualified name ("kcBlobSceneDescription::BadId", ...).

  // BadId (0x10001a02): a blob id is out of range.
  class BLOB_EXPORT BadId : public kcBlobDefs::Errors {
   public:
    static constexpr long kErrorNumber = 0x10001a02;
    explicit BadId(const wchar_t* message = nullptr) : Errors(message) {}
    KC_CONCRETE_EXCEPTION(BadId);

   protected:
    void serialize_(kcArchive& ar, unsigned char version);
  };

  // Degenerate (0x10001a00): the scene holds no analysis yet.
  class BLOB_EXPORT Degenerate : public kcBlobDefs::Errors {
   public:
    static constexpr long kErrorNumber = 0x10001a00;
    explicit Degenerate(const wchar_t* message = nullptr) : Errors(message) {}
    KC_CONCRETE_EXCEPTION(Degenerate);

   protected:
    void serialize_(kcArchive& ar, unsigned char version);
  };

  // DuplicateFilter (0x10001a01): a second filter for a measure that already has one.
  class BLOB_EXPORT DuplicateFilter : public kcBlobDefs::Errors {
   public:
    static constexpr long kErrorNumber = 0x10001a01;
    explicit DuplicateFilter(const wchar_t* message = nullptr) : Errors(message) {}
    KC_CONCRETE_EXCEPTION(DuplicateFilter);

   protected:
    void serialize_(kcArchive& ar, unsigned char version);
  };

  // ---- construction, copying, lifetime ----

  // A degenerate scene with default data. Allocates the data.
  kcBlobSceneDescription();
  // Deep copy of other's data (blobs, views, settings, counters); the copy's blobs name the copy
  // as their scene. The engine's cached run image is shared, not copied.
  kcBlobSceneDescription(const kcBlobSceneDescription& other);
  // Assignment: gives notice, then becomes a copy of other as above. Self-assignment does nothing.
  // Strong guarantee: a failed copy leaves this scene unchanged. Invalidates this scene's blob
  // pointers.
  kcBlobSceneDescription& operator=(const kcBlobSceneDescription& other);
  ~kcBlobSceneDescription() override;

  // ---- analysis (connectivity engine) ----

  // connectComponentsGreyScale(image, scaleVal, wholeImage, cleanup, minPels): replaces the blobs
  // with those of a grey-scale (or, with wholeImage, whole-image) analysis of image and clears the
  // degenerate state. Filters, sort and extrema settings survive; the view counter moves.
  // Refuses, changing nothing, with kcBlobDefs::BadParams: a degenerate image ("The image is
  // unbound."), a cleanup with wholeImage, scaleVal 0, a cleanup with minPels below 0; with
  // kcBadArgument: a cleanup outside the enumeration, or minPels above 2^31 - 1 with a cleanup.
  // kcAttention::Abandoned and other platform exceptions pass through and leave the blobs as
  // they were.
  void connectComponentsGreyScale(const kcRLEBuffer& image, unsigned char scaleVal, bool wholeImage,
                                  ConnectCleanup cleanup, long minPels);
  // connectComponentsLabelled(image, cleanup, minPels): the same for a labelled analysis (the
  // scale value is not used, so not refused).
  void connectComponentsLabelled(const kcRLEBuffer& image, ConnectCleanup cleanup, long minPels);

  // ---- degenerate state and analysis settings ----

  // isDegenerate(): true until an analysis has filled the scene, and again after re-initialisation.
  bool isDegenerate() const { return degenerate_; }

  // The settings of the last analysis. Each throws Degenerate while the scene is degenerate.
  // connectivityKind(): the kind of analysis.
  Analysis connectivityKind() const;
  // scaleVal(): the scale value of a grey-scale analysis (1 after a labelled one). Throws
  // kcBlobDefs::BadParams after a labelled analysis, since it means nothing there.
  unsigned char scaleVal() const;
  // cleanupKind(): the cleanup of the last analysis.
  ConnectCleanup cleanupKind() const;
  // minPels(): the cleanup's minimum pel count. Throws kcBlobDefs::BadParams when the last
  // analysis had no cleanup.
  long minPels() const;
  // sceneWindow(): the image window of the analysed run-length image (offset and size), a copy.
  kcPelRect sceneWindow() const;

  // ---- tree access (all throw Degenerate while degenerate) ----
  // shown false: all blobs in plain id order, whatever the filters. shown true: the filtered and
  // sorted view: the blobs that pass every filter, ordered by the sort measure (by area, largest
  // first, until a sort is set; id order after disableSort). Blobs with equal keys follow a fixed
  // heap-sort order, not id order. Each level of the tree is filtered on its own: a blob rejected
  // by a filter keeps its children in allBlobs(true) and in its own firstChild(true), but a walk
  // from firstTop(true) never reaches them. The view is rebuilt on first use after a filter, the
  // sort, the transform or the analysis changed (the rebuild gives notice on the data and computes
  // the measures it needs, caching them in the blobs); a measure error during the rebuild (for
  // instance kcBlob::BadMeasure for a filter on an invalid measure number) propagates and leaves
  // the view to be rebuilt by the next query.

  // numBlobs(shown): the number of blobs (shown true: in the view).
  long numBlobs(bool shown) const;
  // getBlob(id): blob number id, its plain id whatever the filters. Throws BadId unless
  // 1 <= id <= numBlobs(false). Computes nothing.
  const kcBlob* getBlob(long id) const;
  // firstTop(shown), lastTop(shown): the first or last top-level blob, null when there is none.
  const kcBlob* firstTop(bool shown) const;
  const kcBlob* lastTop(bool shown) const;
  // allBlobs(shown): a new vector of the blobs, in id order (shown false) or view order. Cost:
  // linear in the number of blobs.
  std::vector<const kcBlob*> allBlobs(bool shown) const;
  // preCompute(m, shown): asks every blob (shown false, in id order) or every blob of the view
  // (shown true, in view order) for measure m, so that later queries find it cached. The values
  // are discarded. Measure errors propagate; the blobs asked before keep their caches.
  void preCompute(kcBlob::Measure m, bool shown) const;

  // ---- rendering, drawing, self-test ----

  // makeImage(shown, background): a new 8-bit image of the scene's window (its size and offset)
  // carrying the scene's client transform: every pel starts as background, then each blob of
  // allBlobs(shown), in that order, paints its own pels: a blob of a grey-scale or whole-image scene
  // with its pel values (its region's values), of a labelled scene with its label; a hole (label 0)
  // with 0. A hole left out of the view keeps the background, since its parent's pels do not cover
  // it. Throws Degenerate while degenerate; a measure error of the view's rebuild propagates.
  // Cost: the window's pels plus the painted blobs' runs and pels; no blob's region is cached.
  kcPelBuffer<unsigned char> makeImage(bool shown, unsigned char background) const;
  // draw(list, flags, shown): each blob of allBlobs(shown) draws itself (kcBlob::draw) with flags and
  // its position in that list as its label ("0", "1", ...). Throws Degenerate while degenerate; an
  // error of a blob's drawing propagates, the graphics already appended staying in the list.
  void draw(kcGraphicList& list, unsigned long flags, bool shown) const;
  // repInvariant(): nothing on a degenerate scene; otherwise throws kcInvariantFailure at the first
  // of: an analysis kind outside the enumeration; a cleanup outside it, or with minPels below 0; a
  // window under 1 pel wide, then high; a blob failing its own repInvariant (in id order); an id
  // of shownIds, topIds or shownTopIds (in that order, as stored) outside 1..numBlobs(false); a
  // filter whose high limit is not at least its low one; a set sort that is also disabled or has an
  // order other than 0 or 1; a disabled sort that is also set; and, in a grey-scale scene, a blob
  // whose label and its parent's are both 0 or both not 0 (blobs and holes alternate down the tree).
  // Changes nothing but the views and caches the blobs' checks bring up to date.
  void repInvariant() const;

  // ---- filters and sort ----
  // None of these checks the degenerate state. Every effective change moves the view counter
  // (once), so views are rebuilt on next use; a change that changes nothing moves nothing.

  // setFilter(m, low, high, exclude): appends a filter on m. Throws DuplicateFilter when m has a
  // filter already (tested first), then kcBlobDefs::BadParams unless low <= high (a limit that is
  // not a number is refused). Gives notice. m itself is not validated here.
  void setFilter(kcBlob::Measure m, double low, double high, bool exclude);
  // unSetFilter(m): gives notice; removes m's filter when there is one (later filters move down).
  void unSetFilter(kcBlob::Measure m);
  // clearFilters(): removes every filter; with none it does nothing at all.
  void clearFilters();
  // numFilters(): the number of filters.
  long numFilters() const;
  // getFilter(m, low, high, exclude): false, outputs untouched, when m has no filter; else fills
  // them and returns true.
  bool getFilter(kcBlob::Measure m, double& low, double& high, bool& exclude) const;
  // getFilter(index, m, low, high, exclude): the filter at position index (order of setting).
  // Throws kcBlobDefs::BadParams unless 0 <= index < numFilters(); outputs untouched then.
  void getFilter(long index, kcBlob::Measure& m, double& low, double& high, bool& exclude) const;

  // setSort(m, order): sorts the views by m in the given order (any order other than eAscending is
  // stored as eDescending). Nothing happens when exactly this sort is already set.
  void setSort(kcBlob::Measure m, SortOrder order);
  // getSort(m, order): true with the measure and order of an explicit sort; false, outputs
  // untouched, when no sort is set (default or disabled).
  bool getSort(kcBlob::Measure& m, SortOrder& order) const;
  // disableSort(): the views keep plain id order. Nothing happens when already disabled.
  void disableSort();
  // clearSort(): leaves an explicit sort, keeping its measure and order as the default order of the
  // views. Does nothing unless a sort is set.
  void clearSort();

  // ---- extrema exclusion (used by the oriented extents) ----
  // None checks the degenerate state or moves a counter; a refused value changes nothing.

  // extremaExcludeArea(area): area excluded at each extreme, in client units. Throws
  // kcBlobDefs::BadParams unless area >= 0 (not a number is refused). Gives notice.
  void extremaExcludeArea(double area);
  // extremaExcludeAreaPels(area): the same in image pels.
  void extremaExcludeAreaPels(double area);
  // extremaExcludeAreaPercent(percent): the same as a percentage of each blob's area. Throws
  // kcBlobDefs::BadParams unless 0 <= percent < 50 (not a number is refused). Gives notice.
  void extremaExcludeAreaPercent(double percent);
  // extremaExcludeArea(isClient, isPercent): the stored amount; the outputs receive its unit.
  double extremaExcludeArea(bool& isClient, bool& isPercent) const;
  // extremaAngle(): the angle of the oriented extents. extremaAngle(a) gives notice and stores a
  // unchanged (no normalisation).
  kcRadian extremaAngle() const;
  void extremaAngle(const kcRadian& angle);

  // ---- client coordinate transforms ----
  // The scene holds a transform pair: imageFromClient and its inverse clientFromImage. Each setter
  // gives notice and replaces the pair, unless the new pair holds the very transform object the
  // scene holds on the same side, or both are linear and equal. A replacement moves the transform
  // and view counters, and the matrix counter unless both pairs are linear with equal matrices (a
  // pure translation change). A transform that cannot be inverted, or a null handle, is refused by
  // the platform (kcBadArgument, kcBadPointer) and changes nothing.

  // clientFromImageXformBase(), imageFromClientXformBase(): the two sides; valid until the pair is
  // replaced (a copy of the handle keeps the transform alive).
  const kcPtrHandle_const<kc2XformBase>& clientFromImageXformBase() const;
  const kcPtrHandle_const<kc2XformBase>& imageFromClientXformBase() const;
  // Setters of one side; the other is derived. share true holds h's object itself (the caller must
  // not change it afterwards); false holds a private clone. The overloads without a handle clone.
  void clientFromImageXformBase(const kcPtrHandle_const<kc2XformBase>& h, bool share);
  void clientFromImageXformBase(const kc2XformBase& x);
  void imageFromClientXformBase(const kcPtrHandle_const<kc2XformBase>& h, bool share);
  void imageFromClientXformBase(const kc2XformBase& x);
  // clientFromImageXform(x), imageFromClientXform(x): set an affine side.
  void clientFromImageXform(const kcXform<2>& x);
  void imageFromClientXform(const kcXform<2>& x);
  // clientFromImageXform(), imageFromClientXform(): the affine sides. Throw kcBadArgument when the
  // pair is not linear.
  kcXform<2> clientFromImageXform() const;
  kcXform<2> imageFromClientXform() const;

 protected:
  // Archive form, version 0 (registered as "kcBlobSceneDescription"): the kcPersistent part, the
  // degenerate flag and the data through a pointer; another version throws
  // kcArchive::UnknownVersion("blob/blobdesc", 1161). The data hold everything else: settings,
  // transform pair, blobs with their caches, views and counters, so that a loaded scene answers
  // every query as the saved one did without rebuilding a view or recomputing a measure.
  // Loading is all or nothing: a damaged or hostile archive throws (kcArchive::Damaged,
  // kcArchive::UnknownVersion, or the platform's archive errors) and leaves the scene and its
  // blob pointers as they were. A null data pointer loads as a degenerate scene with default data.
  // Success invalidates the scene's blob pointers. Cost: linear in the archived bytes.
  void dispatchSerialize(kcArchive& ar) override;

 private:
  friend class kcBlob;
  friend class kc_BSDData;
  friend class kc_SceneBuilder;

  // reInit(): gives notice; the scene becomes degenerate with new default data (filters, sort,
  // extrema and transforms back to their initial values). Blob pointers become invalid.
  void reInit() override;
  // mask(m): gives notice and stores m as the mask of the blobs' interior test.
  void mask(const kcRLEBuffer& m);
  // checkDegenerate(): throws Degenerate while the scene is degenerate.
  void checkDegenerate() const {
    if (degenerate_) throwDegenerate();
  }
  [[noreturn]] static void throwDegenerate();
  // adopt(data): takes data as this scene's data and points it and its blobs back at this scene.
  void adopt(std::unique_ptr<kc_BSDData> data);

  void serialize_(kcArchive& ar, unsigned char version);
  static kcPersistent* make();
  static kc_Instantiator sExemplar;

  bool degenerate_ = true;
  std::unique_ptr<kc_BSDData> data_;  // never null
};

// Archive forms of the enumerations: the value as an int, taken unchecked on loading.
BLOB_EXPORT kcArchive& operator||(kcArchive& ar, kcBlobSceneDescription::Analysis& value);
BLOB_EXPORT kcArchive& operator||(kcArchive& ar, kcBlobSceneDescription::ConnectCleanup& value);

// kfConvertToFeatures(scene, reverse, topOnly): a new featurelet chain set holding one closed chain
// per blob of scene->allBlobs(true), in that order (with topOnly, of those without a parent). A
// chain has one featurelet per step of the blob's boundary chain code: the pel corner before each
// step, from the chain's start. Its sense follows d, the blob's depth in the tree (1 at the top
// level, 2 for a hole of it, ...) plus 1 with reverse: chain order when d is odd, reverse order when
// even, so a blob and its holes run in opposite senses. Each featurelet's direction is normal to
// the boundary: the angle of next - previous corner plus pi/2, in [0, 2 pi), which points into a
// blob taken in chain order (the blob lies right of the chain's travel) and out of one taken in
// reverse; a corner whose neighbours coincide has none (hasDirection 0, angle 0). magnitude is 0;
// other fields keep what kfeat_featurelet_init gives. Positions and directions are in client
// coordinates: unless the clientFromImage transform is linear and within 1e-15 of the identity, the
// set is mapped through it (kcFeatureletChainSet::map). A null scene gives an empty set without an
// imageFromClient transform; a scene with no featurelet to convert (every blob filtered out, say)
// an empty set carrying the scene's imageFromClient transform, shared.
// Throws kcBlobSceneDescription::Degenerate for a degenerate scene and kcBlob::BadMeasure in a
// whole-image scene (no chain code); a measure error of the view's rebuild, the transform's refusal
// of a point (kcBadArgument), a failed featurelet call (kcBadArgument, std::bad_alloc) and a total
// beyond the featurelet library's int counts (kcBadArgument) pass through. A failure returns nothing
// and leaves no chain set behind. Effects: the view may be brought up to date (giving notice); a
// blob's cached chain code is used, one not yet traced is traced and not cached. Cost: the view,
// plus the chain codes' lengths.
BLOB_EXPORT kcPtrHandle<kcFeatureletChainSet> kfConvertToFeatures(const kcBlobSceneDescription* scene,
                                                                  bool reverse, bool topOnly);
// kfConvertToFeatures(blob, reverse): a new featurelet chain set holding the one chain of blob, the
// chain kfConvertToFeatures(blob.scene(), reverse, false) makes for it: the same points, sense,
// directions and client coordinates. So a scene's chains can be made and used one blob at a time,
// without holding them all. Throws kcBadArgument for a blob of no scene; otherwise throws as the
// scene form does for one blob, and changes what it changes for it. Cost: the blob's chain code.
BLOB_EXPORT kcPtrHandle<kcFeatureletChainSet> kfConvertToFeatures(const kcBlob& blob, bool reverse);
