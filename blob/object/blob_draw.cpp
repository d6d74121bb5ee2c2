// A blob's graphics: centre-of-mass crosses, its label, its image and principal boxes and its
// boundary, appended to a graphic list in client coordinates.
#include <blob/blob.h>
#include <blob/blobdesc.h>

#include "measure/blob_chain.h"
#include "store/blob_parts.h"
#include "measure/moment_cache.h"
#include "store/bsd_data.h"

#include <graphics/graphic.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace {

// The size of the centre-of-mass crosses, and where the label sits from the centre of mass.
constexpr double kCrossSize = 7.0;
const kcVector<2> kLabelOffset(5.0, 5.0);

void append(kcGraphicList& list, kcGraphic* graphic) { list.append(kcGraphicHandle(graphic), true); }

kcVector<2> corner(long x, long y) { return kcVector<2>(static_cast<double>(x), static_cast<double>(y)); }

}  // namespace

void kcBlob::draw(kcGraphicList& list, unsigned long flags, const std::wstring& text) const {
  const kcColor green = kcColor::greenColor();
  if (flags & eDrawCenterOfMass) append(list, new kcGraphicCross(kcCross(centerOfMass(), kcRadian(0.0), kCrossSize), green));
  if (flags & eDrawPrincipalCross) append(list, new kcGraphicCross(kcCross(centerOfMass(), angle(), kCrossSize), green));
  if (flags & eDrawLabel) {
    append(list, new kcGraphicText(text, centerOfMass(), kLabelOffset, kcUIFormat(kcUIFormat::defaultFontId(), 0),
                                   green, kcColor::passColor()));
  }

  const kc_BlobParts p = parts();
  kc_BSDData& d = data();
  if (flags & eDrawImageBoundingBox) {
    kc_MomentCache cache(*this, p, d);
    const kcXform<2> x = cache.clientLinear().clientFromImage;
    const kcPelRect r = imageBoundingBox();
    const long left = r.ul().x(), top = r.ul().y(), right = left + r.width(), bottom = top + r.height();
    std::vector<kcVector<2>> points{corner(left, top), corner(right, top), corner(right, bottom), corner(left, bottom),
                                    corner(left, top)};
    for (kcVector<2>& point : points) point = x.mapPoint(point);
    append(list, new kcGraphicSimple<kcPolyline>(kcPolyline(std::move(points), false), green));
  }
  if (flags & eDrawPrincipalBox) {
    const kcRadian a = angle();
    const kcRectangle<double> box = boundingBox(true, a);
    append(list, new kcGraphicSimple<kcAffineRectangle>(
                     kcAffineRectangle(center(true, a), box.width(), box.height(), a, kcRadian(0.0)), green));
  }
  if ((flags & eDrawBoundary) && d.connectivityKind != kcBlobSceneDescription::eWholeImageGreyScale) {
    std::vector<keBlobDirection> code;
    const kcPair<long> start = kc_Outline::of(*this, code);
    kc_MomentCache cache(*this, p, d);
    const kcXform<2> x = cache.clientLinear().clientFromImage;
    static constexpr long kStepX[4] = {1, -1, 0, 0};
    static constexpr long kStepY[4] = {0, 0, 1, -1};
    std::vector<kcVector<2>> points;
    points.reserve(code.size() + 1);
    long px = start.x(), py = start.y();
    points.push_back(x.mapPoint(corner(px, py)));
    for (keBlobDirection step : code) {
      if (static_cast<std::uint32_t>(step) >= keBlobDirectionEnd) break;
      px += kStepX[step];
      py += kStepY[step];
      points.push_back(x.mapPoint(corner(px, py)));
    }
    points.push_back(points.front());
    append(list, new kcGraphicSimple<kcPolyline>(kcPolyline(std::move(points), false), kcColor::cyanColor()));
  }
}
