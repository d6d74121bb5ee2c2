// blob-analyze's calls into the library: options to kcBlobParams, kfBlobAnalysis, blobs to rows.
#include "analysis_adapter.h"

#include <report/blob_rows.h>
#include <report/html_report.h>
#include <report/pictures.h>

#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>

#include <diag/recorder.h>

#include <foundation/exception.h>
#include <foundation/pelbuffer.h>
#include <foundation/rlebuffer.h>
#include <foundation/text.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <ostream>
#include <string>

namespace tool {

using namespace report;

namespace {

void setSegmentation(const Options& options, kcBlobParams& params) {
  const auto byte = [](long value) { return static_cast<unsigned char>(value); };  // ranges checked by the parser
  switch (options.segmentation) {
    case Segmentation::eHard:
      params.setSegmentationHardThresh(byte(options.threshold), options.invert);
      break;
    case Segmentation::eHardPercent:
      params.setSegmentationHardThresh(options.lowTailPercent, options.hiTailPercent, options.thresholdPercent,
                                       options.invert);
      break;
    case Segmentation::eSoft:
      params.setSegmentationSoftThresh(byte(options.threshold), byte(options.highThreshold), byte(options.softness),
                                       options.invert);
      break;
    case Segmentation::eNone:
      params.setSegmentationNone(1);
      break;
  }
}

// readMask(options): the mask file, encoded, at --mask-offset when it is given.
kcRLEBuffer readMask(const Options& options) {
  GreyImage image;
  try {
    image = readImage(options.maskPath, options.maxPels, options.grey);
  } catch (const ImageError& error) {
    throw UsageError("--mask " + options.maskPath + ": " + error.what());
  }
  kcRLEBuffer mask;
  mask.encode(toPelBuffer(image));
  if (options.hasMaskOffset) mask.offset(kcPair<long>(options.maskOffset[0], options.maskOffset[1]));
  return mask;
}

}  // namespace

kcBlobParams makeParams(const Options& options) {
  kcBlobParams params;
  try {
    setSegmentation(options, params);
    params.connectivityType(options.connectivity);
    params.connectivityCleanup(options.cleanup);
    params.connectivityMinPels(options.minPels);
    std::vector<keBlobParamsMorphOp> morph;
    for (int op : options.morph) morph.push_back(static_cast<keBlobParamsMorphOp>(op));
    params.morph(morph);
    if (!options.maskPath.empty()) {
      params.mask(readMask(options));
      params.useMaskForInterior(options.maskInterior);
    }
  } catch (const kcException& error) {
    throw UsageError(libraryMessage(error));
  }
  return params;
}

namespace {

// diagnosticTexts(recorder): the text of every data object recorded, in record order.
std::vector<std::string> diagnosticTexts(const kcDiagObject& recorder) {
  std::vector<std::string> texts;
  for (long i = 0; i < recorder.numRecords(); ++i) {
    const kcDiagRecord& record = recorder.diagRecord(i);
    for (std::size_t e = 0; e < record.numEntries(); ++e) {
      const kcDiagRecord::Entry& entry = record.entry(e);
      if (entry.kind() == kcDiagRecord::eData) texts.push_back(kfUtf8(entry.data().getAsText()));
    }
  }
  return texts;
}

}  // namespace

void setView(const Options& options, kcBlobSceneDescription& scene) {
  scene.extremaAngle(kcRadian(options.angle));
  switch (options.exclusion) {
    case Options::Exclusion::eArea:
      scene.extremaExcludeArea(options.excludeAmount);
      break;
    case Options::Exclusion::ePels:
      scene.extremaExcludeAreaPels(options.excludeAmount);
      break;
    case Options::Exclusion::ePercent:
      scene.extremaExcludeAreaPercent(options.excludeAmount);
      break;
    case Options::Exclusion::eNone:
      break;
  }
  if (options.hasXform) {
    const double* x = options.xform;
    scene.clientFromImageXform(kcXform<2>(kcMatrix<2>(x[0], x[1], x[2], x[3]), kcVector<2>(x[4], x[5])));
  }
  for (const FilterOption& f : options.filters) {
    scene.setFilter(static_cast<kcBlob::Measure>(f.measure), f.low, f.high, f.exclude);
  }
  if (options.noSort) scene.disableSort();
  if (options.sortMeasure >= 0) {
    scene.setSort(static_cast<kcBlob::Measure>(options.sortMeasure),
                  options.sortAscending ? kcBlobSceneDescription::eAscending : kcBlobSceneDescription::eDescending);
  }
}

namespace {

// checkView(options): refuses, before any image is read, a view the library would refuse.
void checkView(const Options& options) {
  kcBlobSceneDescription scene;
  try {
    setView(options, scene);
  } catch (const kcException& error) {
    throw UsageError(libraryMessage(error));
  }
}

// The rows of one analysis, made from its scene as they are read. Reading rows fills the scene's
// caches, so the rows of one report must be read by one thread at a time.
class SceneRows : public BlobRows {
 public:
  SceneRows(const std::vector<MeasureInfo>& measures, bool shown) : measures_(measures), shown_(shown) {}

  kcBlobResults& results() { return results_; }
  // attach(scene): the rows become those of scene (a scene of results()), in view order when shown.
  void attach(const kcBlobSceneDescription& scene) {
    scene_ = &scene;
    if (shown_) view_ = scene.allBlobs(true);
  }

  std::size_t size() const override {
    if (!scene_) return 0;
    return shown_ ? view_.size() : static_cast<std::size_t>(scene_->numBlobs(false));
  }
  void row(std::size_t i, BlobRow& out) const override {
    fillRow(shown_ ? *view_[i] : *scene_->getBlob(static_cast<long>(i) + 1), measures_, out);
  }

