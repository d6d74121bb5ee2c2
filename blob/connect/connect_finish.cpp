// The finishing pass: retires the regions still open, drops those that get no blob, numbers the
// others in raster order of their first pel, links the tree and puts the store in id order.
//
// While the engine runs, a retired entry holds what a scene shows but for its links: its children
// and its next sibling are retired indices, its record's serial is in parent and its key is
// the region's first label, whose rank among the keys of the blobs is the id. The pass turns the
// links into ids and moves every entry to its id's place.
#include "connect/connect_engine.h"
#include "connect/connect_records.h"
#include "parallel/work_pool.h"

#include <foundation/assert.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <functional>
#include <limits>
#include <utility>

namespace {

// Entries below this are linked and ordered on one thread whatever the threads given.
constexpr std::size_t kParallelEntries = 1 << 12;

// Blocks of orderInBlocks hold at most this many entries (896 KiB): near the fastest on noise, and
// small beside the entries.
constexpr std::size_t kBlockEntries = std::size_t{1} << 14;

// onThreads(threads): run(tasks, body), which calls body(t) for every task t < tasks: on the work
// pool with several threads, else on the calling thread without a run's record.
auto onThreads(unsigned threads) {
  return [threads](std::size_t tasks, const auto& body) {
    if (threads <= 1) {
      for (std::size_t t = 0; t < tasks; ++t) body(t);
    } else {
      kc_WorkPool::shared().run(tasks, threads, body);
    }
  };
}

// slice(n, t, parts): the t-th of parts nearly equal ranges of 0 .. n - 1.
std::pair<std::size_t, std::size_t> slice(std::size_t n, std::size_t t, std::size_t parts) {
  return {n * t / parts, n * (t + 1) / parts};
}

// popcount64(v): the set bits of v (inline: the build targets CPUs without the instruction).
inline std::uint32_t popcount64(std::uint64_t v) {
  v -= (v >> 1) & 0x5555555555555555ull;
  v = (v & 0x3333333333333333ull) + ((v >> 2) & 0x3333333333333333ull);
  v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<std::uint32_t>((v * 0x0101010101010101ull) >> 56);
}

// placeBySerial(order, scratch, words, serials, parts, run): sortBySerial when at least one serial
// in eight is in order (noise, where nearly every region is top level): a bit per serial, set in
// slices (each slice but the first into bits of its own, then or-ed together: a locked or per
// serial costs about as much as the rest of the sort), and the bits set above each word counted
// from the top; each entry then goes straight to its place, the number of serials above its own,
// in scratch, which it returns.
template <class Run>
const std::vector<std::uint64_t>& placeBySerial(std::vector<std::uint64_t>& order,
                                                std::vector<std::uint64_t>& scratch, std::vector<std::uint32_t>& words,
                                                std::uint32_t serials, std::size_t parts, const Run& run) {
  const std::size_t n = order.size();
  const std::size_t count = (std::size_t{serials} + 31) / 32;
  words.assign((parts + 1) * count, 0);
  std::uint32_t* const bits = words.data();
  std::uint32_t* const above = bits + count;  // set bits in the words past each
  const auto bitsOf = [&](std::size_t t) { return t == 0 ? bits : bits + (t + 1) * count; };
  run(parts, [&](std::size_t t) {
    std::uint32_t* const own = bitsOf(t);
    for (auto [k, end] = slice(n, t, parts); k < end; ++k) {
      const auto s = static_cast<std::uint32_t>(order[k] >> 32);
      KC_ASSERT(s < serials, "every serial is below the bound");
      own[s >> 5] |= std::uint32_t{1} << (s & 31);
    }
  });
  if (parts > 1) {
    run(parts, [&](std::size_t t) {
      for (auto [w, end] = slice(count, t, parts); w < end; ++w)
        for (std::size_t u = 1; u < parts; ++u) bits[w] |= bitsOf(u)[w];
    });
  }
  std::uint32_t total = 0;
  for (std::size_t w = count; w-- > 0;) {
    above[w] = total;
    total += popcount64(bits[w]);
  }
  KC_ASSERT(total == n, "the serials are unique");
  scratch.resize(n);
  run(parts, [&](std::size_t t) {
    for (auto [k, end] = slice(n, t, parts); k < end; ++k) {
      const auto s = static_cast<std::uint32_t>(order[k] >> 32);
      scratch[above[s >> 5] + popcount64(bits[s >> 5] >> (s & 31) >> 1)] = order[k];
    }
  });
  return scratch;
}

// sortBySerial(order, scratch, starts, serials, parts, run): order holds (serial << 32 | index),
// the serials unique and below serials; sorts it by serial, newest first. Dense serials are placed
// directly (placeBySerial); otherwise radix passes of at most 12 bits (4096 counters, which stay in
// the cache) over the bits the serials need; each pass counts and then scatters parts slices of
// order at once, with run(tasks, body), each slice with counters of its own (starts: parts rows of
// them), so the sort stays stable. Returns the one of order and scratch that holds the result
// (the lists keep their capacities, which a restore reserves one by one).
template <class Run>
const std::vector<std::uint64_t>& sortBySerial(std::vector<std::uint64_t>& order, std::vector<std::uint64_t>& scratch,
                                               std::vector<std::uint32_t>& starts, std::uint32_t serials,
                                               std::size_t parts, const Run& run) {
  const std::size_t n = order.size();
  if (n < 1024) {
    std::sort(order.begin(), order.end(), std::greater<>());
    return order;
  }
  if (n >= serials / 8) return placeBySerial(order, scratch, starts, serials, parts, run);
  unsigned bits = 1;
  while (bits < 32 && (std::uint64_t{1} << bits) < serials) ++bits;
  const unsigned passes = (bits + 11) / 12;
  const unsigned width = (bits + passes - 1) / passes;
  const std::uint32_t buckets = std::uint32_t{1} << width;
  scratch.resize(n);
  starts.resize(std::size_t{buckets} * parts);
  std::vector<std::uint64_t>* from = &order;
  std::vector<std::uint64_t>* to = &scratch;
  for (unsigned pass = 0; pass < passes; ++pass) {
    const unsigned shift = 32 + pass * width;
    const auto digit = [shift, buckets](std::uint64_t v) {
      return buckets - 1 - (static_cast<std::uint32_t>(v >> shift) & (buckets - 1));
    };
    run(parts, [&](std::size_t t) {
      std::uint32_t* const count = &starts[t * buckets];
      std::fill(count, count + buckets, 0u);
      for (auto [i, end] = slice(n, t, parts); i < end; ++i) {
        KC_ASSERT(pass > 0 || ((*from)[i] >> 32) < serials, "every serial is below the bound the digits cover");
        ++count[digit((*from)[i])];
      }
    });
    std::uint32_t sum = 0;
    for (std::size_t d = 0; d < buckets; ++d)
      for (std::size_t t = 0; t < parts; ++t) sum += std::exchange(starts[t * buckets + d], sum);
    run(parts, [&](std::size_t t) {
      std::uint32_t* const start = &starts[t * buckets];
      for (auto [i, end] = slice(n, t, parts); i < end; ++i) {
        const std::uint64_t v = (*from)[i];
        (*to)[start[digit(v)]++] = v;
      }
    });
    std::swap(from, to);
  }
  return *from;
}

// placeByIds(entries, to, first, last): every entry at a place first .. last - 1 swaps into the
// place its id names (to[i] - 1, within the same range), cycle by cycle, to[] swapping along;
// entries with id 0 stay. The places ahead are prefetched: the next place to visit is known without
// waiting for the entry that moves there (a displaced entry mostly moves some thousand places, out
// of the nearest cache).
void placeByIds(kc_EntryArray& entries, std::uint32_t* to, std::size_t first, std::size_t last) {
  constexpr std::size_t kAhead = 8;
  const auto prefetch = [&](std::uint32_t id) {
    if (id != 0) __builtin_prefetch(&entries[id - 1], 1);
  };
  for (std::size_t i = first; i < last; ++i) {
    if (i + kAhead < last) prefetch(to[i + kAhead]);
    for (std::uint32_t id = to[i]; id != 0 && id - 1 != i; id = to[i]) {
      prefetch(to[id - 1]);
      std::swap(entries[i], entries[id - 1]);
      std::swap(to[i], to[id - 1]);
    }
  }
}

// Blocks: places first .. bound - 1 split into parts blocks, and bound .. last - 1 into one more
// (block parts).
struct Blocks {
  std::size_t first, bound, last, parts;
  std::size_t start(std::size_t b) const {
    return b == parts ? bound : first + static_cast<std::size_t>(std::uint64_t{bound - first} * b / parts);
  }
  std::size_t end(std::size_t b) const { return b == parts ? last : start(b + 1); }
  std::size_t of(std::size_t place) const {
    if (place >= bound) return parts;
    std::size_t b = static_cast<std::size_t>(std::uint64_t{place - first} * parts / (bound - first));
    while (b + 1 < parts && start(b + 1) <= place) ++b;
    return b;
  }
};

// Spans: places first .. last - 1 in parts blocks of 2^shift places (the last one may be shorter),
// and an empty block parts at last: as Blocks with bound = last, found by a shift.
struct Spans {
  std::size_t first, last;
  unsigned shift;
  std::size_t parts = ((last - first) + (std::size_t{1} << shift) - 1) >> shift;
  std::size_t start(std::size_t b) const { return std::min(last, first + (b << shift)); }
  std::size_t end(std::size_t b) const { return std::min(last, first + ((b + 1) << shift)); }
  std::size_t of(std::size_t place) const { return (place - first) >> shift; }
};

// gatherHome(entries, to, blocks, away, taken, run): every entry at a place of blocks whose place
// to names lies in another block swaps, serially, with one of that block's entries that belongs
// elsewhere (to swapping along), so that each block then holds the entries of its places. The
// places away from home are listed by block first, with run(tasks, body) (the blocks at once).
template <class Places, class Run>
void gatherHome(kc_EntryArray& entries, std::uint32_t* to, const Places& blocks,
                std::vector<std::vector<std::uint32_t>>& away, std::vector<std::uint32_t>& taken, const Run& run) {
  const std::size_t parts = blocks.parts;
  if (away.size() < parts + 1) away.resize(parts + 1);
  for (std::size_t b = 0; b <= parts; ++b) away[b].clear();
  run(parts + 1, [&](std::size_t b) {
    const std::size_t start = blocks.start(b), end = blocks.end(b);
    for (std::size_t i = start; i < end; ++i)
      if (to[i] - 1 < start || to[i] - 1 >= end) away[b].push_back(static_cast<std::uint32_t>(i));
  });
  taken.assign(parts + 1, 0);
  for (std::size_t b = 0; b <= parts; ++b) {
    for (const std::uint32_t i : away[b]) {
      for (std::size_t home = blocks.of(to[i] - 1); home != b; home = blocks.of(to[i] - 1)) {
        std::uint32_t j;
        do {
          KC_ASSERT(taken[home] < away[home].size(), "a block has a place for each entry coming home");
          j = away[home][taken[home]++];
        } while (blocks.of(to[j] - 1) == home);
        std::swap(entries[i], entries[j]);
        std::swap(to[i], to[j]);
      }
    }
  }
}

}  // namespace

