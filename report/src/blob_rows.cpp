// Report rows from the library's blobs.
#include <report/blob_rows.h>

#include <blob/blob.h>

#include <limits>

namespace report {

double measureValue(const kcBlob& blob, int number) {
  try {
    return blob.measure(static_cast<kcBlob::Measure>(number));
  } catch (const kcBlob::BadMeasure&) {
    return std::numeric_limits<double>::quiet_NaN();
  }
}

BlobRow blobRow(const kcBlob& blob, const std::vector<MeasureInfo>& measures) {
  BlobRow row;
  fillRow(blob, measures, row);
  return row;
}

void fillRow(const kcBlob& blob, const std::vector<MeasureInfo>& measures, BlobRow& row) {
  row.id = blob.id();
  const kcBlob* parent = blob.parent();
  row.parent = parent ? parent->id() : 0;
  row.label = blob.label();
  row.numChildren = blob.numChildren(false);
  row.values.clear();
  for (const MeasureInfo& info : measures) row.values.push_back(measureValue(blob, info.number));
}

}  // namespace report
