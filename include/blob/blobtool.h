// The analysis tool's public types: the morphology operations and the analysis parameters.
//
// Usage:
//   kcBlobParams params;
//   params.setSegmentationHardThresh(128, false);  // pels >= 128 are foreground
//   params.connectivityCleanup(kcBlobSceneDescription::ePrune);
//   params.connectivityMinPels(10);                // regions under 10 pels are pruned
//   kcBlobResults results;
//   kfBlobAnalysis(image, params, results);        // on the calling thread
//   kfBlobAnalysis(image, params, results, 0);     // on every core, with the same result
//   const kcBlobSceneDescription& scene = *results.connectedBlobs();
#pragma once

#include <blob/blobdefs.h>
#include <blob/blobdesc.h>
#include <foundation/handle.h>
#include <foundation/pelbuffer.h>
#include <foundation/persistent.h>
#include <foundation/rlebuffer.h>

#include <cstdint>
#include <memory>
#include <vector>

class kcArchive;

// keBlobParamsMorphOp: one grey-scale morphology step run before connectivity. Shape 0 is the
// 3x3 square, 1 the horizontal 3x1 and 2 the vertical 1x3 element. Close is dilate then erode,
// open is erode then dilate. Any 32-bit value can be stored; values outside 0 to 11 are refused
// by the analysis when it reaches them.
enum keBlobParamsMorphOp : std::int32_t {
  eMorphErode0 = 0, eMorphErode1 = 1, eMorphErode2 = 2,
  eMorphDilate0 = 3, eMorphDilate1 = 4, eMorphDilate2 = 5,
  eMorphClose0 = 6, eMorphClose1 = 7, eMorphClose2 = 8,
  eMorphOpen0 = 9, eMorphOpen1 = 10, eMorphOpen2 = 11,
};

// Archive form: the value as an int, taken unchecked on loading.
BLOB_EXPORT kcArchive& operator||(kcArchive& ar, keBlobParamsMorphOp& value);

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
class BLOB_EXPORT kcBlobParams : public kcPersistent {
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

// ---- analysis results and the analysis entry ----

class kcDiagObject;
template <class Image>
class kc_BlobSnapRecord;

// kcBlobResults: the outcome of an analysis: the scene description connectivity produced, the
// time spent in each stage, and the intermediate run-length images the parameters ask to keep.
//
// Ownership: the results own their scene until relinquishBSDOwnership(); destruction and
// assignment delete it. Reuse: an analysis into results that hold a scene reuses that very object
// (its filters cleared, its blobs replaced), so a scene pointer taken from connectedBlobs() stays
// valid across analyses while its blob pointers do not. A reused scene keeps the interior-test
// mask an earlier analysis gave it when later parameters give none. Each analysis replaces the
// connectivity time; the masking, morphology and encoding times and images only when that stage
// ran (the encoding only in the pel variants); the others keep their earlier values.
//
// Memory: the results keep run storage for the encoded input (two images' worth once the scene
// of one analysis holds its image while the next is encoded; on several threads, as much for each
// band of rows) and the scene its arrays, so that analysing images of one size again into the same
// results allocates nothing.
//
// Not synchronised: one results object must not be shared by concurrent analyses. Also held by
// the foundation's counted handles (kcRepBase); the count is never copied.
class BLOB_EXPORT kcBlobResults : public kcPersistent, public kcRepBase {
 public:
  // Empty results: no scene, times 0, images degenerate. May throw std::bad_alloc.
  kcBlobResults();
  // Copies are deep: a new scene as a copy of other's (none when other has none), the times and
  // the images (which share their immutable runs); the run storage is the copy's own.
  kcBlobResults(const kcBlobResults& other);
  // Assignment gives notice and becomes a copy of other; the scene held before is deleted (its
  // pointers die). Self-assignment does nothing. A failed copy leaves this object unchanged.
  kcBlobResults& operator=(const kcBlobResults& other);
  ~kcBlobResults() override;