void kc_ConnectEngine::finish(std::vector<BlobId>& topIds, unsigned threads) {
  KC_ASSERT(scanned_ && rowsScanned_ == height_ && !finished_, "the finishing pass follows the scan, once");
  finished_ = true;
  if (outside_ != kNone) {
    const std::vector<RegionIndex> list = openList();
    mergeSmallRegions(list);
    if (regionCount_ > 1) buildFillTree(list);
    reg(outside_).deleted = true;  // gets no blob
  }
  retireOpen();
  const std::uint32_t count = numberBlobs();
  const std::vector<std::uint64_t>& top = sortTop(threads);
  if (topsById()) {
    markTops(top, threads);
    linkChildren(threads);
    linkTop(top, topIds, threads);
  } else {
    linkTop(top, topIds, threads);
    linkChildren(threads);
  }
  orderById(count, threads);
  ids_ = nullptr;  // the move took the ids along
}

// retireOpen(): every region still open retires, in slot order. Without the fill these are the
// regions nothing enclosed, whose children retired before them; under the fill every region is
// still open and its links name slots, which become retired indices first. Grey-scale background
// that nothing encloses (it touches the border) gets no blob, and the regions it enclosed become
// top level. The top level is listed in ws_.order, after those the scan put there (adoptChild).
void kc_ConnectEngine::retireOpen() {
  std::vector<RegionIndex>& retiredOf = ws_.listed;  // by slot, under the fill
  if (!retireOnClose_) {
    retiredOf.assign(ws_.regions.size(), kNone);
    auto next = static_cast<RetiredIndex>(out_.entries.size());
    for (RegionIndex r = 0; r < ws_.regions.size(); ++r)
      if (!reg(r).released) retiredOf[r] = next++;
  }
  const auto convert = [&](std::uint32_t slot) { return slot == kNone ? kNone : retiredOf[slot]; };
  std::vector<RegionIndex>& backgrounds = ws_.stack;
  backgrounds.clear();
  for (RegionIndex r = 0; r < ws_.regions.size(); ++r) {
    Region& g = reg(r);
    if (g.released) continue;
    std::uint32_t sibling = kNone;
    if (!retireOnClose_) {
      g.firstChild = convert(g.firstChild);
      sibling = convert(ws_.siblings[r]);
    }
    const bool dead = g.deleted;
    const bool background = !labelled_ && g.value == 0 && !g.closed;
    const bool top = !g.closed;
    const RetiredIndex index = retire(r);
    KC_ASSERT(retireOnClose_ || index == retiredOf[r], "open regions retire in slot order");
    out_.entries[index].nextSibling = sibling;
    if (dead || background) drop(index);
    if (background && !dead) backgrounds.push_back(index);
    else if (top && !dead) keepTop(index);
  }
  KC_ASSERT(regionCount_ == 0, "every open region retired");
  for (RetiredIndex b : backgrounds) {
    for (std::uint32_t c = out_.entries[b].firstChild; c != kNone; c = out_.entries[c].nextSibling) {
      KC_ASSERT(out_.entries[c].label != 0, "a child of an unenclosed background region is foreground");
      keepTop(c);
    }
  }
}

