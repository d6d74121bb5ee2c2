// Test helpers for the run-image operations: run images built from pel grids (canonical or with
// spans cut into arbitrary runs) and seeded random grids of varied sizes and textures.
#pragma once

#include <foundation/rlebuffer.h>

#include "image_reference.h"

#include <random>
#include <vector>

namespace opsref {

using imgref::Pels;

// runsOf(pels, offset, cutter): a run image of the pels at offset. Without cutter the runs are
// maximal (split only at 255); with it every span is cut at random places, so equal neighbours
// and short runs occur as in rows adopted from a caller.
inline kcRLEBuffer runsOf(const Pels& pels, kcPair<long> offset, std::mt19937* cutter = nullptr) {
  std::vector<unsigned char> bytes;
  std::vector<std::size_t> starts;
  for (const auto& row : pels) {
    starts.push_back(bytes.size());
    std::size_t x = 0;
    while (x < row.size()) {
      std::size_t end = x;
      while (end < row.size() && row[end] == row[x] && end - x < 255) ++end;
      if (cutter != nullptr && end - x > 1 && (*cutter)() % 2 == 0) end = x + 1 + (*cutter)() % (end - x - 1);
      bytes.push_back(row[x]);
      bytes.push_back(static_cast<unsigned char>(end - x));
      x = end;
    }
    bytes.push_back(0);
    bytes.push_back(0);
  }
  std::vector<const unsigned char*> rows;
  for (std::size_t s : starts) rows.push_back(bytes.data() + s);
  kcRLEBuffer rle;
  rle.becomeOwner(pels.empty() ? 0 : static_cast<long>(pels[0].size()), rows, bytes);
  rle.offset(offset);
  return rle;
}

// randomPels(rng, w, h): spans of random length drawn from few or many values; sometimes noise,
// sometimes long runs, sometimes mostly zero with sparse objects.
inline Pels randomPels(std::mt19937& rng, long w, long h) {
  const int values = rng() % 2 ? 256 : 2 + static_cast<int>(rng() % 5);
  const unsigned maxSpan = rng() % 3 == 0 ? 1 : 1 + rng() % 600;
  const bool sparse = rng() % 3 == 0;
  Pels out(static_cast<std::size_t>(h), std::vector<unsigned char>(static_cast<std::size_t>(w)));
  for (auto& row : out) {
    std::size_t x = 0;
    while (x < row.size()) {
      std::size_t span = 1 + rng() % maxSpan;
      unsigned v = values == 256 ? rng() % 256 : (rng() % values) * (255 / (values - 1));
      if (sparse && rng() % 4 != 0) v = 0;
      for (std::size_t k = 0; k < span && x < row.size(); ++k) row[x++] = static_cast<unsigned char>(v);
    }
  }
  return out;
}

// randomSize(rng): widths as imgref::randomSize (past 255 and 510 often); heights 1 to 300.
inline std::pair<long, long> randomSize(std::mt19937& rng) {
  auto [w, h] = imgref::randomSize(rng);
  if (rng() % 4 == 0) h = 1 + static_cast<long>(rng() % 300);
  return {w, h};
}

inline kcPair<long> randomOffset(std::mt19937& rng) {
  return kcPair<long>(static_cast<long>(rng() % 2001) - 1000, static_cast<long>(rng() % 2001) - 1000);
}

}  // namespace opsref
