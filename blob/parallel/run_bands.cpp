// Run-length images in bands of rows.
#include "parallel/run_bands.h"

#include "parallel/work_pool.h"

#include <algorithm>
#include <cstdint>

kcPelRect kf_BandRect(const kcPair<long>& at, long width, long height, std::size_t bands, std::size_t b) {
  const long top = kf_BandTop(height, bands, b);
  return kcPelRect(at.x(), at.y() + top, width, kf_BandTop(height, bands, b + 1) - top);
}

kcRLEBuffer kf_StackBands(const std::vector<kcRLEBuffer>& parts, const kcPair<long>& offset,
                          const kc2XformCache& xforms) {
  kcRLEBuffer out;
  out.becomeStack(parts);
  out.offset(offset);
  out.copyXforms(xforms);
  return out;
}

kcRLEBuffer kf_RunsInBands(const kcRLEBuffer& image, unsigned threads, long margin,
                           const std::function<kcRLEBuffer(const kcRLEBuffer&)>& op) {
  const long width = image.width(), height = image.height();
  const std::size_t bands = image.isDegenerate() ? 1 : kf_Pieces(width, height, threads);
  if (bands < 2) return op(image);
  const kcPair<long> at = image.offset();
  std::vector<kcRLEBuffer> parts(bands);
  kc_WorkPool::shared().run(bands, threads, [&](std::size_t b) {
    const kcPelRect own = kf_BandRect(at, width, height, bands, b);
    const long top = own.ul().y() - at.y(), bottom = top + own.height();
    const long from = std::max(top - margin, 0L), to = std::min(bottom + margin, height);
    const kcRLEBuffer done = op(image.subWindow(kcPelRect(at.x(), at.y() + from, width, to - from)));
    parts[b] = from == top && to == bottom ? done : done.subWindow(own);
  });
  return kf_StackBands(parts, at, image.xformCache());
}
