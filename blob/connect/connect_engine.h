// The connectivity engine: one run of grey-scale or labelled connectivity over an augmented
// image, from the scan through cleanup to the numbered blobs of the finishing pass.
#pragma once

#include "connect/connect_augmented.h"
#include "connect/connect_neighbours.h"
#include "connect/connect_regions.h"

#include <foundation/pool.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_set>
#include <vector>

// kc_CleanupKind: what happens to regions smaller than the minimum pel count.
enum class kc_CleanupKind : std::int32_t { eNone = 0, ePrune = 1, eFill = 2 };

// kc_BlobOutput: one numbered blob as the finishing pass leaves it, before it becomes a kcBlob.
// rowStarts point into the chunks (rows never span two chunks); chunks keep their storage when
// the object moves.
struct kc_BlobOutput {
  BlobId id = 0;
  std::uint8_t label = 0;
  std::int32_t pelCount = -1;  // -1: the measures compute the weighted sum from the region
  long left = 0;               // image position of the region's first pel (offset included)
  long top = 0;
  Column width = 0;
  RowIndex height = 0;
  BlobId parent = 0;
  BlobId nextSibling = 0;
  BlobId prevSibling = 0;
  BlobId firstChild = 0;
  std::uint32_t numChildren = 0;
  std::vector<const unsigned char*> rowStarts;
  std::vector<unsigned char> firstChunk;
  std::vector<std::vector<unsigned char>> chunks;  // empty while firstChunk is the only one; then
                                                   // every chunk in allocation order
};

// kc_ConnectOutput: every blob in id order (element i has id i + 1) and the top-level ids in
// region-list order.
struct kc_ConnectOutput {
  std::vector<kc_BlobOutput> blobs;
  std::vector<BlobId> topIds;
};

// kc_ConnectEngine: owns everything of one connectivity run: the label, region and neighbour
// pools, the region list, the neighbour index and scratch stacks. Destroying it releases all of
// them, whether the run finished or was abandoned by an exception. Not copyable.
//
// Typical use: kc_ConnectEngine engine(image, width, labelled, cleanup, minPels);
//              engine.scan(); kc_ConnectOutput out = engine.finish();
// The augmented image's links point into the engine's label pool; they dangle once the engine is
// gone and are never read again (each run rewrites them).
class kc_ConnectEngine {
 public:
  // Preconditions (internal assertions): image has at least one row; width >= 1 and equals the
  // lengths of each row; minPels is only read when cleanup is not eNone.
  kc_ConnectEngine(kc_ConnectivityAugmentedRLE& image, Column width, bool labelled,
                   kc_CleanupKind cleanup, PelCount minPels);
  ~kc_ConnectEngine();
  kc_ConnectEngine(const kc_ConnectEngine&) = delete;
  kc_ConnectEngine& operator=(const kc_ConnectEngine&) = delete;

  // scan(): the grey-scale or labelled scan over every row, with the close-time cleanup. Calls
  // kcAttention::check() before each row y with y mod 16 = 15; whatever it throws passes through.
  void scan();

  // finish(): the finishing pass: the labelled fill's merging and tree building, dropping the
  // regions that get no blob, numbering in raster order of first pel, building each blob's rows,
  // and the tree links. Must follow scan(), once. Calls the attention check like scan().
  // Cost: one pass over the runs plus the regions; allocates the blobs' run chunks.
  kc_ConnectOutput finish();

  // rowHook(f): f(y) is called after each scanned row y (tests check invariants there).
  void rowHook(std::function<void(RowIndex)> f) { rowHook_ = std::move(f); }

  // checkInvariants(): walks every live record and checks the invariants stated in
  // connect_regions.h and the links of the rows scanned so far; a failure is an internal
  // assertion. Debug builds run it at the end of every scan. Cost: linear in records, labels,
  // neighbour entries and scanned runs (quadratic in the neighbours of one region for the
  // symmetry check; meant for small images).
  void checkInvariants() const;

