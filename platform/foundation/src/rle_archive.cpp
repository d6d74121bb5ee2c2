// The archive form of run-length images, with validation of the loaded rows.
#include <foundation/archive.h>
#include <foundation/persist.h>
#include <foundation/rlebuffer.h>

#include "rle_rep.h"

namespace {

// The archive form's version, and the line its version errors report: a fixed number, kept in the
// error's message and archive form.
constexpr unsigned char kVersion = 0;
constexpr int kVersionLine = 44;
constexpr kc_Persist::Level kLevel{kVersion, "foundation/rlebuffer", kVersionLine};

// Validates loaded bytes as exactly height rows of width pels; throws kcArchive::Damaged.
std::shared_ptr<const kc_RLERep> checkLoaded(std::vector<unsigned char>&& bytes, long width,
                                                    long height) {
  std::vector<std::size_t> offsets;
  offsets.reserve(static_cast<std::size_t>(height));
  const unsigned char* begin = bytes.data();
  const unsigned char* limit = begin + bytes.size();
  const unsigned char* p = begin;
  std::uint64_t runs = 0;
  unsigned bits = 0;
  for (long y = 0; y < height; ++y) {
    kc_RowCheck check = kf_CheckRow(p, limit, static_cast<std::uint64_t>(width));
    if (!check.end) kcArchive::damaged();
    offsets.push_back(static_cast<std::size_t>(p - begin));
    runs += check.runs;
    bits |= check.valueBits;
    p = check.end;
  }
  if (p != limit) kcArchive::damaged();
  return kf_MakeRep(std::move(bytes), offsets, runs, bits <= 1);
}

}  // namespace

void kcRLEBuffer::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, kLevel, &kcRLEBuffer::serialize_);
}

void kcRLEBuffer::serialize_(kcArchive& ar, unsigned char) {
  kcPersistent::dispatchSerialize(ar);
  if (ar.isStoring()) {
    bool bound = !isDegenerate();
    ar || bound;
    if (bound) {
      long width = width_, height = height_;
      ar || width || height;
      std::vector<unsigned char> bytes;
      for (std::int32_t y = 0; y < height_; ++y) {
        const unsigned char* row = rep_->rows[static_cast<std::size_t>(y)];
        const unsigned char* end = row;
        while (end[1] != 0) end += 2;
        bytes.insert(bytes.end(), row, end + 2);
      }
      ar || bytes;
    }
    long x = offset_.x(), y = offset_.y();
    ar || x || y || xforms_;
    return;
  }
  bool bound = false;
  ar || bound;
  std::shared_ptr<const kc_RLERep> rep;
  long width = 0, height = 0;
  if (bound) {
    ar || width || height;
    if (width < 1 || height < 1) kcArchive::damaged();
    // Each row needs at least its terminator: two bytes.
    ar.checkCount(static_cast<std::uint64_t>(height), 2);
    std::vector<unsigned char> bytes;
    ar || bytes;
    rep = checkLoaded(std::move(bytes), width, height);
  }
  long x = 0, y = 0;
  kc2XformCache xforms;
  ar || x || y || xforms;
  install(std::move(rep), width, height);
  offset_ = kcPair<long>(x, y);
  xforms_ = std::move(xforms);
}
