// Encoders from pel images to run-length images: plain, mapped, threshold image, hard and soft
// thresholds, and their percentage forms.
#include <foundation/exception.h>
#include <foundation/pel_histogram.h>
#include <foundation/rlebuffer.h>

#include "rle_sink.h"

#include <array>
#include <bit>
#include <cstring>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

const wchar_t* const kUnbound = L"The pel image is unbound.";
const wchar_t* const kShortMap = L"A map must have at least 256 entries.";
const wchar_t* const kThreshUnbound = L"The threshold image is unbound.";
const wchar_t* const kThreshSize = L"The threshold image must have the width and height of the image.";
const wchar_t* const kBadSoftness = L"The softness must be from 0 to 254.";
const wchar_t* const kBadTails = L"The tail percentages must be from 0 to 100 and add up to at most 100.";
const wchar_t* const kBadPercent =
    L"The threshold percentages must be from 0 to 100, the low one not above the high one.";

using Lut = std::array<unsigned char, 256>;

// emitRun(out, value, length): writes a span of length >= 1 as runs of at most 255 pels.
inline unsigned char* emitRun(unsigned char* out, unsigned value, std::uint64_t length) {
  while (length > 255) {
    out[0] = static_cast<unsigned char>(value);
    out[1] = 255;
    out += 2;
    length -= 255;
  }
  out[0] = static_cast<unsigned char>(value);
  out[1] = static_cast<unsigned char>(length);
  return out + 2;
}

#if defined(__SSE2__)
// ge64(p, t): bit i set when p[i] >= the threshold held in every byte of t (64 pels).
inline std::uint64_t ge64(const unsigned char* p, __m128i t) {
  std::uint64_t bits = 0;
  for (int k = 0; k < 4; ++k) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    auto m = static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(v, t), v)));
    bits |= std::uint64_t{m} << (16 * k);
  }
  return bits;
}
// ne64(p): bit i set when p[i] != p[i - 1] (64 pels; p[-1] must be readable).
inline std::uint64_t ne64(const unsigned char* p) {
  std::uint64_t bits = 0;
  for (int k = 0; k < 4; ++k) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k - 1));
    auto m = static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
    bits |= std::uint64_t{static_cast<std::uint16_t>(~m)} << (16 * k);
  }
  return bits;
}
#else
inline std::uint64_t ge64(const unsigned char* p, unsigned t) {
  std::uint64_t bits = 0;
  for (int i = 0; i < 64; ++i) bits |= std::uint64_t{p[i] >= t} << i;
  return bits;
}
inline std::uint64_t ne64(const unsigned char* p) {
  std::uint64_t bits = 0;
  for (int i = 0; i < 64; ++i) bits |= std::uint64_t{p[i] != p[i - 1]} << i;
  return bits;
}
#endif

// putRun(out, value, length): emitRun for the common case of a run that fits one two-byte entry.
inline unsigned char* putRun(unsigned char* out, unsigned value, std::uint64_t length) {
  if (length > 255) [[unlikely]]
    return emitRun(out, value, length);
  out[0] = static_cast<unsigned char>(value);
  out[1] = static_cast<unsigned char>(length);
  return out + 2;
}

