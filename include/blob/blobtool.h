// The analysis tool's public types: the morphology operations and the analysis parameters.
#pragma once

#include <blob/blobdefs.h>
#include <blob/blobdesc.h>
#include <foundation/pelbuffer.h>
#include <foundation/persistent.h>
#include <foundation/rlebuffer.h>

#include <cstdint>
#include <vector>

class kcArchive;

// keBlobParamsMorphOp: one grey-scale morphology step run before connectivity. Shape 0 is the
// 3x3 square, 1 the horizontal 3x1 and 2 the vertical 1x3 element. Close is dilate then erode,
// open is erode then dilate. Any 32-bit value can be stored; values outside 0 to 11 are refused
// by the analysis when it reaches them.
enum keBlobParamsMorphOp : std::int32_t {
  eMorphErode0 = 0,
  eMorphErode1 = 1,
  eMorphErode2 = 2,
  eMorphDilate0 = 3,
  eMorphDilate1 = 4,
  eMorphDilate2 = 5,
  eMorphClose0 = 6,
  eMorphClose1 = 7,
  eMorphClose2 = 8,
  eMorphOpen0 = 9,
  eMorphOpen1 = 10,
  eMorphOpen2 = 11,
};

// Archive form: the value as an int, taken unchecked on loading.
kcArchive& operator||(kcArchive& ar, keBlobParamsMorphOp& value);

// kcBlobParams: the complete configuration of one blob analysis: the segmentation that turns pels
// into run values, the connectivity kind and cleanup, the morphology steps, the mask, and which
// intermediate images the results keep.
//
// Every refusal throws kcBlobDefs::BadParams with a fixed message and leaves the object exactly as
// it was; setters check all their arguments, in the order listed, before they change anything,
// then give notice (mutating()). Each segmentation setter sets the segmentation kind together with
// every field that kind uses; fields another kind used keep their values (they are copied and
// archived) but the getters refuse them while the current kind gives them no meaning.
// Cross-checks with the connectivity settings are the analysis's, not the setters'.
//
// Copies are deep: vectors and the mask are copied (run images are immutable and share their
// runs). The threshold image is held as kcPelBuffer_const holds it: it shares the pels of the image
// the caller gave, which the parameters never write.
class kcBlobParams : public kcPersistent {
 public:
  // Segmentation: how pels become run values. Stored and archived as a 32-bit int.
  enum Segmentation : std::int32_t {
    eNoSegmentation = 0,  // values copied
    eMap = 1,             // values through a lookup map
    eHardThresh = 2,      // hard threshold, absolute or by percentages
    eSoftThresh = 3,      // soft threshold, absolute or by percentages
    eThreshImage = 4,     // per-pel threshold image between a pre map and a post map
  };

  // Defaults: eNoSegmentation, scale value 1, everything else empty, zero, false, unbound or
  // degenerate; connectivity eGreyScale with cleanup eNone.
  kcBlobParams();
  kcBlobParams(const kcBlobParams& other);
  // Assignment gives notice and copies every field; if a copy fails, this object is unchanged.
  kcBlobParams& operator=(const kcBlobParams& other);
  ~kcBlobParams() override;

  // ---- segmentation setters ----
  // setSegmentationNone(scaleVal): values copied, scaled by scaleVal in grey-scale connectivity.
  // Refuses scaleVal 0 ("The scale value must be greater than zero.").
  void setSegmentationNone(unsigned char scaleVal);
  // setSegmentationMap(map, scaleVal): values through map (copied; its length is the encoder's to
  // check). Refuses, in order, scaleVal 0 and an empty map.
  void setSegmentationMap(const std::vector<unsigned char>& map, unsigned char scaleVal);
  // setSegmentationHardThresh(thresh, invert): absolute hard threshold; no checks. Scale value 1,
  // not percentages.
  void setSegmentationHardThresh(unsigned char thresh, bool invert);
  // setSegmentationHardThresh(lowTail, hiTail, threshPercent, invert): threshold as a percentage
  // of the histogram without its tails. Refuses, in order: lowTail, hiTail, threshPercent outside
  // [0, 100] (each its own message), lowTail + hiTail above 100. Scale value 1, percentages.
  void setSegmentationHardThresh(long lowTailPercent, long hiTailPercent, long threshPercent,
                                 bool invert);
  // setSegmentationSoftThresh(low, high, softness, invert): absolute soft threshold. Refuses, in
  // order: high <= low, softness > high - low, softness 255. Scale value softness + 1.
  void setSegmentationSoftThresh(unsigned char lowThresh, unsigned char hiThresh,
                                 unsigned char softness, bool invert);
  // setSegmentationSoftThresh(lowTail, hiTail, lowPercent, hiPercent, softness, invert): soft
  // threshold by percentages. Refuses, in order: lowTail, hiTail, lowPercent, hiPercent outside
  // [0, 100], lowTail + hiTail above 100, lowPercent > hiPercent (equal is allowed), softness 255.
  // Scale value softness + 1, percentages.
  void setSegmentationSoftThresh(long lowTailPercent, long hiTailPercent, long lowThreshPercent,
                                 long hiThreshPercent, unsigned char softness, bool invert);
  // setSegmentationThreshImage(preMap, threshImage, postMap, scaleVal): per-pel thresholds.
  // Refuses, in order, scaleVal 0 and an unbound threshImage; the maps are not checked here.
  void setSegmentationThreshImage(const std::vector<unsigned char>& preMap,
                                  const kcPelBuffer_const<unsigned char>& threshImage,
                                  const std::vector<unsigned char>& postMap,
                                  unsigned char scaleVal);

