// The renderer: RGB images, the enlarged grey background, clipped pen lines and bitmap text.
#include <graphics/render.h>

#include <foundation/exception.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace {

// The font: 3 x 5 glyph cells, rows top first, bit 2 the left column; glyphs advance 4 font pels.
using Glyph = std::array<std::uint8_t, 5>;
constexpr long kGlyphWidth = 3;
constexpr long kGlyphHeight = 5;
constexpr long kAdvance = kGlyphWidth + 1;
constexpr Glyph kDigits[10] = {{2, 5, 5, 5, 2}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7},
                               {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1},
                               {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};
constexpr Glyph kMinus = {0, 0, 7, 0, 0};
constexpr Glyph kDot = {0, 0, 0, 0, 2};
constexpr Glyph kSpace = {};
constexpr Glyph kBox = {7, 5, 5, 5, 7};

const Glyph& glyphOf(wchar_t c) {
  if (c >= L'0' && c <= L'9') return kDigits[c - L'0'];
  return c == L'-' ? kMinus : c == L'.' ? kDot : c == L' ' ? kSpace : kBox;
}

bool isWellFormed(const kcRgbImage& image) {
  if (image.width < 0 || image.height < 0) return false;
  if (image.height != 0 && image.width > kcRgbImage::kMaxPels / image.height) return false;
  return image.pels.size() == static_cast<std::size_t>(image.width * image.height) * 3;
}

bool isFinite(const kcVector<2>& p) { return std::isfinite(p.x()) && std::isfinite(p.y()); }

// fillRect(canvas, x, y, w, h, colour): the pels of [x, x + w) x [y, y + h) inside the canvas.
void fillRect(kcRgbImage& canvas, long x, long y, long w, long h, const kcColor& colour) {
  const long x0 = std::max(x, 0L), x1 = std::min(x + w, canvas.width);
  const long y0 = std::max(y, 0L), y1 = std::min(y + h, canvas.height);
  for (long row = y0; row < y1; ++row) {
    for (long col = x0; col < x1; ++col) {
      const auto at = static_cast<std::size_t>(row * canvas.width + col) * 3;
      canvas.pels[at] = colour.r();
      canvas.pels[at + 1] = colour.g();
      canvas.pels[at + 2] = colour.b();
    }
  }
}

// clipSegment(a, b, canvas): shortens a-b to its part inside the canvas widened by one pel (all the
// pen can reach); false when nothing is left. Works on the midpoint m and the half difference h
// (a = m - h, b = m + h), which stay finite for any finite ends. An end left in place is kept
// exactly; a moved end lies exactly on the boundary that cut it, its other coordinate interpolated
// (only approximately where the ends are astronomically far away).
bool clipSegment(kcVector<2>& a, kcVector<2>& b, const kcRgbImage& canvas) {
  const double mid[2] = {a.x() * 0.5 + b.x() * 0.5, a.y() * 0.5 + b.y() * 0.5};
  const double half[2] = {b.x() * 0.5 - a.x() * 0.5, b.y() * 0.5 - a.y() * 0.5};
  const double lo[2] = {-1.0, -1.0};
  const double hi[2] = {static_cast<double>(canvas.width) + 1.0, static_cast<double>(canvas.height) + 1.0};
  double t[2] = {-1.0, 1.0};     // the parameters of the new ends
  int axis[2] = {-1, -1};        // the axis whose boundary cut each end, -1 when it was kept
  double bound[2] = {0.0, 0.0};  // that boundary
  for (int k = 0; k < 2; ++k) {
    if (half[k] == 0.0) {
      if (mid[k] < lo[k] || mid[k] > hi[k]) return false;
      continue;
    }
    const bool rising = half[k] > 0.0;
    const double enter = rising ? lo[k] : hi[k], leave = rising ? hi[k] : lo[k];
    const double tEnter = (enter - mid[k]) / half[k], tLeave = (leave - mid[k]) / half[k];
    if (tEnter > t[0]) {
      t[0] = tEnter;
      axis[0] = k;
      bound[0] = enter;
    }
    if (tLeave < t[1]) {
      t[1] = tLeave;
      axis[1] = k;
      bound[1] = leave;
    }
  }
  if (t[0] > t[1]) return false;
  kcVector<2>* ends[2] = {&a, &b};
  for (int e = 0; e < 2; ++e) {
    if (axis[e] < 0) continue;
    double p[2] = {mid[0] + half[0] * t[e], mid[1] + half[1] * t[e]};
    p[axis[e]] = bound[e];
    *ends[e] = kcVector<2>(p[0], p[1]);
  }
  return true;
}

// drawSegment(canvas, a, b, colour): the pen along a-b (output coordinates); see kfRenderGraphics.
void drawSegment(kcRgbImage& canvas, kcVector<2> a, kcVector<2> b, const kcColor& colour) {
  if (!isFinite(a) || !isFinite(b) || !clipSegment(a, b, canvas)) return;
  const long steps = static_cast<long>(std::ceil(2.0 * (b - a).length()));
  for (long k = 0; k <= steps; ++k) {
    const double s = steps == 0 ? 0.0 : static_cast<double>(k) / static_cast<double>(steps);
    const kcVector<2> p = a * (1.0 - s) + b * s;
    fillRect(canvas, static_cast<long>(std::floor(p.x() - 0.5)), static_cast<long>(std::floor(p.y() - 0.5)), 2, 2,
             colour);
  }
}

