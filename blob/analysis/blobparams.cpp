// kcBlobParams: construction, copying, the checked setters and getters, and the archive form.
#include <blob/blobtool.h>
#include <foundation/persist.h>

#include <cstdint>
#include <limits>
#include <utility>

#include "base/messages.h"
#include "analysis/params_check.h"
#include "connect/connect_settings.h"

namespace {

// The archive form's version, and the line its version errors report: a fixed number, kept in the
// error's message and archive form.
constexpr unsigned char kVersion = 1;
constexpr int kVersionLine = 334;
constexpr kc_Persist::Level kLevel{kVersion, "blob/blobtool", kVersionLine};

using Msg = kc_BlobMessages;

[[noreturn]] void refuse(Msg::Tool message) { throw kcBlobDefs::BadParams(Msg::kTool[message]); }

bool outsidePercent(long value) { return value < 0 || value > 100; }

bool isThreshold(kcBlobParams::Segmentation type) {
  return type == kcBlobParams::eHardThresh || type == kcBlobParams::eSoftThresh;
}

// The checks of the segmentation setters, shared with kf_CheckSegmentation so that values loaded
// from an archive meet the same rules, with the same messages, as values set by a caller.
void checkScale(unsigned char scaleVal) { kf_CheckScaleValue(scaleVal); }

void checkMap(const std::vector<unsigned char>& map) {
  if (map.empty()) refuse(Msg::eMapEmpty);
}

void checkTails(long lowTail, long hiTail) {
  if (outsidePercent(lowTail)) refuse(Msg::eLowTailRange);
  if (outsidePercent(hiTail)) refuse(Msg::eHiTailRange);
}

void checkHardPercents(long lowTail, long hiTail, long threshPercent) {
  checkTails(lowTail, hiTail);
  if (outsidePercent(threshPercent)) refuse(Msg::eThreshPercentRange);
  if (lowTail + hiTail > 100) refuse(Msg::eTailSum);
}

void checkSoft(unsigned char low, unsigned char high, unsigned char softness) {
  if (high <= low) refuse(Msg::eLowNotBelowHigh);
  if (softness > high - low) refuse(Msg::eSoftnessAboveRange);
  if (softness == 255) refuse(Msg::eSoftnessMax);
}

void checkSoftPercents(long lowTail, long hiTail, long lowPercent, long hiPercent,
                       unsigned char softness) {
  checkTails(lowTail, hiTail);
  if (outsidePercent(lowPercent)) refuse(Msg::eLowThreshPercentRange);
  if (outsidePercent(hiPercent)) refuse(Msg::eHiThreshPercentRange);
  if (lowTail + hiTail > 100) refuse(Msg::eTailSum);
  if (lowPercent > hiPercent) refuse(Msg::eThreshPercentOrder);
  if (softness == 255) refuse(Msg::eSoftnessMax);
}

void checkThreshImage(const kcPelBuffer_const<unsigned char>& image) {
  if (!image.isBound()) refuse(Msg::eThreshImageUnbound);
}

}  // namespace

void kf_CheckSegmentation(const kcBlobParams& p) {
  checkScale(p.scaleVal());
  switch (p.segmentationType()) {
    case kcBlobParams::eNoSegmentation:
      return;
    case kcBlobParams::eMap:
      return checkMap(p.map());
    case kcBlobParams::eHardThresh:
      if (p.isThreshPercent()) checkHardPercents(p.lowTailPercent(), p.hiTailPercent(), p.thresh());
      return;
    case kcBlobParams::eSoftThresh:
      if (p.isThreshPercent())
        checkSoftPercents(p.lowTailPercent(), p.hiTailPercent(), p.thresh(), p.hiThresh(),
                          p.softness());
      else
        checkSoft(p.thresh(), p.hiThresh(), p.softness());
      return;
    case kcBlobParams::eThreshImage:
      return checkThreshImage(p.threshImage());
  }
  kf_ThrowBadSegmentationType();
}

void kf_ThrowBadSegmentationType() {
  throw kcBadArgument(L"The segmentation type is not a valid enumeration value.");
}

kc_Instantiator kcBlobParams::sExemplar{"kcBlobParams", typeid(kcBlobParams), &kcBlobParams::make};

kcPersistent* kcBlobParams::make() { return new kcBlobParams; }

kcBlobParams::kcBlobParams() = default;
kcBlobParams::kcBlobParams(const kcBlobParams& other) = default;
kcBlobParams::~kcBlobParams() = default;

kcBlobParams& kcBlobParams::operator=(const kcBlobParams& other) {
  if (this != &other) {
    kcBlobParams copy(other);  // the only step that can fail
    mutating();
    takeFields(copy);
  }
  return *this;
}

