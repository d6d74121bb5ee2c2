// Neighbour lists of labelled connectivity: ordered lists of regions with a membership index.
#include "connect/connect_engine.h"

#include <foundation/assert.h>

#include <cstdint>
#include <new>

// ---- kc_NeighbourIndex ----

std::size_t kc_NeighbourIndex::slotOf(RegionIndex owner, RegionIndex member) const {
  std::uint64_t h = (std::uint64_t{owner} << 32 | member) * 0x9E3779B97F4A7C15ull;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  return static_cast<std::size_t>(h) & mask_;
}

NodeIndex kc_NeighbourIndex::find(RegionIndex owner, RegionIndex member) const {
  if (used_ == 0) return kNone;
  for (std::size_t i = slotOf(owner, member);; i = (i + 1) & mask_) {
    const Slot& s = slots_[i];
    if (s.node == kNone) return kNone;
    if (s.owner == owner && s.member == member) return s.node;
  }
}

void kc_NeighbourIndex::insert(RegionIndex owner, RegionIndex member, NodeIndex node) {
  if ((used_ + 1) * 2 > slots_.size()) grow();
  std::size_t i = slotOf(owner, member);
  while (slots_[i].node != kNone) {
    KC_ASSERT(slots_[i].owner != owner || slots_[i].member != member,
              "a neighbour is entered in the index once");
    i = (i + 1) & mask_;
  }
  slots_[i] = Slot{owner, member, node};
  ++used_;
}

void kc_NeighbourIndex::erase(RegionIndex owner, RegionIndex member) {
  KC_ASSERT(used_ != 0, "an indexed neighbour is in the index");
  std::size_t i = slotOf(owner, member);
  while (slots_[i].owner != owner || slots_[i].member != member || slots_[i].node == kNone) {
    KC_ASSERT(slots_[i].node != kNone, "an indexed neighbour is in the index");
    i = (i + 1) & mask_;
  }
  // Backward shift: move later entries of the probe run into the hole when their home allows.
  std::size_t hole = i;
  for (std::size_t j = (i + 1) & mask_; slots_[j].node != kNone; j = (j + 1) & mask_) {
    const std::size_t home = slotOf(slots_[j].owner, slots_[j].member);
    if (((j - home) & mask_) >= ((j - hole) & mask_)) {
      slots_[hole] = slots_[j];
      hole = j;
    }
  }
  slots_[hole] = Slot{kNone, kNone, kNone};
  --used_;
}

void kc_NeighbourIndex::clear() {
  if (used_ != 0) std::fill(slots_.begin(), slots_.end(), Slot{kNone, kNone, kNone});
  used_ = 0;
}

void kc_NeighbourIndex::reserve(std::size_t slots) {
  while (slots_.size() < slots) grow();
}

void kc_NeighbourIndex::grow() {
  const std::size_t size = slots_.empty() ? 1024 : slots_.size() * 2;
  std::vector<Slot> old(size, Slot{kNone, kNone, kNone});
  old.swap(slots_);
  mask_ = size - 1;
  for (const Slot& s : old) {
    if (s.node == kNone) continue;
    std::size_t i = slotOf(s.owner, s.member);
    while (slots_[i].node != kNone) i = (i + 1) & mask_;
    slots_[i] = s;
  }
}

// ---- neighbour lists of the engine ----

bool kc_ConnectEngine::hasNeighbour(RegionIndex owner, RegionIndex member) const {
  const kc_NeighbourList& list = listOf(owner);
  if (list.indexed) {
    // The scan mostly meets again the region it entered last or first: spare the hash probe.
    if (list.tail != kNone &&
        (ws_.nodes[list.tail].region == member || ws_.nodes[list.head].region == member))
      return true;
    return ws_.index.find(owner, member) != kNone;
  }
  for (NodeIndex k = list.head; k != kNone; k = ws_.nodes[k].next)
    if (ws_.nodes[k].region == member) return true;
  return false;
}

void kc_ConnectEngine::linkNode(RegionIndex owner, RegionIndex member, bool atFront) {
  KC_ASSERT(owner != member, "a region is never its own neighbour");
  NodeIndex k;
  if (!ws_.freeNodes.empty()) {
    k = ws_.freeNodes.back();
    ws_.freeNodes.pop_back();
  } else {
    k = static_cast<NodeIndex>(ws_.nodes.size());
    ws_.nodes.emplace_back();
  }
  kc_NeighbourList& list = listOf(owner);
  if (list.indexed) {
    try {
      ws_.index.insert(owner, member, k);
    } catch (...) {
      ws_.freeNodes.push_back(k);
      throw;
    }
  }
  kc_NeighbourNode& node = ws_.nodes[k];
  node.region = member;
  if (atFront) {
    node.prev = kNone;
    node.next = list.head;
    if (list.head != kNone) ws_.nodes[list.head].prev = k; else list.tail = k;
    list.head = k;
  } else {
    node.next = kNone;
    node.prev = list.tail;
    if (list.tail != kNone) ws_.nodes[list.tail].next = k; else list.head = k;
    list.tail = k;
  }
  ++list.count;
  if (!list.indexed && list.count > kc_NeighbourIndex::kIndexFrom) {
    // Enter the whole list; on failure undo what was entered so the list stays unindexed.
    NodeIndex m = list.head;
    try {
      for (; m != kNone; m = ws_.nodes[m].next) ws_.index.insert(owner, ws_.nodes[m].region, m);
    } catch (...) {
      for (NodeIndex q = list.head; q != m; q = ws_.nodes[q].next) ws_.index.erase(owner, ws_.nodes[q].region);
      throw;
    }
    list.indexed = true;
  }
}

