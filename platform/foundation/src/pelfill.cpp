// Pel filling: kfPelSet and kfPelCombine_U8.
#include <foundation/exception.h>
#include <foundation/pelfill.h>

#include <algorithm>
#include <cstring>

namespace {

const wchar_t* const kUnbound = L"The image is unbound.";
const wchar_t* const kShortMap = L"The map has no entry for a value of the region.";

// maxValue(region): the largest run value of the region (0 when it has no runs).
unsigned maxValue(const kcRLEBuffer& region) {
  unsigned largest = 0;
  const unsigned char* const* rows = region.pointToRat();
  for (long y = 0; y < region.height(); ++y) {
    for (const unsigned char* run = rows[y]; run[1] != 0; run += 2) largest = std::max<unsigned>(largest, run[0]);
  }
  return largest;
}

// paintSpan: pels [from, to) of out take map[value] unless it equals skip.
inline void paintSpan(unsigned char* out, long from, long to, unsigned char mapped, unsigned char skip) {
  if (mapped != skip && from < to) std::memset(out + from, mapped, static_cast<std::size_t>(to - from));
}

}  // namespace

void kfPelSet(kcPelBuffer<unsigned char>& image, unsigned char value) {
  if (!image.isBound()) throw kcBadArgument(kUnbound);
  for (long y = 0; y < image.height(); ++y)
    std::memset(image.pointToRow(y), value, static_cast<std::size_t>(image.width()));
}

void kfPelCombine_U8(kcPelBuffer<unsigned char>& image, const kcRLEBuffer& region,
                     const kcPair<long>& offset, const std::vector<unsigned char>& map,
                     unsigned char skip) {
  if (!image.isBound()) throw kcBadArgument(kUnbound);
  if (region.isDegenerate()) return;
  if (map.empty() || maxValue(region) >= map.size()) throw kcBadArgument(kShortMap);
  // Region pel (x, y) lands on image pel (x + dx, y + dy).
  long dx = region.offset().x() + offset.x() - image.offset().x();
  long dy = region.offset().y() + offset.y() - image.offset().y();
  long yFrom = std::max(0L, -dy), yTo = std::min(region.height(), image.height() - dy);
  const unsigned char* const* rows = region.pointToRat();
  for (long y = yFrom; y < yTo; ++y) {
    unsigned char* out = image.pointToRow(y + dy);
    long x = dx;
    for (const unsigned char* run = rows[y]; run[1] != 0 && x < image.width(); run += 2) {
      long end = x + run[1];
      paintSpan(out, std::max(x, 0L), std::min(end, image.width()), map[run[0]], skip);
      x = end;
    }
  }
}
