// The analysis entry kfBlobAnalysis: the pel front end (encoding by segmentation), the run-length
// body (mask, morphology, scene, connectivity), the recording around them and the three exported
// instantiations.
#include <blob/blobdesc.h>
#include <blob/blobtool.h>

#include <diag/recorder.h>

#include <foundation/assert.h>
#include <foundation/exception.h>
#include <foundation/pel_histogram.h>
#include <foundation/timer.h>

#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>

#include "base/messages.h"
#include "analysis/blob_recording.h"
#include "analysis/params_check.h"
#include "connect/connect_scene.h"
#include "connect/connect_settings.h"
#include "parallel/run_bands.h"
#include "parallel/work_pool.h"
#include "scene/scene_builder.h"

// kc_BlobPipeline: the stages of one analysis, with access to the results' fields.
struct kc_BlobPipeline {
  using Pels = kcPelBuffer_const<unsigned char>;

  // dest and flags: the recording destination and flags (kcDiagObject::getRecordingDestination).
  // threads: the threads the analysis may use (at least 1).
  static void pelFrontEnd(const Pels& image, const kcBlobParams& params, kcBlobResults& results,
                          kcDiagObject* dest, unsigned long flags, unsigned threads);
  static void runLengthBody(const kcRLEBuffer& input, const kcBlobParams& params,
                            kcBlobResults& results, kcDiagObject* dest, unsigned long flags, unsigned threads);

 private:
  static void checkSettings(const kcBlobParams& params);
  // threshBand: the rows of the threshold image that image's rows meet (eThreshImage), when image
  // is a band of the image analysed.
  static kcRLEBuffer encode(const Pels& image, const kcBlobParams& params, const kcRLEStorage& storage,
                            const Pels* threshBand = nullptr);
  // whole: the run storage of an image encoded in one band; storages: one per band, added as needed.
  static kcRLEBuffer encodeInBands(const Pels& image, const kcBlobParams& params, unsigned threads,
                                   const kcRLEStorage& whole, std::vector<kcRLEStorage>& storages);
  static const kcRLEBuffer& applyMorphology(const kcRLEBuffer& input, const kcBlobParams& params,
                                            kcBlobResults& results, unsigned threads);
  static void connect(kcBlobSceneDescription& scene, const kcRLEBuffer& image,
                      const kcBlobParams& params, unsigned threads);
};

namespace {

[[noreturn]] void refuse(kc_BlobMessages::Tool message) {
  throw kcBlobDefs::BadParams(kc_BlobMessages::kTool[message]);
}

// Morphology operations: erode 0-2, dilate 3-5, close (dilate, erode) 6-8, open (erode, dilate)
// 9-11; the shape is the value modulo 3.
constexpr std::uint32_t kLastMorphOp = eMorphOpen2;

// morphStep(image, dilate, shape, threads): one erosion or dilation, in bands of rows that each read
// the row above and below them (every element reaches one row at most).
kcRLEBuffer morphStep(const kcRLEBuffer& image, bool dilate, kcRLEBuffer::Shape shape, unsigned threads) {
  return kf_RunsInBands(image, threads, 1, [dilate, shape](const kcRLEBuffer& band) {
    return dilate ? band.gmorphMax(shape) : band.gmorphMin(shape);
  });
}

}  // namespace

// checkSettings(params): everything the pel front end will use, refused before any pel is encoded.
void kc_BlobPipeline::checkSettings(const kcBlobParams& params) {
  kf_CheckSegmentation(params);
  kf_CheckConnectSettings(params.connectivityType(), params.scaleVal(),
                          params.connectivityCleanup(), params.connectivityMinPels());
}

