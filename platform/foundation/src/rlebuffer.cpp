// Run-length images: copies, row access, adoption of caller rows, decoding, sub-windows, the writer.
#include <foundation/assert.h>
#include <foundation/exception.h>
#include <foundation/rlebuffer.h>

#include "rle_rep.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>

namespace {

const wchar_t* const kDegenerate = L"The run-length image is degenerate.";
const wchar_t* const kBadRow = L"The row index lies outside the run-length image.";
const wchar_t* const kBadWindow = L"The window is empty or does not lie inside the run-length image.";
const wchar_t* const kBadRows = L"The rows of runs are malformed.";
const wchar_t* const kBadSize = L"The run-length image width and height must be from 0 to 2^31 - 1.";

constexpr long kMaxSide = std::numeric_limits<std::int32_t>::max();

// Chunk index containing p, or -1. spans are (start, end) sorted by start.
struct Span {
  const unsigned char* begin;
  const unsigned char* end;
  std::size_t chunk;
};

const Span* findSpan(const std::vector<Span>& spans, const unsigned char* p) {
  std::less<const unsigned char*> before;
  auto it = std::upper_bound(spans.begin(), spans.end(), p,
                             [&](const unsigned char* q, const Span& s) { return before(q, s.begin); });
  if (it == spans.begin()) return nullptr;
  --it;
  return before(p, it->end) ? &*it : nullptr;
}

// Validates rows against the chunks; returns the Rep (rows pointing into the caller's chunks,
// chunks not yet moved) or throws kcBadArgument.
std::shared_ptr<kc_RLERep> checkRows(long width, const std::vector<const unsigned char*>& rows,
                                           const std::vector<std::vector<unsigned char>*>& chunks) {
  if (width < 0 || width > kMaxSide || rows.size() > static_cast<std::size_t>(kMaxSide))
    throw kcBadArgument(kBadSize);
  std::vector<Span> spans;
  spans.reserve(chunks.size());
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    if (!chunks[i]->empty())
      spans.push_back({chunks[i]->data(), chunks[i]->data() + chunks[i]->size(), i});
  }
  std::sort(spans.begin(), spans.end(),
            [](const Span& a, const Span& b) { return std::less<const unsigned char*>()(a.begin, b.begin); });
  auto rep = std::make_shared<kc_RLERep>();
  unsigned bits = 0;
  for (const unsigned char* row : rows) {
    const Span* span = row ? findSpan(spans, row) : nullptr;
    if (!span) throw kcBadArgument(kBadRows);
    kc_RowCheck check = kf_CheckRow(row, span->end, static_cast<std::uint64_t>(width));
    if (!check.end) throw kcBadArgument(kBadRows);
    rep->numRuns += check.runs;
    bits |= check.valueBits;
  }
  rep->isBinary = bits <= 1;
  rep->rows = rows;
  return rep;
}

}  // namespace

std::shared_ptr<const kc_RLERep> kf_MakeRep(std::vector<unsigned char>&& bytes,
                                                   const std::vector<std::size_t>& rowOffsets,
                                                   std::uint64_t numRuns, bool isBinary) {
  auto rep = std::make_shared<kc_RLERep>();
  rep->chunks.push_back(std::move(bytes));
  const unsigned char* base = rep->chunks.front().data();
  rep->rows.reserve(rowOffsets.size());
  for (std::size_t offset : rowOffsets) rep->rows.push_back(base + offset);
  rep->numRuns = numRuns;
  rep->isBinary = isBinary;
  return rep;
}

kc_Instantiator kcRLEBuffer::sExemplar("kcRLEBuffer", typeid(kcRLEBuffer), &kcRLEBuffer::make);

kcPersistent* kcRLEBuffer::make() { return new kcRLEBuffer; }

kcRLEBuffer::kcRLEBuffer(const kcRLEBuffer& other)
    : kcPersistent(other), rep_(other.rep_), width_(other.width_), height_(other.height_),
      offset_(other.offset_), xforms_(other.xforms_) {}

kcRLEBuffer::kcRLEBuffer(kcRLEBuffer&& other) noexcept
    : kcPersistent(other), rep_(std::move(other.rep_)), width_(other.width_), height_(other.height_),
      offset_(other.offset_), xforms_(other.xforms_), storage_(other.storage_) {
  other.width_ = other.height_ = 0;
}

kcRLEBuffer& kcRLEBuffer::operator=(const kcRLEBuffer& other) {
  if (this == &other) return *this;
  mutating();
  rep_ = other.rep_;
  width_ = other.width_;
  height_ = other.height_;
  offset_ = other.offset_;
  xforms_ = other.xforms_;
  return *this;
}

kcRLEBuffer& kcRLEBuffer::operator=(kcRLEBuffer&& other) noexcept {
  if (this == &other) return *this;
  mutating();
  rep_ = std::move(other.rep_);
  width_ = other.width_;
  height_ = other.height_;
  offset_ = other.offset_;
  xforms_ = other.xforms_;
  other.width_ = other.height_ = 0;
  return *this;
}

kcRLEBuffer::~kcRLEBuffer() = default;