// drop(i): entry i gets no blob: its key is unmarked.
void kc_ConnectEngine::drop(RetiredIndex i) {
  const LabelId key = out_.entries[i].key;
  ws_.bits[key >> 6] &= ~(std::uint64_t{1} << (key & 63));
}

// keepTop(i): entry i has no parent: it is top level, unless a cleanup is asked for and it is
// small and childless (nothing enclosed it, so neither pruning nor filling reached it): dropped.
void kc_ConnectEngine::keepTop(RetiredIndex i) {
  const kc_BlobEntry& e = out_.entries[i];
  const PelCount pels = e.pelCount >= 0 ? static_cast<PelCount>(e.pelCount) : e.sumX;
  if (cleanup_ != kc_CleanupKind::eNone && isSmall(pels) && e.firstChild == kNone) {
    drop(i);
    return;
  }
  ws_.order.push_back(std::uint64_t{e.parent} << 32 | i);
}

// numberBlobs(): ids follow the raster order of first pels, which is the order of the regions'
// first labels: a blob's id is the rank of its key among the marked labels (idOf). Counts the marks
// before each word of bits; returns the number of blobs.
std::uint32_t kc_ConnectEngine::numberBlobs() {
  const std::vector<std::uint64_t>& bits = ws_.bits;
  std::vector<std::uint32_t>& before = ws_.counts;
  before.resize(bits.size());
  std::uint32_t total = 0;
  for (std::size_t w = 0; w < bits.size(); ++w) {
    before[w] = total;
    total += popcount64(bits[w]);
  }
  return total;
}

