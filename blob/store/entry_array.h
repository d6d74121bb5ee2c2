// kc_EntryArray: the blob entries of a store, in chunks that never move, so that growing the array
// never holds the entries twice. Internal to the library and its tests.
#pragma once

#include "store/blob_record.h"

#include <cstddef>
#include <iterator>
#include <memory>
#include <new>
#include <vector>

// kc_EntryArray: entries 0..size() - 1. The first kChunk of them lie in a first chunk that grows as
// a vector does (so that a small scene takes little), the others in chunks of kChunk entries each,
// allocated as needed and kept when the array is cleared or shrunk (reuse allocates nothing; a
// grown array holds its entries once, never twice). References stay valid while the array grows,
// but for those into the first chunk while it has not reached kChunk entries.
class kc_EntryArray {
 public:
  static constexpr unsigned kShift = 14;
  static constexpr std::size_t kChunk = std::size_t{1} << kShift;  // 16384 entries, 896 KiB

  kc_EntryArray() = default;
  // Copies hold the same entries in storage of their own, sized to them.
  kc_EntryArray(const kc_EntryArray& other);
  kc_EntryArray& operator=(const kc_EntryArray& other);
  kc_EntryArray(kc_EntryArray&&) noexcept = default;
  kc_EntryArray& operator=(kc_EntryArray&&) noexcept = default;
  ~kc_EntryArray() = default;

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // capacity(): the entries the chunks hold without allocating.
  std::size_t capacity() const { return first_.capacity() < kChunk ? first_.capacity() : kChunk * (1 + chunks_.size()); }

  kc_BlobEntry& operator[](std::size_t i) { return i < kChunk ? first_[i] : chunks_[(i >> kShift) - 1][i & (kChunk - 1)]; }
  const kc_BlobEntry& operator[](std::size_t i) const {
    return i < kChunk ? first_[i] : chunks_[(i >> kShift) - 1][i & (kChunk - 1)];
  }

  // emplace_back(): a value-initialised entry at the end. May throw std::bad_alloc (nothing changed).
  kc_BlobEntry& emplace_back() {
    if (size_ >= kChunk && (size_ >> kShift) - 1 < chunks_.size()) {  // the chunk is there
      kc_BlobEntry* e = new (&chunks_[(size_ >> kShift) - 1][size_ & (kChunk - 1)]) kc_BlobEntry();
      ++size_;
      return *e;
    }
    return grow();
  }
  void push_back(const kc_BlobEntry& e) { emplace_back() = e; }
  // resize(n): the first n entries (new ones value-initialised); the chunks stay.
  void resize(std::size_t n);
  void clear() { resize(0); }
  // resizeForOverwrite(n): resize(n) that leaves the new entries past the first chunk unwritten,
  // for a caller that assigns every one of them before anything reads it. May throw std::bad_alloc
  // (nothing changed).
  void resizeForOverwrite(std::size_t n);
  // reserve(n): room for n entries without allocating. May throw std::bad_alloc.
  void reserve(std::size_t n);
  // fit(n): releases the storage beyond what n entries (at least size()) need; optional: nothing
  // happens when memory is short.
  void fit(std::size_t n);
  void swap(kc_EntryArray& other) noexcept;

  // Iteration in order.
  template <class Array, class Entry>
  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = kc_BlobEntry;
    using difference_type = std::ptrdiff_t;
    using pointer = Entry*;
    using reference = Entry&;
    Iterator(Array* a, std::size_t i) : a_(a), i_(i) {}
    Entry& operator*() const { return (*a_)[i_]; }
    Entry* operator->() const { return &(*a_)[i_]; }
    Iterator& operator++() {
      ++i_;
      return *this;
    }
    bool operator==(const Iterator& o) const { return i_ == o.i_; }

   private:
    Array* a_;
    std::size_t i_;
  };
  using iterator = Iterator<kc_EntryArray, kc_BlobEntry>;
  using const_iterator = Iterator<const kc_EntryArray, const kc_BlobEntry>;
  iterator begin() { return {this, 0}; }
  iterator end() { return {this, size_}; }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size_}; }

 private:
  // grow(): emplace_back() into the first chunk or a chunk still to be allocated.
  kc_BlobEntry& grow();
  // A chunk's storage: allocated raw (its pages are touched only as entries are made there).
  struct Release {
    void operator()(kc_BlobEntry* p) const noexcept;
  };
  using Chunk = std::unique_ptr<kc_BlobEntry[], Release>;

  std::vector<kc_BlobEntry> first_;  // entries 0 .. kChunk - 1; its size is min(size_, kChunk)
  std::vector<Chunk> chunks_;        // entry i >= kChunk in chunk (i >> kShift) - 1
  std::size_t size_ = 0;
};
