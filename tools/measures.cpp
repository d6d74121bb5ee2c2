// The measure table of blob-analyze: the names and numbers of the measures it reports.
#include "measures.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace tool {

const std::vector<MeasureInfo>& reportedMeasures() {
  // Numbers are those of the blob measure enumeration; analysis_adapter.cpp reads each one.
  static const std::vector<MeasureInfo> table = {
      {"area", 1},
      {"numSteps", 2},
      {"perimeter", 3},
      {"centerOfMassX", 5},
      {"centerOfMassY", 6},
      {"inertiaX", 7},
      {"inertiaY", 8},
      {"inertiaPrincipalMin", 9},
      {"inertiaPrincipalMax", 10},
      {"elongation", 11},
      {"angle", 12},
      {"acircularity", 13},
      {"acircularityRms", 14},
      {"imageBoundingBoxMinX", 18},
      {"imageBoundingBoxMaxX", 19},
      {"imageBoundingBoxMinY", 20},
      {"imageBoundingBoxMaxY", 21},
  };
  return table;
}

namespace {

std::string validNames() {
  std::string names;
  for (const MeasureInfo& info : reportedMeasures()) names += (names.empty() ? "" : ", ") + std::string(info.name);
  return names;
}

}  // namespace

std::vector<MeasureInfo> selectMeasures(const std::string& list) {
  std::vector<MeasureInfo> chosen;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    const std::string name = list.substr(start, comma - start);
    start = comma + 1;
    if (name == "label" || name == "numChildren") continue;  // always reported
    const auto& table = reportedMeasures();
    const auto found = std::find_if(table.begin(), table.end(),
                                    [&](const MeasureInfo& info) { return name == info.name; });
    if (found == table.end()) {
      throw std::invalid_argument("unknown measure '" + name + "'; valid names: " + validNames());
    }
    if (std::any_of(chosen.begin(), chosen.end(), [&](const MeasureInfo& info) { return name == info.name; })) {
      throw std::invalid_argument("measure '" + name + "' is named twice");
    }
    chosen.push_back(*found);
  }
  return chosen;
}

}  // namespace tool
