// blob-analyze --features: the library's featurelet conversion, blob by blob, into its JSON file.
#include <report/features_file.h>

#include <blob/blob.h>
#include <blob/blobdesc.h>

#include <foundation/exception.h>

#include <cmath>
#include <new>
#include <ostream>
#include <span>
#include <vector>

namespace report {
namespace {

// A blob taken in chain order is one at an odd depth of the tree (top level 1, its holes 2, ...).
bool inChainOrder(const kcBlob& blob) {
  long depth = 1;
  for (const kcBlob* p = blob.parent(); p != nullptr; p = p->parent()) ++depth;
  return depth % 2 == 1;
}

std::string jsonNumber(double value) { return std::isfinite(value) ? exactNumber(value) : "null"; }

// Converts blob and writes its chain, after a separator unless it is the first; nothing is written
// when the conversion fails.
void writeChain(std::ostream& out, const kcBlob& blob, bool first) {
  const kcPtrHandle<kcFeatureletChainSet> set = kfConvertToFeatures(blob, false);
  const std::span<const kfeat_featurelet> chain = set->numChains() > 0 ? set->chain(0) : std::span<const kfeat_featurelet>();
  out << (first ? "\n" : ",\n") << "{\"blob\":" << blob.id() << ",\"sense\":\"" << (inChainOrder(blob) ? "forward" : "reverse")
      << "\",\"points\":[";
  for (std::size_t k = 0; k < chain.size(); ++k) {
    out << (k > 0 ? ",[" : "[") << jsonNumber(chain[k].x) << ',' << jsonNumber(chain[k].y) << ']';
  }
  out << "],\"directions\":[";
  for (std::size_t k = 0; k < chain.size(); ++k) {
    out << (k > 0 ? "," : "") << (chain[k].hasDirection != 0 ? jsonNumber(chain[k].angle) : "null");
  }
  out << "]}";
}

}  // namespace

FeaturesFile::FeaturesFile(const std::string& path) {
  if (path.empty()) return;
  file_ = std::make_unique<OutputFile>(path);
  file_->stream() << "{\"images\":[";
}

FeaturesFile::~FeaturesFile() = default;

std::string FeaturesFile::image(const ImageReport& report, const kcBlobSceneDescription* scene, bool shown) {
  if (!active()) return "";
  std::ostream& out = file_->stream();
  out << (imagesWritten_++ > 0 ? ",\n" : "\n") << "{\"file\":" << (report.demo ? "null" : jsonString(report.file));
  if (!report.error.empty()) {
    out << ",\"error\":" << jsonString(report.error) << "}";
    file_->flush();
    return "";
  }
  std::string failure;
  out << ",\"chains\":[";
  try {
    std::vector<const kcBlob*> view;
    if (scene != nullptr && shown) view = scene->allBlobs(true);
    const long count = scene == nullptr ? 0 : shown ? static_cast<long>(view.size()) : scene->numBlobs(false);
    for (long i = 0; i < count; ++i) {
      writeChain(out, shown ? *view[static_cast<std::size_t>(i)] : *scene->getBlob(i + 1), i == 0);
    }
  } catch (const kcException& error) {
    failure = libraryMessage(error);
  } catch (const std::bad_alloc&) {
    failure = "out of memory";
  }
  out << "]";
  if (!failure.empty()) out << ",\"error\":" << jsonString(failure);
  out << "}";
  file_->flush();
  return failure;
}

void FeaturesFile::commit() {
  if (!active()) return;
  file_->stream() << "\n]}\n";
  file_->commit();
}

}  // namespace report