kcRLEBuffer kc_BlobPipeline::encode(const Pels& image, const kcBlobParams& p, const kcRLEStorage& storage,
                                    const Pels* threshBand) {
  kcRLEBuffer out;
  out.storage(storage);
  switch (p.segmentationType()) {
    case kcBlobParams::eNoSegmentation:
      out.encode(image);
      break;
    case kcBlobParams::eMap:
      out.encode(image, p.map());
      break;
    case kcBlobParams::eHardThresh:
      if (p.isThreshPercent())
        out.encodePercent(image, p.lowTailPercent(), p.hiTailPercent(), p.thresh(), p.invert());
      else
        out.encode(image, p.thresh(), p.invert());
      break;
    case kcBlobParams::eSoftThresh:
      if (p.isThreshPercent())
        out.encodePercent(image, p.lowTailPercent(), p.hiTailPercent(), p.thresh(), p.hiThresh(),
                          p.softness(), p.invert());
      else
        out.encode(image, p.thresh(), p.hiThresh(), p.softness(), p.invert());
      break;
    case kcBlobParams::eThreshImage:
      out.encode(image, p.map(), threshBand != nullptr ? *threshBand : p.threshImage(), p.postMap());
      break;
    default:
      KC_ASSERT(false, "the segmentation type was checked before encoding");
  }
  return out;
}

// Bands of rows encoded on several threads, then stacked into one image (their runs shared). The
// percentage forms count the bands' pels first and encode each band with the thresholds the whole
// image's histogram gives. A threshold image of another size, which the encoder refuses, is
// encoded whole.
kcRLEBuffer kc_BlobPipeline::encodeInBands(const Pels& image, const kcBlobParams& p, unsigned threads,
                                           const kcRLEStorage& whole, std::vector<kcRLEStorage>& storages) {
  const long height = image.height();
  const std::size_t bands = kf_Pieces(image.width(), height, threads);
  const bool soft = p.segmentationType() == kcBlobParams::eSoftThresh;
  const bool percent = (p.segmentationType() == kcBlobParams::eHardThresh || soft) && p.isThreshPercent();
  const bool threshImage = p.segmentationType() == kcBlobParams::eThreshImage;
  if (bands < 2 || (threshImage && (p.threshImage().width() != image.width() || p.threshImage().height() != height)))
    return encode(image, p, whole);
  const auto rows = [&](const Pels& pels, std::size_t b) {
    return pels.subWindow(kf_BandRect(pels.offset(), pels.width(), height, bands, b));
  };
  while (storages.size() < bands) storages.emplace_back();
  unsigned char low = 0, high = 0;  // the percentage forms' thresholds
  if (percent) {
    std::vector<kcPelHistogram> counts(bands);
    kc_WorkPool::shared().run(bands, threads, [&](std::size_t b) { counts[b] = kf_PelHistogram(rows(image, b)); });
    for (std::size_t b = 1; b < bands; ++b)
      for (std::size_t v = 0; v < counts[0].size(); ++v) counts[0][v] += counts[b][v];
    low = kf_PercentValue(counts[0], p.lowTailPercent(), p.hiTailPercent(), p.thresh());
    if (soft) high = kf_PercentValue(counts[0], p.lowTailPercent(), p.hiTailPercent(), p.hiThresh());
  }
  std::vector<kcRLEBuffer> parts(bands);
  kc_WorkPool::shared().run(bands, threads, [&](std::size_t b) {
    const Pels band = rows(image, b);
    parts[b].storage(storages[b]);
    if (percent && soft) {
      parts[b].encode(band, low, high, p.softness(), p.invert());
    } else if (percent) {
      parts[b].encode(band, low, p.invert());
    } else {
      const Pels thresh = threshImage ? rows(p.threshImage(), b) : Pels();
      parts[b] = encode(band, p, storages[b], threshImage ? &thresh : nullptr);
    }
  });
  return kf_StackBands(parts, image.offset(), image.xformCache());
}