  // regionCount(): live region records, the outside included. firstRegion(): the head of the
  // region list. For tests.
  std::size_t regionCount() const { return regionCount_; }
  const kc_ConnectRegion* firstRegion() const { return regionList_; }

 private:
  // ---- records (connect_engine.cpp) ----
  kc_ConnectRegion* newRegion(std::uint8_t value, Column x, RowIndex y, PelCount n);
  kc_ConnectRegion* newOutside();
  void releaseRegion(kc_ConnectRegion* r);
  void mergeRegions(kc_ConnectRegion* absorbed, kc_ConnectRegion* survivor);
  void adoptChild(kc_ConnectRegion* parent, kc_ConnectRegion* child);
  void closeRegion(kc_ConnectRegion* enclosed, kc_ConnectRegion* encloser);
  void pruneRegion(kc_ConnectRegion* r);
  void fillRegion(kc_ConnectRegion* r, kc_ConnectRegion* encloser);
  bool isSmall(const kc_ConnectRegion* r) const { return r->pelCount < minPels_; }

  // ---- neighbour lists (connect_neighbours.cpp) ----
  bool hasNeighbour(const kc_ConnectRegion* owner, const kc_ConnectRegion* member) const;
  void appendNeighbour(kc_ConnectRegion* owner, kc_ConnectRegion* member);
  void prependNeighbour(kc_ConnectRegion* owner, kc_ConnectRegion* member);
  void removeNeighbour(kc_ConnectRegion* owner, kc_ConnectRegion* member);
  void makeNeighbours(kc_ConnectRegion* a, kc_ConnectRegion* b);
  void moveNeighbours(kc_ConnectRegion* absorbed, kc_ConnectRegion* survivor);
  void detachNeighbours(kc_ConnectRegion* r);
  void clearNeighbours(kc_ConnectRegion* r);
  void linkNode(kc_ConnectRegion* owner, kc_ConnectRegion* member, bool atFront);
  std::size_t checkNeighbours(const kc_ConnectRegion* r,
                              const std::unordered_set<const kc_ConnectRegion*>& live) const;

  // ---- scans (connect_grey.cpp, connect_labelled.cpp) ----
  void scanGreyFirstRow();
  void scanGreyRow(RowIndex y);
  void scanLabelledFirstRow();
  void scanLabelledRow(RowIndex y);
  void encloseLabelled(kc_ConnectRegion* encloser, kc_ConnectRegion* start);
  static void attentionCheck();

  // ---- labelled fill (connect_cleanup.cpp) ----
  void mergeSmallRegions();
  void buildFillTree();
  void setFillParent(kc_ConnectRegion* u, kc_ConnectRegion* p);

  // ---- finishing (connect_finish.cpp) ----
  void dropRegions();
  std::size_t countBlobs(std::size_t& topCount);
  void numberAndBuild(kc_ConnectOutput& out);
  void writeLinks(kc_ConnectOutput& out);

  kc_ConnectivityAugmentedRLE& image_;
  Column width_;
  bool labelled_;
  kc_CleanupKind cleanup_;
  PelCount minPels_;  // 0 when cleanup is eNone, so nothing is small

  kcFastUnsafeStoragePool labelPool_;
  kcFastUnsafeStoragePool regionPool_;
  kcFastUnsafeStoragePool nodePool_;
  kc_NeighbourIndex index_;

  kc_ConnectRegion* regionList_ = nullptr;
  kc_ConnectRegion* outside_ = nullptr;
  std::size_t regionCount_ = 0;
  std::uint64_t serial_ = 0;
  std::uint32_t floodStamp_ = 0;
  RowIndex rowsScanned_ = 0;
  bool scanned_ = false;

  std::vector<kc_ConnectRegion*> stack_;   // flood stack
  std::vector<kc_ConnectRegion*> listed_;  // regions a flood listed
  std::function<void(RowIndex)> rowHook_;
};
