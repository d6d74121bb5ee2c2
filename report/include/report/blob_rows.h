// A blob as a report row: its fixed fields and the chosen measures.
#pragma once

#include <report/measures.h>
#include <report/output_format.h>

#include <vector>

class kcBlob;

namespace report {

// measureValue(blob, number): the measure, or NaN (reported as null) when the analysis kind has no
// such measure (the boundary measures of a whole-image analysis).
double measureValue(const kcBlob& blob, int number);

// blobRow(blob, measures): id, parent id (0 at the top level), label, number of children (all, not
// only shown ones) and one value per measure, in the order given.
BlobRow blobRow(const kcBlob& blob, const std::vector<MeasureInfo>& measures);
// fillRow(blob, measures, row): the same into row, reusing the storage of row.values.
void fillRow(const kcBlob& blob, const std::vector<MeasureInfo>& measures, BlobRow& row);

}  // namespace report
