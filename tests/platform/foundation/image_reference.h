// Test helpers for image tests: seeded random pel images, run images built from pel grids, and a
// pel-level view of run-length images.
#pragma once

#include <foundation/pelbuffer.h>
#include <foundation/rlebuffer.h>

#include <random>
#include <string>
#include <vector>

namespace imgref {

using Pels = std::vector<std::vector<unsigned char>>;  // [y][x]

inline Pels pelsOf(const kcPelBuffer_const<unsigned char>& image) {
  Pels out;
  for (long y = 0; y < image.height(); ++y) out.emplace_back(image.pointToRow(y), image.pointToRow(y) + image.width());
  return out;
}

// pelsOf(rle): the pels the runs stand for, decoded one pel at a time.
inline Pels pelsOf(const kcRLEBuffer& rle) {
  Pels out(static_cast<std::size_t>(rle.height()));
  for (long y = 0; y < rle.height(); ++y)
    for (const unsigned char* r = rle.pointToRow(y); r[1] != 0; r += 2) out[static_cast<std::size_t>(y)].insert(out[static_cast<std::size_t>(y)].end(), r[1], r[0]);
  return out;
}

// layoutError(rle, canonical): empty when every row has lengths 1..255 adding up to the width and
// a (0, 0) terminator, numRuns and isBinary agree with the runs, and (canonical) no two adjacent
// runs share a value unless the first is 255 long; else the first fault found.
inline std::string layoutError(const kcRLEBuffer& rle, bool canonical) {
  std::uint64_t runs = 0;
  bool binary = true;
  for (long y = 0; y < rle.height(); ++y) {
    long pels = 0;
    const unsigned char* r = rle.pointToRat()[y];
    for (; r[1] != 0; r += 2, ++runs) {
      pels += r[1];
      binary = binary && r[0] <= 1;
      if (canonical && r[3] != 0 && r[2] == r[0] && r[1] != 255) return "not canonical in row " + std::to_string(y);
    }
    if (r[0] != 0 || pels != rle.width()) return "bad row " + std::to_string(y);
  }
  if (runs != rle.numRuns() || binary != rle.isBinary()) return "numRuns or isBinary wrong";
  return {};
}

// fillRandom: spans of random length (1 to maxSpan) of `values` distinct values (256: any value).
inline void fillRandom(kcPelBuffer<unsigned char>& image, std::mt19937& rng, unsigned values, unsigned maxSpan) {
  for (long y = 0; y < image.height(); ++y)
    for (long x = 0; x < image.width();) {
      auto v = static_cast<unsigned char>(values >= 256 ? rng() % 256 : rng() % values * (255 / (values - 1)));
      for (long k = 1 + static_cast<long>(rng() % maxSpan); k > 0 && x < image.width(); --k) image.pointToRow(y)[x++] = v;
    }
}

// randomImage: 1 to ~600 pels wide (often past 255 and 510), 1 to 40 high, at a random offset;
// noise or long runs; every third one a sub-window of a larger image.
inline kcPelBuffer<unsigned char> randomImage(std::mt19937& rng) {
  static const long kWidths[] = {1, 2, 63, 64, 65, 255, 256, 300, 510, 511, 600};
  long w = rng() % 3 == 0 ? kWidths[rng() % 11] : 1 + static_cast<long>(rng() % 400);
  long h = 1 + static_cast<long>(rng() % 40);
  const auto below = [&rng](unsigned n) { return static_cast<unsigned>(rng() % n); };
  unsigned values = rng() % 2 ? 256 : 2 + below(6), maxSpan = rng() % 3 == 0 ? 1 : 1 + below(700);
  kcPair<long> at(static_cast<long>(rng() % 2001) - 1000, static_cast<long>(rng() % 2001) - 1000);
  bool window = rng() % 3 == 0;
  kcPelBuffer<unsigned char> image(w + (window ? 7 : 0), h + (window ? 3 : 0), rng() % 2 ? 32 : 1);
  fillRandom(image, rng, values, maxSpan);
  image.offset(at);
  return window ? image.subWindow(kcPelRect(at.x() + 5, at.y() + 2, w, h)) : image;
}

// runsOf(pels, offset, cutter): a run image of the pels at offset. Without cutter the runs are
// maximal (split only at 255); with it spans are cut at random places, so equal neighbours and
// short runs occur as in rows adopted from a caller.
inline kcRLEBuffer runsOf(const Pels& pels, kcPair<long> offset, std::mt19937* cutter = nullptr) {
  std::vector<unsigned char> bytes;
  std::vector<std::size_t> starts;
  for (const auto& row : pels) {
    starts.push_back(bytes.size());
    for (std::size_t x = 0, end = 0; x < row.size(); x = end) {
      for (end = x; end < row.size() && row[end] == row[x] && end - x < 255;) ++end;
      if (cutter != nullptr && end - x > 1 && (*cutter)() % 2 == 0) end = x + 1 + (*cutter)() % (end - x - 1);
      bytes.insert(bytes.end(), {row[x], static_cast<unsigned char>(end - x)});
    }
    bytes.insert(bytes.end(), {0, 0});
  }
  std::vector<const unsigned char*> rows;
  for (std::size_t s : starts) rows.push_back(bytes.data() + s);
  kcRLEBuffer rle;
  rle.becomeOwner(pels.empty() ? 0 : static_cast<long>(pels[0].size()), rows, bytes);
  rle.offset(offset);
  return rle;
}

// randomCase(rng): a random image (sizes, textures and offsets of randomImage) as pels
// and as runs, canonical or cut.
struct Case {
  Pels pels;
  kcRLEBuffer runs;
};
inline Case randomCase(std::mt19937& rng) {
  auto image = randomImage(rng);
  Pels pels = pelsOf(image);
  kcRLEBuffer runs = runsOf(pels, image.offset(), rng() % 2 ? &rng : nullptr);
  return {pels, runs};
}

}  // namespace imgref
