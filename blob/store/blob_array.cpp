// The kcBlob objects of a scene: made in place once, kept from analysis to analysis.
#include "store/blob_array.h"

#include <foundation/assert.h>

#include <algorithm>
#include <new>

kc_BlobArray::~kc_BlobArray() {
  for (std::size_t i = 0; i < capacity_; ++i) blobs_[i].~kcBlob();
  ::operator delete(blobs_, std::align_val_t{alignof(kcBlob)});
}

void kc_BlobArray::ensure(std::size_t n, const kcBlobSceneDescription* scene) {
  if (n <= capacity_) return;
  constexpr std::size_t kMax = 0x7FFFFFFF;
  KC_ASSERT(n <= kMax, "a scene holds at most 2^31 - 1 blobs");
  const std::size_t capacity = std::min(std::max(n, capacity_ + capacity_ / 4), kMax);
  auto* fresh = static_cast<kcBlob*>(::operator new(capacity * sizeof(kcBlob), std::align_val_t{alignof(kcBlob)}));
  for (std::size_t i = 0; i < capacity; ++i)
    new (fresh + i) kcBlob(scene, static_cast<std::int32_t>(i + 1), kcBlob::InScene{});
  kc_BlobArray next;
  next.blobs_ = fresh;
  next.capacity_ = capacity;
  swap(next);
}

void kc_BlobArray::attach(const kcBlobSceneDescription* scene) {
  for (std::size_t i = 0; i < capacity_; ++i) blobs_[i].held(scene);
}

void kc_BlobArray::swap(kc_BlobArray& other) noexcept {
  std::swap(blobs_, other.blobs_);
  std::swap(capacity_, other.capacity_);
}
