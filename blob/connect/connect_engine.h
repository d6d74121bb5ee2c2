// The connectivity engine: one run of grey-scale or labelled connectivity over a run-length image,
// from the scan through cleanup to the numbered blobs it writes into a blob store, and the rows of
// their regions when they are asked for.
#pragma once

#include "connect/connect_augmented.h"
#include "connect/connect_neighbours.h"
#include "connect/connect_regions.h"
#include "store/blob_store.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <utility>
#include <vector>

class kcRLEBuffer;
class kc_BandRows;

// kc_CleanupKind: what happens to regions smaller than the minimum pel count.
enum class kc_CleanupKind : std::int32_t { eNone = 0, ePrune = 1, eFill = 2 };

// kc_OrderScratch: what one thread of the move to id order in blocks keeps between runs.
struct kc_OrderScratch {
  std::vector<std::uint32_t> taken;
  std::vector<std::vector<std::uint32_t>> away;
  std::vector<kc_BlobEntry> copy;
};

// kc_ListRest: a child list a slice of linkChildren left unfinished: its blob's id and the retired
// index of the first child not yet linked.
struct kc_ListRest {
  std::uint32_t parent;
  std::uint32_t next;
};

// kc_ConnectWorkspace: the engine's arrays, kept between runs (inside the scene's cached
// kc_ConnectivityAugmentedRLE) so that analysing images of one size again allocates nothing.
// Every run starts by emptying them; their capacity stays.
struct kc_ConnectWorkspace {
  std::vector<kc_ScanRun> rowA, rowB;      // the runs of the row above and of the current row
  std::vector<std::uint32_t> up;            // label sets: parent label, or kRootFlag | where
  std::vector<kc_ConnectRegion> regions;    // open records by slot
  std::vector<RegionIndex> freeSlots;       // freed slots, reused last in first out
  std::vector<std::uint32_t> siblings;      // by slot: the next child, under the fill cleanup
  std::vector<kc_LabelledRegion> labelled;  // beside each slot, labelled connectivity only
  std::vector<kc_NeighbourNode> nodes;      // neighbour list nodes by slot
  std::vector<NodeIndex> freeNodes;
  kc_NeighbourIndex index;
  std::vector<RegionIndex> stack, listed;   // the enclosure flood
  std::vector<std::uint64_t> bits;          // by label: the first labels of the retired regions
  std::vector<std::uint32_t> counts;        // finishing pass: marked labels before each word of
                                            // bits (their ranks give the ids); radix counts
  std::vector<std::uint64_t> order, scratch;  // finishing pass: the top level sorted by serial
  std::vector<std::uint32_t> counts2;         // and the counts of that sort
  std::vector<std::uint32_t> topNext;         // by id, the next top-level id (linkTop, topsById)
  std::vector<std::uint32_t> rowIds;          // rows: by retired index, the blob id
  // The move to id order in blocks (kc_ConnectEngine::orderInBlocks): dropped entries before each
  // block, the places holding another block's entry by block, and per thread the same within a
  // block and the copy of a block of it.
  std::vector<std::uint32_t> orderDropped, orderTaken;
  std::vector<std::vector<std::uint32_t>> orderAway;
  std::vector<kc_OrderScratch> orderScratch;
  // Linking children (kc_ConnectEngine::linkChildren): by retired index, 1 once linked as a child
  // or as a top-level entry (linkTop, markTops);
  // per slice, the lists left unfinished; how far each list is walked (tests lower it).
  std::vector<std::uint8_t> linked;
  std::vector<std::vector<kc_ListRest>> listRests;
  std::size_t walkLimit = std::size_t{1} << 12;
  // Fill chains of the grey-scale fill while rows are made: the labels of each open region in a
  // chain, and which labels were filled into their encloser.
  std::vector<LabelId> nextLabel;
  std::vector<LabelId> chainHead, chainTail;  // by slot
  std::vector<std::uint8_t> filled;           // by label
  std::vector<kc_BlobBuild> builds;           // rows: by blob id - 1
  std::shared_ptr<kc_RowMaker> makers[2];     // the row makers of the scenes' stores, reused
  // Bands (kf_ConnectInBands): the workspaces and stores of the bands below the first, kept like
  // the arrays above so that connecting in bands again allocates nothing. Not counted by
  // kf_WorkspaceNeeds.
  std::vector<std::unique_ptr<kc_ConnectWorkspace>> bandSpaces;
  std::vector<std::unique_ptr<kc_BlobStore>> bandStores;
  std::size_t bandsScanned = 0;  // by the last call, bands split off included
  std::vector<kc_FillClose> closes;  // by retired index, while bands defer the fill (cleanupInBand)
  // The store an analysis that cannot write the scene's blobs in place fills, and the top-level ids
  // such a run writes (see connectRuns).
  std::unique_ptr<kc_BlobStore> aside;
  std::vector<BlobId> asideTopIds;
  // Streams (connect_stream.cpp): the runs kept for the rows of the open regions (by slot) and of
  // the retired entries of trees not complete yet (by retired index), in no order, and empty arrays
  // with room, for the next regions; the tops (retired indices) of the trees complete but not taken.
  std::vector<std::vector<kc_StreamRun>> slotRuns, entryRuns, spareRuns;
  std::vector<RetiredIndex> completed;
  std::vector<std::uint8_t> metAbove;  // by run of the row above: a run of its kind in the row below touches it
};

