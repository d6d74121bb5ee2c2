// The run storage of the encoders: the sink the rows are written into, and the reusable pool
// behind kcRLEStorage.
#include <foundation/rlebuffer.h>

#include "rle_sink.h"

#include <algorithm>
#include <atomic>

namespace {

// freeRep(pool): a pooled rep no image holds, made and added while fewer than kMaxReps are kept;
// null when every one is held. Its contents are stale until the sink refills them.
std::shared_ptr<kc_RLERep> freeRep(kc_RLEPool& pool) {
  for (const std::shared_ptr<kc_RLERep>& rep : pool.reps) {
    if (rep.use_count() == 1) {
      // The last image may have let go on another thread: its reads of the runs happen before
      // the release of its count, which this fence orders before the refill.
      std::atomic_thread_fence(std::memory_order_acquire);
      return rep;
    }
  }
  if (pool.reps.size() == kc_RLEPool::kMaxReps) return nullptr;
  auto rep = std::make_shared<kc_RLERep>();
  rep->chunks.emplace_back();
  pool.reps.push_back(rep);  // reserved: cannot throw
  return rep;
}

}  // namespace

kcRLEStorage::kcRLEStorage() : pool_(std::make_shared<kc_RLEPool>()) {}

kc_RunSink::kc_RunSink(long width, long height, kc_RLEPool* pool)
    : width_(static_cast<std::size_t>(width)),
      height_(static_cast<std::size_t>(height)),
      rowBytes_(2 * (static_cast<std::size_t>(width) + 1)),
      pool_(pool) {
  if (pool_) rep_ = freeRep(*pool_);
  if (rep_)
    startPooled();
  else
    startBand();
}

void kc_RunSink::startBand() {
  rowLimit_ = std::max<std::size_t>(1, kBandBytes / rowBytes_);
  scratch_.reset(new unsigned char[rowBytes_ * rowLimit_]);
  base_ = out_ = scratch_.get();
  end_ = base_ + rowBytes_ * rowLimit_;
  rep_ = std::make_shared<kc_RLERep>();
  rep_->rows.reserve(height_);
  rep_->chunks.reserve(height_ / rowLimit_ + 1);
  bandOffsets_.reserve(rowLimit_);
  offsets_ = &bandOffsets_;
}

// startPooled(): empties the free rep, keeping the capacity of its rows and chunk.
void kc_RunSink::startPooled() {
  pooled_ = true;
  rep_->rows.clear();
  rep_->rows.reserve(height_);
  offsets_ = &pool_->rowOffsets;
  offsets_->clear();
  offsets_->reserve(height_);
  std::vector<unsigned char>& chunk = rep_->chunks.front();
  base_ = out_ = chunk.data();
  end_ = base_ + chunk.size();
}

unsigned char* kc_RunSink::rowScratch() {
  std::vector<unsigned char>& row = pool_ ? pool_->rowScratch : ownRow_;
  if (row.size() < width_) row.resize(width_);
  return row.data();
}

void kc_RunSink::makeRoom() {
  if (pooled_)
    growChunk();
  else
    flushBand();
}

// growChunk(): grows the pooled chunk to what the rows left need at the density of the rows done
// (an eighth more, and room for one worst-case row), by at least a quarter, to no more than their
// worst case. The chunk's size is its capacity (reserved exactly, so that the storage a pool keeps
// follows the images it encoded); the bytes written so far keep their offsets.
void kc_RunSink::growChunk() {
  std::vector<unsigned char>& chunk = rep_->chunks.front();
  const auto used = static_cast<std::size_t>(out_ - base_);
  const std::size_t done = offsets_->size();
  const std::size_t left = height_ - done;  // this row included
  const std::size_t worst = used + rowBytes_ * left;
  const std::size_t estimate = done == 0 ? kMinChunk : used + used / done * left * 9 / 8 + rowBytes_;
  const std::size_t size =
      std::max(used + rowBytes_, std::min(worst, std::max({estimate, chunk.size() + chunk.size() / 4, kMinChunk})));
  chunk.reserve(size);
  chunk.resize(size);
  base_ = chunk.data();
  out_ = base_ + used;
  end_ = base_ + chunk.size();
}

// flushBand(): appends the band to the current chunk, or to a new one sized for the rest of the
// image at the band's density when it does not fit (chunks never grow, so rows stay put).
void kc_RunSink::flushBand() {
  if (bandOffsets_.empty()) return;
  const auto used = static_cast<std::size_t>(out_ - base_);
  if (rep_->chunks.empty() || rep_->chunks.back().capacity() - rep_->chunks.back().size() < used) {
    const std::size_t rowsLeft = height_ - rep_->rows.size();  // this band's rows included
    const std::size_t estimate = used / bandOffsets_.size() * rowsLeft * 9 / 8 + used;
    rep_->chunks.emplace_back().reserve(std::min(estimate, rowBytes_ * rowsLeft));
    chunkFirstRow_ = rep_->rows.size();
  }
  std::vector<unsigned char>& chunk = rep_->chunks.back();
  const std::size_t start = chunk.size();
  chunk.insert(chunk.end(), base_, base_ + used);
  for (std::size_t offset : bandOffsets_) rep_->rows.push_back(chunk.data() + start + offset);
  rep_->numRuns += used / 2 - bandOffsets_.size();
  bandOffsets_.clear();
  out_ = base_;
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
  if (pooled_) {
    // The chunk no longer moves: the rows can point into it (rows has room for them all).
    for (std::size_t offset : pool_->rowOffsets) rep_->rows.push_back(base_ + offset);
    rep_->numRuns = static_cast<std::size_t>(out_ - base_) / 2 - pool_->rowOffsets.size();
  } else {
    flushBand();
    trimLastChunk();
  }
  rep_->isBinary = isBinary;
  return std::move(rep_);
}