  // connectedBlobs(): the scene of the last analysis, null before the first one and after
  // relinquishBSDOwnership(). Valid until the results are assigned, loaded or destroyed, or the
  // ownership is relinquished (then the taker owns it).
  kcBlobSceneDescription* connectedBlobs() const { return connectedBlobs_.get(); }
  // relinquishBSDOwnership(): gives notice and lets go of the scene without deleting it; whoever
  // took the pointer from connectedBlobs() must delete it. The next analysis creates a new scene.
  void relinquishBSDOwnership();

  // Stage times in seconds: connectivity, pel encoding, masking, morphology.
  double connectTime() const { return connectTime_; }
  double RLETime() const { return RLETime_; }
  double maskTime() const { return maskTime_; }
  double morphTime() const { return morphTime_; }
  // The encoded input (pel variants), the image after masking and after the last morphology
  // operation. Degenerate until a stage fills them, and in the pel variants after an analysis
  // whose parameters did not ask to keep them or which failed after encoding.
  const kcRLEBuffer& rle() const { return rle_; }
  const kcRLEBuffer& masked() const { return masked_; }
  const kcRLEBuffer& morphed() const { return morphed_; }

 protected:
  // Archive form, version 0, without a base part: RLETime, rle, maskTime, masked, morphTime,
  // morphed, connectTime, then the scene through an owning pointer (null when none). Loading
  // deletes the scene held before once the new one is read (never a relinquished one); a stored
  // object of another class is refused with kcArchive::Damaged. A newer version throws
  // kcArchive::UnknownVersion("blob/blobtool", line). A failed load leaves the results exactly as
  // they were: times, images and scene.
  void dispatchSerialize(kcArchive& ar) override;

 private:
  friend struct kc_BlobPipeline;

  void serialize_(kcArchive& ar, unsigned char version);
  static kcPersistent* make();
  static kc_Instantiator sExemplar;  // registered as "kcBlobResults"