// kc_StreamRunPool: the room of the run arrays of trees taken out of a stream, given back when
// their scenes go (on any thread) and taken again for the next trees, so that a caller who releases
// the trees it took seldom has the stream allocate for their runs. Holds at most kMaxRuns runs of
// room, in at most kMaxArrays arrays of at most kLargest each.
class kc_StreamRunPool {
 public:
  static constexpr std::size_t kMaxRuns = std::size_t{1} << 16;  // 1 MiB
  static constexpr std::size_t kLargest = std::size_t{1} << 14;
  static constexpr std::size_t kMaxArrays = 64;

  kc_StreamRunPool() { spare_.reserve(kMaxArrays); }
  // take(n): an empty array with room for n runs or more: a spare one when one of the last few
  // given is large enough, else a new one. May throw std::bad_alloc.
  std::vector<kc_StreamRun> take(std::size_t n);
  // give(runs): runs emptied, and its room kept for a later take unless the pool is full.
  void give(std::vector<kc_StreamRun>& runs) noexcept;

 private:
  std::mutex mutex_;
  std::vector<std::vector<kc_StreamRun>> spare_;
  std::size_t room_ = 0;  // runs of room held
};

// kc_StreamScratch: what taking a tree out of a stream (kc_ConnectEngine::takeTree) works in, kept
// from tree to tree, and the pool of its trees' run arrays.
struct kc_StreamScratch {
  std::vector<std::pair<LabelId, RetiredIndex>> members;
  std::vector<RetiredIndex> pending;
  std::shared_ptr<kc_StreamRunPool> pool = std::make_shared<kc_StreamRunPool>();
};

// kc_WorkspaceNeeds: the capacities of a workspace's arrays after a run. A workspace reserved to
// them (kf_ReserveWorkspace) runs the same image again on one thread without allocating, unless
// the run was in bands (kf_ConnectInBands), whose arrays bound nothing of a one-thread run: its
// caller clears oneThread then.
struct kc_WorkspaceNeeds {
  std::size_t rowRuns = 0, up = 0, regions = 0, freeSlots = 0, siblings = 0, labelled = 0, nodes = 0,
              freeNodes = 0, indexSlots = 0, stack = 0, listed = 0, bits = 0, counts = 0, order = 0,
              scratch = 0, counts2 = 0;
  bool oneThread = true;
  bool operator==(const kc_WorkspaceNeeds&) const = default;
};
kc_WorkspaceNeeds kf_WorkspaceNeeds(const kc_ConnectWorkspace& ws);
// kf_ReserveWorkspace(ws, needs): every array of ws gets at least the capacity needs gives. May
// throw std::bad_alloc (what was reserved stays).
void kf_ReserveWorkspace(kc_ConnectWorkspace& ws, const kc_WorkspaceNeeds& needs);

// kc_SeamClasses: the regions of one row as a scan of every row down to it leaves them: for each
// maximal run of one kind (foreground: any non-zero value; background: 0) from the left, the class
// of its region; classes are numbered in order of their first run.
struct kc_SeamClasses {
  std::vector<std::uint32_t> ofRun;
  std::uint32_t classes = 0;
};

// kc_BandBase: where a band's labels (and serials), entries and listed top level start in the
// joined engine's.
struct kc_BandBase {
  std::uint32_t labels = 0;
  std::uint32_t entries = 0;
  std::size_t tops = 0;
};