// thresholdRow: the runs of (pel >= thresh) ^ invert for one row of width >= 1. Each 64-pel block
// becomes a bit mask; the bits where a pel differs from its left neighbour (the previous block's
// last bit carried in) end a run, so a block without a change costs one test.
unsigned char* thresholdRow(const unsigned char* row, long width, unsigned thresh, bool invert,
                            unsigned char* out) {
  const std::uint64_t flip = invert ? ~std::uint64_t{0} : 0;
#if defined(__SSE2__)
  const __m128i t = _mm_set1_epi8(static_cast<char>(thresh));
#else
  const unsigned t = thresh;
#endif
  unsigned value = static_cast<unsigned>(row[0] >= thresh) ^ static_cast<unsigned>(invert);
  std::uint64_t carry = value;  // the value of the pel left of the block (pel 0 for the first)
  long start = 0;               // first column of the open run
  const auto endRuns = [&](std::uint64_t bits, long x) {
    std::uint64_t changes = bits ^ ((bits << 1) | carry);
    carry = bits >> 63;
    while (changes != 0) {
      const long at = x + std::countr_zero(changes);
      changes &= changes - 1;
      out = putRun(out, value, static_cast<std::uint64_t>(at - start));
      value ^= 1;
      start = at;
    }
  };
  long x = 0;
  for (; x + 64 <= width; x += 64) endRuns(ge64(row + x, t) ^ flip, x);
  if (x < width) {
    // The tail is padded with copies of the last pel, which end no run.
    alignas(16) unsigned char tail[64];
    std::memcpy(tail, row + x, static_cast<std::size_t>(width - x));
    std::memset(tail + (width - x), row[width - 1], static_cast<std::size_t>(64 - (width - x)));
    endRuns(ge64(tail, t) ^ flip, x);
  }
  return emitRun(out, value, static_cast<std::uint64_t>(width - start));
}

// plainRow: the runs of the pel values of one row of width >= 1; ORs the values into bits.
unsigned char* plainRow(const unsigned char* row, long width, unsigned char* out, unsigned& bits) {
  unsigned value = row[0];
  std::uint64_t start = 0;
  long x = 1;
  for (; x + 64 <= width; x += 64) {
    std::uint64_t changes = ne64(row + x);
    while (changes != 0) {
      auto q = static_cast<long>(std::countr_zero(changes));
      changes &= changes - 1;
      auto at = static_cast<std::uint64_t>(x + q);
      out = emitRun(out, value, at - start);
      bits |= value;
      value = row[at];
      start = at;
    }
  }
  for (; x < width; ++x) {
    if (row[x] != value) {
      out = emitRun(out, value, static_cast<std::uint64_t>(x) - start);
      bits |= value;
      value = row[x];
      start = static_cast<std::uint64_t>(x);
    }
  }
  bits |= value;
  return emitRun(out, value, static_cast<std::uint64_t>(width) - start);
}

void requireBound(const kcPelBuffer_const<unsigned char>& image) {
  if (!image.isBound()) throw kcBadArgument(kUnbound);
}

void requireMap(const std::vector<unsigned char>& map, bool emptyAllowed) {
  if (map.size() < 256 && !(emptyAllowed && map.empty())) throw kcBadArgument(kShortMap);
}

void requireSoftness(int softness) {
  if (softness < 0 || softness > 254) throw kcBadArgument(kBadSoftness);
}

void requireTails(long lowTail, long hiTail) {
  if (lowTail < 0 || lowTail > 100 || hiTail < 0 || hiTail > 100 || lowTail + hiTail > 100)
    throw kcBadArgument(kBadTails);
}

// encodeLut: every row mapped through lut into a scratch row, then run-encoded into storage
// drawn from pool (none when null).
std::shared_ptr<const kc_RLERep> encodeLut(const kcPelBuffer_const<unsigned char>& image,
                                           const Lut& lut, kc_RLEPool* pool) {
  long w = image.width(), h = image.height();
  kc_RunSink sink(w, h, pool);
  unsigned char* mapped = sink.rowScratch();
  unsigned bits = 0;
  for (long y = 0; y < h; ++y) {
    const unsigned char* row = image.pointToRow(y);
    for (long x = 0; x < w; ++x) mapped[x] = lut[row[x]];
    sink.endRow(plainRow(mapped, w, sink.beginRow(), bits));
  }
  return sink.finish(bits <= 1);
}

// softLut: the soft-threshold value of every pel value (see the header for the formula).
Lut softLut(unsigned low, unsigned high, int softness, bool invert) {
  Lut lut{};
  auto s = static_cast<unsigned>(softness) + 1;
  for (unsigned p = 0; p < 256; ++p) {
    unsigned v;
    if (low >= high)
      v = p >= high ? s : 0;
    else if (p <= low)
      v = 0;
    else if (p >= high)
      v = s;
    else
      v = (2 * (p - low) * s + (high - low)) / (2 * (high - low));
    lut[p] = static_cast<unsigned char>(invert ? s - v : v);
  }
  return lut;
}

