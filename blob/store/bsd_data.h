// kc_BSDData: everything a scene description holds (analysis settings, transform pair, filters,
// sort, extrema, views, change counters, the blob store). Internal: shared by the scene, the blobs and the
// connectivity engine.
#pragma once

#include <blob/blob.h>
#include <blob/blobdesc.h>

#include "store/blob_record.h"
#include "store/blob_array.h"
#include "store/blob_store.h"
#include "store/view_sort.h"

#include <foundation/geometry.h>
#include <foundation/handle.h>
#include <foundation/persistent.h>
#include <foundation/rlebuffer.h>
#include <foundation/xform.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// kc_BSDData: the data of one scene description. Fields are public so that the scene's own
// sources and the connectivity engine's finishing pass can fill them; callers outside blob/ never
// see this class.
//
// Invariants: connectivityKind and cleanupKind are 0, 1 or 2; minPels >= 0 when cleanupKind is not
// eNone; sceneWindow is at least 1 x 1 once the scene is analysed; every id in shownIds, topIds and
// shownTopIds lies in 1..store.size(); sortSet and sortDisabled are never both true; sortOrder is
// 0 or 1; no counter holds kNeverComputed.
class kc_BSDData : public kcPersistent {
 public:
  using Analysis = kcBlobSceneDescription::Analysis;
  using ConnectCleanup = kcBlobSceneDescription::ConnectCleanup;
  using SortOrder = kcBlobSceneDescription::SortOrder;

  kc_BSDData() = default;
  // Deep copy: the blob store, the three id lists, filters, settings, transform pair, derived
  // values and counters as they stand (views stay valid). augmentedCache is shared. scene is
  // copied; the owning scene resets it and makes its blob objects (kcBlobSceneDescription::adopt).
  kc_BSDData(const kc_BSDData& other) = default;
  kc_BSDData& operator=(const kc_BSDData&) = delete;
  ~kc_BSDData() override;

  // Archive form, version 3 (registered as "kc_BSDData"; versions 0 to 3 are read, a newer one
  // throws kcArchive::UnknownVersion("blob/blobdesc", 1176)): settings, window, transform pair,
  // derived values, counters, the blob array, the three id lists, view counters, filters, sort,
  // extrema and the mask. Loading goes into a new object (the scene loads its data through a
  // pointer) and refuses with kcArchive::Damaged anything a query could not survive: enumeration
  // values outside their enumerators (analysis, cleanup, sort order), a sort both set and
  // disabled, an invalid filter or exclusion, ids out of range, a blob tree whose links do not
  // form one list per parent, a count larger than the bytes left. View links that do not match
  // their lists are dropped (the views are rebuilt on next use); counters holding 0xFFFFFFFF
  // become 0; the derived transform values are computed again from the transform. Blobs of the
  // oldest blob form carry no links: they stand at the top level, linked in the order of topIds,
  // those outside it appended in id order.
  void dispatchSerialize(kcArchive& ar) override;

  // ---- counters ----
  // advance(counter): counter + 1, skipping kNeverComputed (which the records use for "never
  // computed"), so a wrapped counter never makes such a stamp look current. Call after mutating().
  static void advance(std::uint32_t& counter) {
    ++counter;
    if (counter == kNeverComputed) counter = 0;
  }
  // sanitizeCounters(): replaces a counter holding kNeverComputed (possible only in loaded data)
  // by 0. Call after loading.
  void sanitizeCounters();