// kc_ConnectEngine: one connectivity run. The scan reads the image row by row, gives every run a
// label, merges and encloses regions, and counts each region's pels, extents and first moments as
// it goes; an enclosed region can change no more and retires into the output store at once. The
// finishing pass drops the regions that get no blob, numbers the others in raster order of their
// first pel (the order of their smallest labels), links the tree and moves the entries to their
// ids' places.
// Nothing reads the image a second time: the rows of the blobs' regions are written only by a run
// that recorded every run's label (recordLabels, then writeRows), which the scene starts when a
// blob's rows are first needed.
//
// Working memory, kept in the workspace: two rows of runs; one 32-bit word per label (grey-scale:
// one label per region created; labelled: one per run) and a bit per label for the numbering; 64
// bytes per open region (plus 40 in labelled connectivity) and neighbour nodes of 12 bytes; 16 per
// top-level blob for their order. Open regions are those the scan may still touch: the
// regions of the last two rows and those nothing encloses (under the fill cleanup, every region).
// No allocation per run, region or blob: the arrays grow geometrically and keep their capacity.
//
// Typical use: kc_ConnectEngine engine(image, workspace, store, labelled, cleanup, minPels);
//              engine.scan(); engine.finish(topIds);
class kc_ConnectEngine {
 public:
  // Preconditions (internal assertions): image is not degenerate. Throws kcBadArgument when the
  // image has 2^31 - 1 runs or more (labels and records are 31-bit). minPels is only read when
  // cleanup is not eNone. out is cleared (its storage kept) and receives the blobs; origin is
  // the image's offset.
  kc_ConnectEngine(const kcRLEBuffer& image, kc_ConnectWorkspace& workspace, kc_BlobStore& out,
                   bool labelled, kc_CleanupKind cleanup, PelCount minPels);
  kc_ConnectEngine(const kc_ConnectEngine&) = delete;
  kc_ConnectEngine& operator=(const kc_ConnectEngine&) = delete;

  // recordLabels(labels): before scan(): every run's label goes to labels (cleared first), in
  // raster order, so that writeRows() can follow. Costs 4 bytes per run.
  void recordLabels(std::vector<LabelId>& labels);

  // scan(): the grey-scale or labelled scan over every row, with the close-time cleanup. Calls
  // kf_CheckStop() (kcAttention::check() outside a pool's task) before each row y with
  // y mod 16 = 15; whatever it throws passes through.
  void scan();

  // finish(topIds): the finishing pass: the labelled fill's merging and tree building, dropping
  // the regions that get no blob, numbering in raster order of first pel, the tree links and the
  // entries in id order in the output store; the top-level ids into topIds. Must follow scan(),
  // once. On an exception the store holds a partial result that must not be used.
  // Cost: linear in the labels and the regions (a radix sort of the top level). threads above 1
  // (grey-scale or labelled, without recorded labels): the child links and the move to id order
  // run on up to that many threads (kc_WorkPool); the result is the same.
  void finish(std::vector<BlobId>& topIds, unsigned threads = 1);

  // writeRows(): after finish(), when labels were recorded: every blob's rows into the output
  // store's run bytes, exactly sized, and their offsets. Cost: two passes over the recorded runs.
  void writeRows();

  // restoring(): the run puts a scene's previous blobs back, which must neither be stopped nor
  // allocate: the scan calls no attention check, and the finish moves the entries to id order in
  // place, within the workspace's arrays (the quicker move in blocks takes scratch memory).
  void restoring() {
    attend_ = false;
    restoring_ = true;
  }

  // keepEdgeNeighbours(): before scan(), labelled connectivity: regions on the image's edge keep
  // their neighbour lists as the fill needs them (see markEdge), so that tests can check that
  // leaving them out changes nothing.
  void keepEdgeNeighbours() { edgeLists_ = true; }

  // rowHook(f): f(y) is called after each scanned row y (tests check invariants there).
  void rowHook(std::function<void(RowIndex)> f) { rowHook_ = std::move(f); }

  // checkInvariants(): walks every open record and checks the invariants stated in
  // connect_regions.h and the labels of the last row scanned; a failure is an internal assertion.
  // Debug builds run it at the end of every scan. Cost: linear in records, labels and neighbour
  // entries (quadratic in the neighbours of one region for the symmetry check; for small images).
  void checkInvariants() const;