  // ---- segmentation getters ----
  // Each throws BadParams with its fixed message unless the current kind gives the field meaning:
  // map() eMap or eThreshImage; postMap(), threshImage() eThreshImage; thresh(), invert(),
  // isThreshPercent() eHardThresh or eSoftThresh; hiThresh(), softness() eSoftThresh;
  // lowTailPercent(), hiTailPercent() eHardThresh or eSoftThresh (else the "meaningless except"
  // message) and set by a percentage form (else the "tails were not specified" message).
  // In the percentage forms thresh() and hiThresh() hold the threshold percentages.
  // References stay valid until the next setter, assignment or load.
  Segmentation segmentationType() const { return segmentationType_; }
  unsigned char scaleVal() const { return scaleVal_; }
  const std::vector<unsigned char>& map() const;
  const std::vector<unsigned char>& postMap() const;
  const kcPelBuffer_const<unsigned char>& threshImage() const;
  unsigned char thresh() const;
  bool invert() const;
  unsigned char hiThresh() const;
  unsigned char softness() const;
  bool isThreshPercent() const;
  long lowTailPercent() const;
  long hiTailPercent() const;

  // ---- connectivity, morphology, mask and keep settings ----
  // The setters give notice and store their argument unchecked, except connectivityMinPels(long):
  // a negative value throws BadParams ("... must be nonnegative."), and a value above 2^31 - 1
  // (which the 32-bit field cannot hold) throws kcBadArgument; both change nothing. Enumeration
  // values outside their enumerators are stored and refused by the analysis when it uses them.
  // A degenerate mask switches masking off.
  kcBlobSceneDescription::Analysis connectivityType() const { return connectivityType_; }
  void connectivityType(kcBlobSceneDescription::Analysis type);
  kcBlobSceneDescription::ConnectCleanup connectivityCleanup() const { return cleanup_; }
  void connectivityCleanup(kcBlobSceneDescription::ConnectCleanup cleanup);
  long connectivityMinPels() const { return minPels_; }
  void connectivityMinPels(long minPels);
  const std::vector<keBlobParamsMorphOp>& morph() const { return morph_; }
  void morph(const std::vector<keBlobParamsMorphOp>& ops);
  const kcRLEBuffer& mask() const { return mask_; }
  void mask(const kcRLEBuffer& mask);
  bool keepRLE() const { return keepRLE_; }
  void keepRLE(bool keep);
  bool keepMasked() const { return keepMasked_; }
  void keepMasked(bool keep);
  bool keepMorphed() const { return keepMorphed_; }
  void keepMorphed(bool keep);
  bool useMaskForInterior() const { return useMaskForInterior_; }
  void useMaskForInterior(bool use);

 protected:
  // Archive form, version 1: the kcPersistent part; segmentation kind (int); keepRLE; the mask
  // (in place); keepMasked; the morphology list (version byte 0, count, ints); keepMorphed;
  // connectivity kind and cleanup (ints); minimum pels (long); map and post map (byte vectors);
  // thresh, hiThresh, low and high tail, isThreshPercent, invert, softness; the threshold image;
  // scaleVal; useMaskForInterior. Version 0 lacks the last field and loads it as false; a newer
  // version throws kcArchive::UnknownVersion("blob/blobtool", line). Loaded values are taken
  // unchecked. A failed load gives the object back its previous values.
  void dispatchSerialize(kcArchive& ar) override;

 private:
  void serialize_(kcArchive& ar, unsigned char version);
  void archiveFields(kcArchive& ar, unsigned char version);
  void takeFields(kcBlobParams& other) noexcept;

  static kcPersistent* make();
  static kc_Instantiator sExemplar;  // registered as "kcBlobParams"

  Segmentation segmentationType_ = eNoSegmentation;
  std::vector<unsigned char> map_;
  std::vector<unsigned char> postMap_;
  unsigned char thresh_ = 0;
  unsigned char hiThresh_ = 0;
  std::int32_t lowTailPercent_ = 0;
  std::int32_t hiTailPercent_ = 0;
  bool isThreshPercent_ = false;
  bool invert_ = false;
  unsigned char softness_ = 0;
  kcPelBuffer_const<unsigned char> threshImage_;
  unsigned char scaleVal_ = 1;
  bool keepRLE_ = false;
  bool keepMorphed_ = false;
  kcRLEBuffer mask_;
  bool keepMasked_ = false;
  std::vector<keBlobParamsMorphOp> morph_;
  kcBlobSceneDescription::Analysis connectivityType_ = kcBlobSceneDescription::eGreyScale;
  kcBlobSceneDescription::ConnectCleanup cleanup_ = kcBlobSceneDescription::eNone;
  std::int32_t minPels_ = 0;
  bool useMaskForInterior_ = false;
};
