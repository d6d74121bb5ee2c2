// The SVG writer: one element per graphic, XML escaping and exact number text.
#include <graphics/svg.h>

#include <foundation/assert.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ostream>
#include <string_view>
#include <vector>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// appendNumber(out, v): the shortest text that reads back as exactly v (v is finite here).
template <class T>
void appendNumber(std::string& out, T v) {
  char text[32];
  const std::to_chars_result end = std::to_chars(text, text + sizeof text, v);
  out.append(text, end.ptr);
}

void appendPoint(std::string& out, const kcVector<2>& p, char separator) {
  appendNumber(out, p.x());
  out += separator;
  appendNumber(out, p.y());
}

void appendColor(std::string& out, const kcColor& c) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '#';
  for (const std::uint8_t v : {c.r(), c.g(), c.b()}) {
    out += kHex[v >> 4];
    out += kHex[v & 15];
  }
}

// appendEscaped(out, c): c as UTF-8, escaped for XML text and attribute values alike. Tab and line
// ends are written as references so attribute normalisation keeps them; characters XML 1.0 does
// not allow become U+FFFD.
void appendEscaped(std::string& out, char32_t c) {
  switch (c) {
    case U'&': out += "&amp;"; return;
    case U'<': out += "&lt;"; return;
    case U'>': out += "&gt;"; return;
    case U'"': out += "&quot;"; return;
    case U'\'': out += "&apos;"; return;
    case U'\t': out += "&#9;"; return;
    case U'\n': out += "&#10;"; return;
    case U'\r': out += "&#13;"; return;
    default: break;
  }
  if (c < 0x20 || (c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE || c == 0xFFFF || c > 0x10FFFF) c = kReplacement;
  if (c < 0x80) {
    out += static_cast<char>(c);
    return;
  }
  const int tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  static constexpr unsigned kLead[] = {0, 0xC0, 0xE0, 0xF0};
  out += static_cast<char>(kLead[tail] | (c >> (6 * tail)));
  for (int k = tail - 1; k >= 0; --k) out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
}

// appendEscapedUtf8(out, s): s escaped as by appendEscaped; a byte that does not start a valid,
// shortest UTF-8 sequence becomes U+FFFD.
void appendEscapedUtf8(std::string& out, std::string_view s) {
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  for (std::size_t i = 0; i < s.size();) {
    const auto lead = static_cast<unsigned char>(s[i]);
    const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    char32_t c = static_cast<char32_t>(lead & (0xFFu >> length));
    bool valid = length > 0 && i + length <= s.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(s[i + k]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | static_cast<char32_t>(next & 0x3Fu);
    }
    valid = valid && c >= kSmallest[length];
    appendEscaped(out, valid ? c : kReplacement);
    i += valid ? length : 1;
  }
}

bool isFinite(const kcVector<2>& p) { return std::isfinite(p.x()) && std::isfinite(p.y()); }

// imagePoints(g, map): the points of a cross (its four stroke ends), polyline or affine rectangle
// (its corners) in image coordinates.
std::vector<kcVector<2>> imagePoints(const kcGraphic& g, const kcXform<2>& map) {
  std::vector<kcVector<2>> points;
  if (g.kind() == kcGraphic::eCross) {
    const auto ends = static_cast<const kcGraphicCross&>(g).cross().ends();
    points.assign(ends.begin(), ends.end());
  } else if (g.kind() == kcGraphic::ePolyline) {
    points = static_cast<const kcGraphicSimple<kcPolyline>&>(g).shape().points();
  } else {
    const auto corners = static_cast<const kcGraphicSimple<kcAffineRectangle>&>(g).shape().corners();
    points.assign(corners.begin(), corners.end());
  }
  for (kcVector<2>& p : points) p = map.mapPoint(p);
  return points;
}

void writeShape(std::string& out, const kcGraphic& g, const kcXform<2>& map) {
  const std::vector<kcVector<2>> points = imagePoints(g, map);
  const bool cross = g.kind() == kcGraphic::eCross;
  const bool open = g.kind() == kcGraphic::ePolyline &&
                    !static_cast<const kcGraphicSimple<kcPolyline>&>(g).shape().closed();
  const char* name = cross ? "path" : open ? "polyline" : "polygon";
  out += '<';
  out += name;
  out += " stroke=\"";
  appendColor(out, g.color());
  out += '"';
  if (!std::all_of(points.begin(), points.end(), isFinite)) {
    out += " display=\"none\"";
  } else if (cross) {
    static constexpr const char* kCommand[] = {" d=\"M", " L", " M", " L"};
    for (std::size_t i = 0; i < 4; ++i) {
      out += kCommand[i];
      appendPoint(out, points[i], ' ');
    }
    out += '"';
  } else {
    out += " points=\"";
    for (std::size_t i = 0; i < points.size(); ++i) {
      if (i > 0) out += ' ';
      appendPoint(out, points[i], ',');
    }
    out += '"';
  }
  out += "/>\n";
}

void writeText(std::string& out, const kcGraphicText& t, const kcXform<2>& map) {
  static constexpr const char* kAnchor[] = {"start", "middle", "end"};
  static constexpr const char* kBaseline[] = {"text-before-edge", "central", "text-after-edge"};
  const int alignment = t.format().alignment();
  const std::size_t a = alignment >= 0 && alignment <= 2 ? static_cast<std::size_t>(alignment) : 0;
  const kcVector<2> at = map.mapPoint(t.position() + t.offset());
  out += "<text";
  if (isFinite(at)) {
    out += " x=\"";
    appendNumber(out, at.x());
    out += "\" y=\"";
    appendNumber(out, at.y());
    out += '"';
  } else {
    out += " display=\"none\"";
  }
  out += " text-anchor=\"";
  out += kAnchor[a];
  out += "\" dominant-baseline=\"";
  out += kBaseline[a];
  out += "\" font-family=\"monospace\" font-size=\"7\" fill=\"";
  appendColor(out, t.color());
  out += "\" stroke=\"";
  appendColor(out, t.color2());
  out += "\" stroke-width=\"2\" stroke-linejoin=\"round\" paint-order=\"stroke\">";
  for (const wchar_t c : t.text()) appendEscaped(out, static_cast<char32_t>(c));
  out += "</text>\n";
}

// appendCanvas(out, view, named): the canvas in image coordinates, as x, y, width and height
// attributes when named, else as the list of a viewBox attribute.
void appendCanvas(std::string& out, const kcGraphicView& view, bool named) {
  const long values[] = {view.origin.x(), view.origin.y(), view.width, view.height};
  static constexpr const char* kNames[] = {" x=\"", "\" y=\"", "\" width=\"", "\" height=\""};
  for (std::size_t i = 0; i < 4; ++i) {
    out += named ? kNames[i] : i == 0 ? "" : " ";
    appendNumber(out, values[i]);
  }
  out += '"';
}

// writeEscapedHref(out, href, piece): href escaped as by appendEscapedUtf8, written in pieces of
// about 64 KiB through piece, each cut before a byte that starts a UTF-8 sequence.
void writeEscapedHref(std::ostream& out, std::string_view href, std::string& piece) {
  constexpr std::size_t kPiece = std::size_t{1} << 16;
  for (std::size_t at = 0; at < href.size();) {
    std::size_t end = std::min(href.size(), at + kPiece);
    for (std::size_t back = 0; back < 3 && end < href.size() && (static_cast<unsigned char>(href[end]) & 0xC0) == 0x80;
         ++back) {
      --end;
    }
    piece.clear();
    appendEscapedUtf8(piece, href.substr(at, end - at));
    out << piece;
    at = end;
  }
}

}  // namespace

