// Records of the connectivity scan, in flat arrays: the runs of a row with their labels, the label
// sets (union-find over indices), open region records, neighbour list nodes, and the index kinds.
#pragma once

#include "store/blob_record.h"  // BlobId

#include <cstdint>

// Index kinds. Kept apart by name so a column is never passed where a row or an id is meant.
using Column = std::int32_t;     // pel column relative to the image's first column
using RowIndex = std::int32_t;   // pel row relative to the image's first row
using PelCount = std::uint64_t;  // number of pels (never weights)
using LabelId = std::uint32_t;   // a label, numbered in order of creation from 0
using RegionIndex = std::uint32_t;   // an open region record's slot; slots are reused once freed
using RetiredIndex = std::uint32_t;  // a retired region: its entry in the output store, in order of
                                     // retirement (ids come at the end of the run)
using NodeIndex = std::uint32_t;     // a neighbour list node's slot

// kNone: "no label / region / record / node" in every index field.
inline constexpr std::uint32_t kNone = 0xFFFFFFFFu;

// kc_ScanRun: one maximal run of one pel value in a row (adjacent runs of equal value joined), with
// the label the scan gave it. A row of runs is read from the image when it is scanned and dropped
// two rows later: the engine never holds more than two rows of runs.
struct kc_ScanRun {
  Column x;       // first column
  Column xe;      // one past the last column
  LabelId label;  // kNone until the scan assigns one
  std::uint8_t value;
  RegionIndex region = kNone;  // binary scans: its label's region when it was scanned, which later
                               // merges may have moved: read only to prefetch, never as its region
};

// Label sets. A run points to a label, never to a region. The labels of one region form one
// union-find set; up[label] holds the parent label, or, at the set's root, kRootFlag | where the
// region is: its open slot while it is open, its retired index once it has retired, kGone once it
// was pruned or dropped. A merge links the set whose root is the larger label under the other
// (which keeps a region record to one cache line: no set sizes), so it re-points every label of
// the absorbed region at once and never rewrites a run; path halving keeps the paths short. Labels are created in raster order
// of the runs that start regions, so the smallest label of a set marks its region's first pel.
inline constexpr std::uint32_t kRootFlag = 0x80000000u;
inline constexpr std::uint32_t kGone = 0x7FFFFFFFu;

// kc_ConnectRegion: one region while it is open (64 bytes, a cache line of its own). A region stays open while later rows
// may still touch it; once enclosed it can change no more and retires into the output store (in
// grey-scale and labelled connectivity without the fill cleanup, which keeps every region open
// until the finishing pass), so the open records follow the regions the scan is working on, not
// every region it ever made.
//
// Invariants (checked by kc_ConnectEngine::checkInvariants, which debug builds run after every
// scan):
// - the root label of the region's set names its slot;
// - firstLabel is the smallest label of the set;
// - the survivor of a merge is the region of the run in the row above (or the region a cleanup
//   keeps); the absorbed record is freed and every other record keeps its serial;
// - serial is the record's creation number; the region list (the order of the top level) runs
//   from the newest surviving record to the oldest;
// - the child list holds the enclosed regions, the most recently closed first (and, in bands that
//   defer the fill, their phantoms: kc_FillClose); a region is closed (enclosed) exactly once;
// - neighbour lists (labelled connectivity) are symmetric.
struct alignas(64) kc_ConnectRegion {
  PelCount pelCount;
  std::uint64_t sumX;  // sums over the region's pels of their columns and rows (from the image's
  std::uint64_t sumY;  // first pel; modulo 2^64): the first moments, exact
  Column xMin;
  Column xEnd;
  RowIndex yMin;
  RowIndex yMax;
  LabelId root;           // root label of the region's set
  LabelId firstLabel;     // the set's smallest label
  std::uint32_t serial;   // creation number of the record
  std::uint32_t firstChild;  // child list: retired indices, or open slots under the fill cleanup
  std::uint32_t lastChild;
  std::uint8_t value;  // pel value of the region's first run
  bool closed;         // enclosed: it has a parent
  bool deleted;        // dropped: gets no blob
  bool released;       // absorbed, pruned or retired: the slot holds no region
};
static_assert(sizeof(kc_ConnectRegion) == 64, "an open region record is one cache line");

// kc_FillClose: beside each retired entry while bands defer the grey-scale fill (their scans run
// without it): the region's pel count and sums as the scan made them (from fillJoined on: with what
// was filled into it), the link after its phantom, and, once resolved, its last child. The phantom
// of entry i (kPhantom | i) is a node of its encloser's child list, appended at the tail when i
// closes: where the fill would have put i's grandchildren.
struct kc_FillClose {
  PelCount pelCount;
  std::uint64_t sumX;
  std::uint64_t sumY;
  std::uint32_t phantomNext;
  std::uint32_t lastChild;
};
inline constexpr std::uint32_t kPhantom = 0x80000000u;

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

// kc_LabelledRegion: what labelled connectivity keeps beside each open record.
struct kc_LabelledRegion {
  kc_NeighbourList neighbours;
  bool edge = false;                 // a pel on the image's edge (kc_ConnectEngine::markEdge)
  std::uint32_t stamp = 0;           // flood mark (scan) and discovery index (fill tree building)
  std::uint32_t low = 0;             // low-link value of the fill tree building
  std::uint32_t smallPos = kNone;    // position in the small list of the labelled fill
  RegionIndex searchParent = kNone;  // search parent of the fill tree building
  RegionIndex treeParent = kNone;    // parent given by the fill tree building
};

// kc_StreamRun: a run a stream keeps for the rows of its region (see kc_ConnectEngine's streams),
// among the runs of the open region or the retired entry it belongs to. filled: the fill merged its
// region into their owner, whose row writes it with the value of the span on its left.
struct kc_StreamRun {
  RowIndex y;
  Column x;
  Column xe;
  std::uint8_t value;
  bool filled;
};

// kc_BlobBuild: one blob (element id - 1) while its rows are written: everything a run of it
// needs in one record, so that writing a run touches one cache line.
struct kc_BlobBuild {
  std::uint64_t write;  // next byte to write in the run store
  Column xMin;          // the blob's extents
  RowIndex yMin;
  Column width;
  Column cursor;        // next column of the current row, relative to the blob; 0: row not begun
  RowIndex row;         // current row, relative to the blob
};
