// BMP read by hand: the file and information headers, a palette of grey (or, with a rule, colour)
// entries, uncompressed rows of 8, 24 or 32 bits padded to four bytes, bottom-up or top-down.
#include "image_formats.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace report::formats {
namespace {

std::uint32_t le32(const unsigned char* b) {
  return b[0] | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24;
}
std::uint16_t le16(const unsigned char* b) { return static_cast<std::uint16_t>(b[0] | b[1] << 8); }

// Reads exactly n bytes or throws: a BMP that ends early is damaged.
void readExactly(std::FILE* file, unsigned char* to, std::size_t n, const char* where) {
  if (std::fread(to, 1, n, file) == n) return;
  if (std::ferror(file)) throw ImageError(std::string("read error: ") + std::strerror(errno));
  throw ImageError(std::string("truncated BMP: the file ends inside ") + where);
}

// Skips n bytes (a pipe cannot seek).
void skip(std::FILE* file, std::uint64_t n, const char* where) {
  unsigned char piece[4096];
  for (; n > 0; n -= std::min<std::uint64_t>(n, sizeof piece))
    readExactly(file, piece, static_cast<std::size_t>(std::min<std::uint64_t>(n, sizeof piece)), where);
}

}  // namespace

GreyImage readBmp(std::FILE* file, long long fileSize, std::uint64_t maxPels, ColourToGrey grey) {
  unsigned char head[12 + 124];  // the rest of the file header, then the largest information header
  readExactly(file, head, 16, "the header");
  const std::uint32_t dataAt = le32(head + 8), infoSize = le32(head + 12);
  if (infoSize != 40 && infoSize != 52 && infoSize != 56 && infoSize != 108 && infoSize != 124)
    throw ImageError("BMP of an unknown header kind (" + std::to_string(infoSize) + " bytes) is not supported");
  readExactly(file, head + 16, infoSize - 4, "the header");
  const unsigned char* info = head + 12;
  const auto width = static_cast<std::int32_t>(le32(info + 4)), rawHeight = static_cast<std::int32_t>(le32(info + 8));
  const std::uint16_t bits = le16(info + 14);
  const std::uint32_t compression = le32(info + 16), used = le32(info + 32);
  if (le16(info + 12) != 1) throw ImageError("damaged BMP: the header's plane count is not 1");
  // Bit fields are taken when they are the usual 8-bit channels of a 32-bit pel.
  const bool usualFields = bits == 32 && infoSize >= 52 && le32(info + 40) == 0xFF0000u &&
                           le32(info + 44) == 0xFF00u && le32(info + 48) == 0xFFu;
  if (compression != 0 && !(compression == 3 && usualFields))
    throw ImageError("compressed BMP is not supported; save it uncompressed");
  if (bits != 8 && bits != 24 && bits != 32)
    throw ImageError(std::to_string(bits) + "-bit BMP is not supported; convert the image to 8-bit grey");
  if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN) throw ImageError("the image has no pels");
  const bool topDown = rawHeight < 0;
  const std::uint64_t height = topDown ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(rawHeight))
                                       : static_cast<std::uint64_t>(rawHeight);

  // The palette: 8-bit images only, up to 256 entries of blue, green, red, unused.
  std::uint64_t at = 14 + infoSize;
  unsigned char map[256] = {};
  bool colour = bits != 8;
  if (bits == 8) {
    const std::uint32_t entries = used == 0 ? 256 : used;
    if (entries > 256) throw ImageError("damaged BMP: a palette of more than 256 entries");
    unsigned char palette[256 * 4];
    if (dataAt < at + 4 * entries) throw ImageError("damaged BMP: the pels start inside the palette");
    readExactly(file, palette, 4 * entries, "the palette");
    at += 4 * entries;
    for (std::uint32_t i = 0; i < entries; ++i) {
      const unsigned char* e = palette + 4 * i;
      colour = colour || e[0] != e[1] || e[1] != e[2];
      map[i] = e[2];
    }
    if (colour && grey != ColourToGrey::eRefuse)
      for (std::uint32_t i = 0; i < entries; ++i) map[i] = greyOf(grey, palette[4 * i + 2], palette[4 * i + 1], palette[4 * i]);
  }
  if (colour) refuseColour("BMP", grey);
  checkDimensions(static_cast<std::uint64_t>(width), height, maxPels);
  if (dataAt < at) throw ImageError("damaged BMP: the pels start inside the header");
  skip(file, dataAt - at, "the header");
  const std::uint64_t bytes = bits / 8;
  const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bytes + 3) / 4 * 4;
  if (fileSize >= 0 && dataAt + stride * (height - 1) + static_cast<std::uint64_t>(width) * bytes >
                           static_cast<std::uint64_t>(fileSize))
    throw ImageError("truncated BMP: the file is too short for " + std::to_string(width) + " x " +
                     std::to_string(height) + " pels");

  GreyImage image;
  image.width = width;
  image.height = static_cast<long>(height);
  std::vector<unsigned char> row(static_cast<std::size_t>(stride));
  // Rows grow the image as they arrive, so a pipe that stops early costs only what it sent.
  image.pels.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(height * static_cast<std::uint64_t>(width), 1 << 24)));
  for (std::uint64_t r = 0; r < height; ++r) {
    readExactly(file, row.data(), static_cast<std::size_t>(r + 1 < height ? stride : static_cast<std::uint64_t>(width) * bytes), "the pels");
    const std::size_t start = image.pels.size();
    image.pels.resize(start + static_cast<std::size_t>(width));
    unsigned char* out = image.pels.data() + start;
    for (std::int32_t x = 0; x < width; ++x) {
      const unsigned char* p = row.data() + static_cast<std::size_t>(x) * bytes;
      out[x] = bits == 8 ? map[p[0]] : greyOf(grey, p[2], p[1], p[0]);
    }
  }
  if (!topDown) {  // rows were stored from the bottom up
    const auto side = static_cast<std::size_t>(width);
    for (std::size_t y = 0, n = static_cast<std::size_t>(height); y < n / 2; ++y)
      std::swap_ranges(image.pels.data() + y * side, image.pels.data() + (y + 1) * side,
                       image.pels.data() + (n - 1 - y) * side);
  }
  return image;
}

}  // namespace report::formats