  // ---- blob lookup ----
  // numBlobs(): the number of blobs.
  std::uint32_t numBlobs() const { return store.size(); }
  // validId(id): 1 <= id <= numBlobs().
  bool validId(std::uint64_t id) const { return id - 1 < store.size(); }  // 0 wraps above
  // blobAt(id): the blob with that id. Every lookup by a stored id goes through here. Throws
  // kcBlobSceneDescription::BadId for an id outside 1..numBlobs(); 0 included; std::bad_alloc when
  // the blob objects must be made (see objects()).
  const kcBlob& blobAt(std::uint64_t id) const {
    if (!validId(id)) throwBadId();
    return objects()[id - 1];
  }
  kcBlob& blobAt(std::uint64_t id) {
    if (!validId(id)) throwBadId();
    return objects()[id - 1];
  }
  // objects(): the blob objects, at least numBlobs() of them. They are made at the first need
  // after an analysis that left more blobs than there are objects (an analysis does not make them,
  // so its peak holds no blob objects); may throw std::bad_alloc then, changing nothing.
  kc_BlobArray& objects() const {
    if (blobObjects.capacity() < store.size()) makeObjects();
    return blobObjects;
  }
  // dropObjectsIfShort(): releases the blob objects when they are fewer than the blobs (the
  // analysis that just installed its blobs), so that they are made anew at the first need.
  void dropObjectsIfShort() noexcept;
  // throwBadId(): throws kcBlobSceneDescription::BadId for an id the checks refuse.
  [[noreturn]] static void throwBadId();
  // entryAt(id): the store's entry of blobAt(id), same check.
  kc_BlobEntry& entryAt(std::uint64_t id);
  // prevSiblingOf(id), numChildrenOf(id): the previous sibling of blob id (1..numBlobs(),
  // unchecked; 0 for a first child or the first top-level blob: the blob whose next sibling it is)
  // and the number of its children (the length of its child list). The first call of each after
  // the blobs changed makes every blob's (store.prevs, store.counts) from the child lists and
  // topIds, walking no further than numBlobs() steps in all; may throw std::bad_alloc then.
  BlobId prevSiblingOf(BlobId id);
  std::uint32_t numChildrenOf(BlobId id);
  // makeTreeLinks(): store.prevs and store.counts, unless they are made.
  void makeTreeLinks();
  void makePrevs();
  void makeCounts();
  // checkWalk(steps): internal assertion that a walk along sibling links has taken no more than
  // numBlobs() steps; stored links come from archives, and a cycle must not hang a query.
  void checkWalk(std::size_t steps) const;

  // attach(owner): sets scene to owner and points the blob objects made so far at it.
  void attach(const kcBlobSceneDescription* owner) noexcept;
  // install(fresh, ids): takes the blobs of an analysis: swaps fresh into the store and ids into
  // topIds (the previous ones are left in the arguments, emptied, for reuse), and drops the blob
  // objects when they are too few (dropObjectsIfShort). The storage of the on-demand caches stays
  // with the current store. Gives notice. Cannot fail.
  void install(kc_BlobStore& fresh, std::vector<BlobId>& ids) noexcept;

  // ---- transform pair ----
  // replaceXform(n, blobCaches): replaces the transform pair with n unless n holds the very object
  // the pair holds on either side, or both are linear and equal. A replacement gives notice, moves
  // transformCounter and viewCounter, moves matrixCounter unless both are linear with equal
  // matrices, and recomputes xformIsLinear and the derived client values; with blobCaches, centres
  // of mass the store marks as computed become records first, keeping the transform they were
  // computed under (an analysis that replaces the blobs passes false). Returns whether the pair
  // was replaced. Strong guarantee.
  bool replaceXform(const kc2XformCache& n, bool blobCaches = true);

  // ---- views (filtered and sorted) ----
  // A blob is in a view when it passes every filter (in order of setting; the first failing one
  // ends the test); the view is ordered by the sort measure with kf_ViewSort unless the sort is
  // disabled. Each rebuild computes a blob's measures at most once per filter and its key once.
  // updateShownIds(): brings shownIds up to date (when shownIdsCounter != viewCounter), giving
  // notice. updateShownTop(): the same for shownTopIds, writing the top-level blobs' nextShown and
  // prevShown. childView(first, firstShown, numShown): the view of the children listed from first
  // along nextSibling: writes their shown links and returns the first kept id (0 when none) and
  // the number kept; the caller stamps the parent. A blob left out of a view it was a candidate
  // for gets null shown neighbours. A failing measure propagates and leaves the view stale (its
  // counter or stamp untouched), so the next query tries again.
  void updateShownIds();
  void updateShownTop();
  void childView(BlobId first, BlobId& firstShown, std::uint32_t& numShown);
  // passesFilters(blob): the filter test of one blob. Measure errors propagate.
  bool passesFilters(const kcBlob& blob) const;
  // viewBuilds: the number of view rebuilds begun (all three kinds); a test seam, never archived.
  std::uint64_t viewBuilds = 0;

  // ---- archive ----
  // deriveXformValues(): xformIsLinear, the identity flags and the five client scales, computed
  // from xformCache as replaceXform does.
  void deriveXformValues();
  // storingBlobs: true while the blob array is being written (a blob of the scene is archived
  // only as part of it).
  bool storingBlobs = false;
  // retired: objects a load created that nothing uses (the legacy object of the oldest blob
  // form), kept while the data live so that the archive never names freed memory. Shared by copies.
  std::vector<std::shared_ptr<kcPersistent>> retired;

