// Test helpers for the run-image operations: run images built from pel grids, with spans kept
// maximal or cut into arbitrary runs, and seeded random cases.
#pragma once

#include <foundation/rlebuffer.h>

#include "image_reference.h"

#include <random>
#include <vector>

namespace opsref {

using imgref::Pels;

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

// randomCase(rng): a random image (sizes, textures and offsets of imgref::randomImage) as pels
// and as runs, canonical or cut.
struct Case {
  Pels pels;
  kcRLEBuffer runs;
};
inline Case randomCase(std::mt19937& rng) {
  auto image = imgref::randomImage(rng);
  Pels pels = imgref::pelsOf(image);
  kcRLEBuffer runs = runsOf(pels, image.offset(), rng() % 2 ? &rng : nullptr);
  return {pels, runs};
}

}  // namespace opsref