// drawShape(canvas, view, g): a cross, polyline or affine rectangle as pen lines.
void drawShape(kcRgbImage& canvas, const kcGraphicView& view, const kcGraphic& g) {
  auto line = [&](const kcVector<2>& a, const kcVector<2>& b) {
    drawSegment(canvas, view.outputPoint(a), view.outputPoint(b), g.color());
  };
  if (g.kind() == kcGraphic::eCross) {
    const auto ends = static_cast<const kcGraphicCross&>(g).cross().ends();
    line(ends[0], ends[1]);
    line(ends[2], ends[3]);
  } else if (g.kind() == kcGraphic::ePolyline) {
    const kcPolyline& shape = static_cast<const kcGraphicSimple<kcPolyline>&>(g).shape();
    const auto& points = shape.points();
    for (std::size_t i = 1; i < points.size(); ++i) line(points[i - 1], points[i]);
    if (shape.closed() && points.size() > 2) line(points.back(), points.front());
  } else {
    const auto corners = static_cast<const kcGraphicSimple<kcAffineRectangle>&>(g).shape().corners();
    for (std::size_t i = 0; i < 4; ++i) line(corners[i], corners[(i + 1) % 4]);
  }
}

// drawText(canvas, view, t): the backing, then the glyphs; see kfRenderGraphics.
void drawText(kcRgbImage& canvas, const kcGraphicView& view, const kcGraphicText& t) {
  const std::wstring& text = t.text();
  const kcVector<2> at = view.outputPoint(t.position() + t.offset());
  if (text.empty() || !isFinite(at)) return;
  const long pel = view.zoom;
  const long count = static_cast<long>(text.size());
  const double width = static_cast<double>((kAdvance * count - 1) * pel);
  const double height = static_cast<double>(kGlyphHeight * pel);
  const int alignment = t.format().alignment();
  const double f = alignment == 1 ? 0.5 : alignment == 2 ? 1.0 : 0.0;
  const double left = at.x() - f * width, top = at.y() - f * height;
  // Wholly outside: nothing to draw, and the corner need not fit a long.
  const double margin = static_cast<double>(pel) + 1.0;
  if (left + width + margin < 0.0 || left - margin > static_cast<double>(canvas.width) ||
      top + height + margin < 0.0 || top - margin > static_cast<double>(canvas.height)) {
    return;
  }
  const long x0 = static_cast<long>(std::floor(left + 0.5)), y0 = static_cast<long>(std::floor(top + 0.5));
  fillRect(canvas, x0 - pel, y0 - pel, (kAdvance * count + 1) * pel, (kGlyphHeight + 2) * pel, t.color2());
  for (long i = 0; i < count; ++i) {
    const long cell = x0 + i * kAdvance * pel;
    if (cell >= canvas.width) break;
    if (cell + kGlyphWidth * pel <= 0) continue;
    const Glyph& glyph = glyphOf(text[static_cast<std::size_t>(i)]);
    for (long row = 0; row < kGlyphHeight; ++row) {
      for (long col = 0; col < kGlyphWidth; ++col) {
        if ((glyph[static_cast<std::size_t>(row)] >> (kGlyphWidth - 1 - col)) & 1) {
          fillRect(canvas, cell + col * pel, y0 + row * pel, pel, pel, t.color());
        }
      }
    }
  }
}

}  // namespace

kcRgbImage::kcRgbImage(long w, long h, const kcColor& fill) {
  if (w < 0 || h < 0 || (h != 0 && w > kMaxPels / h)) throw kcBadArgument(L"The RGB image size is out of range.");
  const auto count = static_cast<std::size_t>(w * h);
  pels.resize(count * 3);
  for (std::size_t i = 0; i < count; ++i) {
    pels[3 * i] = fill.r();
    pels[3 * i + 1] = fill.g();
    pels[3 * i + 2] = fill.b();
  }
  width = w;
  height = h;
}

kcColor kcRgbImage::at(long x, long y) const {
  if (!isWellFormed(*this)) throw kcBadArgument(L"The RGB image's pels do not match its size.");
  if (x < 0 || y < 0 || x >= width || y >= height) throw kcBadArgument(L"The pel lies outside the RGB image.");
  const auto i = static_cast<std::size_t>(y * width + x) * 3;
  return {pels[i], pels[i + 1], pels[i + 2]};
}

kcRgbImage kfRgbFromGrey(const kcPelBuffer_const<unsigned char>& grey, int zoom) {
  kcGraphicView view;
  view.width = grey.width();
  view.height = grey.height();
  view.zoom = zoom;
  const kcPair<long> size = view.outputSize();
  kcRgbImage result(size.x(), size.y());
  const auto rowBytes = static_cast<std::size_t>(size.x()) * 3;
  const auto z = static_cast<std::size_t>(zoom);
  for (long y = 0; y < grey.height(); ++y) {
    const unsigned char* in = grey.pointToRow(y);
    const auto first = result.pels.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(y) * z * rowBytes);
    auto out = first;
    for (long x = 0; x < grey.width(); ++x) out = std::fill_n(out, 3 * z, in[x]);
    for (std::size_t copy = 1; copy < z; ++copy) std::copy(first, out, first + static_cast<std::ptrdiff_t>(copy * rowBytes));
  }
  return result;
}

void kfRenderGraphics(const kcGraphicList& list, const kcGraphicView& view, kcRgbImage& canvas) {
  const kcPair<long> size = view.outputSize();
  if (!isWellFormed(canvas) || canvas.width != size.x() || canvas.height != size.y()) {
    throw kcBadArgument(L"The canvas does not match the view's zoomed size.");
  }
  if (canvas.pels.empty()) return;  // bounds the zoom, so text sizes below fit a long
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i].kind() == kcGraphic::eText) {
      drawText(canvas, view, static_cast<const kcGraphicText&>(list[i]));
    } else {
      drawShape(canvas, view, list[i]);
    }
  }
}
