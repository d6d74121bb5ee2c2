// Membership index of the long neighbour lists of labelled connectivity: (owner, member) -> node.
#pragma once

#include "connect/connect_regions.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// kc_NeighbourIndex: an open-addressing hash table over the entries of every neighbour list that
// has grown past kIndexFrom entries, so that "is E already in B's list?" costs constant time on a
// background region with a million neighbours. Short lists are searched linearly instead; they are
// faster that way and never enter the table. The list order itself lives in the lists.
//
// Linear probing with backward-shift deletion (no tombstones); the table doubles when half full,
// so insertions allocate only amortised, never per run. clear() keeps the table's storage.
class kc_NeighbourIndex {
 public:
  static constexpr std::uint32_t kIndexFrom = 8;

  // find(owner, member): the node of member in owner's list, or kNone.
  NodeIndex find(RegionIndex owner, RegionIndex member) const;
  // insert(owner, member, node): precondition (internal assertion): not present. May throw
  // std::bad_alloc while growing, leaving the table as it was.
  void insert(RegionIndex owner, RegionIndex member, NodeIndex node);
  // erase(owner, member): removes the entry; precondition (internal assertion): present.
  void erase(RegionIndex owner, RegionIndex member);
  // size(): entries held.
  std::size_t size() const { return used_; }
  // clear(): no entries; the storage is kept.
  void clear();
  // capacity(): the table's slots; reserve(slots): a table of at least that many (a power of two),
  // so that as many entries as it holds half of enter without growing. Allocates.
  std::size_t capacity() const { return slots_.size(); }
  void reserve(std::size_t slots);

 private:
  struct Slot {
    RegionIndex owner;
    RegionIndex member;
    NodeIndex node;  // kNone in an empty slot
  };
  std::size_t slotOf(RegionIndex owner, RegionIndex member) const;
  void grow();

  std::vector<Slot> slots_;
  std::size_t used_ = 0;
  std::size_t mask_ = 0;
};
