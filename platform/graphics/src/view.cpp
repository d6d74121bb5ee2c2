// The view's canvas size and its client-to-output map.
#include <graphics/view.h>

#include <foundation/exception.h>

#include <limits>

kcPair<long> kcGraphicView::outputSize() const {
  if (width < 0 || height < 0) throw kcBadArgument(L"The view's width and height must not be negative.");
  if (zoom < 1) throw kcBadArgument(L"The view's zoom must be at least 1.");
  const long limit = std::numeric_limits<long>::max() / zoom;
  if (width > limit || height > limit) throw kcBadArgument(L"The zoomed view is too large.");
  return {width * zoom, height * zoom};
}

kcVector<2> kcGraphicView::outputPoint(const kcVector<2>& p) const {
  const kcVector<2> q = imageFromClient.mapPoint(p) - kcVector<2>(origin);
  return q * static_cast<double>(zoom);
}