  // retired(): after finish(), the entries the store held before those without a blob were cut
  // off (what an analysis of the same image needs of it again).
  std::size_t retired() const { return retired_; }

  // regionCount(): open region records, the outside included. For tests.
  std::size_t regionCount() const { return regionCount_; }

  // Bands of rows (connect_bands.cpp): grey-scale connectivity, each band scanned by an engine of
  // its own, the first band's engine joining the others' into its result; the cleanup of the
  // regions each band holds whole is decided in the band, the rest's after the join (pruneJoined,
  // fillJoined).
  // scanBand(rows, above): scan() over the band's rows only, from rows.top() for as long as
  // rows.take() gives them (another thread may cut the band short meanwhile). With above (any band
  // but the first: the classes of the row above its top), that row's regions are first made as
  // placeholders, one record per class in class order (labels and serials 0 .. classes - 1), each
  // with no pels and a marker child (entry k of the store, which is no blob); the rows below then
  // take every decision the scan of the whole image takes there.
  void scanBand(kc_BandRows& rows, const kc_SeamClasses* above);
  // takeSeam(classes, seam): after scanBand: the open regions of the last row scanned, by class
  // (classes of that row), leave this engine into seam.
  void takeSeam(const kc_SeamClasses& classes, std::vector<kc_ConnectRegion>& seam);
  // beginJoin(labels, entries, tops): after takeSeam, before the bands join: room for the whole
  // image's labels, the entries of every band and the top level their scans listed; the label
  // sets, the largest of these, are left to growLabels.
  void beginJoin(std::uint32_t labels, std::uint32_t entries, std::size_t tops);
  // growLabels(labels): after beginJoin, before joinBand: room in the label sets for every label,
  // the new ones zeroed. Reads and writes nothing that copyBand does, beside which it may run.
  void growLabels(std::uint32_t labels);
  // copyBand(band, base, piece, pieces): piece (of pieces equal parts) of band's entries (its
  // markers excepted) into this engine's store from base.entries on, labels and serials counted
  // from base.labels and links from base.entries, and of the top level its scan listed into this
  // engine's from base.tops on; what stems from placeholders is left to joinBand, and the entries
  // whose sibling is a marker are noted in band. Writes nothing else, so copies of several bands,
  // and of pieces of one, may run at once.
  void copyBand(kc_ConnectEngine& band, const kc_BandBase& base, std::size_t piece, std::size_t pieces);
  // joinBand(band, base, seam, next, nextSeam): after copyBand, bands in order: band's records
  // that hold placeholders take the pels, extents, keys, serials and children of seam (the regions
  // of the row above band, joined so far); band's keys join this engine's; band's open regions go
  // to nextSeam by next (the classes of its last row), or, without next or outside that row,
  // become open regions of this engine. finish() follows the last.
  void joinBand(kc_ConnectEngine& band, const kc_BandBase& base, const std::vector<kc_ConnectRegion>& seam,
                const kc_SeamClasses* next, std::vector<kc_ConnectRegion>& nextSeam);
  // cleanupInBand(cleanup, minPels): before scanBand: a region closing without a placeholder (held
  // whole by the band, and so are its children) has its final count and children, so the cleanup
  // is decided as the whole scan decides it then: a small one is pruned or filled at once, a kept
  // one retires. The others are left to pruneJoined or fillJoined after the join; for the fill,
  // every entry keeps its pel count and sums beside it (ws.closes) and each of their closes appends
  // the closed entry's phantom to its encloser's child list.
  void cleanupInBand(kc_CleanupKind cleanup, PelCount minPels);
  // fillJoined(minPels): after the last joinBand of bands that deferred the fill, before finish():
  // the grey-scale fill with minPels as the scan of the whole image applies it when regions close.
  // See the definition for why the result is that scan's. Linear in the entries.
  void fillJoined(PelCount minPels);
  // pruneJoined(minPels): after the last joinBand, before finish(): the prune cleanup with minPels
  // as the scan of the whole image applies it when regions close. A closed region is pruned there
  // if it is small and every region it enclosed was pruned; nothing else the scan does depends on
  // it (a pruned region's pels go nowhere, and a closed region is never touched again). Entries
  // retire in the order their regions close, children before their encloser, so one pass in entry
  // order decides each from its final children, unmarks the pruned and takes them out of the child
  // lists; finish() then drops the small childless top level. Linear in the entries.
  void pruneJoined(PelCount minPels);
  // Streams (connect_stream.cpp): grey-scale connectivity over an image that arrives in bands of
  // rows, of any height. Each run is kept with its region, for the rows of the blobs; a tree
  // (a top-level blob with every region it encloses) is complete once nothing can touch it: when
  // it closes inside background that reaches the image's left, right or top edge, when the
  // background around it comes to reach one, when the row after its last row does not enclose it
  // (then nothing can), or at the end. Background that reaches an edge keeps no runs. The cleanup
  // is decided as regions close, as a band that holds them whole decides it (cleanupInBand).
  // StreamTag constructor: a stream of images width pels wide; out receives the retired entries.
  struct StreamTag {};
  kc_ConnectEngine(StreamTag, Column width, kc_ConnectWorkspace& workspace, kc_BlobStore& out,
                   kc_CleanupKind cleanup, PelCount minPels);
  // streamRows(rows, count, binary): the next count rows, rows[k] each a row of two-byte runs
  // covering the width; binary: their values are all 0 or 1. Calls kf_CheckStop() before each row y
  // with y mod 16 = 15. The trees they complete are listed in completed(). While every row so far
  // is binary, entries are written as an analysis of a binary image writes them.
  void streamRows(const unsigned char* const* rows, std::size_t count, bool binary);
  // endStream(): the image ends: every tree is complete.
  void endStream();
  // completed(): the tops (retired indices) of the trees complete and not taken, in order.
  std::vector<RetiredIndex>& completed() { return ws_.completed; }
  // takeTree(top, tree, scratch): the tree of completed top into tree (cleared first): its entries in
  // raster order of their first pels (ids from 1) with their links, as the finishing pass of an
  // analysis of the whole image leaves them, and a maker of their rows that holds their runs. False
  // (tree empty) when the cleanup drops the top (small and childless). Its entries are spent.
  bool takeTree(RetiredIndex top, kc_BlobStore& tree, kc_StreamScratch& scratch);
  // heldFrom(): the first row (in the image's rows, whatever the compaction) of a run kept or a
  // tree not taken (the rows scanned when there is none). Cost: linear in the open regions.
  std::int64_t heldFrom() const;
  // compactIfSparse(): when the labels and entries made are many more than those still in use,
  // they are renumbered in order (keys keep their order), so that a stream's memory follows the
  // regions open and the trees not complete, not the rows scanned. Only between rows, with no
  // completed tree untaken; nothing once the stream ended.
  void compactIfSparse();

