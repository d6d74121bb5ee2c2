// The blob store: run bytes that are reused, and the caches and view links made on demand.
#include "store/blob_store.h"

#include <foundation/assert.h>

void kc_RunBytes::reserve(std::size_t bytes) {
  if (bytes <= capacity_) return;
  // Uninitialised on purpose: every byte handed out is written before it is read.
  bytes_.reset(new unsigned char[bytes]);
  capacity_ = bytes;
}

kc_RowMaker::~kc_RowMaker() = default;

const unsigned char* kc_BlobStore::rows(BlobId id) {
  if (!hasRows()) {
    KC_ASSERT(rowMaker != nullptr, "a store without rows has a maker for them");
    rowMaker->make(*this);
    KC_ASSERT(hasRows(), "the maker made every blob's rows");
  }
  return runs->data() + rowOffsets[id - 1];
}

kc_BlobRecord& kc_BlobStore::record(BlobId id) {
  KC_ASSERT(marks.empty(), "a store holds records or marks, not both");
  if (records.empty()) records.resize(size());
  return records[id - 1];
}

kc_BlobMeasures& kc_BlobStore::measures(BlobId id) {
  kc_BlobRecord& r = record(id);
  if (r.measures == 0) {
    KC_ASSERT(extra.size() < 0xFFFFFFFFu, "a store holds fewer than 2^32 - 1 measure caches");
    extra.emplace_back();
    r.measures = static_cast<std::uint32_t>(extra.size());
  }
  return extra[r.measures - 1];
}

kc_ShownLinks& kc_BlobStore::shown(BlobId id) {
  if (links.empty()) links.resize(size());
  return links[id - 1];
}

void kc_BlobStore::clear() {
  entries.clear();
  edited = false;
  prevs.clear();
  counts.clear();
  rowOffsets.clear();
  rowMaker.reset();
  records.clear();
  marks.clear();
  extra.clear();
  links.clear();
  origin = kcPair<long>(0, 0);
}

void kc_BlobStore::takeBlobs(kc_BlobStore& other) noexcept {
  entries.swap(other.entries);
  std::swap(edited, other.edited);
  prevs.swap(other.prevs);
  counts.swap(other.counts);
  std::swap(origin, other.origin);
}

void kc_BlobStore::dropCaches() noexcept {
  prevs.clear();
  counts.clear();
  rowOffsets.clear();
  runs.reset();
  rowMaker.reset();
  records.clear();
  marks.clear();
  extra.clear();
  links.clear();
}

void kc_BlobStore::swap(kc_BlobStore& other) noexcept {
  takeBlobs(other);
  rowOffsets.swap(other.rowOffsets);
  runs.swap(other.runs);
  rowMaker.swap(other.rowMaker);
  records.swap(other.records);
  marks.swap(other.marks);
  extra.swap(other.extra);
  links.swap(other.links);
}

unsigned char* kc_BlobStore::reserveRuns(std::size_t bytes) {
  if (runs.use_count() != 1) runs = std::make_shared<kc_RunBytes>();  // none, or shared
  runs->reserve(bytes == 0 ? 1 : bytes);
  return runs->data();
}
