// Records of the connectivity scan, in flat arrays: the runs of a row with their labels, the label
// sets (union-find over indices), region records, neighbour list nodes, and the index kinds.
#pragma once

#include "measure/blob_record.h"  // BlobId

#include <cstdint>

// Index kinds. Kept apart by name so a column is never passed where a row or an id is meant.
using Column = std::int32_t;     // pel column relative to the image's first column
using RowIndex = std::int32_t;   // pel row relative to the image's first row
using PelCount = std::uint64_t;  // number of pels (never weights)
using LabelId = std::uint32_t;   // a label, numbered in order of creation from 0
using RegionIndex = std::uint32_t;  // a region record's slot; slots are reused once released
using NodeIndex = std::uint32_t;    // a neighbour list node's slot

// kNone: "no label / region / node" in every index field.
inline constexpr std::uint32_t kNone = 0xFFFFFFFFu;

// kc_ScanRun: one maximal run of one pel value in a row (adjacent runs of equal value joined), with
// the label the scan gave it (in the finishing pass: the index of its blob's kc_BlobBuild, kNone
// for none). A row of runs is read from the image when it is scanned and dropped two rows later:
// the engine never holds more than two rows of runs.
struct kc_ScanRun {
  Column x;       // first column
  Column xe;      // one past the last column
  LabelId label;  // kNone until the scan assigns one
  std::uint8_t value;
  bool filled;    // finishing pass of a grey-scale fill: the label was filled into its encloser
};

// Label sets. A run points to a label, never to a region. The labels of one region form one
// union-find set; up[label] holds the parent label, or, at the set's root, kRootFlag | the region
// the set stands for (kPrunedRegion once its region was pruned). A merge links the smaller set
// under the larger one and points the surviving root at the survivor, so it re-points every label
// of the absorbed region at once and never rewrites a run.
inline constexpr std::uint32_t kRootFlag = 0x80000000u;
inline constexpr RegionIndex kPrunedRegion = 0x7FFFFFFFu;

// kc_ConnectRegion: one connected region while the scan runs (56 bytes). Its next sibling and its
// blob id are kept beside it, in arrays of their own (see kc_ConnectWorkspace), so that walking a
// child list reads 4 bytes per child rather than a record.
//
// The region list: in grey-scale connectivity slots are never reused, so the list is simply the
// slots from the last to the first, skipping released ones (a walk reads memory in order). In
// labelled connectivity, where every run starts a region that is mostly absorbed at once, slots
// are reused and the list is linked through kc_LabelledRegion's next and prev.
//
// Invariants (checked by kc_ConnectEngine::checkInvariants, which debug builds run after every
// scan):
// - the root label of the region's set names it, and the set holds setSize labels;
// - the survivor of a merge is the region of the run in the row above (or the region a cleanup
//   keeps); the absorbed record leaves the list and every other record stays where it was;
// - the region list holds the most recently created surviving record first;
// - parent, when set, is a label of the enclosing region, and the region is in that region's child
//   list; a region is closed (gets a parent) exactly once. Holding a label rather than the record
//   lets a merge move a whole child list in constant time: the children follow the label.
// - neighbour lists (labelled connectivity) are symmetric.
struct kc_ConnectRegion {
  PelCount pelCount;
  std::uint32_t runs;    // runs given to the region, for its room in the run store
  Column xMin;
  Column xEnd;
  RowIndex yMin;
  RowIndex yMax;
  LabelId root;           // root label of the region's set
  std::uint32_t setSize;  // labels in the set (union by size)
  LabelId parent;         // a label of the enclosing region; kNone at the top level
  RegionIndex firstChild;  // child list, continued through the workspace's siblings
  RegionIndex lastChild;
  std::uint8_t value;  // pel value of the region's first run
  bool deleted;        // dropped: gets no blob
  bool released;       // absorbed or pruned: the slot holds no region
};
static_assert(sizeof(kc_ConnectRegion) == 56, "a region record is seven words");

// kc_NeighbourList: the regions of other values that a region touches (labelled connectivity), in
// the order the scan and the merges put them. Never holds its owner and never one region twice.
// Lists longer than a few entries are also entered in the engine's membership index (indexed).
struct kc_NeighbourList {
  NodeIndex head = kNone;
  NodeIndex tail = kNone;
  std::uint32_t count = 0;
  bool indexed = false;
};

// kc_NeighbourNode: one entry of a neighbour list.
struct kc_NeighbourNode {
  RegionIndex region;
  NodeIndex prev;
  NodeIndex next;
};

// kc_LabelledRegion: what labelled connectivity keeps beside each region record.
struct kc_LabelledRegion {
  RegionIndex next = kNone;  // region list, most recently created first
  RegionIndex prev = kNone;
  std::uint32_t serial = 0;  // creation order, for the list's invariant check
  kc_NeighbourList neighbours;
  std::uint32_t stamp = 0;          // flood mark (scan) and discovery index (fill tree building)
  std::uint32_t low = 0;            // low-link value of the fill tree building
  std::uint32_t smallPos = kNone;   // position in the small list of the labelled fill
  RegionIndex searchParent = kNone;  // search parent of the fill tree building
};

// kc_BlobBuild: one blob (element id - 1) as the finishing pass writes its rows: everything a run
// of it needs in one record (40 bytes), so that writing a run touches one cache line.
struct kc_BlobBuild {
  std::uint64_t write;  // next byte to write in the run store
  std::uint64_t end;    // end of the blob's slot in the run store
  Column xMin;          // the region's extents
  RowIndex yMin;
  Column width;
  Column cursor;        // next column of the current row, relative to the blob; 0: row not begun
  RowIndex row;         // current row, relative to the blob
  RegionIndex region;
};
