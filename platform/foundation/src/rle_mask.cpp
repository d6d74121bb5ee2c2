// Masking of run-length images: zeroes the pels whose mask value passes a range test, on runs.
#include <foundation/exception.h>
#include <foundation/rlebuffer.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

namespace {

const wchar_t* const kDegenerate = L"The run-length image is degenerate.";

// Farther than any image side (sides are below 2^31), so a clamped distance keeps its meaning.
constexpr long kFar = std::int64_t{1} << 40;
constexpr long kNever = std::numeric_limits<long>::max();

// a - b limited to [-kFar, kFar]; offsets are arbitrary longs, so the plain difference may overflow.
long clampedDiff(long a, long b) {
  long d = 0;
  if (__builtin_sub_overflow(a, b, &d)) return a < b ? -kFar : kFar;
  return std::clamp(d, -kFar, kFar);
}

// The mask values of one row of the image, as seen from the image's columns: value 0 before the
// mask's first column, the mask's runs, then value 0 for ever. Advanced lazily by column.
class MaskCursor {
 public:
  // row: the mask row's runs; x0: the column of this image where the mask row starts.
  MaskCursor(const unsigned char* row, long x0) : next_(row), end_(x0) {
    if (x0 <= 0) enterRuns();  // otherwise the zero gap before the mask comes first
  }
  // seek(x): makes the current segment the one holding column x (x never decreases).
  void seek(long x) {
    while (end_ <= x) step();
  }
  unsigned char value() const { return value_; }
  long end() const { return end_; }

 private:
  void enterRuns() {
    inRuns_ = true;
    step();
  }
  void step() {
    if (!inRuns_) {
      enterRuns();
      return;
    }
    if (next_[1] == 0) {
      value_ = 0;
      end_ = kNever;
      return;
    }
    value_ = next_[0];
    end_ += next_[1];
    next_ += 2;
  }

  const unsigned char* next_;
  long end_;
  unsigned char value_ = 0;
  bool inRuns_ = false;
};

// Writes one image row with the pels zeroed where cursor's mask value is flagged in zeroes.
// Zero runs of the image need no mask lookup.
void maskRow(const unsigned char* run, MaskCursor& cursor, const std::array<bool, 256>& zeroes,
             kc_RLERowWriter& writer) {
  long x = 0;
  for (; run[1] != 0; run += 2) {
    const unsigned char v = run[0];
    const long runEnd = x + run[1];
    if (v == 0) {
      writer.put(0, run[1]);
      x = runEnd;
      continue;
    }
    while (x < runEnd) {
      cursor.seek(x);
      const long pieceEnd = std::min(runEnd, cursor.end());
      writer.put(zeroes[cursor.value()] ? 0 : v, static_cast<std::uint32_t>(pieceEnd - x));
      x = pieceEnd;
    }
  }
}

// A row lying wholly outside the mask: kept or cleared as mask value 0 decides.
void copyOrClearRow(const unsigned char* run, bool clear, long width, kc_RLERowWriter& writer) {
  if (clear) {
    writer.put(0, static_cast<std::uint32_t>(width));
    return;
  }
  for (; run[1] != 0; run += 2) writer.put(run[0], run[1]);
}

}  // namespace

kcRLEBuffer kcRLEBuffer::mask(const kcRLEBuffer& mask, unsigned char lo, unsigned char hi,
                              bool invert) const {
  if (isDegenerate()) throw kcBadArgument(kDegenerate);
  std::array<bool, 256> zeroes{};
  for (int v = 0; v < 256; ++v) zeroes[static_cast<std::size_t>(v)] = (lo <= v && v <= hi) != invert;

  // The mask's rectangle in this image's buffer coordinates.
  const long maskX0 = clampedDiff(mask.offset().x(), offset_.x());
  const long maskY0 = clampedDiff(mask.offset().y(), offset_.y());
  const unsigned char* const* maskRows = mask.pointToRat();
  const unsigned char* const* rows = pointToRat();

  kc_RLERowWriter writer(width_, height_);
  writer.reserveRuns(numRuns() + mask.numRuns() + static_cast<std::uint64_t>(height_));
  for (long y = 0; y < height_; ++y) {
    const long maskY = y - maskY0;
    if (maskRows == nullptr || maskY < 0 || maskY >= mask.height() || maskX0 >= width_ ||
        maskX0 + mask.width() <= 0) {
      copyOrClearRow(rows[y], zeroes[0], width_, writer);
    } else {
      MaskCursor cursor(maskRows[maskY], maskX0);
      maskRow(rows[y], cursor, zeroes, writer);
    }
    writer.endRow();
  }
  return writer.finish(offset_, xforms_);
}