void kc_BlobPipeline::pelFrontEnd(const Pels& image, const kcBlobParams& params,
                                  kcBlobResults& results, kcDiagObject* dest, unsigned long flags, unsigned threads) {
  if (!image.isBound()) refuse(kc_BlobMessages::eImageUnbound);
  if (image.width() == 0 || image.height() == 0) refuse(kc_BlobMessages::eImageEmpty);
  checkSettings(params);
  kcTimer timer(false);
  timer.start();
  kcRLEBuffer encoded =
      threads > 1 ? encodeInBands(image, params, threads, results.rle_.storage(), results.bandRuns_)
                  : encode(image, params, results.rle_.storage());
  const double seconds = timer.sec();
  results.mutating();
  results.rle_ = std::move(encoded);
  results.RLETime_ = seconds;
  try {
    runLengthBody(results.rle_, params, results, dest, flags, threads);
    if (!params.keepRLE()) results.rle_.setUnbound();
    if (!params.keepMasked()) results.masked_.setUnbound();
    if (!params.keepMorphed()) results.morphed_.setUnbound();
  } catch (...) {
    results.rle_.setUnbound();
    results.masked_.setUnbound();
    results.morphed_.setUnbound();
    throw;
  }
}

const kcRLEBuffer& kc_BlobPipeline::applyMorphology(const kcRLEBuffer& input,
                                                    const kcBlobParams& params,
                                                    kcBlobResults& results, unsigned threads) {
  const kcRLEBuffer* current = &input;
  kcTimer timer(false);
  timer.start();
  for (keBlobParamsMorphOp op : params.morph()) {
    const auto value = static_cast<std::uint32_t>(op);
    if (value > kLastMorphOp) refuse(kc_BlobMessages::eBadMorphOp);
    const auto shape = static_cast<kcRLEBuffer::Shape>(value % 3);
    const bool dilateFirst = (value >= eMorphDilate0 && value <= eMorphClose2);
    results.morphed_ = morphStep(*current, dilateFirst, shape, threads);
    if (value >= eMorphClose0) results.morphed_ = morphStep(results.morphed_, !dilateFirst, shape, threads);
    current = &results.morphed_;
  }
  results.morphTime_ = timer.sec();
  return results.morphed_;
}

void kc_BlobPipeline::connect(kcBlobSceneDescription& scene, const kcRLEBuffer& image,
                              const kcBlobParams& p, unsigned threads) {
  switch (p.connectivityType()) {
    case kcBlobSceneDescription::eGreyScale:
      kf_ConnectGreyScale(scene, image, p.scaleVal(), false, p.connectivityCleanup(), p.connectivityMinPels(), threads);
      break;
    case kcBlobSceneDescription::eLabelled:
      kf_ConnectLabelled(scene, image, p.connectivityCleanup(), p.connectivityMinPels(), threads);
      break;
    case kcBlobSceneDescription::eWholeImageGreyScale:
      kf_ConnectGreyScale(scene, image, p.scaleVal(), true, p.connectivityCleanup(), p.connectivityMinPels(), threads);
      break;
    default:
      refuse(kc_BlobMessages::eBadConnectivityType);
  }
}

void kc_BlobPipeline::runLengthBody(const kcRLEBuffer& input, const kcBlobParams& params,
                                    kcBlobResults& results, kcDiagObject* dest, unsigned long flags,
                                    unsigned threads) {
  kf_RecordInput(dest, flags, input, params);
  if (input.isDegenerate()) refuse(kc_BlobMessages::eImageUnbound);
  kf_CheckConnectSettings(params.connectivityType(), params.scaleVal(),
                          params.connectivityCleanup(), params.connectivityMinPels());
  results.mutating();

  const kcRLEBuffer* current = &input;
  if (!params.mask().isDegenerate()) {
    kcTimer timer(false);
    timer.start();
    const kcRLEBuffer& mask = params.mask();
    results.masked_ = kf_RunsInBands(*current, threads, 0, [&mask](const kcRLEBuffer& band) {
      return band.mask(mask, 0, 0, false);
    });
    results.maskTime_ = timer.sec();
    current = &results.masked_;
  }
  if (!params.morph().empty()) current = &applyMorphology(*current, params, results, threads);

  // A scene created here belongs to the results only once connectivity succeeded.
  std::unique_ptr<kcBlobSceneDescription> created;
  kcBlobSceneDescription* scene = results.connectedBlobs_.get();
  if (scene != nullptr) {
    scene->clearFilters();
  } else {
    created = std::make_unique<kcBlobSceneDescription>();
    scene = created.get();
  }
  if (params.useMaskForInterior()) kc_SceneBuilder::mask(*scene, params.mask());

  kcTimer timer(false);
  timer.start();
  connect(*scene, *current, params, threads);
  results.connectTime_ = timer.sec();
  if (created) results.connectedBlobs_ = std::move(created);
  kf_RecordResult(dest, flags, input, results);
}