  // ---- fields, in archive order (initial values of a new scene) ----
  const kcBlobSceneDescription* scene = nullptr;  // the owning scene
  Analysis connectivityKind = kcBlobSceneDescription::eGreyScale;
  unsigned char scaleVal = 0;
  ConnectCleanup cleanupKind = kcBlobSceneDescription::eNone;
  std::int32_t minPels = 0;        // set only when a cleanup was requested
  kcRLEBuffer mask;                // interior-test mask; degenerate when none
  kc2XformCache xformCache;        // xform() imageFromClient, xformInverse() clientFromImage
  bool clientIsIdentity = true;
  bool clientMatrixIsIdentity = true;
  bool xformIsLinear = true;
  double clientXScale = 1.0;       // of the linear clientFromImage; all five 0.0 when not linear
  double clientYScale = 1.0;
  double clientAreaScale = 1.0;
  double clientAspect = 1.0;
  double clientScale = 1.0;
  std::uint32_t transformCounter = 0;  // moves on every replacement of the transform pair
  std::uint32_t matrixCounter = 0;     // moves when the linear part changes or a side is non-linear
  kcPelRect sceneWindow;               // the analysed image's window
  kc_BlobStore store;                  // every blob's entry, runs and caches; entry i has id i + 1
  mutable kc_BlobArray blobObjects;    // the kcBlob of each id, made on demand: read through objects()
  std::vector<BlobId> shownIds;        // view of all blobs; current while shownIdsCounter == viewCounter
  std::vector<BlobId> topIds;          // top-level blobs in engine order
  std::vector<BlobId> shownTopIds;     // view of the top level; current while shownTopCounter == viewCounter
  std::uint32_t viewCounter = 0;       // moves on filter, sort, transform change and every analysis
  std::uint32_t shownTopCounter = 0;
  std::uint32_t shownIdsCounter = 0;
  std::vector<kcBlobFilter> filters;   // in order of setting, at most one per measure
  bool sortSet = false;
  bool sortDisabled = false;
  kcBlob::Measure sortMeasure = kcBlob::eArea;
  SortOrder sortOrder = kcBlobSceneDescription::eDescending;
  double extremaExcludeArea = 0.0;
  bool extremaAreaIsClient = true;
  bool extremaAreaIsPercent = false;
  kcRadian extremaAngle;
  // The connectivity engine's augmented run image (a kc_ConnectivityAugmentedRLE; the engine
  // checks the class), shared by copies, never archived.
  kcPtrHandle<kcRepBase> augmentedCache;

 private:
  void makeObjects() const;
  void serialize_(kcArchive& ar, unsigned char version);
  void archiveSettings(kcArchive& ar, unsigned char version);
  void archiveViews(kcArchive& ar, unsigned char version);
  void storeBlobs(kcArchive& ar);
  void loadBlobs(kcArchive& ar);
  void loadBlob(kcArchive& ar, kcBlob& blob, BlobId id, kc_BlobStore& fresh, kc_ShownLinks& links);
  // checkLoaded(): the checks and mends of a load (see dispatchSerialize).
  void checkLoaded();
  // dropViews(): every view stale, so each is rebuilt on next use.
  void dropViews();
  // linkOldestBlobs(): the top-level links of blobs read in the oldest form, which has none.
  void linkOldestBlobs();
  // legacyBlobs: during a load, which blobs were read in the oldest form (their links unknown).
  std::vector<bool> legacyBlobs;
  static kcPersistent* make();
  static kc_Instantiator sExemplar;

  // selectShown(ids): filters and orders ids in place for a view.
  void selectShown(std::vector<BlobId>& ids);
  // linkShown(candidates, ids): clears the shown neighbours of every candidate, then writes
  // prevShown and nextShown of each id of the view along ids.
  void linkShown(const std::vector<BlobId>& candidates, const std::vector<BlobId>& ids);

  // Working storage of the rebuilds, kept between them so that the views of many small families
  // allocate nothing each; a copy starts empty.
  struct Scratch {
    Scratch() = default;
    Scratch(const Scratch&) {}
    Scratch& operator=(const Scratch&) { return *this; }
    std::vector<kc_ViewKey> keys;
    std::vector<BlobId> candidates;
    std::vector<BlobId> ids;
  };
  Scratch scratch_;
};