void kc_ConnectEngine::appendNeighbour(RegionIndex owner, RegionIndex member) {
  if (!hasNeighbour(owner, member)) linkNode(owner, member, false);
}

void kc_ConnectEngine::prependNeighbour(RegionIndex owner, RegionIndex member) {
  if (!hasNeighbour(owner, member)) linkNode(owner, member, true);
}

void kc_ConnectEngine::removeNeighbour(RegionIndex owner, RegionIndex member) {
  kc_NeighbourList& list = listOf(owner);
  NodeIndex k = kNone;
  if (list.indexed) {
    k = ws_.index.find(owner, member);
    if (k != kNone) ws_.index.erase(owner, member);
  } else {
    for (k = list.head; k != kNone && ws_.nodes[k].region != member;) k = ws_.nodes[k].next;
  }
  if (k == kNone) return;
  const kc_NeighbourNode node = ws_.nodes[k];
  if (node.prev != kNone) ws_.nodes[node.prev].next = node.next; else list.head = node.next;
  if (node.next != kNone) ws_.nodes[node.next].prev = node.prev; else list.tail = node.prev;
  --list.count;
  ws_.freeNodes.push_back(k);
}

void kc_ConnectEngine::makeNeighbours(RegionIndex a, RegionIndex b) {
  if (edgeFree(a) || edgeFree(b)) return;
  appendNeighbour(a, b);
  appendNeighbour(b, a);
}

// markEdge(r): r has a pel on the image's edge. Nothing can cut such a region off from the edge, so
// no flood ever lists it, and one that meets it meets the encloser, which carries the flood's mark
// already: without the fill (which searches the whole graph) its list and its places in other
// lists change nothing, and it keeps none (edgeFree). That spares the merges of labelled noise,
// where a region reaching the edge holds most of the image's regions as neighbours and would pass
// them all to every region above that absorbs it.
void kc_ConnectEngine::markEdge(RegionIndex r) {
  kc_LabelledRegion& l = ws_.labelled[r];
  if (l.edge) return;
  l.edge = true;
  if (!edgeLists_ && l.neighbours.head != kNone) detachNeighbours(r);
}

// mergeNeighbours(A, B): A's neighbours pass to B (moveNeighbours), and B is on the edge when
// either is. When one of them keeps no list (edgeFree), B keeps none from now on and A only
// leaves the lists that name it.
void kc_ConnectEngine::mergeNeighbours(RegionIndex absorbed, RegionIndex survivor) {
  if (edgeFree(absorbed) || edgeFree(survivor)) {
    markEdge(survivor);
    if (listOf(absorbed).head != kNone) detachNeighbours(absorbed);
    return;
  }
  if (ws_.labelled[absorbed].edge) ws_.labelled[survivor].edge = true;
  if (listOf(absorbed).head != kNone || listOf(survivor).head != kNone) moveNeighbours(absorbed, survivor);
}

// moveNeighbours(A, B): every neighbour E of A other than B goes to the front of B's list, and in
// E's list A gives way to B at the front (each only when not already there). A's list is emptied.
void kc_ConnectEngine::moveNeighbours(RegionIndex absorbed, RegionIndex survivor) {
  bool touching = false;  // lists are symmetric: the survivor names A only if A names it
  for (NodeIndex k = listOf(absorbed).head; k != kNone; k = ws_.nodes[k].next) {
    const RegionIndex e = ws_.nodes[k].region;
    if (e == survivor) {
      touching = true;
      continue;
    }
    prependNeighbour(survivor, e);
    removeNeighbour(e, absorbed);
    prependNeighbour(e, survivor);
  }
  if (touching) removeNeighbour(survivor, absorbed);
  clearNeighbours(absorbed);
}

// detachNeighbours(r): takes r out of the lists of the regions it names, then empties r's list,
// so that no list ever names a released record.
void kc_ConnectEngine::detachNeighbours(RegionIndex r) {
  for (NodeIndex k = listOf(r).head; k != kNone; k = ws_.nodes[k].next)
    removeNeighbour(ws_.nodes[k].region, r);
  clearNeighbours(r);
}

// clearNeighbours(r): empties r's own list (its nodes and index entries).
void kc_ConnectEngine::clearNeighbours(RegionIndex r) {
  kc_NeighbourList& list = listOf(r);
  for (NodeIndex k = list.head; k != kNone;) {
    const NodeIndex next = ws_.nodes[k].next;
    if (list.indexed) ws_.index.erase(r, ws_.nodes[k].region);
    ws_.freeNodes.push_back(k);
    k = next;
  }
  list = kc_NeighbourList{};
}
