// The records of an analysis: input and result records, and the failure record that never throws.
#include "analysis/blob_recording.h"

#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobdiag.h>
#include <blob/blobtool.h>

#include <diag/recorder.h>

#include <foundation/exception.h>
#include <foundation/rlebuffer.h>

#include <memory>
#include <string>

namespace {

// The result graphics: centre-of-mass cross, label, image bounding box and boundary of each blob.
constexpr unsigned long kResultGraphics =
    kcBlob::eDrawCenterOfMass | kcBlob::eDrawLabel | kcBlob::eDrawImageBoundingBox | kcBlob::eDrawBoundary;
static_assert(kResultGraphics == 45);

// How a record's steps run: Strict lets their errors pass, Guarded leaves out a step that fails.
struct Strict {
  template <class Step>
  void operator()(Step&& step) const {
    step();
  }
};
struct Guarded {
  template <class Step>
  void operator()(Step&& step) const noexcept {
    try {
      step();
    } catch (...) {  // the recorder's own failure; the caller's exception is the one to report
    }
  }
};

template <class Run>
void fillResult(kcDiagRecord& record, unsigned long flags, const kcRLEBuffer& image, const kcBlobResults& results,
                Run run) {
  run([&] { record.image(image.image(), false); });
  run([&] { record.recordAnnotation(L"Blob Analysis Results"); });
  run([&] {
    auto data = std::make_unique<kcBlobDiagResultData>(results);
    data->runImage(image);
    data->diagFlags(flags);
    record.data(std::move(data), L"Analysis Output Data");
  });
  if (const kcBlobSceneDescription* scene = results.connectedBlobs()) {
    run([&] {
      kcGraphicList list;
      scene->draw(list, kResultGraphics, true);
      record.graphics(list, kcDiagDefs::eClientCoordinates, L"Result Graphics");
    });
  }
}

}  // namespace

void kf_RecordInput(kcDiagObject* dest, unsigned long flags, const kcRLEBuffer& image, const kcBlobParams& params) {
  if (dest == nullptr || !kcDiagObject::shouldRecord(flags, kcDiagDefs::eRecordInput)) return;
  kcDiagRecord& record = dest->newDiagRecord();
  record.image(image.image(), false);
  record.recordAnnotation(L"Blob Analysis Input Image and Params");
  auto data = std::make_unique<kcBlobDiagInputData>(params);
  data->runImage(image);
  data->diagFlags(flags);
  record.data(std::move(data), L"Analysis Input Data");
}

void kf_RecordResult(kcDiagObject* dest, unsigned long flags, const kcRLEBuffer& image, const kcBlobResults& results) {
  if (dest == nullptr || !kcDiagObject::shouldRecord(flags, kcDiagDefs::eRecordResult)) return;
  fillResult(dest->newDiagRecord(), flags, image, results, Strict());
}

void kf_RecordFailure(kcDiagObject* diag, unsigned long flags, const kcRLEBuffer& image, const kcBlobResults& results,
                      const kcException& error) noexcept {
  if (diag == nullptr || !kcDiagObject::shouldRecord(flags, kcDiagDefs::eRecordResult)) return;
  const Guarded run{};
  // The text goes to the record made here, never to whatever record happens to be last.
  kcDiagRecord* record = nullptr;
  run([&] { record = &diag->newDiagRecord(); });
  if (record == nullptr) return;
  fillResult(*record, flags, image, results, run);
  run([&] { record->text(L"kfBlobAnalysis threw \n" + error.message(true) + L"\n", L"Exception Data"); });
}

void kf_RecordFailure(kcDiagObject* diag, unsigned long flags, const kcPelBuffer_const<unsigned char>& image,
                      const kcBlobResults& results, const kcException& error) noexcept {
  if (diag == nullptr || !kcDiagObject::shouldRecord(flags, kcDiagDefs::eRecordResult)) return;
  kcRLEBuffer encoded;
  if (image.isBound()) Guarded()([&] { encoded.encode(image); });
  kf_RecordFailure(diag, flags, encoded, results, error);
}