  std::unique_ptr<kcBlobSceneDescription> connectedBlobs_;
  double connectTime_ = 0.0;
  double RLETime_ = 0.0;
  kcRLEBuffer rle_;
  double maskTime_ = 0.0;
  kcRLEBuffer masked_;
  double morphTime_ = 0.0;
  kcRLEBuffer morphed_;
  std::vector<kcRLEStorage> bandRuns_;  // run storage of each band an analysis on threads encodes
};

// kfBlobAnalysis(image, params, results): runs one blob analysis and leaves its scene in results.
// Provided for kcPelBuffer<unsigned char>, kcPelBuffer_const<unsigned char> and kcRLEBuffer.
//
// Stages, in order (each refusal throws kcBlobDefs::BadParams with its fixed message):
//  1. Pel images only: an unbound image is refused ("The image is unbound."), then one of width
//     or height 0 ("The width and height of image must be > 0."); then the settings are checked
//     as in stage 2 and the stored segmentation as its setter would (values loaded from an archive
//     are not trusted; a kind outside the enumeration throws kcBadArgument). All these leave
//     results untouched. The pels are encoded into results.rle() by the segmentation (RLETime).
//  2. A degenerate run-length input is refused ("The image is unbound."), then a cleanup combined
//     with whole-image analysis, a scale value of 0 (unless labelled), a cleanup outside its
//     enumeration (kcBadArgument) and, with a cleanup, a negative minimum pel count.
//  3. With a mask (not degenerate): the input keeps its pels where the mask is non-zero, into
//     results.masked() (maskTime).
//  4. Each morphology operation in order, into results.morphed() (morphTime); an operation
//     outside 0 to 11 is refused when reached, after the ones before it were applied.
//  5. The results' scene is reused with its filters cleared, or a new one is created; with
//     useMaskForInterior the parameters' mask goes to it for the interior test.
//  6. Connectivity by the parameters' type (an unknown type is refused here, after stages 3 to 5
//     ran), then connectTime and the scene are stored in results.
// In the pel variants the images the parameters do not keep are unbound at the end; if any stage
// after encoding fails, all three images are unbound. A scene created by the call is deleted when
// the call fails; a reused scene stays in the results as connectivity left it. The exception
// reaching the caller is the first one thrown, passed through unchanged (the platform's included).
// Every stage calls kcAttention::check() at least once every 16 rows, so a caller's abandon
// request or deadline stops the analysis within 16 rows of the stage running; kcAttention::Abandoned
// then unwinds as any other failure.
//
// record is accepted and ignored.
// Recording (<diag/recorder.h>, <blob/blobdiag.h>): records go to
// kcDiagObject::getRecordingDestination(diag, diagFlags), with the flags as that call leaves them;
// with diag null nothing is recorded.
//  - Flags selecting kcDiagDefs::eRecordInput: stage 2 starts, before its checks, with a record of
//    its input's pels (in the pel variants the encoded image), the annotation "Blob Analysis Input
//    Image and Params" and a kcBlobDiagInputData titled "Analysis Input Data".
//  - eRecordResult: a successful analysis ends with a record of the same pels, the annotation "Blob
//    Analysis Results", a kcBlobDiagResultData titled "Analysis Output Data" and the scene's shown
//    blobs drawn with flags 45 (centre-of-mass cross, label, image bounding box, boundary) titled
//    "Result Graphics", in client coordinates.
//  A recording that fails fails the analysis, as any stage does.
//  - eRecordResult and a failed analysis: that result record, from the results as they stand (the
//    pel variants' pels encoded plainly), and in it the text "kfBlobAnalysis threw \n", the
//    exception's message(true) and "\n", titled "Exception Data" (kcUnknownError(0)'s message for
//    an exception that is not a kcException). Recording a failure never throws: a part that cannot
//    be recorded (an unbound image, a degenerate scene, a refused record) is left out, and the
//    exception reaching the caller is still the analysis's own. Both pel variants record failures:
//    a mutable image is analysed exactly as a read-only one, so its failure leaves the same trace.
// Cost: one pass over the pels to encode, one per mask and morphology step, plus connectivity;
// the measures of the blobs are computed later, on request.
template <class Image>
BLOB_EXPORT void kfBlobAnalysis(const Image& image, const kcBlobParams& params,
                                kcBlobResults& results, kc_BlobSnapRecord<Image>* record = nullptr,
                                kcDiagObject* diag = nullptr, unsigned long diagFlags = 0);

// kfBlobAnalysis(image, params, results, threads): the same analysis (without recording) on up to
// threads threads, the calling thread included; 0 means one per core; a negative count is refused
// (kcBlobDefs::BadParams "The number of threads must be >= 0 (0: one per core)."), changing nothing.
// The forms above use the calling thread alone: the library starts no thread unasked.
// The results are those of the one-thread analysis, bit for bit (ids, tree, labels, regions, every
// measure, the archive): the image is split into bands of whole rows, each band's work is what the
// one-thread analysis does for those rows, and what depends on the rows above (a region crossing a
// band's first row) is joined in the order the one-thread analysis would meet it. Where the bands
// fall follows the threads' pace (a thread done with its rows takes rows another has not reached,
// so content spread unevenly over the rows still keeps every thread busy); the results do not
// depend on it. Images too small to gain (bands under 2^18 pels or 16 rows) are analysed on the
// calling thread. Shared between the threads: encoding (the percentage forms count the pels in
// bands first), masking, morphology, the whole-image projections, and grey-scale connectivity with
// its finishing pass, with any cleanup (the prune and the fill are decided once the bands are
// joined, from whole pel counts, in one pass on the calling thread); labelled connectivity scans
// on the calling thread (each merge and flood depends on every one before it) and shares its
// finishing pass.
// Threads: workers of one pool shared by the process, started on first demand and kept idle until
// it ends; no thread is started per call once the pool has enough, and no work of a call goes on
// after it returns. Cancellation: the calling thread works too and calls kcAttention::check() at
// least every 16 of its rows and every millisecond while it waits, so its scopes stop every
// thread; the first exception of any thread (Abandoned, bad_alloc, a refusal) stops the others and
// reaches the caller once, as the one-thread analysis would throw it. Failure leaves the results
// as the one-thread analysis leaves them.
template <class Image>
BLOB_EXPORT void kfBlobAnalysis(const Image& image, const kcBlobParams& params, kcBlobResults& results,
                                int threads);
