// The run storage of the encoders: the sink the rows are written into.
#include "rle_sink.h"

#include <algorithm>

kc_RunSink::kc_RunSink(long width, long height)
    : height_(static_cast<std::size_t>(height)),
      rowBytes_(2 * (static_cast<std::size_t>(width) + 1)),
      bandRows_(std::max<std::size_t>(1, kBandBytes / rowBytes_)),
      scratch_(new unsigned char[rowBytes_ * bandRows_]),
      out_(scratch_.get()),
      rep_(std::make_shared<kc_RLERep>()) {
  rep_->rows.reserve(static_cast<std::size_t>(height));
  rep_->chunks.reserve(height_ / bandRows_ + 1);
  bandOffsets_.reserve(bandRows_);
}

// flushBand(): appends the band to the current chunk, or to a new one sized for the rest of the
// image at the band's density when it does not fit (chunks never grow, so rows stay put).
void kc_RunSink::flushBand() {
  if (bandOffsets_.empty()) return;
  const std::size_t used = static_cast<std::size_t>(out_ - scratch_.get());
  if (rep_->chunks.empty() || rep_->chunks.back().capacity() - rep_->chunks.back().size() < used) {
    const std::size_t rowsLeft = height_ - rep_->rows.size();  // this band's rows included
    const std::size_t estimate = used / bandOffsets_.size() * rowsLeft * 9 / 8 + used;
    rep_->chunks.emplace_back().reserve(std::min(estimate, rowBytes_ * rowsLeft));
    chunkFirstRow_ = rep_->rows.size();
  }
  std::vector<unsigned char>& chunk = rep_->chunks.back();
  const std::size_t start = chunk.size();
  chunk.insert(chunk.end(), scratch_.get(), scratch_.get() + used);
  for (std::size_t offset : bandOffsets_) rep_->rows.push_back(chunk.data() + start + offset);
  rep_->numRuns += used / 2 - bandOffsets_.size();
  bandOffsets_.clear();
  out_ = scratch_.get();
}

// trimLastChunk(): when the estimate left much of the last chunk unused (the image grew sparser),
// moves its bytes to storage of the exact size and re-points its rows.
void kc_RunSink::trimLastChunk() {
  if (rep_->chunks.empty()) return;
  std::vector<unsigned char>& chunk = rep_->chunks.back();
  if (chunk.capacity() - chunk.size() <= chunk.size() / 4 + 4096) return;
  std::vector<unsigned char> exact(chunk.begin(), chunk.end());
  for (std::size_t y = chunkFirstRow_; y < rep_->rows.size(); ++y)
    rep_->rows[y] = exact.data() + (rep_->rows[y] - chunk.data());
  chunk.swap(exact);
}

std::shared_ptr<const kc_RLERep> kc_RunSink::finish(bool isBinary) {
  flushBand();
  trimLastChunk();
  rep_->isBinary = isBinary;
  return std::move(rep_);
}
