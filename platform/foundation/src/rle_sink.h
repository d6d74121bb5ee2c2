// Private to the run-length encoders: the sink the row encoders write into, and the pool of run
// storage that a kcRLEStorage shares.
#pragma once

#include <foundation/rlebuffer.h>

#include "rle_rep.h"

#include <cstddef>
#include <limits>
#include <memory>
#include <vector>

#pragma GCC visibility push(hidden)

// kc_RLEPool: what the handles of one kcRLEStorage share. reps are the runs the pool made, at most
// kMaxReps; a rep that only the pool holds (use_count() == 1) is free for the next encoding.
// A pooled rep has exactly one chunk, whose size is its capacity: the bytes after the last row
// are unused. rowOffsets and rowScratch serve the encoding in progress. One encoding at a time.
// Plain data: the public header declares the name, so members defined out of line would be
// exported.
struct kc_RLEPool {
  static constexpr std::size_t kMaxReps = 4;

  kc_RLEPool() { reps.reserve(kMaxReps); }

  std::vector<std::shared_ptr<kc_RLERep>> reps;
  std::vector<std::size_t> rowOffsets;
  std::vector<unsigned char> rowScratch;
};

// kc_RunSink: the output of one encoding of width x height pels (both >= 1). beginRow() returns
// room for the worst case of one row, every pel its own run plus the terminator (2 x (width + 1)
// bytes), so the row encoders write without bounds checks; endRow() takes the end of what was
// written. finish() hands out the image's runs; a sink destroyed before (an abandoned encoding)
// hands out nothing and leaves no image changed.
//
// Band mode (no pool, or every pooled rep held): rows are encoded into a scratch band of a few
// dozen worst-case rows, and each full band is copied into chunks sized from the density seen so
// far (chunks never grow, so rows stay put); the last chunk is trimmed when much of it is unused.
// Pooled mode (a free pooled rep): rows go straight into the rep's single chunk, which grows to
// what the rows left need at the density seen so far (up to their worst case) and is never
// trimmed. Rows are recorded
// as offsets and made pointers only in finish(), after the last growth.
class kc_RunSink {
 public:
  kc_RunSink(long width, long height, kc_RLEPool* pool);
  kc_RunSink(const kc_RunSink&) = delete;
  kc_RunSink& operator=(const kc_RunSink&) = delete;

  unsigned char* beginRow() {
    kf_AttendRow(rowsBegun_++);
    if (offsets_->size() == rowLimit_ || static_cast<std::size_t>(end_ - out_) < rowBytes_) [[unlikely]]
      makeRoom();
    offsets_->push_back(static_cast<std::size_t>(out_ - base_));
    return out_;
  }
  void endRow(unsigned char* out) {
    out[0] = 0;
    out[1] = 0;
    out_ = out + 2;
  }
  // rowScratch(): room for width pels (a mapped row), valid while the sink lives.
  unsigned char* rowScratch();
  // finish(isBinary): the runs of the height rows written; the sink is spent.
  std::shared_ptr<const kc_RLERep> finish(bool isBinary);

 private:
  static constexpr std::size_t kBandBytes = std::size_t{1} << 18;
  static constexpr std::size_t kMinChunk = std::size_t{1} << 12;

  void startBand();
  void startPooled();
  void makeRoom();
  void flushBand();
  void trimLastChunk();
  void growChunk();

  std::size_t width_;
  std::size_t height_;
  std::size_t rowBytes_;
  std::size_t rowsBegun_ = 0;
  kc_RLEPool* pool_;
  std::shared_ptr<kc_RLERep> rep_;
  bool pooled_ = false;
  // Where rows are written: [base_, end_) is the band or the pooled chunk, out_ the next byte.
  unsigned char* base_ = nullptr;
  unsigned char* out_ = nullptr;
  unsigned char* end_ = nullptr;
  std::vector<std::size_t>* offsets_ = nullptr;  // row starts from base_: bandOffsets_ or the pool's
  std::size_t rowLimit_ = std::numeric_limits<std::size_t>::max();  // rows per band
  // Band mode only.
  std::size_t chunkFirstRow_ = 0;
  std::unique_ptr<unsigned char[]> scratch_;
  std::vector<std::size_t> bandOffsets_;
  std::vector<unsigned char> ownRow_;
};

#pragma GCC visibility pop
