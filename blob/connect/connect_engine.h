// The connectivity engine: one run of grey-scale or labelled connectivity over a run-length image,
// from the scan through cleanup to the numbered blobs the finishing pass writes into a blob store.
#pragma once

#include "connect/connect_augmented.h"
#include "connect/connect_neighbours.h"
#include "connect/connect_regions.h"
#include "scene/blob_store.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_set>
#include <vector>

class kcRLEBuffer;

// kc_CleanupKind: what happens to regions smaller than the minimum pel count.
enum class kc_CleanupKind : std::int32_t { eNone = 0, ePrune = 1, eFill = 2 };

// kc_ConnectWorkspace: the engine's arrays, kept between runs (inside the scene's cached
// kc_ConnectivityAugmentedRLE) so that analysing images of one size again allocates nothing.
// Every run starts by emptying them; their capacity stays.
struct kc_ConnectWorkspace {
  std::vector<kc_ScanRun> rowA, rowB;         // the runs of the row above and of the current row
  std::vector<std::uint32_t> up;               // label sets: parent label, or kRootFlag | region
  std::vector<kc_ConnectRegion> regions;       // region records by slot
  std::vector<RegionIndex> siblings;           // by slot: the next child of the same parent
  std::vector<BlobId> blobIds;                 // by slot: the blob id (finishing pass), 0: none yet
  std::vector<RegionIndex> freeSlots;          // released slots, reused last in first out
  std::vector<kc_LabelledRegion> labelled;     // beside each record, labelled connectivity only
  std::vector<kc_NeighbourNode> nodes;         // neighbour list nodes by slot
  std::vector<NodeIndex> freeNodes;
  kc_NeighbourIndex index;
  std::vector<LabelId> nextLabel;              // label chains, grey-scale fill only
  std::vector<LabelId> firstLabel, lastLabel;  // per region slot, grey-scale fill only
  std::vector<std::uint8_t> filled;            // per label, grey-scale fill only
  std::vector<RegionIndex> stack, listed;      // the enclosure flood
  std::vector<kc_BlobBuild> builds;            // finishing pass: by blob id - 1
  kc_BlobStore spare;                          // the store the next run fills
  std::vector<BlobId> spareTopIds;             // and its top-level ids
};

// kc_ConnectEngine: one connectivity run. The scan (pass one) reads the image row by row, gives
// every run a label and keeps the region records; the finishing pass (pass two) reads the rows
// again, gives each run the label the scan gave it (the rule that assigned labels depends only on
// the runs and on the labels of the row above, so it is replayed rather than stored), and writes
// every surviving region's rows into the store in raster order of first pel.
//
// Working memory: two rows of runs; one 32-bit word per label (grey-scale: one label per region
// created; labelled: one per run); 64 bytes per region slot (a record, its sibling link and blob
// id; grey-scale keeps a slot per region created, labelled reuses released slots and adds 40 bytes
// of list links and neighbour list per slot); 5 bytes per label and 8 per slot in a grey-scale
// fill; neighbour nodes of 12 bytes; and 40 bytes per blob while the rows are written. No
// allocation per run, region or blob: the arrays grow geometrically and keep their capacity in
// the workspace.
//
// Typical use: kc_ConnectEngine engine(image, workspace, labelled, cleanup, minPels);
//              engine.scan(); engine.finish(store, topIds);
class kc_ConnectEngine {
 public:
  // Preconditions (internal assertions): image is not degenerate. Throws kcBadArgument when the
  // image has 2^31 - 1 runs or more (labels and slots are 31-bit). minPels is only read when
  // cleanup is not eNone.
  kc_ConnectEngine(const kcRLEBuffer& image, kc_ConnectWorkspace& workspace, bool labelled,
                   kc_CleanupKind cleanup, PelCount minPels);
  kc_ConnectEngine(const kc_ConnectEngine&) = delete;
  kc_ConnectEngine& operator=(const kc_ConnectEngine&) = delete;

  // scan(): the grey-scale or labelled scan over every row, with the close-time cleanup. Calls
  // kcAttention::check() before each row y with y mod 16 = 15; whatever it throws passes through.
  void scan();

  // finish(store, topIds): the finishing pass: the labelled fill's merging and tree building,
  // dropping the regions that get no blob, numbering in raster order of first pel, writing each
  // blob's rows, entry and tree links into store (cleared first, its storage reused) and the
  // top-level ids into topIds. Must follow scan(), once. Calls the attention check like scan().
  // On an exception store holds a partial result that must not be used.
  // Cost: one pass over the runs plus the regions.
  void finish(kc_BlobStore& store, std::vector<BlobId>& topIds);

  // rowHook(f): f(y) is called after each scanned row y (tests check invariants there).
  void rowHook(std::function<void(RowIndex)> f) { rowHook_ = std::move(f); }

  // checkInvariants(): walks every live record and checks the invariants stated in
  // connect_regions.h and the labels of the last row scanned; a failure is an internal assertion.
  // Debug builds run it at the end of every scan. Cost: linear in records, labels and neighbour
  // entries (quadratic in the neighbours of one region for the symmetry check; for small images).
  void checkInvariants() const;

  // regionCount(): live region records, the outside included. For tests.
  std::size_t regionCount() const { return regionCount_; }

 private:
  using Region = kc_ConnectRegion;

