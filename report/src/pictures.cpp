// blob-analyze's pictures: overlays through the graphics library's SVG writer and renderer, label
// images through the scene's makeImage.
#include <report/pictures.h>

#include <blob/blob.h>
#include <blob/blobdesc.h>

#include <graphics/render.h>
#include <graphics/svg.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <ostream>
#include <streambuf>
#include <stdexcept>

namespace report {
namespace {

struct DrawName {
  const char* name;
  unsigned long flag;
};
constexpr std::array<DrawName, 6> kDrawNames = {{{"centerOfMass", kcBlob::eDrawCenterOfMass},
                                                  {"principalCross", kcBlob::eDrawPrincipalCross},
                                                  {"label", kcBlob::eDrawLabel},
                                                  {"imageBoundingBox", kcBlob::eDrawImageBoundingBox},
                                                  {"principalBox", kcBlob::eDrawPrincipalBox},
                                                  {"boundary", kcBlob::eDrawBoundary}}};

// Base64Text: a stream buffer that appends the base64 form of the bytes written to it to a string.
class Base64Text : public std::streambuf {
 public:
  explicit Base64Text(std::string& text) : text_(text) {}
  // finish(): encodes the last one or two bytes, padded with '='.
  void finish() {
    if (held_ == 0) return;
    const int bytes = held_;
    while (held_ > 0) put(0);
    text_.resize(text_.size() - static_cast<std::size_t>(3 - bytes));
    text_.append(static_cast<std::size_t>(3 - bytes), '=');
  }

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) put(static_cast<unsigned char>(c));
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    for (std::streamsize i = 0; i < n; ++i) put(static_cast<unsigned char>(s[i]));
    return n;
  }

 private:
  void put(unsigned char byte) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    group_ = (group_ << 8) | byte;
    if (++held_ < 3) return;
    for (int k = 3; k >= 0; --k) text_ += kDigits[(group_ >> (6 * k)) & 63];
    group_ = 0;
    held_ = 0;
  }

  std::string& text_;
  std::uint32_t group_ = 0;
  int held_ = 0;
};

}  // namespace

std::string pngDataUri(const GreyImage& image) {
  std::string text = "data:image/png;base64,";
  Base64Text buffer(text);
  std::ostream stream(&buffer);
  PngWriter png(stream, image.width, image.height, 1);
  for (long y = 0; y < image.height; ++y) png.row(image.pels.data() + static_cast<std::size_t>(y * image.width));
  png.finish();
  buffer.finish();
  return text;
}

namespace {

void writeRows(std::ostream& out, long width, long height, int channels, const unsigned char* first,
               std::size_t stride) {
  PngWriter png(out, width, height, channels);
  for (long y = 0; y < height; ++y) png.row(first + static_cast<std::size_t>(y) * stride);
  png.finish();
}

}  // namespace

unsigned long drawFlags(const std::string& list) {
  std::string valid;
  for (const DrawName& d : kDrawNames) valid += (valid.empty() ? "" : ", ") + std::string(d.name);
  unsigned long flags = 0;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    const std::string name = list.substr(start, comma - start);
    start = comma + 1;
    const auto found = std::find_if(kDrawNames.begin(), kDrawNames.end(), [&](const DrawName& d) { return name == d.name; });
    if (found == kDrawNames.end()) throw std::invalid_argument("unknown graphic '" + name + "'; valid: " + valid);
    if (flags & found->flag) throw std::invalid_argument("graphic '" + name + "' is named twice");
    flags |= found->flag;
  }
  return flags;
}

int overlayZoom(long width, long height) {
  const long longer = std::max(width, height);
  return static_cast<int>(std::clamp<long>((512 + longer - 1) / std::max(longer, 1L), 1, 8));
}

void writeOverlay(std::ostream& out, const GreyImage& image, const kcBlobSceneDescription& scene, unsigned long flags,
                  bool shown, bool svg) {
  if (!svg) {
    const kcRgbImage canvas =
        renderOverlay(toPelBuffer(image), scene, flags, shown, overlayZoom(image.width, image.height));
    writeRows(out, canvas.width, canvas.height, 3, canvas.pels.data(), 3 * static_cast<std::size_t>(canvas.width));
    return;
  }
  kcGraphicView view;
  view.imageFromClient = scene.imageFromClientXform();
  view.width = image.width;
  view.height = image.height;
  kcSvgWriter writer(out, view, pngDataUri(image));
  kcGraphicList list;
  for (const kcBlob* blob : scene.allBlobs(shown)) {
    list.clear();
    blob->draw(list, flags, std::to_wstring(blob->id()));
    writer.add(list);
  }
  writer.finish();
}

kcRgbImage renderOverlay(const kcPelBuffer_const<unsigned char>& image, const kcBlobSceneDescription& scene,
                         unsigned long flags, bool shown, int zoom) {
  kcGraphicView view;
  view.imageFromClient = scene.imageFromClientXform();
  view.origin = image.offset();
  view.width = image.width();
  view.height = image.height();
  view.zoom = zoom;
  kcRgbImage canvas = kfRgbFromGrey(image, zoom);
  kcGraphicList list;
  for (const kcBlob* blob : scene.allBlobs(shown)) {
    list.clear();
    blob->draw(list, flags, std::to_wstring(blob->id()));
    kfRenderGraphics(list, view, canvas);
  }
  return canvas;
}

void writeLabelImage(std::ostream& out, const kcBlobSceneDescription& scene, bool shown) {
  const kcPelBuffer<unsigned char> pels = scene.makeImage(shown, 0);
  writeRows(out, pels.width(), pels.height(), 1, pels.pointToRow(0), static_cast<std::size_t>(pels.rowStride()));
}

}  // namespace report
