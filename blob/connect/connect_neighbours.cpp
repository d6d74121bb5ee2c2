// Neighbour lists of labelled connectivity: ordered lists of regions with a membership index.
#include "connect/connect_engine.h"

#include <foundation/assert.h>

#include <cstdint>
#include <new>

// ---- kc_NeighbourIndex ----

std::size_t kc_NeighbourIndex::slotOf(const kc_ConnectRegion* owner,
                                      const kc_ConnectRegion* member) const {
  const auto a = reinterpret_cast<std::uintptr_t>(owner);
  const auto b = reinterpret_cast<std::uintptr_t>(member);
  std::uint64_t h = (a * 0x9E3779B97F4A7C15ull) ^ (b + 0x632BE59BD9B4E019ull + (a << 6) + (a >> 2));
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  return static_cast<std::size_t>(h) & mask_;
}

kc_NeighbourNode* kc_NeighbourIndex::find(const kc_ConnectRegion* owner,
                                          const kc_ConnectRegion* member) const {
  if (used_ == 0) return nullptr;
  for (std::size_t i = slotOf(owner, member);; i = (i + 1) & mask_) {
    const Slot& s = slots_[i];
    if (s.node == nullptr) return nullptr;
    if (s.owner == owner && s.member == member) return s.node;
  }
}

void kc_NeighbourIndex::insert(const kc_ConnectRegion* owner, const kc_ConnectRegion* member,
                               kc_NeighbourNode* node) {
  if ((used_ + 1) * 2 > slots_.size()) grow();
  std::size_t i = slotOf(owner, member);
  while (slots_[i].node != nullptr) {
    KC_ASSERT(slots_[i].owner != owner || slots_[i].member != member,
              "a neighbour is entered in the index once");
    i = (i + 1) & mask_;
  }
  slots_[i] = Slot{owner, member, node};
  ++used_;
}

void kc_NeighbourIndex::erase(const kc_ConnectRegion* owner, const kc_ConnectRegion* member) {
  KC_ASSERT(used_ != 0, "an indexed neighbour is in the index");
  std::size_t i = slotOf(owner, member);
  while (slots_[i].owner != owner || slots_[i].member != member) {
    KC_ASSERT(slots_[i].node != nullptr, "an indexed neighbour is in the index");
    i = (i + 1) & mask_;
  }
  // Backward shift: move later entries of the probe run into the hole when their home allows.
  std::size_t hole = i;
  for (std::size_t j = (i + 1) & mask_; slots_[j].node != nullptr; j = (j + 1) & mask_) {
    const std::size_t home = slotOf(slots_[j].owner, slots_[j].member);
    if (((j - home) & mask_) >= ((j - hole) & mask_)) {
      slots_[hole] = slots_[j];
      hole = j;
    }
  }
  slots_[hole] = Slot{nullptr, nullptr, nullptr};
  --used_;
}

void kc_NeighbourIndex::grow() {
  const std::size_t size = slots_.empty() ? 1024 : slots_.size() * 2;
  std::vector<Slot> old(size, Slot{nullptr, nullptr, nullptr});
  old.swap(slots_);
  mask_ = size - 1;
  for (const Slot& s : old) {
    if (s.node == nullptr) continue;
    std::size_t i = slotOf(s.owner, s.member);
    while (slots_[i].node != nullptr) i = (i + 1) & mask_;
    slots_[i] = s;
  }
}

// ---- neighbour lists of the engine ----

bool kc_ConnectEngine::hasNeighbour(const kc_ConnectRegion* owner,
                                    const kc_ConnectRegion* member) const {
  const kc_NeighbourList& list = owner->neighbours;
  if (list.indexed) {
    // The scan mostly meets again the region it entered last or first: spare the hash probe.
    if (list.tail != nullptr && (list.tail->region == member || list.head->region == member)) return true;
    return index_.find(owner, member) != nullptr;
  }
  for (const kc_NeighbourNode* n = list.head; n != nullptr; n = n->next)
    if (n->region == member) return true;
  return false;
}

