// Pel images: allocation, row access, windows, deep copies and the archive form.
#include <foundation/archive.h>
#include <foundation/exception.h>
#include <foundation/pelbuffer.h>
#include <foundation/persist.h>

#include <cstring>
#include <limits>

namespace {

const wchar_t* const kBadSize = L"The image width and height must be non-negative and the image not too large.";
const wchar_t* const kBadAlignment = L"The row alignment must be a power of two from 1 to 4096.";
const wchar_t* const kUnbound = L"The image is unbound.";
const wchar_t* const kBadRow = L"The row index lies outside the image.";
const wchar_t* const kBadWindow = L"The window is empty or does not lie inside the image.";

constexpr int kArchiveAlignment = 32;
// The archive form's version, and the line its version errors report: a fixed number, kept in the
// error's message and archive form.
constexpr unsigned char kVersion = 0;
constexpr int kVersionLine = 98;
constexpr kc_Persist::Level kLevel{kVersion, "foundation/pelbuffer", kVersionLine};

// Allocates zero-filled storage of height rows of stride bytes, aligned to alignment; sets first to
// the aligned start.
std::shared_ptr<unsigned char[]> allocate(std::uint64_t bytes, int alignment, unsigned char*& first) {
  auto store = std::make_shared<unsigned char[]>(bytes + static_cast<std::uint64_t>(alignment));
  auto address = reinterpret_cast<std::uintptr_t>(store.get());
  auto mask = static_cast<std::uintptr_t>(alignment - 1);
  first = store.get() + (((address + mask) & ~mask) - address);
  return store;
}

}  // namespace

kc_PelBuffer::kc_PelBuffer(long width, long height, int alignment) {
  if (alignment < 1 || alignment > 4096 || (alignment & (alignment - 1)) != 0)
    throw kcBadArgument(kBadAlignment);
  if (width < 0 || height < 0 || width > std::numeric_limits<std::int32_t>::max() ||
      height > std::numeric_limits<std::int32_t>::max())
    throw kcBadArgument(kBadSize);
  auto align = static_cast<std::uint64_t>(alignment);
  std::uint64_t stride = (static_cast<std::uint64_t>(width) + align - 1) / align * align;
  std::uint64_t bytes = stride * static_cast<std::uint64_t>(height);
  if (bytes > kMaxBytes) throw kcBadArgument(kBadSize);
  store_ = allocate(bytes, alignment, first_);
  width_ = width;
  height_ = height;
  stride_ = static_cast<long>(stride);
}

void kc_PelBuffer::setUnbound() {
  store_.reset();
  first_ = nullptr;
  width_ = height_ = stride_ = 0;
}

unsigned char* kc_PelBuffer::rowAt(long y) const {
  if (!store_) throw kcBadArgument(kUnbound);
  if (y < 0 || y >= height_) throw kcBadArgument(kBadRow);
  return first_ + y * stride_;
}

void kc_PelBuffer::narrowTo(const kcPelRect& rect) {
  if (!store_) throw kcBadArgument(kUnbound);
  long x0 = rect.ul().x() - offset_.x();
  long y0 = rect.ul().y() - offset_.y();
  if (rect.width() < 1 || rect.height() < 1 || x0 < 0 || y0 < 0 || x0 > width_ - rect.width() ||
      y0 > height_ - rect.height())
    throw kcBadArgument(kBadWindow);
  first_ += y0 * stride_ + x0;
  width_ = rect.width();
  height_ = rect.height();
  offset_ = rect.ul();
}

void kc_PelBuffer::cloneStorage() {
  if (!store_) return;
  kc_PelBuffer fresh(width_, height_, kArchiveAlignment);
  for (long y = 0; y < height_; ++y)
    std::memcpy(fresh.first_ + y * fresh.stride_, first_ + y * stride_, static_cast<std::size_t>(width_));
  store_ = std::move(fresh.store_);
  first_ = fresh.first_;
  stride_ = fresh.stride_;
}

bool kc_PelBuffer::samePels(const kc_PelBuffer& other) const {
  if (isBound() != other.isBound()) return false;
  if (!isBound()) return true;
  if (width_ != other.width_ || height_ != other.height_ || !(offset_ == other.offset_)) return false;
  for (long y = 0; y < height_; ++y) {
    if (std::memcmp(first_ + y * stride_, other.first_ + y * other.stride_,
                    static_cast<std::size_t>(width_)) != 0)
      return false;
  }
  return true;
}

kcArchive& operator||(kcArchive& ar, kc_PelBuffer& image) {
  kc_Persist::version(ar, kLevel);
  if (ar.isStoring()) {
    bool bound = image.isBound();
    long width = image.width_, height = image.height_;
    long x = image.offset_.x(), y = image.offset_.y();
    ar || bound || width || height || x || y || image.xforms_;
    for (long row = 0; width != 0 && row < height; ++row)
      ar.writeBytes(image.first_ + row * image.stride_, static_cast<std::size_t>(width));
    return ar;
  }
  bool bound = false;
  long width = 0, height = 0, x = 0, y = 0;
  kc2XformCache xforms;
  ar || bound || width || height || x || y || xforms;
  if (width < 0 || height < 0) kcArchive::damaged();
  if (!bound && (width != 0 || height != 0)) kcArchive::damaged();
  kc_PelBuffer loaded;
  if (bound) {
    // An image without columns has no pel bytes, however many rows it declares: reading rows
    // costs work only for the bytes the archive holds.
    if (width != 0) ar.checkCount(static_cast<std::uint64_t>(height), static_cast<std::size_t>(width));
    loaded = kc_PelBuffer(width, height, kArchiveAlignment);
    for (long row = 0; width != 0 && row < height; ++row)
      ar.readBytes(loaded.first_ + row * loaded.stride_, static_cast<std::size_t>(width));
  }
  loaded.offset_ = kcPair<long>(x, y);
  loaded.xforms_ = std::move(xforms);
  image = std::move(loaded);
  return ar;
}
