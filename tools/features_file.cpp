// blob-analyze --features: the library's featurelet conversion of a scene, and its JSON file.
#include "features_file.h"

#include <blob/blob.h>
#include <blob/blobdesc.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <stdexcept>

namespace tool {
namespace {

// A blob taken in chain order is one at an odd depth of the tree (top level 1, its holes 2, ...).
bool inChainOrder(const kcBlob& blob) {
  long depth = 1;
  for (const kcBlob* p = blob.parent(); p != nullptr; p = p->parent()) ++depth;
  return depth % 2 == 1;
}

std::string jsonNumber(double value) { return std::isfinite(value) ? exactNumber(value) : "null"; }

void writeChain(std::ostream& out, const FeatureChain& chain) {
  out << "{\"blob\":" << chain.blob << ",\"sense\":\"" << (chain.forward ? "forward" : "reverse")
      << "\",\"points\":[";
  for (std::size_t k = 0; k < chain.points.size(); ++k) {
    out << (k > 0 ? ",[" : "[") << jsonNumber(chain.points[k][0]) << ',' << jsonNumber(chain.points[k][1]) << ']';
  }
  out << "],\"directions\":[";
  for (std::size_t k = 0; k < chain.directions.size(); ++k) {
    out << (k > 0 ? "," : "") << jsonNumber(chain.directions[k]);
  }
  out << "]}";
}

}  // namespace

std::vector<FeatureChain> featureChains(kcBlobSceneDescription& scene, bool shown) {
  if (!shown) scene.disableSort();
  const kcPtrHandle<kcFeatureletChainSet> set = kfConvertToFeatures(&scene, false, false);
  const std::vector<const kcBlob*> blobs = scene.allBlobs(true);
  if (set->numChains() != static_cast<long>(blobs.size())) {
    throw std::logic_error("the featurelet conversion gave a chain count other than the blobs'");
  }
  std::vector<FeatureChain> chains(blobs.size());
  for (std::size_t i = 0; i < blobs.size(); ++i) {
    FeatureChain& chain = chains[i];
    chain.blob = blobs[i]->id();
    chain.forward = inChainOrder(*blobs[i]);
    for (const kfeat_featurelet& f : set->chain(static_cast<long>(i))) {
      chain.points.push_back({f.x, f.y});
      chain.directions.push_back(f.hasDirection != 0 ? f.angle : std::numeric_limits<double>::quiet_NaN());
    }
  }
  return chains;
}

FeaturesFile::FeaturesFile(const std::string& path) {
  if (path.empty()) return;
  file_ = std::make_unique<OutputFile>(path);
  file_->stream() << "{\"images\":[";
}

FeaturesFile::~FeaturesFile() = default;

void FeaturesFile::image(const ImageReport& report, const std::vector<FeatureChain>& chains) {
  if (!active()) return;
  std::ostream& out = file_->stream();
  out << (imagesWritten_++ > 0 ? ",\n" : "\n") << "{\"file\":" << (report.demo ? "null" : jsonString(report.file));
  if (!report.error.empty()) {
    out << ",\"error\":" << jsonString(report.error) << "}";
  } else {
    out << ",\"chains\":[";
    for (std::size_t i = 0; i < chains.size(); ++i) {
      out << (i > 0 ? ",\n" : "\n");
      writeChain(out, chains[i]);
    }
    out << "]}";
  }
  file_->flush();
}

void FeaturesFile::commit() {
  if (!active()) return;
  file_->stream() << "\n]}\n";
  file_->commit();
}

}  // namespace tool
