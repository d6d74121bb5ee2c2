// The measures a report lists: the library's measures by name, and the --measures list.
#include <report/measures.h>

#include <blob/blob.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace report {

const std::vector<MeasureInfo>& reportedMeasures() {
  // The library names every measure; label and numChildren are reported as fixed fields.
  static const std::vector<MeasureInfo> table = [] {
    std::vector<MeasureInfo> all;
    for (int m = 0; const char* name = kfBlobMeasureName(static_cast<kcBlob::Measure>(m)); ++m) {
      if (m != kcBlob::eLabel && m != kcBlob::eNumChildren) all.push_back({name, m});
    }
    return all;
  }();
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

}  // namespace report
