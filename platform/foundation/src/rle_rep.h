// Private to the run-length image sources: the shared run storage and the row validator.
#pragma once

#include <foundation/attention.h>
#include <foundation/rlebuffer.h>

#include <cstdint>
#include <memory>
#include <vector>

// Everything declared here stays inside the foundation's shared library.
#pragma GCC visibility push(hidden)

// kc_RLERep: the immutable runs of one image. rows[y] points into one of the chunks, or into bytes
// that keep holds alive (a view on runs someone else owns).
// Invariants: rows.size() is the image height (>= 1); every row obeys the run layout for the
// image width; numRuns counts the runs before the terminators; isBinary is true exactly when every
// run value is 0 or 1.
// A rep made by a kcRLEStorage's pool (rle_sink.h) is refilled by a later encoding once only the
// pool holds it; its one chunk may hold unused bytes after the rows.
struct kc_RLERep {
  std::vector<std::vector<unsigned char>> chunks;
  std::shared_ptr<const void> keep;
  std::vector<const unsigned char*> rows;
  std::uint64_t numRuns = 0;
  bool isBinary = true;
};

// kf_AttendRow(y): the cancellation point of the row loops of long image operations (encoders,
// masking, morphology, projections, windows): kcAttention::check() once every 16 rows, so an
// abandon request is honoured within 16 rows of any image. Costs one test per row otherwise.
inline void kf_AttendRow(std::uint64_t y) {
  if ((y & 15) == 15) kcAttention::check();
}

// kc_RowCheck: what one validated row held.
struct kc_RowCheck {
  const unsigned char* end = nullptr;  // just past the terminator; null when the row is malformed
  std::uint64_t runs = 0;              // runs before the terminator
  unsigned valueBits = 0;              // OR of the run values
};

// kf_CheckRow(row, limit, width): walks the row starting at row without reading at or past limit.
// The row is well formed when every run before the terminator has length 1..255, the terminator
// (length byte 0, value byte 0) lies before limit, and the lengths add up to width.
inline kc_RowCheck kf_CheckRow(const unsigned char* row, const unsigned char* limit, std::uint64_t width) {
  kc_RowCheck check;
  std::uint64_t pels = 0;
  const unsigned char* p = row;
  while (limit - p >= 2) {
    if (p[1] == 0) {
      if (p[0] != 0 || pels != width) return check;
      check.end = p + 2;
      return check;
    }
    pels += p[1];
    if (pels > width) return check;
    check.valueBits |= p[0];
    ++check.runs;
    p += 2;
  }
  return check;
}

// kf_MakeRep(chunks, rowOffsets): a Rep over the single chunk bytes with row y starting at
// rowOffsets[y]; numRuns and isBinary are given by the builder, which guarantees the layout.
std::shared_ptr<const kc_RLERep> kf_MakeRep(std::vector<unsigned char>&& bytes,
                                                   const std::vector<std::size_t>& rowOffsets,
                                                   std::uint64_t numRuns, bool isBinary);

#pragma GCC visibility pop
