// Recording an analysis into a diagnostics recorder: its input, its result and its failure.
#pragma once

#include <foundation/pelbuffer.h>

class kcBlobParams;
class kcBlobResults;
class kcDiagObject;
class kcException;
class kcRLEBuffer;

// kf_RecordInput(dest, flags, image, params): when dest is not null and flags select
// kcDiagDefs::eRecordInput, a new record of dest gets, in order, image's pels, the annotation
// "Blob Analysis Input Image and Params" and a kcBlobDiagInputData (params, image, flags) titled
// "Analysis Input Data". A degenerate image is recorded as an unbound one. Errors of the recorder
// pass through; the record keeps the entries made before.
void kf_RecordInput(kcDiagObject* dest, unsigned long flags, const kcRLEBuffer& image, const kcBlobParams& params);

// kf_RecordResult(dest, flags, image, results): when dest is not null and flags select
// kcDiagDefs::eRecordResult, a new record gets image's pels, the annotation "Blob Analysis
// Results", a kcBlobDiagResultData (results, image, flags) titled "Analysis Output Data" and, when
// results hold a scene, its shown blobs drawn with their centre-of-mass crosses, labels, image
// bounding boxes and boundaries, titled "Result Graphics", in client coordinates. Errors pass
// through as in kf_RecordInput.
void kf_RecordResult(kcDiagObject* dest, unsigned long flags, const kcRLEBuffer& image, const kcBlobResults& results);

// kf_RecordFailure(diag, flags, image, results, error): when diag is not null and flags select
// kcDiagDefs::eRecordResult, the record kf_RecordResult makes, as far as it can be made, and the
// text "kfBlobAnalysis threw \n" + error.message(true) + "\n" titled "Exception Data" in that same
// record. A pel image is first encoded plainly (an unbound one gives a degenerate run image).
// Never throws: each step that fails is left out (a record that cannot be made at all means no
// record), so the caller can rethrow the exception in flight unchanged.
void kf_RecordFailure(kcDiagObject* diag, unsigned long flags, const kcRLEBuffer& image, const kcBlobResults& results,
                      const kcException& error) noexcept;
void kf_RecordFailure(kcDiagObject* diag, unsigned long flags, const kcPelBuffer_const<unsigned char>& image,
                      const kcBlobResults& results, const kcException& error) noexcept;