  // labelCount(), entryCount(), topCount(), placeholders(): a band's totals, for the offsets.
  std::uint32_t labelCount() const { return static_cast<std::uint32_t>(ws_.up.size()); }
  std::uint32_t entryCount() const { return static_cast<std::uint32_t>(out_.entries.size()); }
  std::size_t topCount() const { return ws_.order.size(); }
  std::uint32_t placeholders() const { return placeholders_; }

 private:
  using Region = kc_ConnectRegion;

  // ---- records (connect_engine.cpp) ----
  Region& reg(RegionIndex r) { return ws_.regions[r]; }
  const Region& reg(RegionIndex r) const { return ws_.regions[r]; }
  // rootOf(label): the root label of the label's set. Halves the path.
  LabelId rootOf(LabelId label) {
    std::uint32_t* up = ws_.up.data();
    while ((up[label] & kRootFlag) == 0) {
      const LabelId next = up[label];
      if ((up[next] & kRootFlag) == 0) up[label] = up[next];
      label = next;
    }
    return label;
  }
  // regionOf(label): where the label's region is (see the label sets in connect_regions.h).
  RegionIndex regionOf(LabelId label) { return ws_.up[rootOf(label)] & ~kRootFlag; }
  // nearRegionOf(label): regionOf for the binary scan, where most labels are a root or one step
  // from it: those two cases take no branch that noise makes unpredictable.
  RegionIndex nearRegionOf(LabelId label) {
    const std::uint32_t* up = ws_.up.data();
    const std::uint32_t u = up[label];
    const std::uint32_t isRoot = 0u - (u >> 31);  // all ones when u is a root's (kRootFlag)
    const LabelId near = (label & isRoot) | (u & ~isRoot);
    const std::uint32_t v = up[near];
    if ((v & kRootFlag) != 0) [[likely]] return v & ~kRootFlag;
    return regionOf(label);
  }
  // peekRegion(label): regionOf without shortening the path, for checks over const records.
  RegionIndex peekRegion(LabelId label) const {
    while ((ws_.up[label] & kRootFlag) == 0) label = ws_.up[label];
    return ws_.up[label] & ~kRootFlag;
  }
  // isOpen(r): r names a slot holding a region. The bound is checked in every build (a region index
  // read from a label indexes the records); the rest in debug builds.
  bool isOpen(RegionIndex r) const {
#ifndef NDEBUG
    if (r < slots_ && reg(r).released) return false;
#endif
    return r < slots_;
  }
  void startRun(std::size_t rowRuns);
  // kPlain (the record operations below): the run is plain() and the caller knows it, so nothing
  // beside the records is looked at.
  template <bool kPlain = false>
  RegionIndex newRegion(std::uint8_t value, Column x, RowIndex y, Column n);
  RegionIndex newSlot();
  RegionIndex newOutside();
  LabelId newLabel(RegionIndex r);
  void freeSlot(RegionIndex r);
  // addRun(g, x, xe, y): the run's pels join region g.
  static void addRun(Region& g, Column x, Column xe, RowIndex y) {
    const auto pels = static_cast<std::uint64_t>(xe - x);
    g.pelCount += pels;
    g.sumX += pels * static_cast<std::uint64_t>(x) + pels * (pels - 1) / 2;
    g.sumY += pels * static_cast<std::uint64_t>(y);
    g.xMin = g.xMin < x ? g.xMin : x;
    g.xEnd = g.xEnd > xe ? g.xEnd : xe;
    g.yMax = y;
  }
  void mergeRegions(RegionIndex absorbed, RegionIndex survivor);
  template <bool kPlain = false>
  void adoptChild(RegionIndex parent, RegionIndex child);
  // plain(): grey-scale connectivity of a whole image or band without cleanup: regions retire as
  // they close, with no neighbour lists, kept runs or fill chains beside the records.
  bool plain() const {
    return retireOnClose_ && !labelled_ && !streaming_ && cleanup_ == kc_CleanupKind::eNone && bandCleanup_ == kc_CleanupKind::eNone;
  }
  // reachesEdge(g): grey-scale background g touches the left, right or top edge of the image.
  bool reachesEdge(const Region& g) const { return g.value == 0 && (g.xMin == 0 || g.xEnd == width_ || g.yMin == 0); }
  template <bool kPlain = false>
  void closeRegion(RegionIndex enclosed, RegionIndex encloser);
  void pruneRegion(RegionIndex r);
  void addPhantom(RegionIndex p);
  void fillRegion(RegionIndex r, RegionIndex encloser);
  void fillInBand(RegionIndex r, RegionIndex encloser);
  template <bool kPlain = false>
  RetiredIndex retire(RegionIndex r);
  void writeEntry(kc_BlobEntry& e, const Region& g) const;
  // nextChild(c): the sibling link of child c (a retired entry's or its phantom's, or a slot's under
  // the fill).
  std::uint32_t& nextChild(std::uint32_t c) {
    if (!retireOnClose_) return ws_.siblings[c];
    return (c & kPhantom) == 0 ? out_.entries[c].nextSibling : ws_.closes[c & ~kPhantom].phantomNext;
  }
  std::uint32_t nextChild(std::uint32_t c) const {
    if (!retireOnClose_) return ws_.siblings[c];
    return (c & kPhantom) == 0 ? out_.entries[c].nextSibling : ws_.closes[c & ~kPhantom].phantomNext;
  }
  bool isSmall(PelCount pels) const { return pels < minPels_; }
  static void attentionCheck();