BlobId kc_ConnectEngine::idOf(LabelId key) const {
  const std::uint64_t word = ws_.bits[key >> 6];
  const std::uint64_t bit = std::uint64_t{1} << (key & 63);
  return (word & bit) == 0 ? 0 : ws_.counts[key >> 6] + popcount64(word & (bit - 1)) + 1;
}

// manyTops(): more than half of the entries are top level (on noise10 the background's children).
bool kc_ConnectEngine::manyTops() const { return ws_.order.size() > out_.entries.size() / 2; }

// topsById(): whether the top level's links wait for the move to id order, which writes them into
// the entries it moves (ws_.topNext, by id): with many top-level entries (manyTops) when the
// entries move in blocks (listsIds). Writing them into the entries here would touch nearly all of
// them out of order, and listing them by retired index would need the ids before the pass over
// the entries that lists them (linkChildren).
bool kc_ConnectEngine::topsById() const { return listsIds() && manyTops(); }

// listsIds(): whether the finishing pass lists each retired entry's id once, into the label sets
// (spent once the blobs are numbered): when the entries move in blocks (orderInBlocks), which
// reads them there. The pass over the entries that links the child lists lists them
// (linkChildren), as it reads every entry anyway; until then ids are ranked from the keys (idOf),
// which the walks read in entries they write anyway.
bool kc_ConnectEngine::listsIds() const {
  return runLabels_ == nullptr && out_.entries.size() >= kParallelEntries && !restoring_;
}

