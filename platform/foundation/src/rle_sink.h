// Private to the run-length encoders: the sink the row encoders write into.
#pragma once

#include "rle_rep.h"

#include <cstddef>
#include <memory>
#include <vector>

#pragma GCC visibility push(hidden)

// kc_RunSink: the output of one encoding of width x height pels (both >= 1). Rows are encoded into
// a scratch band that holds the worst case (every pel its own run, plus a terminator per row) for a
// few dozen rows, so the row encoders write without bounds checks; each full band is copied into
// the image's storage. The scratch is small and reused, so an encoding touches fresh memory mostly
// for the runs it keeps.
class kc_RunSink {
 public:
  kc_RunSink(long width, long height);
  kc_RunSink(const kc_RunSink&) = delete;
  kc_RunSink& operator=(const kc_RunSink&) = delete;

  unsigned char* beginRow() {
    kf_AttendRow(rowsBegun_++);
    if (bandOffsets_.size() == bandRows_) flushBand();
    bandOffsets_.push_back(static_cast<std::size_t>(out_ - scratch_.get()));
    return out_;
  }
  void endRow(unsigned char* out) {
    out[0] = 0;
    out[1] = 0;
    out_ = out + 2;
  }
  // finish(isBinary): the runs of the height rows written; the sink is spent.
  std::shared_ptr<const kc_RLERep> finish(bool isBinary);

 private:
  static constexpr std::size_t kBandBytes = std::size_t{1} << 18;

  void flushBand();
  void trimLastChunk();

  std::size_t height_;
  std::size_t rowsBegun_ = 0;
  std::size_t chunkFirstRow_ = 0;
  std::size_t rowBytes_;
  std::size_t bandRows_;
  std::unique_ptr<unsigned char[]> scratch_;
  unsigned char* out_;
  std::shared_ptr<kc_RLERep> rep_;
  std::vector<std::size_t> bandOffsets_;
};

#pragma GCC visibility pop