 private:
  kcBlobResults results_;
  const kcBlobSceneDescription* scene_ = nullptr;
  std::vector<const kcBlob*> view_;
  std::vector<MeasureInfo> measures_;
  bool shown_;
};

}  // namespace

struct Analyzer::State {
  kcBlobParams params;
  Options options;
  unsigned threads = 1;
};

Analyzer::Analyzer(const Options& options) : state_(std::make_unique<State>(State{makeParams(options), options})) {
  checkView(options);
}

Analyzer::~Analyzer() = default;

void Analyzer::threads(unsigned n) { state_->threads = std::max(n, 1u); }

std::unique_ptr<Analyzer> Analyzer::clone() const {
  std::unique_ptr<Analyzer> copy(new Analyzer());
  copy->state_ = std::make_unique<State>(*state_);
  return copy;
}

namespace {

// checkMask(options, mask, image): refuses an image that a mask of another size does not cover as
// it is, unless --mask-offset says where the mask lies.
void checkMask(const Options& options, const kcRLEBuffer& mask, const GreyImage& image) {
  if (options.maskPath.empty() || options.hasMaskOffset) return;
  if (mask.width() == image.width && mask.height() == image.height) return;
  throw AnalysisError("the mask is " + std::to_string(mask.width()) + " x " + std::to_string(mask.height()) +
                      " pels, the image " + std::to_string(image.width) + " x " + std::to_string(image.height) +
                      " (--mask-offset X,Y places a mask of another size)");
}

// writePicture(path, write, extras): a new output file for path with write(its stream) in it, or
// null after noting in extras why it could not be made.
template <class Write>
std::unique_ptr<OutputFile> writePicture(const std::string& path, Write write, Extras& extras) {
  std::string reason;
  try {
    auto file = std::make_unique<OutputFile>(path);
    write(file->stream());
    return file;
  } catch (const OutputError& error) {
    extras.pictureErrors.push_back(error.what());
    return nullptr;
  } catch (const kcException& error) {
    reason = libraryMessage(error);
  } catch (const std::bad_alloc&) {
    reason = "out of memory";
  } catch (const std::exception& error) {
    reason = error.what();
  }
  extras.pictureErrors.push_back("cannot write " + path + ": " + reason);
  return nullptr;
}

void makePictures(const Options& options, const GreyImage& image, const kcBlobSceneDescription& scene, Extras& extras) {
  if (!options.overlayPath.empty()) {
    const std::string& path = options.overlayPath;
    const bool svg = path.size() >= 4 && path.compare(path.size() - 4, 4, ".svg") == 0;
    extras.overlay = writePicture(
        path, [&](std::ostream& out) { writeOverlay(out, image, scene, options.drawFlags, options.shown, svg); }, extras);
  }
  if (!options.labelImagePath.empty()) {
    extras.labelImage = writePicture(
        options.labelImagePath, [&](std::ostream& out) { writeLabelImage(out, scene, options.shown); }, extras);
  }
}

}  // namespace

void Analyzer::analyse(GreyImage image, ImageReport& report, Extras* extras, bool pictures) {
  report.width = image.width;
  report.height = image.height;
  report.blobs.reset();
  const Options& options = state_->options;
  pictures = pictures && extras != nullptr && (!options.overlayPath.empty() || !options.labelImagePath.empty());
  const bool overlay = pictures && !options.overlayPath.empty();
  const bool html = extras != nullptr && !options.htmlPath.empty();
  try {
    checkMask(options, state_->params.mask(), image);
    const auto rows = std::make_shared<SceneRows>(options.measures, options.shown);
    kcBlobResults& results = rows->results();
    kcDiagObject recorder;  // --report: the input and the result are recorded
    {
      const kcPelBuffer<unsigned char> pels = toPelBuffer(image);
      if (!overlay && !html) image.pels = std::vector<unsigned char>();
      const unsigned long flags = kcDiagDefs::eRecordInput | kcDiagDefs::eRecordResult;
      if (state_->options.report)
        kfBlobAnalysis<kcPelBuffer<unsigned char>>(pels, state_->params, results, nullptr, &recorder, flags);
      else
        kfBlobAnalysis<kcPelBuffer<unsigned char>>(pels, state_->params, results, static_cast<int>(state_->threads));
    }
    report.diagnostics = diagnosticTexts(recorder);
    kcBlobSceneDescription* scene = results.connectedBlobs();
    if (!scene) throw AnalysisError("the analysis produced no scene");
    setView(options, *scene);
    rows->attach(*scene);
    // Every value is computed once here, so that a failing measure fails the image before any of
    // its rows is written; the writer's second reading finds them cached or cheap.
    BlobRow row;
    for (std::size_t i = 0; i < rows->size(); ++i) rows->row(i, row);
    report.viewOrder = options.shown;
    report.blobs = rows;
    if (pictures) makePictures(options, image, *scene, *extras);
    if (html) {
      std::vector<const kcBlob*> listed = scene->allBlobs(options.shown);
      listed.resize(std::min(listed.size(), kHtmlMaxBlobs));
      extras->htmlFigure = htmlFigure(image, listed);
    }
    if (extras != nullptr && !options.featuresPath.empty()) {
      extras->scene = std::shared_ptr<const kcBlobSceneDescription>(rows, scene);
    }
  } catch (const kcException& error) {
    report.blobs.reset();
    if (extras != nullptr) *extras = Extras();
    throw AnalysisError(libraryMessage(error));
  } catch (...) {
    report.blobs.reset();
    if (extras != nullptr) *extras = Extras();
    throw;
  }
}

}  // namespace tool