// sortTop(threads): the top level (ws_.order) in region-list order, the newest record first, on
// up to threads threads: ws_.order or ws_.scratch.
const std::vector<std::uint64_t>& kc_ConnectEngine::sortTop(unsigned threads) {
  const std::size_t n = ws_.order.size();
  const std::size_t parts = threads > 1 && n >= kParallelEntries ? threads : 1;
  return sortBySerial(ws_.order, ws_.scratch, ws_.counts2, serial_, parts, onThreads(parts > 1 ? threads : 1));
}

// markTops(order, threads): every top-level entry (sortTop's order) marked in ws_.linked, the
// others not, so that linkChildren's pass over the entries (linkRest) leaves them alone.
void kc_ConnectEngine::markTops(const std::vector<std::uint64_t>& order, unsigned threads) {
  const std::size_t n = order.size();
  const std::size_t parts = threads > 1 && n >= kParallelEntries ? threads : 1;
  const auto run = onThreads(parts > 1 ? threads : 1);
  std::vector<std::uint8_t>& linked = ws_.linked;
  linked.resize(out_.entries.size());
  run(parts, [&](std::size_t t) {
    const auto [lo, hi] = slice(linked.size(), t, parts);
    std::fill(linked.begin() + static_cast<std::ptrdiff_t>(lo), linked.begin() + static_cast<std::ptrdiff_t>(hi), 0);
  });
  run(parts, [&](std::size_t t) {
    for (auto [k, end] = slice(n, t, parts); k < end; ++k) linked[static_cast<RetiredIndex>(order[k])] = 1;
  });
}

