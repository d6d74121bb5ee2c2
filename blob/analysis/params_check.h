// Checks of stored analysis settings, run before an analysis uses them: parameters loaded from an
// archive are taken as stored, so the analysis refuses what the setters would have refused.
#pragma once

#include <blob/blobdesc.h>

class kcBlobParams;

// kf_CheckSegmentation(params): throws what the segmentation setter of params' kind would throw
// for the stored values (kcBlobDefs::BadParams with the setter's message, first failing test
// first): a scale value of 0, an empty map, percentages out of range or out of order, thresholds
// out of order, softness too large, an unbound threshold image. A segmentation kind outside the
// enumeration throws kcBadArgument. Changes nothing.
void kf_CheckSegmentation(const kcBlobParams& params);

// kf_ThrowBadSegmentationType(): throws the kcBadArgument of a segmentation kind outside the
// enumeration, for every reader of a stored kind.
[[noreturn]] void kf_ThrowBadSegmentationType();
