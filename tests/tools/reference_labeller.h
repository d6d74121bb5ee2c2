// A naive flood-fill labeller: the blobs and holes a grey-scale analysis of a thresholded image must find.
#pragma once

#include "image_io.h"

#include <algorithm>
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

inline std::vector<Blob> blobs(const tool::GreyImage& image, int threshold = 128) {
  const long w = image.width, h = image.height;
  auto fore = [&](long i) { return image.pels[static_cast<std::size_t>(i)] >= threshold; };
  std::vector<long> regionOf(static_cast<std::size_t>(w * h), -1);
  std::vector<Blob> regions;  // id: 0 for the border background, else the blob id
  for (long start = 0; start < w * h; ++start) {
    if (regionOf[static_cast<std::size_t>(start)] >= 0) continue;
    const bool f = fore(start);
    Blob blob{1, start < w ? -1 : regionOf[static_cast<std::size_t>(start - w)], f ? 1 : 0, 0, 0, w, 0, h, 0, 0, 0};
    std::vector<long> stack{start};
    regionOf[static_cast<std::size_t>(start)] = static_cast<long>(regions.size());
    while (!stack.empty()) {
      const long x = stack.back() % w, y = stack.back() / w;
      stack.pop_back();
      blob.area += 1, blob.sumX += x + 0.5, blob.sumY += y + 0.5;
      blob.minX = std::min(blob.minX, x), blob.maxX = std::max(blob.maxX, x + 1);
      blob.minY = std::min(blob.minY, y), blob.maxY = std::max(blob.maxY, y + 1);
      if (!f && (x == 0 || y == 0 || x == w - 1 || y == h - 1)) blob.id = 0;
      for (long dy = -1; dy <= 1; ++dy) {
        for (long dx = -1; dx <= 1; ++dx) {
          const long nx = x + dx, ny = y + dy, n = ny * w + nx;
          if ((!f && dx != 0 && dy != 0) || nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
          if (regionOf[static_cast<std::size_t>(n)] < 0 && fore(n) == f) {
            regionOf[static_cast<std::size_t>(n)] = regionOf[static_cast<std::size_t>(start)];
            stack.push_back(n);
          }
        }
      }
    }
    regions.push_back(blob);
  }
  std::vector<Blob> result;
  for (Blob& blob : regions) {
    if (blob.id == 0) continue;
    blob.id = static_cast<long>(result.size()) + 1;
    blob.parent = blob.parent < 0 ? 0 : regions[static_cast<std::size_t>(blob.parent)].id;
    if (blob.parent != 0) result[static_cast<std::size_t>(blob.parent - 1)].numChildren += 1;
    result.push_back(blob);
  }
  return result;
}

}  // namespace reference