  // ---- neighbour lists (connect_neighbours.cpp) ----
  kc_NeighbourList& listOf(RegionIndex r) { return ws_.labelled[r].neighbours; }
  const kc_NeighbourList& listOf(RegionIndex r) const { return ws_.labelled[r].neighbours; }
  bool hasNeighbour(RegionIndex owner, RegionIndex member) const;
  void appendNeighbour(RegionIndex owner, RegionIndex member);
  void prependNeighbour(RegionIndex owner, RegionIndex member);
  void removeNeighbour(RegionIndex owner, RegionIndex member);
  void makeNeighbours(RegionIndex a, RegionIndex b);
  void moveNeighbours(RegionIndex absorbed, RegionIndex survivor);
  void mergeNeighbours(RegionIndex absorbed, RegionIndex survivor);
  void markEdge(RegionIndex r);
  bool edgeFree(RegionIndex r) const { return !edgeLists_ && ws_.labelled[r].edge; }
  void detachNeighbours(RegionIndex r);
  void clearNeighbours(RegionIndex r);
  void linkNode(RegionIndex owner, RegionIndex member, bool atFront);
  std::size_t checkNeighbours(RegionIndex r, const std::unordered_set<RegionIndex>& live) const;

  // ---- scans (connect_grey.cpp, connect_labelled.cpp) ----
  // readRow(y, out): row y's maximal runs into out, then two markers that begin past the last
  // column; their number.
  std::size_t readRow(RowIndex y, std::vector<kc_ScanRun>& out) const;
  // The grey-scale rows; kStream: a stream's (keepRun, edgeFlush), so the scans of whole images and
  // bands test nothing for it.
  template <bool kStream = false>
  void scanGreyFirstRow(kc_ScanRun* row, std::size_t n);
  template <bool kStream = false>
  void scanGreyRow(RowIndex y, kc_ScanRun* row, std::size_t n, const kc_ScanRun* above);
  template <bool kPlain>
  void scanBinaryRow(RowIndex y, kc_ScanRun* row, std::size_t n, const kc_ScanRun* above);
  static constexpr std::size_t kAhead = 8;  // scanBinaryRow: runs ahead whose records it fetches
  // scanUnlabelledRow(y, row, n, above): a grey-scale row of a whole image or band, by the binary
  // scan when the image is binary.
  void scanUnlabelledRow(RowIndex y, kc_ScanRun* row, std::size_t n, const kc_ScanRun* above) {
    if (!binary_) scanGreyRow(y, row, n, above);
    else if (plain()) scanBinaryRow<true>(y, row, n, above);
    else scanBinaryRow<false>(y, row, n, above);
  }
  void scanLabelledFirstRow(kc_ScanRun* row, std::size_t n);
  void scanLabelledRow(RowIndex y, kc_ScanRun* row, std::size_t n, const kc_ScanRun* above);
  void encloseLabelled(RegionIndex encloser, RegionIndex start);
  void recordRow(const kc_ScanRun* row, std::size_t n);

