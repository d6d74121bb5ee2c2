// The chunked array of blob entries.
#include "store/entry_array.h"

#include <new>
#include <utility>

void kc_EntryArray::Release::operator()(kc_BlobEntry* p) const noexcept { ::operator delete(p); }

kc_EntryArray::kc_EntryArray(const kc_EntryArray& other) {
  reserve(other.size_);
  for (const kc_BlobEntry& e : other) push_back(e);
}

kc_EntryArray& kc_EntryArray::operator=(const kc_EntryArray& other) {
  if (this != &other) {
    kc_EntryArray copy(other);
    swap(copy);
  }
  return *this;
}

kc_BlobEntry& kc_EntryArray::grow() {
  if (size_ < kChunk) {
    kc_BlobEntry& e = first_.emplace_back();
    ++size_;
    return e;
  }
  const std::size_t chunk = (size_ >> kShift) - 1;
  if (chunk == chunks_.size()) {
    chunks_.reserve(chunks_.size() + 1);
    chunks_.emplace_back(static_cast<kc_BlobEntry*>(::operator new(kChunk * sizeof(kc_BlobEntry))));
  }
  kc_BlobEntry* e = new (&chunks_[chunk][size_ & (kChunk - 1)]) kc_BlobEntry();
  ++size_;
  return *e;
}

void kc_EntryArray::resize(std::size_t n) {
  if (n <= size_) {
    if (n < kChunk) first_.resize(n);
    size_ = n;
    return;
  }
  reserve(n);
  while (size_ < n) emplace_back();
}

void kc_EntryArray::resizeForOverwrite(std::size_t n) {
  if (n <= size_ || n <= kChunk) return resize(n);
  reserve(n);
  if (size_ < kChunk) first_.resize(kChunk);
  size_ = n;  // the chunks' storage holds entries, implicitly, once assigned
}

void kc_EntryArray::reserve(std::size_t n) {
  if (n <= kChunk) {
    first_.reserve(n);
    return;
  }
  first_.reserve(kChunk);
  const std::size_t chunks = (n - 1) >> kShift;  // beyond the first
  chunks_.reserve(chunks);
  while (chunks_.size() < chunks)
    chunks_.emplace_back(static_cast<kc_BlobEntry*>(::operator new(kChunk * sizeof(kc_BlobEntry))));
}

void kc_EntryArray::fit(std::size_t n) {
  if (n < size_) n = size_;
  const std::size_t chunks = n <= kChunk ? 0 : (n - 1) >> kShift;
  if (chunks_.size() > chunks) chunks_.resize(chunks);
  if (n < kChunk && first_.capacity() > n + n / 4 + 64) {
    try {
      std::vector<kc_BlobEntry> exact;
      exact.reserve(n);
      exact.assign(first_.begin(), first_.end());
      first_.swap(exact);
    } catch (const std::bad_alloc&) {
    }
  }
}

void kc_EntryArray::swap(kc_EntryArray& other) noexcept {
  first_.swap(other.first_);
  chunks_.swap(other.chunks_);
  std::swap(size_, other.size_);
}