// linkTop(order, topIds, threads): the top-level ids in sortTop's order, and each top-level
// entry's links: under topsById, its next sibling by id (ws_.topNext, kNone for the others),
// which orderInBlocks writes into the entries as it moves them; else written into the entries
// here, each marked linked (ws_.linked). On several threads each takes a slice of the list, first
// for the ids and then for the links (two passes run faster than one that links each entry to the
// one before it).
void kc_ConnectEngine::linkTop(const std::vector<std::uint64_t>& order, std::vector<BlobId>& topIds,
                               unsigned threads) {
  const std::size_t n = order.size();
  const std::size_t parts = threads > 1 && n >= kParallelEntries ? threads : 1;
  const auto run = onThreads(parts > 1 ? threads : 1);
  topIds.resize(n);  // each written below: the size kept from the last call saves a zero-fill
  const bool byId = topsById();
  std::vector<std::uint8_t>& linked = ws_.linked;
  std::vector<std::uint32_t>& next = ws_.topNext;
  if (byId) next.resize(out_.entries.size() + 1);
  else linked.resize(out_.entries.size());
  run(parts, [&](std::size_t t) {
    if (byId) {
      const auto [i, end] = slice(next.size(), t, parts);
      std::fill(next.begin() + static_cast<std::ptrdiff_t>(i), next.begin() + static_cast<std::ptrdiff_t>(end), kNone);
    } else {
      const auto [lo, hi] = slice(linked.size(), t, parts);
      std::fill(linked.begin() + static_cast<std::ptrdiff_t>(lo), linked.begin() + static_cast<std::ptrdiff_t>(hi), 0);
    }
    for (auto [k, last] = slice(n, t, parts); k < last; ++k) topIds[k] = idAt(static_cast<RetiredIndex>(order[k]));
  });
  run(parts, [&](std::size_t t) {
    for (auto [k, end] = slice(n, t, parts); k < end; ++k) {
      const BlobId after = k + 1 == n ? 0 : topIds[k + 1];
      if (byId) {
        next[topIds[k]] = after;
      } else {
        const auto i = static_cast<RetiredIndex>(order[k]);
        kc_BlobEntry& e = out_.entries[i];
        e.parent = 0;
        e.nextSibling = after;
        linked[i] = 1;
      }
    }
  });
}

// linkChildren(threads): links every blob's children in child-list order (the most recently
// closed first, then those inherited through merges), as ids. A weighted blob's pel count leaves
// sumX. On several threads each takes a range of parents: a child is in one list only, and its own
// turn writes other fields than its parent's. Each list is walked ws_.walkLimit children at most,
// marking them (ws_.linked), so that one long list (on noise50 one blob holds most regions) is not
// walked child by child, on one thread: the rest of a single such list is linked by a pass over
// every entry in slices (linkRest), where each live entry not marked (the top level is marked too)
// is one of its children; that pass reads the entries in order, and takes on one thread about two
// thirds of the walk's time. The rests of several lists are walked, one after the other. The pass
// over the entries lists their ids when they are to be listed (see listsIds).
void kc_ConnectEngine::linkChildren(unsigned threads) {
  const std::size_t n = out_.entries.size();
  const bool shared = threads > 1 && n >= kParallelEntries;
  const std::size_t parts = shared ? std::size_t{threads} * 4 : 1;
  const auto run = onThreads(shared ? threads : 1);
  std::vector<std::vector<kc_ListRest>>& rests = ws_.listRests;
  if (rests.size() < parts) rests.resize(parts);
  BlobId* ids = nullptr;
  if (listsIds()) {
    KC_ASSERT(ws_.up.size() >= n, "at least as many labels as entries");
    ids = ws_.up.data();
  }
  run(parts, [&](std::size_t t) {
    rests[t].clear();
    const auto [begin, end] = slice(n, t, parts);
    linkChildrenOf(begin, end, rests[t], ids);
  });
  if (ids != nullptr) ids_ = ids;
  const kc_ListRest* single = nullptr;
  std::size_t unfinished = 0;
  for (std::size_t t = 0; t < parts; ++t) {
    unfinished += rests[t].size();
    if (!rests[t].empty()) single = &rests[t].front();
  }
  if (unfinished == 1) return linkRest(single->parent, run, parts);
  for (std::size_t t = 0; t < parts; ++t)
    for (const kc_ListRest& r : rests[t]) linkList(r.parent, r.next, std::numeric_limits<std::size_t>::max());
}

// linkList(id, c, steps): links up to steps children of blob id from retired entry c on, each
// one's parent and next sibling as ids, and marks them in ws_.linked; returns the first child not
// linked, kNone at the list's end.
std::uint32_t kc_ConnectEngine::linkList(BlobId id, std::uint32_t c, std::size_t steps) {
  kc_EntryArray& entries = out_.entries;
  for (; c != kNone && steps != 0; --steps) {
    ws_.linked[c] = 1;
    kc_BlobEntry& child = entries[c];
    const std::uint32_t next = child.nextSibling;
    KC_ASSERT(idAt(c) != 0, "a child gets a blob");
    child.parent = id;
    child.nextSibling = next == kNone ? 0 : idAt(next);
    c = next;
  }
  return c;
}