  // ---- records (connect_engine.cpp) ----
  Region& reg(RegionIndex r) { return ws_.regions[r]; }
  const Region& reg(RegionIndex r) const { return ws_.regions[r]; }
  // regionOf(label): the region a label stands for (kPrunedRegion when pruned). Halves the path.
  RegionIndex regionOf(LabelId label) {
    std::uint32_t* up = ws_.up.data();
    while ((up[label] & kRootFlag) == 0) {
      const LabelId next = up[label];
      if ((up[next] & kRootFlag) == 0) up[label] = up[next];
      label = next;
    }
    return up[label] & ~kRootFlag;
  }
  // peekRegion(label): regionOf without shortening the path, for checks over const records.
  RegionIndex peekRegion(LabelId label) const {
    while ((ws_.up[label] & kRootFlag) == 0) label = ws_.up[label];
    return ws_.up[label] & ~kRootFlag;
  }
  // firstInList(), nextInList(r): the region list, from its head; kNone at its end.
  RegionIndex firstInList() const {
    return labelled_ ? regionList_ : nextInList(static_cast<RegionIndex>(ws_.regions.size()));
  }
  RegionIndex nextInList(RegionIndex r) const {
    if (labelled_) return ws_.labelled[r].next;
    while (r-- > 0)
      if (!reg(r).released) return r;
    return kNone;
  }
  RegionIndex parentOf(RegionIndex r) { return reg(r).parent == kNone ? kNone : regionOf(reg(r).parent); }
  RegionIndex newRegion(std::uint8_t value, Column x, RowIndex y, Column n);
  RegionIndex newOutside();
  LabelId newLabel(RegionIndex r);
  void releaseRegion(RegionIndex r);
  void mergeRegions(RegionIndex absorbed, RegionIndex survivor);
  void adoptChild(RegionIndex parent, RegionIndex child);
  void closeRegion(RegionIndex enclosed, RegionIndex encloser);
  void pruneRegion(RegionIndex r);
  void fillRegion(RegionIndex r, RegionIndex encloser);
  bool isSmall(const Region& r) const { return r.pelCount < minPels_; }
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
  void detachNeighbours(RegionIndex r);
  void clearNeighbours(RegionIndex r);
  void linkNode(RegionIndex owner, RegionIndex member, bool atFront);
  std::size_t checkNeighbours(RegionIndex r, const std::unordered_set<RegionIndex>& live) const;

  // ---- scans (connect_grey.cpp, connect_labelled.cpp) ----
  std::size_t readRow(RowIndex y, std::vector<kc_ScanRun>& out) const;
  void scanGreyFirstRow(kc_ScanRun* row, std::size_t n);
  void scanGreyRow(RowIndex y, kc_ScanRun* row, std::size_t n, const kc_ScanRun* above);
  void scanLabelledFirstRow(kc_ScanRun* row, std::size_t n);
  void scanLabelledRow(RowIndex y, kc_ScanRun* row, std::size_t n, const kc_ScanRun* above);
  void encloseLabelled(RegionIndex encloser, RegionIndex start);
  void replayGreyRow(kc_BlobStore& store, kc_ScanRun* row, std::size_t n, const kc_ScanRun* above,
                     LabelId& next);

  // ---- labelled fill (connect_cleanup.cpp) ----
  void mergeSmallRegions();
  void buildFillTree();
  void setFillParent(RegionIndex u, RegionIndex p);

  // ---- finishing (connect_finish.cpp) ----
  std::size_t countBlobs(std::size_t& topCount, std::uint64_t& storeBytes);
  void numberAndWrite(kc_BlobStore& store, unsigned char* bytes);
  void buildOfNewLabel(kc_BlobStore& store, kc_ScanRun& run, LabelId label);
  void writeRow(unsigned char* bytes, const kc_ScanRun* row, std::size_t n, RowIndex y);
  void startBlob(kc_BlobStore& store, RegionIndex r);
  std::uint64_t absorbFilled(const kc_ScanRun* row, std::size_t n, std::size_t& i, std::uint32_t blob,
                             std::uint8_t value);
  void writeLinks(kc_BlobStore& store, std::vector<BlobId>& topIds);

  const unsigned char* const* rows_;  // the image's rows of two-byte runs
  kcPair<long> offset_;               // the image's offset: blob positions count from it
  Column width_;
  RowIndex height_;
  bool binary_;
  bool labelled_;
  kc_CleanupKind cleanup_;
  PelCount minPels_;  // 0 when cleanup is eNone, so nothing is small
  bool fillChains_;   // grey-scale fill: label chains and filled marks are kept
  kc_ConnectWorkspace& ws_;

  RegionIndex regionList_ = kNone;  // head of the linked region list (labelled connectivity)
  RegionIndex outside_ = kNone;
  std::size_t regionCount_ = 0;
  std::uint32_t serial_ = 0;  // creation count (labelled connectivity)
  std::uint32_t floodStamp_ = 0;
  RowIndex rowsScanned_ = 0;
  const std::vector<kc_ScanRun>* lastRow_ = nullptr;
  std::size_t lastRowCount_ = 0;
  bool scanned_ = false;
  std::uint64_t storeUsed_ = 0;  // bytes of the run store given to blobs so far
  std::function<void(RowIndex)> rowHook_;
};