kcSvgWriter::kcSvgWriter(std::ostream& out, const kcGraphicView& view, std::string_view backgroundHref)
    : out_(out), imageFromClient_(view.imageFromClient) {
  const kcPair<long> size = view.outputSize();
  std::string& svg = piece_;
  svg =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" version=\"1.1\"";
  svg += " width=\"";
  appendNumber(svg, size.x());
  svg += "\" height=\"";
  appendNumber(svg, size.y());
  svg += "\" viewBox=\"";
  appendCanvas(svg, view, false);
  svg += ">\n";
  if (!backgroundHref.empty()) {
    svg += "<image";
    appendCanvas(svg, view, true);
    svg += " preserveAspectRatio=\"none\" image-rendering=\"pixelated\" href=\"";
    out_ << svg;
    writeEscapedHref(out_, backgroundHref, piece_);
    out_ << "\" xlink:href=\"";
    writeEscapedHref(out_, backgroundHref, piece_);
    svg = "\"/>\n";
  }
  svg += "<g fill=\"none\" stroke-width=\"";
  appendNumber(svg, 1.0 / static_cast<double>(view.zoom));
  svg += "\">\n";
  out_ << svg;
}

void kcSvgWriter::add(const kcGraphicList& list) {
  KC_ASSERT(!finished_, "graphics are added to an SVG document before it is finished");
  for (std::size_t i = 0; i < list.size(); ++i) {
    piece_.clear();
    if (list[i].kind() == kcGraphic::eText) {
      writeText(piece_, static_cast<const kcGraphicText&>(list[i]), imageFromClient_);
    } else {
      writeShape(piece_, list[i], imageFromClient_);
    }
    out_ << piece_;
  }
}

void kcSvgWriter::finish() {
  KC_ASSERT(!finished_, "an SVG document is finished once");
  finished_ = true;
  out_ << "</g>\n</svg>\n";
}

void kfWriteSvg(std::ostream& out, const kcGraphicList& list, const kcGraphicView& view,
                const std::string& backgroundHref) {
  kcSvgWriter writer(out, view, backgroundHref);
  writer.add(list);
  writer.finish();
}