void kc_ConnectEngine::linkChildrenOf(std::size_t begin, std::size_t end, std::vector<kc_ListRest>& rest,
                                      BlobId* ids) {
  kc_EntryArray& entries = out_.entries;
  for (std::size_t i = begin; i < end; ++i) {
    kc_BlobEntry& e = entries[i];
    if (ids != nullptr) ids[i] = idOf(e.key);
    if ((e.flags & kc_BlobEntry::kPelSums) == 0) e.sumX = 0;
    if (e.firstChild == kNone) {
      e.firstChild = 0;
      continue;
    }
    const BlobId id = ids != nullptr ? ids[i] : idAt(static_cast<RetiredIndex>(i));
    if (id == 0) continue;
    const std::uint32_t c = e.firstChild;
    e.firstChild = idAt(c);
    if (const std::uint32_t left = linkList(id, c, ws_.walkLimit); left != kNone) rest.push_back({id, left});
  }
}

// linkRest(id, run, parts): links every live entry neither marked in ws_.linked nor top level as
// a child of blob id, in parts slices (run(tasks, body) as onThreads gives): the rest of the one
// list linkChildren left unfinished. Those entries form one chain from where the walk stopped, to
// one end (checked).
template <class Run>
void kc_ConnectEngine::linkRest(BlobId id, const Run& run, std::size_t parts) {
  kc_EntryArray& entries = out_.entries;
  const std::uint8_t* const linked = ws_.linked.data();
  const std::size_t n = entries.size();
  std::atomic<std::uint32_t> ends{0};
  run(parts, [&](std::size_t t) {
    std::uint32_t tails = 0;
    for (auto [i, last] = slice(n, t, parts); i < last; ++i) {
      if (linked[i] != 0 || idAt(static_cast<RetiredIndex>(i)) == 0) continue;
      kc_BlobEntry& child = entries[i];
      const std::uint32_t next = child.nextSibling;
      KC_ASSERT(next == kNone || (next < n && linked[next] == 0),
                "the rest of a list is a chain of its own");
      child.parent = id;
      child.nextSibling = next == kNone ? 0 : idAt(next);
      tails += next == kNone ? 1 : 0;
    }
    ends.fetch_add(tails, std::memory_order_relaxed);
  });
  KC_ASSERT(ends.load() == 1, "the rest of a list ends once");
}

// orderById(count, threads): the entries move to their ids' places; entries without a blob end
// up past count and are cut off. Long runs that keep no labels move in blocks (orderInBlocks);
// otherwise each entry swaps into place in turn, steered by the ids read first into an array of
// their own (placeByIds). The label sets, spent once the ids are known, hold that array (there
// are at least as many labels as entries: each entry's key is a label), except in a run that
// writes rows, which keeps the ids by retired index in rowIds and needs its label sets still.
void kc_ConnectEngine::orderById(std::uint32_t count, unsigned threads) {
  kc_EntryArray& entries = out_.entries;
  const std::size_t n = entries.size();
  retired_ = n - pruned_;
  if (listsIds()) {
    orderInBlocks(count, threads);
  } else {
    std::vector<std::uint32_t> steering;
    std::vector<std::uint32_t>& ids = runLabels_ != nullptr ? steering : ws_.up;
    if (runLabels_ != nullptr) {
      ws_.rowIds.resize(n);
      for (std::size_t i = 0; i < n; ++i) ws_.rowIds[i] = idOf(entries[i].key);
      steering = ws_.rowIds;
    } else {
      KC_ASSERT(ids.size() >= n, "at least as many labels as entries");
      for (std::size_t i = 0; i < n; ++i) ids[i] = idOf(entries[i].key);
    }
    placeByIds(entries, ids.data(), 0, n);
  }
  entries.resize(count);
#ifndef NDEBUG
  for (std::size_t i = 0; i < entries.size(); ++i)
    KC_ASSERT(idOf(entries[i].key) == i + 1 && entries[i].parent < count + 1, "every blob is in place and linked");
#endif
}

