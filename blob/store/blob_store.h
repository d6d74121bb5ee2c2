// The storage of a scene's blobs: compact entries in id order, one run store for every blob's
// rows, and the caches and view links made on demand. Internal to the library and its tests.
#pragma once

#include "store/blob_record.h"
#include "store/entry_array.h"

#include <foundation/geometry.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

// kc_RunBytes: uninitialised byte storage that grows but never shrinks, so that analysing again
// reuses it. Shared (std::shared_ptr) with the blob regions handed out, which keep it alive.
class kc_RunBytes {
 public:
  // reserve(bytes): room for at least bytes; the old content is dropped when it grows.
  void reserve(std::size_t bytes);
  unsigned char* data() { return bytes_.get(); }
  const unsigned char* data() const { return bytes_.get(); }
  std::size_t capacity() const { return capacity_; }

 private:
  std::unique_ptr<unsigned char[]> bytes_;
  std::size_t capacity_ = 0;
};

// kc_MeasureCaches: the measure caches of a store's blobs, in order of first request; an element
// never moves. Made with the first one (an empty store allocates nothing, as a stream's many
// small scenes need).
class kc_MeasureCaches {
 public:
  kc_MeasureCaches() = default;
  kc_MeasureCaches(const kc_MeasureCaches& other)
      : caches_(other.size() != 0 ? std::make_unique<std::deque<kc_BlobMeasures>>(*other.caches_) : nullptr) {}
  kc_MeasureCaches& operator=(const kc_MeasureCaches& other) {
    kc_MeasureCaches copy(other);
    swap(copy);
    return *this;
  }
  kc_MeasureCaches(kc_MeasureCaches&&) noexcept = default;
  kc_MeasureCaches& operator=(kc_MeasureCaches&&) noexcept = default;

  kc_BlobMeasures& emplace_back() {
    if (!caches_) caches_ = std::make_unique<std::deque<kc_BlobMeasures>>();
    return caches_->emplace_back();
  }
  std::size_t size() const { return caches_ ? caches_->size() : 0; }
  kc_BlobMeasures& operator[](std::size_t i) { return (*caches_)[i]; }
  const kc_BlobMeasures& operator[](std::size_t i) const { return (*caches_)[i]; }
  void clear() {
    if (caches_) caches_->clear();
  }
  void swap(kc_MeasureCaches& other) noexcept { caches_.swap(other.caches_); }

 private:
  std::unique_ptr<std::deque<kc_BlobMeasures>> caches_;
};

class kc_BlobStore;

// kc_RowMaker: makes the rows of every blob of a store on demand (the connectivity engine runs the
// analysis again over the image it kept). Shared by a store and its copies; immutable.
class kc_RowMaker {
 public:
  virtual ~kc_RowMaker();
  // make(store): fills store.runs and store.rowOffsets for store.entries, which the analysis
  // behind this maker produced. Allocates; may throw std::bad_alloc, kcAttention::Abandoned or
  // another platform exception, leaving the store as it was.
  virtual void make(kc_BlobStore& store) const = 0;
};

// kc_BlobStore: the blobs of one analysis.
//
// Memory: 56 bytes per blob (kc_BlobEntry; with the scene's kcBlob object, made at the first need,
// 80 bytes), 4 more once a previous sibling is asked for and 4 once a number of children is. The rows of the blobs' regions are made on
// demand: by the connectivity engine the first time any blob needs its rows (a region, a
// projection, an outline, a picture, an archive), all of them at once, exactly sized (a row is its
// runs, gaps included, and a terminator), with 8 bytes per blob for their offsets. Until then a
// store of an analysis holds its image through the maker. The measure records (56 bytes per blob)
// come with the first measure that needs them (the area, centroid and centre of mass of a blob with
// pel sums only mark that they were asked, one byte per blob), the view links (20 bytes per blob)
// with the first query of the filtered and sorted view, the other caches per blob (kc_BlobMeasures) with the first measure
// that needs them.
//
// Measured (steady_state_bench, the allocator's own count of live bytes after an analysis into
// reused results that asked area, centre of mass and image bounding box of every region, with all
// that the results and the engine keep): 126.5 bytes per region on 50 % noise at 2048 x 2048 (56
// of entry, 24 of kcBlob, 1 of marks; the rest the encoded input, kept twice over by the results'
// run storage, and the engine's workspace: 4 bytes per label, 1 per entry for the finishing pass's
// links (5 where most entries are top level), the open regions, two rows of runs, the copy of a
// block of entries for their move to id order, a 32nd of them at most), 94 when the input comes
// run-length encoded, 135 on 10 % noise, 95 on a checkerboard of 1-pel squares.
//
// Reuse: clear() keeps every allocation; a store filled again with a similar analysis allocates
// nothing. Releasing a store costs one deallocation per array (and a destructor per blob only for
// blobs that made kc_BlobMeasures).
//
// Copies: entries, offsets, records, measures and links are copied; the run bytes and the
// maker are shared (neither changes once made).
class kc_BlobStore {
 public:
  // size(): the number of blobs.
  std::uint32_t size() const { return static_cast<std::uint32_t>(entries.size()); }
  // entry(id): blob id's entry (1..size(), unchecked: callers hold a checked id).
  kc_BlobEntry& entry(BlobId id) { return entries[id - 1]; }
  const kc_BlobEntry& entry(BlobId id) const { return entries[id - 1]; }