void kc_ConnectEngine::linkNode(kc_ConnectRegion* owner, kc_ConnectRegion* member, bool atFront) {
  KC_ASSERT(owner != member, "a region is never its own neighbour");
  kc_NeighbourList& list = owner->neighbours;
  auto* node = static_cast<kc_NeighbourNode*>(nodePool_.alloc());
  node->region = member;
  if (list.indexed) {
    try {
      index_.insert(owner, member, node);
    } catch (...) {
      nodePool_.free(node);
      throw;
    }
  }
  if (atFront) {
    node->prev = nullptr;
    node->next = list.head;
    if (list.head != nullptr) list.head->prev = node; else list.tail = node;
    list.head = node;
  } else {
    node->next = nullptr;
    node->prev = list.tail;
    if (list.tail != nullptr) list.tail->next = node; else list.head = node;
    list.tail = node;
  }
  ++list.count;
  if (!list.indexed && list.count > kc_NeighbourIndex::kIndexFrom) {
    // Enter the whole list; on failure undo what was entered so the list stays unindexed.
    kc_NeighbourNode* n = list.head;
    try {
      for (; n != nullptr; n = n->next) index_.insert(owner, n->region, n);
    } catch (...) {
      for (kc_NeighbourNode* m = list.head; m != n; m = m->next) index_.erase(owner, m->region);
      throw;
    }
    list.indexed = true;
  }
}

void kc_ConnectEngine::appendNeighbour(kc_ConnectRegion* owner, kc_ConnectRegion* member) {
  if (!hasNeighbour(owner, member)) linkNode(owner, member, false);
}

void kc_ConnectEngine::prependNeighbour(kc_ConnectRegion* owner, kc_ConnectRegion* member) {
  if (!hasNeighbour(owner, member)) linkNode(owner, member, true);
}

void kc_ConnectEngine::removeNeighbour(kc_ConnectRegion* owner, kc_ConnectRegion* member) {
  kc_NeighbourList& list = owner->neighbours;
  kc_NeighbourNode* node = nullptr;
  if (list.indexed) {
    node = index_.find(owner, member);
    if (node != nullptr) index_.erase(owner, member);
  } else {
    for (node = list.head; node != nullptr && node->region != member;) node = node->next;
  }
  if (node == nullptr) return;
  if (node->prev != nullptr) node->prev->next = node->next; else list.head = node->next;
  if (node->next != nullptr) node->next->prev = node->prev; else list.tail = node->prev;
  --list.count;
  nodePool_.free(node);
}

void kc_ConnectEngine::makeNeighbours(kc_ConnectRegion* a, kc_ConnectRegion* b) {
  appendNeighbour(a, b);
  appendNeighbour(b, a);
}

// moveNeighbours(A, B): every neighbour E of A other than B goes to the front of B's list, and in
// E's list A gives way to B at the front (each only when not already there). A's list is emptied.
void kc_ConnectEngine::moveNeighbours(kc_ConnectRegion* absorbed, kc_ConnectRegion* survivor) {
  bool touching = false;  // lists are symmetric: the survivor names A only if A names it
  for (kc_NeighbourNode* n = absorbed->neighbours.head; n != nullptr; n = n->next) {
    kc_ConnectRegion* e = n->region;
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
void kc_ConnectEngine::detachNeighbours(kc_ConnectRegion* r) {
  for (kc_NeighbourNode* n = r->neighbours.head; n != nullptr; n = n->next)
    removeNeighbour(n->region, r);
  clearNeighbours(r);
}

// clearNeighbours(r): empties r's own list (its nodes and index entries).
void kc_ConnectEngine::clearNeighbours(kc_ConnectRegion* r) {
  kc_NeighbourList& list = r->neighbours;
  for (kc_NeighbourNode* n = list.head; n != nullptr;) {
    kc_NeighbourNode* next = n->next;
    if (list.indexed) index_.erase(r, n->region);
    nodePool_.free(n);
    n = next;
  }
  list = kc_NeighbourList{nullptr, nullptr, 0, false};
}