// orderInBlocks(count, threads): the move of orderById on up to threads threads. Ids follow raster order and
// retirement nearly does, so few entries lie far from their place: the places split into blocks
// (with threads, threads * 8 of them, ordered at once), every entry outside its place's block
// first swaps home (gatherHome, serially), and each block then orders itself in blocks of its own
// of at most kBlockEntries, each copied aside and back to its places (a block's copy and
// lists per thread, kept in the workspace), where under topsById the top-level entries take
// their links (ws_.topNext). So the moves stay within the cache: following the
// cycles through the whole array, as placeByIds does in place, misses it at nearly every swap on
// noise.
void kc_ConnectEngine::orderInBlocks(std::uint32_t count, unsigned threads) {
  kc_EntryArray& entries = out_.entries;
  const std::size_t n = entries.size();
  KC_ASSERT(ids_ == ws_.up.data(), "the ids are listed in the label sets");
  std::uint32_t* const to = ws_.up.data();  // to[i]: 1 + the place of the entry now at i
  const std::size_t parts = threads > 1 ? std::size_t{threads} * 8 : 1;
  const auto run = onThreads(threads);
  std::vector<std::uint32_t>& dropped = ws_.orderDropped;
  dropped.assign(parts + 1, 0);
  run(parts, [&](std::size_t t) {
    for (auto [i, end] = slice(n, t, parts); i < end; ++i) dropped[t + 1] += to[i] == 0 ? 1 : 0;
  });
  for (std::size_t t = 0; t < parts; ++t) dropped[t + 1] += dropped[t];
  run(parts, [&](std::size_t t) {
    std::uint32_t next = count + dropped[t];
    for (auto [i, end] = slice(n, t, parts); i < end; ++i)
      if (to[i] == 0) to[i] = ++next;
  });
  const Blocks coarse{0, count, n, parts};
  gatherHome(entries, to, coarse, ws_.orderAway, ws_.orderTaken, run);
  // Blocks of a power of two entries, a 32nd of them at most (so that the copy the workspace keeps
  // stays small beside the scene's entries): each entry's block is a shift of its place.
  const auto shift = static_cast<unsigned>(std::bit_width(std::clamp<std::size_t>(n / 32, 1024, kBlockEntries)) - 1);
  const std::size_t groups = std::min<std::size_t>(threads, parts);
  const std::uint32_t* const topNext = topsById() ? ws_.topNext.data() : nullptr;  // by id
  if (ws_.orderScratch.size() < groups) ws_.orderScratch.resize(groups);
  run(groups, [&](std::size_t g) {
    kc_OrderScratch& scratch = ws_.orderScratch[g];
    const auto alone = onThreads(1);
    for (std::size_t c = parts * g / groups; c < parts * (g + 1) / groups; ++c) {
      const std::size_t first = coarse.start(c), last = coarse.end(c);
      const Spans fine{first, last, shift};
      gatherHome(entries, to, fine, scratch.away, scratch.taken, alone);
      for (std::size_t b = 0; b < fine.parts; ++b) {  // through a copy: one move per entry
        scratch.copy.resize(fine.end(b) - fine.start(b));
        for (std::size_t i = fine.start(b); i < fine.end(b); ++i) scratch.copy[i - fine.start(b)] = entries[i];
        if (topNext == nullptr) {
          for (std::size_t i = fine.start(b); i < fine.end(b); ++i) entries[to[i] - 1] = scratch.copy[i - fine.start(b)];
          continue;
        }
        for (std::size_t i = fine.start(b); i < fine.end(b); ++i) {
          kc_BlobEntry& e = entries[to[i] - 1];
          e = scratch.copy[i - fine.start(b)];
          if (const std::uint32_t after = topNext[to[i]]; after != kNone) {
            e.parent = 0;
            e.nextSibling = after;
          }
        }
      }
    }
  });
}
