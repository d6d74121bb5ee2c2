// The blobs and holes a grey-scale analysis of a thresholded image must find, read off the shared
// flood-fill labeller.
#pragma once

#include "common/flood_fill.h"
#include <report/image_io.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace reference {

// Foreground (pel >= threshold) joins 8-connected, background 4-connected; background touching the
// border is no blob; ids follow the raster order of first pels; the parent is the region of the
// pel just above the first pel (0 for the border background).
struct Blob {
  long id = 0, parent = 0, label = 0, numChildren = 0, area = 0;
  long minX = 0, maxX = 0, minY = 0, maxY = 0;  // maxX and maxY exclusive
  double sumX = 0, sumY = 0;                     // of pel centres
};

inline std::vector<Blob> blobs(const report::GreyImage& image, int threshold = 128) {
  const long w = image.width, h = image.height;
  const auto at = [](long i) { return static_cast<std::size_t>(i); };
  std::vector<std::uint8_t> fore(image.pels.size());
  for (std::size_t i = 0; i < fore.size(); ++i) fore[i] = image.pels[i] >= threshold ? 1 : 0;
  int count = 0;
  const std::vector<int> comp = floodfill::components(static_cast<int>(w), static_cast<int>(h),
                                                      fore, floodfill::Joins::eGrey, count);
  // Per component: its fields, and the component above its first pel (-1 on the top row) as parent.
  std::vector<Blob> regions(at(count), Blob{1, -2, 0, 0, 0, w, 0, h, 0, 0, 0});
  for (long p = 0; p < w * h; ++p) {
    const long x = p % w, y = p / w;
    Blob& blob = regions[at(comp[at(p)])];
    if (blob.parent == -2) blob.parent = y == 0 ? -1 : comp[at(p - w)], blob.label = fore[at(p)];
    blob.area += 1, blob.sumX += static_cast<double>(x) + 0.5, blob.sumY += static_cast<double>(y) + 0.5;
    blob.minX = std::min(blob.minX, x), blob.maxX = std::max(blob.maxX, x + 1);
    blob.minY = std::min(blob.minY, y), blob.maxY = std::max(blob.maxY, y + 1);
    if (blob.label == 0 && (x == 0 || y == 0 || x == w - 1 || y == h - 1)) blob.id = 0;
  }
  std::vector<Blob> result;
  for (Blob& blob : regions) {
    if (blob.id == 0) continue;
    blob.id = static_cast<long>(result.size()) + 1;
    blob.parent = blob.parent < 0 ? 0 : regions[at(blob.parent)].id;
    if (blob.parent != 0) result[at(blob.parent - 1)].numChildren += 1;
    result.push_back(blob);
  }
  return result;
}

}  // namespace reference
