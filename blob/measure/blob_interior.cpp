// The interior test: a blob that touches no edge of the analysed window and, with a mask, lies in
// it with a margin of one mask pel around every pel.
#include <blob/blob.h>
#include <blob/blobdesc.h>

#include "store/blob_parts.h"
#include "store/bsd_data.h"

#include <foundation/rlebuffer.h>

namespace {

// MaskRow: one row of the mask (image coordinates), read forwards: covers(a, b) asks whether the
// mask pels a .. b - 1 are all non-zero. Successive questions must not start left of earlier ones.
class MaskRow {
 public:
  MaskRow(const kcRLEBuffer& mask, long y) : x_(mask.offset().x()) {
    const long row = y - mask.offset().y();
    run_ = row >= 0 && row < mask.height() ? mask.pointToRow(row) : nullptr;
  }

  bool covers(long a, long b) {
    if (run_ == nullptr) return false;
    while (run_[1] != 0 && x_ + run_[1] <= a) {  // skip the runs ending before a
      x_ += run_[1];
      run_ += 2;
    }
    if (run_[1] == 0 || x_ > a) return false;
    long x = x_;
    for (const unsigned char* r = run_; x < b; r += 2) {
      if (r[1] == 0 || r[0] == 0) return false;
      x += r[1];
    }
    return true;
  }

 private:
  const unsigned char* run_;
  long x_;  // first column of run_
};

// insideMask(region, mask): every pel of the region has its eight neighbours in the mask. The
// region's rectangle must lie strictly inside the mask's, so the rows above and below exist.
bool insideMask(const kcRLEBuffer& region, const kcRLEBuffer& mask) {
  for (long y = 0; y < region.height(); ++y) {
    const long row = region.offset().y() + y;
    MaskRow above(mask, row - 1), here(mask, row), below(mask, row + 1);
    long x = region.offset().x();
    const unsigned char* run = region.pointToRow(y);
    while (run[1] != 0) {
      if (run[0] == 0) {
        x += run[1];
        run += 2;
        continue;
      }
      const long s = x;  // a maximal interval s .. e - 1 of the region's pels
      for (; run[1] != 0 && run[0] != 0; run += 2) x += run[1];
      const long e = x;
      // The pels just left and right in this row, and s - 1 .. e in the rows above and below.
      if (!here.covers(s - 1, e + 1) || !above.covers(s - 1, e + 1) || !below.covers(s - 1, e + 1)) return false;
    }
  }
  return true;
}

bool strictlyInside(const kcPelRect& inner, const kcRLEBuffer& mask) {
  const long mx = mask.offset().x(), my = mask.offset().y();
  return mx < inner.ul().x() && my < inner.ul().y() && inner.lr().x() < mx + mask.width() &&
         inner.lr().y() < my + mask.height();
}

}  // namespace

bool kcBlob::isInterior() const {
  const kc_BlobParts p = parts();
  kc_BlobMeasures& m = p.measures();
  if (m.interiorValid) return m.interior;
  const kc_BSDData& d = data();
  const kcPelRect rect = p.imageRect();
  const kcPelRect& window = d.sceneWindow;
  const bool touches = rect.ul().x() == window.ul().x() || rect.ul().y() == window.ul().y() ||
                       rect.lr().x() == window.lr().x() || rect.lr().y() == window.lr().y();
  bool interior = !touches;
  if (interior && !d.mask.isDegenerate())
    interior = strictlyInside(rect, d.mask) && insideMask(region(), d.mask);
  giveNotice();
  m.interior = interior;
  m.interiorValid = true;
  return interior;
}
