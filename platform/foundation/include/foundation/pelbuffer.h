// Pel images: 8-bit images in row-aligned storage shared by reference count, and their archive form.
#pragma once

#include <foundation/geometry.h>
#include <foundation/xform.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

class kcArchive;

// kc_PelBuffer: the state common to kcPelBuffer_const<T> and kcPelBuffer<T>: a window of width x
// height pels inside shared storage, its image position (offset) and its transform cache.
//
// Copy semantics: copying or assigning an image copies the window description and shares the pels
// (the storage lives while any image refers to it). Writes through one kcPelBuffer therefore show
// through every copy of it, including kcPelBuffer_const images made from it. deepCopy() gives an
// image with storage of its own. Offset and transform cache are per object, never shared.
//
// An image is unbound (no storage) when default-constructed or after setUnbound(); one made with
// width or height 0 is bound but empty. Coordinates: pel (x, y) of the window is at image position
// offset() + (x, y).
class kc_PelBuffer {
 public:
  // Largest number of bytes one image may occupy (row strides included); larger requests are refused.
  static constexpr std::uint64_t kMaxBytes = std::uint64_t{1} << 32;

  // width(), height(): the window size in pels; 0 for an unbound image.
  long width() const { return width_; }
  long height() const { return height_; }
  // rowStride(): bytes from the start of one row to the start of the next (>= width()).
  long rowStride() const { return stride_; }
  // isBound(): whether the image refers to storage (true also for a bound image of width 0).
  bool isBound() const { return static_cast<bool>(store_); }

  // offset(): image position of the window's first pel. offset(p) sets it; no other effect.
  const kcPair<long>& offset() const { return offset_; }
  void offset(const kcPair<long>& position) { offset_ = position; }

  // xformCache(): the transform pair carried with the image (identity by default).
  // copyXforms(cache): replaces it with a copy of cache (handles shared, not cloned).
  const kc2XformCache& xformCache() const { return xforms_; }
  void copyXforms(const kc2XformCache& cache) { xforms_ = cache; }

  // setUnbound(): drops the reference to the storage; width and height become 0. Offset and
  // transform cache are kept.
  void setUnbound();

  // samePels(other): whether both images are unbound, or both are bound with equal width, height,
  // offset and pel values. Transform caches and strides are not compared. Cost: one pass over pels.
  bool samePels(const kc_PelBuffer& other) const;

 protected:
  kc_PelBuffer() = default;
  // Allocates zero-filled storage of width x height with rows aligned to `alignment` bytes.
  // Throws kcBadArgument when width or height is negative, alignment is not a power of two in
  // 1..4096, or the storage would exceed kMaxBytes; nothing is allocated then.
  kc_PelBuffer(long width, long height, int alignment);

  // rowAt(y): the first pel of row y. Throws kcBadArgument when the image is unbound or y is
  // outside [0, height()).
  unsigned char* rowAt(long y) const;
  // narrowTo(rect): narrows this description to rect, given in image coordinates (the
  // coordinates of offset()), keeping the storage; the offset becomes rect.ul(). Throws kcBadArgument when the image is unbound,
  // rect has a width or height below 1, or rect does not lie inside the window.
  void narrowTo(const kcPelRect& rect);
  // cloneStorage(): gives this object its own storage with the same pels (alignment 32).
  void cloneStorage();

 private:
  friend kcArchive& operator||(kcArchive& ar, kc_PelBuffer& image);

  std::shared_ptr<unsigned char[]> store_;  // owns the allocation; null when unbound
  unsigned char* first_ = nullptr;           // first pel of the window, inside store_
  long width_ = 0;
  long height_ = 0;
  long stride_ = 0;
  kcPair<long> offset_{0, 0};
  kc2XformCache xforms_;
};

// kcPelBuffer_const<T>: a read-only view of an 8-bit image (T must be unsigned char).
template <class T>
class kcPelBuffer_const : public kc_PelBuffer {
  static_assert(std::is_same_v<T, unsigned char>, "only 8-bit pel images are provided");

 public:
  // An unbound image.
  kcPelBuffer_const() = default;
  // A zero-filled image at offset (0, 0); alignment: row starts are multiples of this many bytes.
  // Throws kcBadArgument as kc_PelBuffer's allocating constructor.
  kcPelBuffer_const(long width, long height, int alignment = 32)
      : kc_PelBuffer(width, height, alignment) {}

  // pointToRow(y): the first pel of row y, valid while any image shares this storage.
  // Throws kcBadArgument when unbound or y is outside [0, height()).
  const T* pointToRow(long y) const { return rowAt(y); }

  // subWindow(rect): an image of the pels inside rect (image coordinates), sharing the storage,
  // with offset rect.ul() and this image's transform cache. Throws kcBadArgument when unbound,
  // when rect is empty or when it does not lie inside this image.
  kcPelBuffer_const subWindow(const kcPelRect& rect) const {
    kcPelBuffer_const result(*this);
    result.narrowTo(rect);
    return result;
  }
  // deepCopy(): the same image with storage of its own (unbound stays unbound).
  kcPelBuffer_const deepCopy() const {
    kcPelBuffer_const result(*this);
    result.cloneStorage();
    return result;
  }
};

// kcPelBuffer<T>: a writable 8-bit image. Converts to kcPelBuffer_const<T> by sharing its pels.
template <class T>
class kcPelBuffer : public kcPelBuffer_const<T> {
 public:
  kcPelBuffer() = default;
  kcPelBuffer(long width, long height, int alignment = 32)
      : kcPelBuffer_const<T>(width, height, alignment) {}

  // pointToRow(y): writable first pel of row y; the same contract as the const form.
  T* pointToRow(long y) const { return this->rowAt(y); }

  kcPelBuffer subWindow(const kcPelRect& rect) const {
    kcPelBuffer result(*this);
    result.narrowTo(rect);
    return result;
  }
  kcPelBuffer deepCopy() const {
    kcPelBuffer result(*this);
    result.cloneStorage();
    return result;
  }
};

// operator||(ar, image): archives a pel image: a version byte (0), bound flag, width, height,
// offset x and y (as long), the transform cache, then the pels row by row without padding.
// Loading builds a new image (alignment 32) and assigns it only when everything was read; a
// damaged form (newer version: kcArchive::UnknownVersion; negative or oversized sizes, short
// data: kcArchive::Damaged) leaves image unchanged. Storing writes nothing before its checks.
// Loading costs work in proportion to the bytes read, whatever sizes the archive declares (an image
// without columns has no pel bytes and is loaded without visiting its rows).
kcArchive& operator||(kcArchive& ar, kc_PelBuffer& image);