void kcBlobParams::takeFields(kcBlobParams& other) noexcept {
  segmentationType_ = other.segmentationType_;
  map_ = std::move(other.map_);
  postMap_ = std::move(other.postMap_);
  thresh_ = other.thresh_;
  hiThresh_ = other.hiThresh_;
  lowTailPercent_ = other.lowTailPercent_;
  hiTailPercent_ = other.hiTailPercent_;
  isThreshPercent_ = other.isThreshPercent_;
  invert_ = other.invert_;
  softness_ = other.softness_;
  threshImage_ = std::move(other.threshImage_);
  scaleVal_ = other.scaleVal_;
  keepRLE_ = other.keepRLE_;
  keepMorphed_ = other.keepMorphed_;
  mask_ = std::move(other.mask_);
  keepMasked_ = other.keepMasked_;
  morph_ = std::move(other.morph_);
  connectivityType_ = other.connectivityType_;
  cleanup_ = other.cleanup_;
  minPels_ = other.minPels_;
  useMaskForInterior_ = other.useMaskForInterior_;
}

// ---- segmentation setters

void kcBlobParams::setSegmentationNone(unsigned char scaleVal) {
  checkScale(scaleVal);
  mutating();
  segmentationType_ = eNoSegmentation;
  scaleVal_ = scaleVal;
}

void kcBlobParams::setSegmentationMap(const std::vector<unsigned char>& map,
                                      unsigned char scaleVal) {
  checkScale(scaleVal);
  checkMap(map);
  std::vector<unsigned char> copy(map);
  mutating();
  segmentationType_ = eMap;
  map_ = std::move(copy);
  scaleVal_ = scaleVal;
}

void kcBlobParams::setSegmentationHardThresh(unsigned char thresh, bool invert) {
  mutating();
  segmentationType_ = eHardThresh;
  thresh_ = thresh;
  invert_ = invert;
  isThreshPercent_ = false;
  scaleVal_ = 1;
}

void kcBlobParams::setSegmentationHardThresh(long lowTailPercent, long hiTailPercent,
                                             long threshPercent, bool invert) {
  checkHardPercents(lowTailPercent, hiTailPercent, threshPercent);
  mutating();
  segmentationType_ = eHardThresh;
  lowTailPercent_ = static_cast<std::int32_t>(lowTailPercent);
  hiTailPercent_ = static_cast<std::int32_t>(hiTailPercent);
  thresh_ = static_cast<unsigned char>(threshPercent);
  invert_ = invert;
  isThreshPercent_ = true;
  scaleVal_ = 1;
}

void kcBlobParams::setSegmentationSoftThresh(unsigned char lowThresh, unsigned char hiThresh,
                                             unsigned char softness, bool invert) {
  checkSoft(lowThresh, hiThresh, softness);
  mutating();
  segmentationType_ = eSoftThresh;
  thresh_ = lowThresh;
  hiThresh_ = hiThresh;
  softness_ = softness;
  invert_ = invert;
  scaleVal_ = static_cast<unsigned char>(softness + 1);
  isThreshPercent_ = false;
}

void kcBlobParams::setSegmentationSoftThresh(long lowTailPercent, long hiTailPercent,
                                             long lowThreshPercent, long hiThreshPercent,
                                             unsigned char softness, bool invert) {
  checkSoftPercents(lowTailPercent, hiTailPercent, lowThreshPercent, hiThreshPercent, softness);
  mutating();
  segmentationType_ = eSoftThresh;
  lowTailPercent_ = static_cast<std::int32_t>(lowTailPercent);
  hiTailPercent_ = static_cast<std::int32_t>(hiTailPercent);
  thresh_ = static_cast<unsigned char>(lowThreshPercent);
  hiThresh_ = static_cast<unsigned char>(hiThreshPercent);
  softness_ = softness;
  invert_ = invert;
  scaleVal_ = static_cast<unsigned char>(softness + 1);
  isThreshPercent_ = true;
}

void kcBlobParams::setSegmentationThreshImage(const std::vector<unsigned char>& preMap,
                                              const kcPelBuffer_const<unsigned char>& threshImage,
                                              const std::vector<unsigned char>& postMap,
                                              unsigned char scaleVal) {
  checkScale(scaleVal);
  checkThreshImage(threshImage);
  std::vector<unsigned char> pre(preMap);
  std::vector<unsigned char> post(postMap);
  kcPelBuffer_const<unsigned char> image(threshImage);
  mutating();
  segmentationType_ = eThreshImage;
  map_ = std::move(pre);
  threshImage_ = std::move(image);
  postMap_ = std::move(post);
  scaleVal_ = scaleVal;
}

// ---- segmentation getters

const std::vector<unsigned char>& kcBlobParams::map() const {
  if (segmentationType_ != eMap && segmentationType_ != eThreshImage) refuse(Msg::eMapMeaningless);
  return map_;
}