void kcRLEBuffer::offset(const kcPair<long>& position) {
  mutating();
  offset_ = position;
}

std::uint64_t kcRLEBuffer::numRuns() const { return rep_ ? rep_->numRuns : 0; }

bool kcRLEBuffer::isBinary() const { return rep_ ? rep_->isBinary : true; }

const unsigned char* const* kcRLEBuffer::pointToRat() const { return rep_ ? rep_->rows.data() : nullptr; }

const unsigned char* kcRLEBuffer::pointToRow(long y) const {
  if (!rep_) throw kcBadArgument(kDegenerate);
  if (y < 0 || y >= height_) throw kcBadArgument(kBadRow);
  return rep_->rows[static_cast<std::size_t>(y)];
}

void kcRLEBuffer::copyXforms(const kc2XformCache& cache) {
  mutating();
  xforms_ = cache;
}

void kcRLEBuffer::setUnbound() { install(nullptr, 0, 0); }

void kcRLEBuffer::reInit() {
  mutating();
  rep_.reset();
  width_ = height_ = 0;
  offset_ = kcPair<long>(0, 0);
  xforms_ = kc2XformCache();
}

void kcRLEBuffer::install(std::shared_ptr<const kc_RLERep> rep, long width, long height) {
  mutating();
  if (!rep || width == 0 || height == 0) {
    rep_.reset();
    width_ = height_ = 0;
    return;
  }
  rep_ = std::move(rep);
  width_ = static_cast<std::int32_t>(width);
  height_ = static_cast<std::int32_t>(height);
}

void kcRLEBuffer::becomeStack(const std::vector<kcRLEBuffer>& parts) {
  if (parts.empty()) throw kcBadArgument(kBadSize);
  std::uint64_t height = 0;
  for (const kcRLEBuffer& part : parts) {
    if (part.isDegenerate() || part.width_ != parts.front().width_) throw kcBadArgument(kBadSize);
    height += static_cast<std::uint64_t>(part.height_);
  }
  if (height > static_cast<std::uint64_t>(kMaxSide)) throw kcBadArgument(kBadSize);
  auto rep = std::make_shared<kc_RLERep>();
  auto keep = std::make_shared<std::vector<std::shared_ptr<const kc_RLERep>>>();
  rep->rows.reserve(height);
  keep->reserve(parts.size());
  for (const kcRLEBuffer& part : parts) {
    rep->rows.insert(rep->rows.end(), part.rep_->rows.begin(), part.rep_->rows.end());
    rep->numRuns += part.rep_->numRuns;
    rep->isBinary = rep->isBinary && part.rep_->isBinary;
    keep->push_back(part.rep_);
  }
  rep->keep = std::move(keep);
  install(std::move(rep), parts.front().width_, static_cast<long>(height));
}

void kcRLEBuffer::becomeOwner(long width, const std::vector<const unsigned char*>& rowStarts,
                              std::vector<std::vector<unsigned char>>& chunks, bool adopt) {
  std::vector<std::vector<unsigned char>*> view;
  view.reserve(chunks.size());
  for (auto& chunk : chunks) view.push_back(&chunk);
  std::shared_ptr<kc_RLERep> rep = checkRows(width, rowStarts, view);
  if (adopt) {
    rep->chunks = std::move(chunks);
    chunks.clear();
  } else {
    std::vector<unsigned char> bytes;
    std::vector<std::size_t> offsets;
    offsets.reserve(rowStarts.size());
    for (const unsigned char* row : rowStarts) {
      offsets.push_back(bytes.size());
      const unsigned char* end = row;
      while (end[1] != 0) end += 2;
      bytes.insert(bytes.end(), row, end + 2);
    }
    rep = std::const_pointer_cast<kc_RLERep>(kf_MakeRep(std::move(bytes), offsets, rep->numRuns, rep->isBinary));
  }
  install(std::move(rep), width, static_cast<long>(rowStarts.size()));
}

void kcRLEBuffer::becomeView(long width, long height, const unsigned char* first,
                             const unsigned char* end, std::shared_ptr<const void> owner) {
  if (width < 0 || width > kMaxSide || height < 0 || height > kMaxSide) throw kcBadArgument(kBadSize);
  if (first == nullptr && height != 0) throw kcBadArgument(kBadRows);
  auto rep = std::make_shared<kc_RLERep>();
  rep->rows.reserve(static_cast<std::size_t>(height));
  unsigned bits = 0;
  const unsigned char* row = first;
  for (long y = 0; y < height; ++y) {
    const kc_RowCheck check = kf_CheckRow(row, end, static_cast<std::uint64_t>(width));
    if (!check.end) throw kcBadArgument(kBadRows);
    rep->rows.push_back(row);
    rep->numRuns += check.runs;
    bits |= check.valueBits;
    row = check.end;
  }
  rep->isBinary = bits <= 1;
  rep->keep = std::move(owner);
  install(std::move(rep), width, height);
}

void kcRLEBuffer::becomeOwner(long width, const std::vector<const unsigned char*>& rowStarts,
                              std::vector<unsigned char>& chunk) {
  std::shared_ptr<kc_RLERep> rep = checkRows(width, rowStarts, {&chunk});
  rep->chunks.push_back(std::move(chunk));
  chunk.clear();
  install(std::move(rep), width, static_cast<long>(rowStarts.size()));
}