  // rows(id): the first row of blob id's region (1..size(), unchecked); its other rows follow it.
  // Makes every blob's rows on the first call (see kc_RowMaker::make, whose exceptions pass
  // through). Valid while the store's run bytes live.
  const unsigned char* rows(BlobId id);
  // hasRows(): whether the rows exist (always once made, or for a store filled with them).
  bool hasRows() const { return rowOffsets.size() == size(); }
  // imageRect(e): an entry's rectangle in image coordinates.
  kcPelRect imageRect(const kc_BlobEntry& e) const {
    return kcPelRect(origin.x() + e.left, origin.y() + e.top, e.width, e.height);
  }

  // record(id): the measure record of blob id (1..size(), unchecked: callers hold a checked id).
  // Makes every blob's record on the first call after a fill; may throw std::bad_alloc then.
  // Precondition (internal assertion): no marks are held (the measures turn marks into records,
  // see kf_MakeRecords).
  kc_BlobRecord& record(BlobId id);
  bool hasRecords() const { return !records.empty(); }
  // measures(id): blob id's other caches, made on first use (kc_BlobRecord::measures points at
  // them). References stay valid until the store is cleared or destroyed. Precondition as record.
  kc_BlobMeasures& measures(BlobId id);
  // mark(id): blob id's marks of the measures computed while the store holds no records; every
  // blob's (0) are made on the first call, which may throw std::bad_alloc.
  std::uint8_t& mark(BlobId id) {
    if (marks.empty()) marks.resize(size(), 0);
    return marks[id - 1];
  }
  // shown(id): blob id's view links; every blob's are made (stale) on the first call.
  kc_ShownLinks& shown(BlobId id);

  // clear(): no blobs; every allocation is kept for the next fill. The run bytes are dropped
  // (not reused) when a region handed out still shares them; the maker is dropped.
  void clear();
  // dropCaches(): what the measures, the views and the rows made of the blobs goes (the blobs
  // themselves stay); the arrays keep their capacity, the run bytes are let go.
  void dropCaches() noexcept;
  // takeBlobs(other): exchanges the blobs (entries, previous siblings and origin) with other's,
  // allocating nothing.
  void takeBlobs(kc_BlobStore& other) noexcept;
  // reserveRuns(bytes): run bytes of at least that size, owned by this store alone (a new block
  // when the current one is shared or too small).
  unsigned char* reserveRuns(std::size_t bytes);
  // swap(other): exchanges the contents, allocating nothing.
  void swap(kc_BlobStore& other) noexcept;

  kc_EntryArray entries;                // element i is blob i + 1
  bool edited = false;                 // entries changed since they were made (a blob's reInit)
  std::vector<BlobId> prevs;           // the previous siblings and the numbers of children, made on
  std::vector<std::uint32_t> counts;   // demand (kc_BSDData::prevSiblingOf)
  kcPair<long> origin{0, 0};           // image position the entries' coordinates count from
  std::vector<std::uint64_t> rowOffsets;  // byte offset of each entry's first row; empty until made
  std::shared_ptr<kc_RunBytes> runs;             // null until rows are made (reserveRuns)
  std::shared_ptr<const kc_RowMaker> rowMaker;  // makes the rows; null when they are given
  std::vector<kc_BlobRecord> records;  // empty until a measure needs one, then one per blob
  // Instead of records, for the area, centroid and centre of mass of blobs with pel sums: which
  // of them were computed (bits kc_BlobRecord::kArea...), their values being derived from the entry.
  std::vector<std::uint8_t> marks;
  kc_MeasureCaches extra;
  std::vector<kc_ShownLinks> links;    // empty until a view is built, then one per blob
};