// A failure is recorded into the caller's recorder (the pel variants with their pels encoded
// plainly) and then rethrown unchanged; the failure record never throws.
namespace {

template <class Image>
void analyse(const Image& image, const kcBlobParams& params, kcBlobResults& results, kcDiagObject* diag,
             unsigned long diagFlags, unsigned threads) {
  kcDiagObject* const dest = kcDiagObject::getRecordingDestination(diag, diagFlags);
  try {
    if constexpr (std::is_same_v<Image, kcRLEBuffer>)
      kc_BlobPipeline::runLengthBody(image, params, results, dest, diagFlags, threads);
    else
      kc_BlobPipeline::pelFrontEnd(image, params, results, dest, diagFlags, threads);
  } catch (const kcException& error) {
    kf_RecordFailure(diag, diagFlags, image, results, error);
    throw;
  } catch (...) {
    const kcUnknownError unknown(0);
    kf_RecordFailure(diag, diagFlags, image, results, unknown);
    throw;
  }
}

}  // namespace

template <class Image>
void kfBlobAnalysis(const Image& image, const kcBlobParams& params, kcBlobResults& results,
                    kc_BlobSnapRecord<Image>* /*record*/, kcDiagObject* diag, unsigned long diagFlags) {
  analyse(image, params, results, diag, diagFlags, 1);
}

template <class Image>
void kfBlobAnalysis(const Image& image, const kcBlobParams& params, kcBlobResults& results, int threads) {
  if (threads < 0) throw kcBlobDefs::BadParams(kc_BlobMessages::kTool[kc_BlobMessages::eBadThreads]);
  analyse(image, params, results, nullptr, 0, threads == 0 ? kf_CoreCount() : static_cast<unsigned>(threads));
}

// Exported here: an instantiation takes the visibility of its image type, which the foundation's
// headers leave unmarked (hidden in this library's build).
template BLOB_EXPORT void kfBlobAnalysis<kcPelBuffer<unsigned char>>(
    const kcPelBuffer<unsigned char>&, const kcBlobParams&, kcBlobResults&,
    kc_BlobSnapRecord<kcPelBuffer<unsigned char>>*, kcDiagObject*, unsigned long);
template BLOB_EXPORT void kfBlobAnalysis<kcPelBuffer_const<unsigned char>>(
    const kcPelBuffer_const<unsigned char>&, const kcBlobParams&, kcBlobResults&,
    kc_BlobSnapRecord<kcPelBuffer_const<unsigned char>>*, kcDiagObject*, unsigned long);
template BLOB_EXPORT void kfBlobAnalysis<kcRLEBuffer>(
    const kcRLEBuffer&, const kcBlobParams&, kcBlobResults&, kc_BlobSnapRecord<kcRLEBuffer>*,
    kcDiagObject*, unsigned long);
template BLOB_EXPORT void kfBlobAnalysis<kcPelBuffer<unsigned char>>(const kcPelBuffer<unsigned char>&,
                                                                    const kcBlobParams&, kcBlobResults&, int);
template BLOB_EXPORT void kfBlobAnalysis<kcPelBuffer_const<unsigned char>>(const kcPelBuffer_const<unsigned char>&,
                                                                          const kcBlobParams&, kcBlobResults&, int);
template BLOB_EXPORT void kfBlobAnalysis<kcRLEBuffer>(const kcRLEBuffer&, const kcBlobParams&, kcBlobResults&, int);