// PercentRange: the pel values lo and hi bounding what the tails leave (see the header).
struct PercentRange {
  unsigned lo;
  unsigned hi;
  unsigned at(long percent) const {
    return lo + (2 * static_cast<unsigned>(percent) * (hi - lo) + 100) / 200;
  }
};

// percentRange(histogram, lowTail, hiTail): of a histogram with at least one pel.
PercentRange percentRange(const kcPelHistogram& histogram, long lowTail, long hiTail) {
  std::uint64_t n = 0;
  for (std::uint64_t count : histogram) n += count;
  std::uint64_t lowCut = n * static_cast<std::uint64_t>(lowTail) / 100;
  std::uint64_t hiCut = n * static_cast<std::uint64_t>(hiTail) / 100;
  auto valueAtRank = [&](std::uint64_t rank) {
    std::uint64_t seen = 0;
    for (unsigned v = 0; v < 256; ++v) {
      seen += histogram[v];
      if (seen > rank) return v;
    }
    return 255u;
  };
  if (lowCut + hiCut >= n) {
    unsigned v = valueAtRank(lowCut < n ? lowCut : n - 1);
    return {v, v};
  }
  return {valueAtRank(lowCut), valueAtRank(n - 1 - hiCut)};
}

}  // namespace

void kcRLEBuffer::encode(const kcPelBuffer_const<unsigned char>& image) {
  requireBound(image);
  std::shared_ptr<const kc_RLERep> rep;
  long w = image.width(), h = image.height();
  if (w > 0 && h > 0) {
    kc_RunSink sink(w, h, storage_.pool_.get());
    unsigned bits = 0;
    for (long y = 0; y < h; ++y) sink.endRow(plainRow(image.pointToRow(y), w, sink.beginRow(), bits));
    rep = sink.finish(bits <= 1);
  }
  install(std::move(rep), w, h);
  offset_ = image.offset();
  xforms_ = image.xformCache();
}

void kcRLEBuffer::encode(const kcPelBuffer_const<unsigned char>& image,
                         const std::vector<unsigned char>& map) {
  requireBound(image);
  requireMap(map, false);
  Lut lut;
  std::memcpy(lut.data(), map.data(), 256);
  std::shared_ptr<const kc_RLERep> rep;
  if (image.width() > 0 && image.height() > 0) rep = encodeLut(image, lut, storage_.pool_.get());
  install(std::move(rep), image.width(), image.height());
  offset_ = image.offset();
  xforms_ = image.xformCache();
}

void kcRLEBuffer::encode(const kcPelBuffer_const<unsigned char>& image,
                         const std::vector<unsigned char>& preMap,
                         const kcPelBuffer_const<unsigned char>& threshImage,
                         const std::vector<unsigned char>& postMap) {
  requireBound(image);
  requireMap(preMap, true);
  requireMap(postMap, true);
  if (!threshImage.isBound()) throw kcBadArgument(kThreshUnbound);
  if (threshImage.width() != image.width() || threshImage.height() != image.height())
    throw kcBadArgument(kThreshSize);
  Lut pre, post;
  for (unsigned v = 0; v < 256; ++v) {
    pre[v] = preMap.empty() ? static_cast<unsigned char>(v) : preMap[v];
    post[v] = postMap.empty() ? static_cast<unsigned char>(v) : postMap[v];
  }
  long w = image.width(), h = image.height();
  std::shared_ptr<const kc_RLERep> rep;
  if (w > 0 && h > 0) {
    kc_RunSink sink(w, h, storage_.pool_.get());
    unsigned char* values = sink.rowScratch();
    unsigned bits = 0;
    for (long y = 0; y < h; ++y) {
      const unsigned char* row = image.pointToRow(y);
      const unsigned char* thr = threshImage.pointToRow(y);
      for (long x = 0; x < w; ++x) {
        int d = static_cast<int>(pre[row[x]]) - static_cast<int>(thr[x]);
        values[x] = post[static_cast<unsigned>(d < 0 ? 0 : d)];
      }
      sink.endRow(plainRow(values, w, sink.beginRow(), bits));
    }
    rep = sink.finish(bits <= 1);
  }
  install(std::move(rep), w, h);
  offset_ = image.offset();
  xforms_ = image.xformCache();
}

