// The kcBlob objects of a scene: one per blob id, made once and kept from analysis to analysis.
#pragma once

#include <blob/blob.h>

#include <cstddef>
#include <cstdint>

// kc_BlobArray: capacity() kcBlob objects of one scene, element i with id i + 1, each reading its
// data from the scene's store (24 bytes per object). The objects never change between analyses:
// a new analysis with no more blobs than the capacity touches none of them; one with more drops
// the array, and the scene makes a larger one at the first need (kc_BSDData::objects()).
// Copying gives an empty array: blob objects belong to one scene, whose copy makes its own.
class kc_BlobArray {
 public:
  kc_BlobArray() = default;
  kc_BlobArray(const kc_BlobArray&) : kc_BlobArray() {}
  kc_BlobArray& operator=(const kc_BlobArray&) = delete;
  ~kc_BlobArray();

  std::size_t capacity() const { return capacity_; }
  // operator[](i): the blob with id i + 1, i < capacity() (unchecked).
  kcBlob& operator[](std::size_t i) { return blobs_[i]; }
  const kcBlob& operator[](std::size_t i) const { return blobs_[i]; }

  // ensure(n, scene): at least n blobs of scene, in a new array when there are fewer: every blob
  // pointer handed out before is then invalid. May throw std::bad_alloc, changing nothing.
  void ensure(std::size_t n, const kcBlobSceneDescription* scene);
  // attach(scene): every blob names scene.
  void attach(const kcBlobSceneDescription* scene);
  void swap(kc_BlobArray& other) noexcept;

 private:
  kcBlob* blobs_ = nullptr;
  std::size_t capacity_ = 0;
};