  // ---- labelled fill (connect_cleanup.cpp) ----
  // openList(): the open records in region-list order (newest first).
  std::vector<RegionIndex> openList() const;
  void mergeSmallRegions(const std::vector<RegionIndex>& list);
  void buildFillTree(const std::vector<RegionIndex>& list);
  void setFillParent(RegionIndex u, RegionIndex p);

  // ---- finishing (connect_finish.cpp) ----
  void retireOpen();
  void drop(RetiredIndex r);
  void keepTop(RetiredIndex r);
  std::uint32_t numberBlobs();
  // idOf(key): the id of the retired entry with this key (its first label), 0 when it gets no blob.
  BlobId idOf(LabelId key) const;
  // idAt(i): the id of retired entry i: from the ids listed once (linkChildren) when they are,
  // else idOf.
  BlobId idAt(RetiredIndex i) const { return ids_ != nullptr ? ids_[i] : idOf(out_.entries[i].key); }
  bool manyTops() const;
  bool topsById() const;
  bool listsIds() const;
  const std::vector<std::uint64_t>& sortTop(unsigned threads);
  void markTops(const std::vector<std::uint64_t>& order, unsigned threads);
  void linkTop(const std::vector<std::uint64_t>& order, std::vector<BlobId>& topIds, unsigned threads);
  void linkChildren(unsigned threads);
  void linkChildrenOf(std::size_t begin, std::size_t end, std::vector<kc_ListRest>& rest, BlobId* ids);
  std::uint32_t linkList(BlobId id, std::uint32_t c, std::size_t steps);
  template <class Run>
  void linkRest(BlobId id, const Run& run, std::size_t parts);
  void orderById(std::uint32_t count, unsigned threads);
  void orderInBlocks(std::uint32_t count, unsigned threads);

  // ---- bands (connect_bands.cpp) ----
  void makePlaceholders(const kc_SeamClasses& above, kc_ScanRun* row, std::size_t n);
  void slotsOfClasses(const kc_SeamClasses& classes, std::vector<RegionIndex>& slots);
  RegionIndex adoptRegion(const Region& g);
  void countFrom(std::uint32_t labelBase, std::uint32_t entryBase, const std::vector<Region>& seam,
                 std::vector<Region*>& holders);
  Region& holderOf(LabelId placeholder);
  void addSeam(const std::vector<Region>& seam);
  void relinkChildren(const kc_ConnectEngine& band, std::uint32_t entryBase, const std::vector<Region>& seam,
                      Region& g);
  void spliceSeam(const kc_ConnectEngine& band, std::uint32_t entryBase, const std::vector<Region>& seam,
                  const std::vector<Region*>& holders);

