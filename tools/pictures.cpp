// blob-analyze's pictures: overlays through the graphics library's SVG writer and renderer, label
// images through the scene's makeImage.
#include "pictures.h"

#include "output_file.h"

#include <blob/blob.h>
#include <blob/blobdesc.h>

#include <graphics/render.h>
#include <graphics/svg.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace tool {
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

std::string base64(const std::vector<unsigned char>& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t v = std::uint32_t{bytes[i]} << 16;
    if (n > 1) v |= std::uint32_t{bytes[i + 1]} << 8;
    if (n > 2) v |= bytes[i + 2];
    for (std::size_t k = 0; k < 4; ++k) out += k <= n ? kDigits[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
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

std::vector<unsigned char> overlay(const GreyImage& image, const kcBlobSceneDescription& scene, unsigned long flags,
                                   bool shown, bool svg) {
  kcGraphicList list;
  for (const kcBlob* blob : scene.allBlobs(shown)) blob->draw(list, flags, std::to_wstring(blob->id()));
  kcGraphicView view;
  view.imageFromClient = scene.imageFromClientXform();
  view.width = image.width;
  view.height = image.height;
  if (svg) {
    std::ostringstream out;
    kfWriteSvg(out, list, view, "data:image/png;base64," + base64(encodePng(image.width, image.height, 1, image.pels)));
    const std::string text = out.str();
    return std::vector<unsigned char>(text.begin(), text.end());
  }
  view.zoom = overlayZoom(image.width, image.height);
  kcRgbImage canvas = kfRgbFromGrey(toPelBuffer(image), view.zoom);
  kfRenderGraphics(list, view, canvas);
  return encodePng(canvas.width, canvas.height, 3, canvas.pels);
}

std::vector<unsigned char> labelImage(const kcBlobSceneDescription& scene, bool shown) {
  const kcPelBuffer<unsigned char> pels = scene.makeImage(shown, 0);
  std::vector<unsigned char> rows;
  rows.reserve(static_cast<std::size_t>(pels.width() * pels.height()));
  for (long y = 0; y < pels.height(); ++y) rows.insert(rows.end(), pels.pointToRow(y), pels.pointToRow(y) + pels.width());
  return encodePng(pels.width(), pels.height(), 1, rows);
}

void writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  OutputFile file(path);
  file.stream().write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  file.commit();
}

}  // namespace tool