const std::vector<unsigned char>& kcBlobParams::postMap() const {
  if (segmentationType_ != eThreshImage) refuse(Msg::ePostMapMeaningless);
  return postMap_;
}

const kcPelBuffer_const<unsigned char>& kcBlobParams::threshImage() const {
  if (segmentationType_ != eThreshImage) refuse(Msg::eThreshImageMeaningless);
  return threshImage_;
}

unsigned char kcBlobParams::thresh() const {
  if (!isThreshold(segmentationType_)) refuse(Msg::eThreshMeaningless);
  return thresh_;
}

bool kcBlobParams::invert() const {
  if (!isThreshold(segmentationType_)) refuse(Msg::eThreshMeaningless);
  return invert_;
}

unsigned char kcBlobParams::hiThresh() const {
  if (segmentationType_ != eSoftThresh) refuse(Msg::eHiThreshMeaningless);
  return hiThresh_;
}

unsigned char kcBlobParams::softness() const {
  if (segmentationType_ != eSoftThresh) refuse(Msg::eSoftnessMeaningless);
  return softness_;
}

bool kcBlobParams::isThreshPercent() const {
  if (!isThreshold(segmentationType_)) refuse(Msg::eThreshPercentMeaningless);
  return isThreshPercent_;
}

long kcBlobParams::lowTailPercent() const {
  if (!isThreshold(segmentationType_)) refuse(Msg::eTailsMeaningless);
  if (!isThreshPercent_) refuse(Msg::eTailsNotSpecified);
  return lowTailPercent_;
}

long kcBlobParams::hiTailPercent() const {
  if (!isThreshold(segmentationType_)) refuse(Msg::eTailsMeaningless);
  if (!isThreshPercent_) refuse(Msg::eTailsNotSpecified);
  return hiTailPercent_;
}

// ---- connectivity, morphology, mask and keep settings

void kcBlobParams::connectivityType(kcBlobSceneDescription::Analysis type) {
  mutating();
  connectivityType_ = type;
}

void kcBlobParams::connectivityCleanup(kcBlobSceneDescription::ConnectCleanup cleanup) {
  mutating();
  cleanup_ = cleanup;
}

void kcBlobParams::connectivityMinPels(long minPels) {
  kf_CheckMinPels(minPels);
  mutating();
  minPels_ = static_cast<std::int32_t>(minPels);
}

void kcBlobParams::morph(const std::vector<keBlobParamsMorphOp>& ops) {
  std::vector<keBlobParamsMorphOp> copy(ops);
  mutating();
  morph_ = std::move(copy);
}

void kcBlobParams::mask(const kcRLEBuffer& mask) {
  mutating();
  mask_ = mask;
}

void kcBlobParams::keepRLE(bool keep) {
  mutating();
  keepRLE_ = keep;
}

void kcBlobParams::keepMasked(bool keep) {
  mutating();
  keepMasked_ = keep;
}

void kcBlobParams::keepMorphed(bool keep) {
  mutating();
  keepMorphed_ = keep;
}

void kcBlobParams::useMaskForInterior(bool use) {
  mutating();
  useMaskForInterior_ = use;
}

// ---- archive form

void kcBlobParams::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, kLevel, &kcBlobParams::serialize_);
}

// Loading writes the fields in place (the archive may refer back to the mask by its address); a
// failure puts the previous values back into the same members.
void kcBlobParams::serialize_(kcArchive& ar, unsigned char version) {
  kc_Persist::inPlace(ar, *this, [&] { archiveFields(ar, version); },
                      [&](kcBlobParams& previous) { takeFields(previous); });
}

void kcBlobParams::archiveFields(kcArchive& ar, unsigned char version) {
  kcPersistent::dispatchSerialize(ar);
  kc_Persist::enumeration(ar, segmentationType_);
  ar || keepRLE_;
  ar || mask_;
  ar || keepMasked_;
  kc_Persist::vector(ar, morph_);
  ar || keepMorphed_;
  ar || connectivityType_ || cleanup_;
  long minPels = minPels_;
  ar || minPels;
  ar || map_ || postMap_;
  long lowTail = lowTailPercent_;
  long hiTail = hiTailPercent_;
  ar || thresh_ || hiThresh_ || lowTail || hiTail || isThreshPercent_ || invert_ || softness_;
  ar || threshImage_;
  ar || scaleVal_;
  if (version >= 1) {
    ar || useMaskForInterior_;
  } else {
    useMaskForInterior_ = false;
  }
  // The archive holds longs in 32 bits, so the loaded values fit the fields.
  minPels_ = static_cast<std::int32_t>(minPels);
  lowTailPercent_ = static_cast<std::int32_t>(lowTail);
  hiTailPercent_ = static_cast<std::int32_t>(hiTail);
}
