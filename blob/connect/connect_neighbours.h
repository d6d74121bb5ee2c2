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
// so insertions allocate only amortised, never per run.
class kc_NeighbourIndex {
 public:
  static constexpr std::uint32_t kIndexFrom = 8;

  // find(owner, member): the node of member in owner's list, or null.
  kc_NeighbourNode* find(const kc_ConnectRegion* owner, const kc_ConnectRegion* member) const;
  // insert(owner, member, node): precondition (internal assertion): not present. May throw
  // std::bad_alloc while growing, leaving the table as it was.
  void insert(const kc_ConnectRegion* owner, const kc_ConnectRegion* member, kc_NeighbourNode* node);
  // erase(owner, member): removes the entry; precondition (internal assertion): present.
  void erase(const kc_ConnectRegion* owner, const kc_ConnectRegion* member);
  // size(): entries held.
  std::size_t size() const { return used_; }

 private:
  struct Slot {
    const kc_ConnectRegion* owner;
    const kc_ConnectRegion* member;
    kc_NeighbourNode* node;
  };
  std::size_t slotOf(const kc_ConnectRegion* owner, const kc_ConnectRegion* member) const;
  void grow();

  std::vector<Slot> slots_;
  std::size_t used_ = 0;
  std::size_t mask_ = 0;
};