bool kcRLEBuffer::operator==(const kcRLEBuffer& other) const {
  if (isDegenerate() || other.isDegenerate()) return isDegenerate() && other.isDegenerate();
  if (width_ != other.width_ || height_ != other.height_ || !(offset_ == other.offset_)) return false;
  for (std::int32_t y = 0; y < height_; ++y) {
    const unsigned char* a = rep_->rows[static_cast<std::size_t>(y)];
    const unsigned char* b = other.rep_->rows[static_cast<std::size_t>(y)];
    unsigned leftA = a[1], leftB = b[1];
    while (leftA != 0 && leftB != 0) {
      if (a[0] != b[0]) return false;
      unsigned step = std::min(leftA, leftB);
      leftA -= step;
      leftB -= step;
      if (leftA == 0) leftA = (a += 2)[1];
      if (leftB == 0) leftB = (b += 2)[1];
    }
  }
  return true;
}

kcPelBuffer<unsigned char> kcRLEBuffer::image() const {
  kcPelBuffer<unsigned char> pels;
  if (rep_) {
    pels = kcPelBuffer<unsigned char>(width_, height_, 32);
    for (std::int32_t y = 0; y < height_; ++y) {
      unsigned char* out = pels.pointToRow(y);
      for (const unsigned char* run = rep_->rows[static_cast<std::size_t>(y)]; run[1] != 0; run += 2) {
        std::memset(out, run[0], run[1]);
        out += run[1];
      }
    }
  }
  pels.offset(offset_);
  pels.copyXforms(xforms_);
  return pels;
}

kcRLEBuffer kcRLEBuffer::subWindow(const kcPelRect& rect) const {
  if (!rep_) throw kcBadArgument(kDegenerate);
  long x0 = rect.ul().x() - offset_.x();
  long y0 = rect.ul().y() - offset_.y();
  if (rect.width() < 1 || rect.height() < 1 || x0 < 0 || y0 < 0 || x0 > width_ - rect.width() ||
      y0 > height_ - rect.height())
    throw kcBadArgument(kBadWindow);
  long x1 = x0 + rect.width();
  kc_RLERowWriter writer(rect.width(), rect.height());
  for (long y = y0; y < y0 + rect.height(); ++y) {
    long x = 0;
    for (const unsigned char* run = rep_->rows[static_cast<std::size_t>(y)]; run[1] != 0 && x < x1; run += 2) {
      long end = x + run[1];
      long from = std::max(x, x0), to = std::min(end, x1);
      if (from < to) writer.put(run[0], static_cast<std::uint32_t>(to - from));
      x = end;
    }
    writer.endRow();
  }
  return writer.finish(rect.ul(), xforms_);
}

// ---- kc_RLERowWriter ----

kc_RLERowWriter::kc_RLERowWriter(long width, long height) {
  if (width < 0 || height < 0 || width > kMaxSide || height > kMaxSide) throw kcBadArgument(kBadSize);
  width_ = static_cast<std::int32_t>(width);
  height_ = static_cast<std::int32_t>(height);
  rowStarts_.reserve(static_cast<std::size_t>(height));
  rowStarts_.push_back(0);
}

void kc_RLERowWriter::reserveRuns(std::size_t runs) { bytes_.reserve(2 * runs); }

void kc_RLERowWriter::flush() {
  std::uint64_t length = pendingLength_;
  unsigned char value = pendingValue_;
  if (value > 1) binary_ = false;
  while (length > 255) {
    bytes_.push_back(value);
    bytes_.push_back(255);
    length -= 255;
  }
  bytes_.push_back(value);
  bytes_.push_back(static_cast<unsigned char>(length));
  pendingLength_ = 0;
}

void kc_RLERowWriter::endRow() {
  KC_ASSERT(rowPels_ == static_cast<std::uint64_t>(width_), "a written row covers the image width");
  KC_ASSERT(rowStarts_.size() <= static_cast<std::size_t>(height_), "no more rows than the height");
  if (pendingLength_ != 0) flush();
  bytes_.push_back(0);
  bytes_.push_back(0);
  rowStarts_.push_back(bytes_.size());
  rowPels_ = 0;
  kf_AttendRow(rowStarts_.size());
}

kcRLEBuffer kc_RLERowWriter::finish(const kcPair<long>& offset, const kc2XformCache& xforms) {
  KC_ASSERT(rowStarts_.size() == static_cast<std::size_t>(height_) + 1, "every row was ended");
  rowStarts_.pop_back();
  std::uint64_t runs = bytes_.size() / 2 - rowStarts_.size();
  kcRLEBuffer result;
  result.offset_ = offset;
  result.xforms_ = xforms;
  if (width_ > 0 && height_ > 0) {
    result.rep_ = kf_MakeRep(std::move(bytes_), rowStarts_, runs, binary_);
    result.width_ = width_;
    result.height_ = height_;
  }
  bytes_.clear();
  rowStarts_.assign(1, 0);
  binary_ = true;
  return result;
}
