// The naive pel-level labeller that the connectivity checks of the library and of blob-analyze
// compare against: breadth-first flood fills, one component per pel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace floodfill {

// Joins: which neighbours of equal class join a pel.
//   eGrey:     a pel of class 0 (background) its 4 edge neighbours, any other pel all 8;
//   eLabelled: left, right, up, down, upper-left and lower-right, whatever the class.
enum class Joins { eGrey, eLabelled };

// components(width, height, classes, joins, count): the component of every pel (index
// y * width + x), numbered from 0 in raster order of each component's first pel; count receives
// the number of components.
inline std::vector<int> components(int width, int height, const std::vector<std::uint8_t>& classes,
                                   Joins joins, int& count) {
  const auto at = [](int p) { return static_cast<std::size_t>(p); };
  std::vector<int> comp(classes.size(), -1);
  count = 0;
  for (int start = 0; start < width * height; ++start) {
    if (comp[at(start)] != -1) continue;
    const std::uint8_t c0 = classes[at(start)];
    std::deque<int> queue{start};
    comp[at(start)] = count;
    while (!queue.empty()) {
      const int p = queue.front(), x = p % width, y = p / width;
      queue.pop_front();
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const bool diagonal = dx != 0 && dy != 0;
          const bool skipped = joins == Joins::eLabelled ? dx != dy : c0 == 0;
          if ((dx == 0 && dy == 0) || (diagonal && skipped)) continue;
          const int nx = x + dx, ny = y + dy, q = ny * width + nx;
          if (nx < 0 || ny < 0 || nx >= width || ny >= height) continue;
          if (comp[at(q)] != -1 || classes[at(q)] != c0) continue;
          comp[at(q)] = count;
          queue.push_back(q);
        }
    }
    ++count;
  }
  return comp;
}

}  // namespace floodfill
