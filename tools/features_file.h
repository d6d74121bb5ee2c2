// blob-analyze --features: the blobs' boundaries as featurelet chains, and the JSON file they go to.
#pragma once

#include "output_file.h"
#include "output_format.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

class kcBlobSceneDescription;

namespace tool {

// FeatureChain: one blob's boundary as the library converts it (not reversed, holes included).
struct FeatureChain {
  long blob = 0;                              // the blob's id
  bool forward = true;                        // in the order of the blob's chain code, else reversed
  std::vector<std::array<double, 2>> points;  // client coordinates (pel corners for the tool's images)
  std::vector<double> directions;             // radians in [0, 2 pi); NaN where a point has none
};

// featureChains(scene, shown): one chain per blob that the report lists: shown true, the scene's
// filtered and sorted view in its order; false, every blob in id order (the view's sort is turned
// off for that, the scene having no filters). The library's errors pass through.
std::vector<FeatureChain> featureChains(kcBlobSceneDescription& scene, bool shown);

// FeaturesFile: the --features output, written like --output (a regular file is replaced only by a
// whole file). Inactive, writing nothing, when its path is empty. JSON form:
//   {"images":[{"file":F,"chains":[{"blob":ID,"sense":"forward"|"reverse",
//   "points":[[x,y],...],"directions":[angle|null,...]},...]},...]}
// with F null for the demo image; a failed image is {"file":F,"error":"text"}. Numbers read back
// to the same double; a point without a direction has null.
class FeaturesFile {
 public:
  // FeaturesFile(path): opens the output (see OutputFile, whose errors pass through).
  explicit FeaturesFile(const std::string& path);
  ~FeaturesFile();

  // image(report, chains): writes report's image with its chains (or its error).
  void image(const ImageReport& report, const std::vector<FeatureChain>& chains);
  // commit(): closes the JSON and commits the file (OutputError when any of it failed). Call once.
  void commit();

 private:
  bool active() const { return file_ != nullptr; }

  std::unique_ptr<OutputFile> file_;
  long imagesWritten_ = 0;
};

}  // namespace tool