  // ---- cleanup of joined bands (connect_band_cleanup.cpp) ----
  struct FillSums;
  std::uint32_t resolveChildren(std::uint32_t& first, FillSums& sums);
  void rewriteEntry(RetiredIndex i, const FillSums& sums);
  void dropFilled();

  // ---- streams (connect_stream.cpp) ----
  // keepRun(r, run, y): run (of row y) joins region r's runs, unless r is background that reaches an
  // edge. joinRuns(a, b): a merged into b: a's runs join b's (the fewer copied). appendRuns(to, from):
  // from's runs join to's. releaseRuns(runs): none kept, the room spared.
  void keepRun(RegionIndex r, const kc_ScanRun& run, RowIndex y);
  void appendRuns(std::vector<kc_StreamRun>& to, std::vector<kc_StreamRun>& from);
  void releaseRuns(std::vector<kc_StreamRun>& runs);
  void joinRuns(RegionIndex a, RegionIndex b);
  // edgeFlush(r): background r that reaches an edge keeps no runs, and its children are complete.
  void edgeFlush(RegionIndex r);
  void compact();
  void streamRowDone(RowIndex y, const kc_ScanRun* row, std::size_t n, const kc_ScanRun* above, std::size_t na);

  // ---- rows (connect_rows.cpp) ----
  template <class Sink> void walkRows(Sink& sink);

  const unsigned char* const* rows_;  // the image's rows of two-byte runs
  kcPair<long> offset_;               // the image's offset: blob positions count from it
  Column width_;
  RowIndex height_;
  std::uint64_t numRuns_;  // two-byte runs of the image: at least its maximal runs
  bool binary_;
  bool labelled_;
  kc_CleanupKind cleanup_;
  PelCount minPels_;     // 0 when cleanup is eNone, so nothing is small
  bool retireOnClose_;   // enclosed regions retire at once (no fill cleanup)
  const BlobId* ids_ = nullptr;  // finishing: the id of each retired entry, once listed (listsIds)
  bool edgeLists_;       // labelled: regions on the image's edge keep neighbour lists (the fill)
  bool streaming_ = false;    // a stream's engine (connect_stream.cpp)
  std::size_t spent_ = 0;          // streams: entries taken, dropped or filled since the last compaction
  bool fillChains_ = false;  // grey-scale fill while rows are made: chains and filled marks
  bool deferFill_ = false;   // bands: the fill waits for fillJoined (ws_.closes, phantoms)
  kc_CleanupKind bandCleanup_ = kc_CleanupKind::eNone;  // bands: decided at once for the band's own
  PelCount bandMinPels_ = 0;                            // regions (cleanupInBand)
  kc_ConnectWorkspace& ws_;
  kc_BlobStore& out_;
  std::vector<LabelId>* runLabels_ = nullptr;
  // Bands: the placeholders (labels, serials and store entries below this stand for the row above
  // the band), and the records holding one that retired, as they were then (by retired index).
  std::uint32_t placeholders_ = 0;
  std::vector<std::pair<RetiredIndex, Region>> seamRetired_;
  std::vector<std::size_t> seamTops_;  // places in ws_.order of top-level records that were placeholders
  std::vector<std::uint32_t> markerPred_;  // by marker: the joined entry whose sibling it is (copyBand)

  RegionIndex outside_ = kNone;
  std::size_t regionCount_ = 0;
  RegionIndex slots_ = 0;  // record slots made (ws_.regions.size())
  std::size_t retired_ = 0;
  std::size_t pruned_ = 0;  // entries pruneJoined() unmarked: the whole scan never retires them
  std::uint32_t serial_ = 0;  // records created
  std::uint32_t floodStamp_ = 0;
  RowIndex rowsScanned_ = 0;
  const std::vector<kc_ScanRun>* lastRow_ = nullptr;
  std::size_t lastRowCount_ = 0;
  bool scanned_ = false;
  bool finished_ = false;
  bool attend_ = true;
  bool restoring_ = false;
  std::function<void(RowIndex)> rowHook_;
};