void kcRLEBuffer::encode(const kcPelBuffer_const<unsigned char>& image, unsigned char thresh,
                         bool invert) {
  requireBound(image);
  long w = image.width(), h = image.height();
  std::shared_ptr<const kc_RLERep> rep;
  if (w > 0 && h > 0) {
    kc_RunSink sink(w, h, storage_.pool_.get());
    for (long y = 0; y < h; ++y)
      sink.endRow(thresholdRow(image.pointToRow(y), w, thresh, invert, sink.beginRow()));
    rep = sink.finish(true);
  }
  install(std::move(rep), w, h);
  offset_ = image.offset();
  xforms_ = image.xformCache();
}

void kcRLEBuffer::encode(const kcPelBuffer_const<unsigned char>& image, unsigned char low,
                         unsigned char high, int softness, bool invert) {
  requireBound(image);
  requireSoftness(softness);
  Lut lut = softLut(low, high, softness, invert);
  std::shared_ptr<const kc_RLERep> rep;
  if (image.width() > 0 && image.height() > 0) rep = encodeLut(image, lut, storage_.pool_.get());
  install(std::move(rep), image.width(), image.height());
  offset_ = image.offset();
  xforms_ = image.xformCache();
}

void kcRLEBuffer::encodePercent(const kcPelBuffer_const<unsigned char>& image, long lowTailPercent,
                                long hiTailPercent, int threshPercent, bool invert) {
  requireBound(image);
  requireTails(lowTailPercent, hiTailPercent);
  if (threshPercent < 0 || threshPercent > 100) throw kcBadArgument(kBadPercent);
  unsigned char thresh = 0;
  if (image.width() > 0 && image.height() > 0)
    thresh = static_cast<unsigned char>(percentRange(kf_PelHistogram(image), lowTailPercent, hiTailPercent).at(threshPercent));
  encode(image, thresh, invert);
}

void kcRLEBuffer::encodePercent(const kcPelBuffer_const<unsigned char>& image, long lowTailPercent,
                                long hiTailPercent, int lowThreshPercent, int hiThreshPercent,
                                int softness, bool invert) {
  requireBound(image);
  requireTails(lowTailPercent, hiTailPercent);
  if (lowThreshPercent < 0 || hiThreshPercent > 100 || lowThreshPercent > hiThreshPercent)
    throw kcBadArgument(kBadPercent);
  requireSoftness(softness);
  unsigned char low = 0, high = 0;
  if (image.width() > 0 && image.height() > 0) {
    PercentRange range = percentRange(kf_PelHistogram(image), lowTailPercent, hiTailPercent);
    low = static_cast<unsigned char>(range.at(lowThreshPercent));
    high = static_cast<unsigned char>(range.at(hiThreshPercent));
  }
  encode(image, low, high, softness, invert);
}

kcPelHistogram kf_PelHistogram(const kcPelBuffer_const<unsigned char>& image) {
  requireBound(image);
  kcPelHistogram histogram{};
  const long w = image.width(), h = image.height();
  for (long y = 0; y < h; ++y) {
    kf_AttendRow(static_cast<std::uint64_t>(y));
    const unsigned char* row = image.pointToRow(y);
    for (long x = 0; x < w; ++x) ++histogram[row[x]];
  }
  return histogram;
}

unsigned char kf_PercentValue(const kcPelHistogram& histogram, long lowTailPercent, long hiTailPercent,
                              long percent) {
  requireTails(lowTailPercent, hiTailPercent);
  if (percent < 0 || percent > 100) throw kcBadArgument(kBadPercent);
  for (std::uint64_t count : histogram)
    if (count != 0) return static_cast<unsigned char>(percentRange(histogram, lowTailPercent, hiTailPercent).at(percent));
  return 0;
}
