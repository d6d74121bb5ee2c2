// Test helpers for image tests: seeded random pel images and a pel-level view of run-length images.
#pragma once

#include <foundation/pelbuffer.h>
#include <foundation/rlebuffer.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace imgref {

using Pels = std::vector<std::vector<unsigned char>>;  // [y][x]

// Pels of a pel image's window.
inline Pels pelsOf(const kcPelBuffer_const<unsigned char>& image) {
  Pels out(static_cast<std::size_t>(image.height()));
  for (long y = 0; y < image.height(); ++y)
    out[static_cast<std::size_t>(y)].assign(image.pointToRow(y), image.pointToRow(y) + image.width());
  return out;
}

// layoutError(rle): empty when every row obeys the run layout (lengths 1..255, a (0, 0)
// terminator, lengths adding up to the width) and numRuns/isBinary agree with the runs;
// otherwise a description of the first fault. canonical also requires adjacent runs to differ
// in value unless the first one is 255 long.
inline std::string layoutError(const kcRLEBuffer& rle, bool canonical) {
  std::uint64_t runs = 0;
  bool binary = true;
  for (long y = 0; y < rle.height(); ++y) {
    long pels = 0;
    const unsigned char* r = rle.pointToRat()[y];
    for (; r[1] != 0; r += 2) {
      pels += r[1];
      ++runs;
      if (r[0] > 1) binary = false;
      if (canonical && r[3] != 0 && r[2] == r[0] && r[1] != 255)
        return "row " + std::to_string(y) + " is not canonical";
    }
    if (r[0] != 0) return "row " + std::to_string(y) + " terminator value";
    if (pels != rle.width()) return "row " + std::to_string(y) + " covers " + std::to_string(pels);
  }
  if (runs != rle.numRuns()) return "numRuns " + std::to_string(rle.numRuns()) + " != " + std::to_string(runs);
  if (binary != rle.isBinary()) return "isBinary disagrees";
  return {};
}

// pelsOf(rle): the pels the runs stand for, decoded one pel at a time.
inline Pels pelsOf(const kcRLEBuffer& rle) {
  Pels out(static_cast<std::size_t>(rle.height()));
  for (long y = 0; y < rle.height(); ++y) {
    for (const unsigned char* r = rle.pointToRow(y); r[1] != 0; r += 2)
      for (int k = 0; k < r[1]; ++k) out[static_cast<std::size_t>(y)].push_back(r[0]);
  }
  return out;
}

// randomSize: widths from 1 to about 600 (often past 255 and 510), heights 1 to 40.
inline std::pair<long, long> randomSize(std::mt19937& rng) {
  static const long kWidths[] = {1, 2, 63, 64, 65, 255, 256, 300, 510, 511, 600};
  long w = rng() % 3 == 0 ? kWidths[rng() % 11] : 1 + static_cast<long>(rng() % 400);
  long h = 1 + static_cast<long>(rng() % 40);
  return {w, h};
}

// fillRandom: pels in spans of random length (1 to maxSpan) drawn from `values` distinct values,
// so images range from noise (maxSpan 1) to long runs.
inline void fillRandom(kcPelBuffer<unsigned char>& image, std::mt19937& rng, int values, int maxSpan) {
  for (long y = 0; y < image.height(); ++y) {
    unsigned char* row = image.pointToRow(y);
    long x = 0;
    while (x < image.width()) {
      long span = 1 + static_cast<long>(rng() % static_cast<unsigned>(maxSpan));
      auto v = static_cast<unsigned char>(values >= 256 ? rng() % 256 : (rng() % values) * (255 / (values > 1 ? values - 1 : 1)));
      for (long k = 0; k < span && x < image.width(); ++k) row[x++] = v;
    }
  }
}

// randomImage: a random image of random size at a random offset; every third one is a sub-window
// of a larger image, so strides and offsets vary.
inline kcPelBuffer<unsigned char> randomImage(std::mt19937& rng) {
  auto [w, h] = randomSize(rng);
  int values = rng() % 2 ? 256 : 2 + static_cast<int>(rng() % 6);
  int maxSpan = rng() % 3 == 0 ? 1 : 1 + static_cast<int>(rng() % 700);
  kcPair<long> at(static_cast<long>(rng() % 2001) - 1000, static_cast<long>(rng() % 2001) - 1000);
  if (rng() % 3 == 0) {
    kcPelBuffer<unsigned char> big(w + 7, h + 3, 32);
    fillRandom(big, rng, values, maxSpan);
    big.offset(at);
    return big.subWindow(kcPelRect(at.x() + 5, at.y() + 2, w, h));
  }
  kcPelBuffer<unsigned char> image(w, h, rng() % 2 ? 32 : 1);
  fillRandom(image, rng, values, maxSpan);
  image.offset(at);
  return image;
}

}  // namespace imgref
