// The blob record and its boundary data: initial state, reset and deep copy.
#include "measure/blob_record.h"

void kc_BlobBoundaryData::reset() {
  rowProjection.clear();
  columnProjection.clear();
  diagonalProjection.clear();
  chainCode.clear();
  chainStart = kcPair<long>{0, 0};
  sumXY = 0.0;
  perimeter = 0.0;
  horizontalSteps = 0;
  verticalSteps = 0;
  corners = 0;
}

void kc_BlobRecord::reset() {
  kc_OwnedBoundary kept = std::move(boundary);
  kcBlob* keptOwner = owner;
  *this = kc_BlobRecord();
  boundary = std::move(kept);
  owner = keptOwner;
  if (boundary) boundary->reset();
}

void kc_BlobRecord::setOwner(kcBlob* blob) {
  owner = blob;
  if (boundary) boundary->owner = blob;
}
