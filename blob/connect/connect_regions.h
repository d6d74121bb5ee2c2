// Records of the connectivity scan: region labels with their union-find links, region records,
// neighbour list nodes, and the index kinds the engine uses.
#pragma once

#include "measure/blob_record.h"  // BlobId

#include <cstdint>

struct kc_ConnectRegion;

// Index kinds. Kept apart by name so a column is never passed where a row or an id is meant.
using Column = std::int32_t;     // pel column relative to the image's first column
using RowIndex = std::int32_t;   // pel row relative to the image's first row
using PelCount = std::uint64_t;  // number of pels (never weights)

// kc_RegionLabel: what a run points to. A run points to a label, never to a region.
//
// The labels of one region form one union-find set; the set's root (up == null) holds the region
// the set stands for. A merge links the smaller set under the larger one and points the surviving
// root at the survivor, so it re-points every label of the absorbed region at once and never
// rewrites a run. The chain through nextLabel lists the same labels in creation-and-merge order
// (firstLabel .. lastLabel of the region); it is walked only to mark labels filled.
struct kc_RegionLabel {
  kc_RegionLabel* nextLabel;  // next label of the region's chain, null at its end
  kc_RegionLabel* up;         // union-find parent, null at the root
  kc_ConnectRegion* region;   // meaningful at the root: the region, null once it is pruned
  std::uint32_t filled;       // 1 when the label's pels were filled into the enclosing region
};

// regionOf(label): the region a label stands for (null when pruned). Halves the path it walks.
inline kc_ConnectRegion* regionOf(kc_RegionLabel* label) {
  while (label->up != nullptr) {
    kc_RegionLabel* next = label->up;
    if (next->up != nullptr) label->up = next->up;
    label = next;
  }
  return label->region;
}

// peekRegion(label): regionOf without shortening the path, for checks over const records.
inline kc_ConnectRegion* peekRegion(const kc_RegionLabel* label) {
  while (label->up != nullptr) label = label->up;
  return label->region;
}

// kc_NeighbourNode: one entry of a region's neighbour list (labelled connectivity only).
struct kc_NeighbourNode {
  kc_ConnectRegion* region;
  kc_NeighbourNode* prev;
  kc_NeighbourNode* next;
};

// kc_NeighbourList: the regions of other values that a region touches, in the order the scan
// and the merges put them. Never holds its owner and never one region twice. Lists longer than
// a few entries are also entered in the engine's membership index (indexed true).
struct kc_NeighbourList {
  kc_NeighbourNode* head;
  kc_NeighbourNode* tail;
  std::uint32_t count;
  bool indexed;
};

// kc_ConnectRegion: one connected region while the scan runs. Lives in the engine's region pool
// and in its region list; trivially destructible, so dropping the pool releases it.
//
// Invariants (checked by kc_ConnectEngine::checkInvariants, which debug builds run after every
// scan):
// - every label of the chain firstLabel .. lastLabel resolves to this region;
// - the survivor of a merge is the region of the run in the row above (or the region a cleanup
//   keeps); the absorbed record leaves the list and every other record stays where it was;
// - the region list holds the most recently created surviving record first (serial decreases);
// - parent, when set, is a label of the enclosing region, and the region is in that region's child
//   list; a region is closed (gets a parent) exactly once. Holding a label rather than the record
//   lets a merge move a whole child list in constant time: the children follow the label.
// - neighbour lists are symmetric.
struct kc_ConnectRegion {
  kc_RegionLabel* firstLabel;
  kc_RegionLabel* lastLabel;
  kc_RegionLabel* rootLabel;  // root of the label set
  std::uint64_t labelCount;   // labels in the set (union by size)
  kc_NeighbourList neighbours;
  kc_ConnectRegion* nextRegion;  // region list, most recently created first
  kc_ConnectRegion* prevRegion;
  kc_RegionLabel* parent;  // a label of the enclosing region; null at the top level
  kc_ConnectRegion* firstChild;
  kc_ConnectRegion* lastChild;
  kc_ConnectRegion* nextSibling;
  kc_ConnectRegion* searchParent;  // tree building of the labelled fill
  std::uint64_t serial;            // creation order, for the region-list invariant
  PelCount pelCount;
  Column xMin;
  Column xEnd;
  RowIndex yMin;
  RowIndex yMax;
  std::uint32_t stamp;  // flood mark (labelled scan) and discovery index (tree building)
  std::uint32_t low;    // low-link value of the tree building
  std::uint32_t smallPos;  // position in the small list of the labelled fill
  BlobId id;               // given by the finishing pass
  std::uint8_t value;      // pel value of the region's first run
  bool deleted;            // dropped: gets no blob
};

// parentOf(region): the enclosing region, or null at the top level.
inline kc_ConnectRegion* parentOf(const kc_ConnectRegion* region) {
  return region->parent != nullptr ? regionOf(region->parent) : nullptr;
}
