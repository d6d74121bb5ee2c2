// blob-analyze --features: the blobs' boundaries as featurelet chains, and the JSON file they go to.
#pragma once

#include <report/output_file.h>
#include <report/output_format.h>

#include <memory>
#include <string>

class kcBlobSceneDescription;

namespace report {

// FeaturesFile: the --features output, written like --output (a regular file is replaced only by a
// whole file). Inactive, writing nothing, when its path is empty. JSON form:
//   {"images":[{"file":F,"chains":[{"blob":ID,"sense":"forward"|"reverse",
//   "points":[[x,y],...],"directions":[angle|null,...]},...]},...]}
// with F null for the demo image; a failed image is {"file":F,"error":"text"}. Each chain is the
// library's conversion of one blob (not reversed): its pel corners in client coordinates, in the
// order of the blob's chain code ("forward", blobs) or against it ("reverse", holes), each with
// the direction normal to the boundary in radians, null where there is none. Numbers read back to
// the same double.
class FeaturesFile {
 public:
  // FeaturesFile(path): opens the output (see OutputFile, whose errors pass through).
  explicit FeaturesFile(const std::string& path);
  ~FeaturesFile();

  bool active() const { return file_ != nullptr; }

  // image(report, scene, shown): writes report's image: its error, or one chain per blob the
  // report lists: with shown, scene's filtered and sorted view in its order; otherwise every blob in
  // id order. Each blob is converted and written before the next, so one chain is held at a time.
  // Returns the reason when a conversion failed (the library's message, or "out of memory"): the
  // image's entry then ends with "error" after the chains written. Otherwise returns "". Reads
  // scene's caches as the report's rows do: call it on the thread that reads them.
  std::string image(const ImageReport& report, const kcBlobSceneDescription* scene, bool shown);
  // commit(): closes the JSON and commits the file (OutputError when any of it failed). Call once.
  void commit();

 private:
  std::unique_ptr<OutputFile> file_;
  long imagesWritten_ = 0;
};

}  // namespace report
