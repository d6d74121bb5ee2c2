// The diagnostics data an analysis records: its input and its result, with their text reports.
//
// Usage: an analysis records its result (or its failure) into a recorder.
//   kcDiagObject recorder;
//   kfBlobAnalysis<kcPelBuffer<unsigned char>>(image, params, results, nullptr, &recorder,
//                                              kcDiagDefs::eRecordResult);
//   const kcDiagRecord& record = recorder.diagRecord(recorder.numRecords() - 1);
//   // record.entry(2).data() is the kcBlobDiagResultData "Analysis Output Data"; its
//   // getAsText() is the result report.
#pragma once

#include <blob/blob_export.h>
#include <blob/blobtool.h>

#include <diag/data.h>

#include <foundation/persistent.h>
#include <foundation/rlebuffer.h>

#include <cstdint>
#include <string>

class kcArchive;

// kc_BlobDiagData<Derived, Content>: what the two diagnostics data classes below share: a copy of
// Content (what an analysis was given or gave), a run-length image and the recording flags, with
// their accessors, assignment and archive form. Derived is the class built on it; no other class
// derives from it.
//
// Setters give notice (mutating()) and store a copy. diagFlags is 32 bits wide: diagFlags(f) with
// f above 2^32 - 1 throws kcBadArgument and changes nothing. A new object's flags are 0.
// Copies share the run image's immutable runs; everything else is copied. Assignment gives notice
// and copies the three fields; a failed copy leaves the object as it was.
//
// Archive form, version 1: the kcDiagData part (a version-0 archive has the kcPersistent part in
// its place and is read with it), the content, the run image, the flags (unsigned long).
// A newer version throws kcArchive::UnknownVersion("blob/blobtool", line), each class with a line of
// its own. Loaded values are taken unchecked, as the content's own form takes them; a failed load
// leaves the object as it was.
template <class Derived, class Content>
class BLOB_EXPORT kc_BlobDiagData : public kcDiagData {
 public:
  // copy(): a new Derived equal to this one; the caller owns it.
  kcDiagData* copy() const override;

  const kcRLEBuffer& runImage() const { return runImage_; }
  void runImage(const kcRLEBuffer& image);
  unsigned long diagFlags() const { return diagFlags_; }
  void diagFlags(unsigned long flags);

 protected:
  kc_BlobDiagData() = default;
  explicit kc_BlobDiagData(const Content& content) : content_(content) {}
  kc_BlobDiagData(const kc_BlobDiagData& other) = default;
  kc_BlobDiagData& operator=(const kc_BlobDiagData& other);
  ~kc_BlobDiagData() override = default;

  void dispatchSerialize(kcArchive& ar) override;
  void serialize_(kcArchive& ar, unsigned char version) override;

  // make(): the registry's factory of Derived.
  static kcPersistent* make();

  Content content_;

 private:
  void archiveFields(kcArchive& ar, unsigned char version);

  kcRLEBuffer runImage_;
  std::uint32_t diagFlags_ = 0;
};

// kcBlobDiagInputData: what an analysis was given: a copy of its parameters, the run-length image
// its run-length stage received (before masking and morphology; in the pel variants the encoded
// image) and the recording flags, as kc_BlobDiagData says. params(p) gives notice and stores a
// copy. Copies and assignment are kc_BlobDiagData's. Registered as "kcBlobDiagInputData".
class BLOB_EXPORT kcBlobDiagInputData : public kc_BlobDiagData<kcBlobDiagInputData, kcBlobParams> {
 public:
  // Default parameters and a degenerate run image.
  kcBlobDiagInputData();
  // A copy of params and a degenerate run image.
  explicit kcBlobDiagInputData(const kcBlobParams& params);

  // getAsText(): the segmentation of the parameters, one line per setting, by kind:
  //   "No segmentation. ScaleVal = S\n", "Map. ScaleVal = S\n", "Threshold image. ScaleVal = S\n";
  //   "Hard threshold = T[%][ (inverted)]\n";
  //   "Soft threshold = T[%][ (inverted)]\n" "High threshold = H[%]\n" "Softness = F\n";
  // the two threshold forms followed, when the thresholds are percentages, by
  //   "Low Tail Percent = L\n" "High Tail Percent = U\n".
  // "%" marks percentages; numbers are written by kfStr(long). Connectivity, morphology and the mask
  // are not mentioned. A segmentation kind outside the enumeration (only a damaged archive holds
  // one) throws kcBadArgument.
  std::wstring getAsText() const override;

  const kcBlobParams& params() const { return content_; }
  void params(const kcBlobParams& params);

 private:
  static kc_Instantiator sExemplar;
};

// kcBlobDiagResultData: what an analysis gave: a copy of its results (the scene deep-copied), the
// run-length image of the input record and the recording flags, as kc_BlobDiagData says, except
// that blobResults(results) assigns without giving notice of its own (the results' assignment gives
// theirs). Registered as "kcBlobDiagResultData".
class BLOB_EXPORT kcBlobDiagResultData : public kc_BlobDiagData<kcBlobDiagResultData, kcBlobResults> {
 public:
  // Empty results and a degenerate run image.
  kcBlobDiagResultData();
  // A copy of results and a degenerate run image.
  explicit kcBlobDiagResultData(const kcBlobResults& results);

  // getAsText(): "Connectivity Kind  = " and, when the results hold a scene:
  //   " eGreyScale \n", " eLabelled \n" or " eWholeImageGreyScale \n" (nothing for another value);
  //   "Scale Value  = S\n" unless labelled;
  //   "Cleanup Kind  = " then " eNone \n", " ePrune \n" or " eFill \n";
  //   "Minimum Feature Size = M\n" unless the cleanup is eNone;
  //   "Number of Filters = F\n" "Number of Blobs = N\n", N the blobs of the filtered view;
  //   then for each blob of the view, in id order, "\nBlob #id:\n" and the lines
  //   "  Center of Mass = ( x , y )", "  Area = a", "  Perimeter = p" (left out in a whole-image
  //   scene), "  Inertia = ( ix , iy )", "  Elongation = e", each ending in "\n", and
  //   "  Angle =" + the angle in (-pi, pi] by kfDbl(angle, 6, false) + " radian\n";
  // and a final "\n". Integers are written by kfStr(long), real values by kfStr(double). Building
  // the view and computing the measures fills the scene's caches. A degenerate scene throws
  // kcBlobSceneDescription::Degenerate; the measures' errors pass through.
  std::wstring getAsText() const override;

  const kcBlobResults& blobResults() const { return content_; }
  void blobResults(const kcBlobResults& results);

 private:
  static kc_Instantiator sExemplar;
};

// Both instantiations live in the library.
extern template class kc_BlobDiagData<kcBlobDiagInputData, kcBlobParams>;
extern template class kc_BlobDiagData<kcBlobDiagResultData, kcBlobResults>;
