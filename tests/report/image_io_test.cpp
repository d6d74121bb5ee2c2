// Image files: round trips, every PNG and PGM form accepted, and refusals of bad or hostile files.
#include "common/temp_files.h"
#include <report/image_io.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

namespace {

using report::GreyImage;
using report::ImageError;
using report::readImage;
using testfiles::tempPath;

// readBytes(name, bytes, maxPels): the image read from a temporary file holding bytes.
GreyImage readBytes(const std::string& name, const std::string& bytes, std::uint64_t maxPels = report::kDefaultMaxPels) {
  const std::string path = tempPath(name);
  testfiles::writeFile(path, bytes);
  struct Remove { std::string path; ~Remove() { std::filesystem::remove(path); } } remove{path};
  return readImage(path, maxPels);
}

GreyImage randomImage(long width, long height, unsigned seed) {
  std::mt19937 random(seed);
  GreyImage image{width, height, {}};
  for (long i = 0; i < width * height; ++i) image.pels.push_back(static_cast<unsigned char>(random()));
  return image;
}

// ---- a PNG writer by hand, so tests can make any kind of file, damaged ones included ----

std::string be32(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

std::string chunk(const std::string& type, const std::string& data) {
  const std::string body = type + data;
  const auto crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
  return be32(static_cast<std::uint32_t>(data.size())) + body + be32(static_cast<std::uint32_t>(crc));
}

std::string deflate(const std::string& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string out(size, '\0');
  compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
           static_cast<uLong>(raw.size()));
  out.resize(size);
  return out;
}

// A PNG with the given header fields whose image data are `scanlines` (filter bytes included), or
// whose IDAT chunk holds `data` as given when compressed is false.
std::string pngFile(std::uint32_t width, std::uint32_t height, int depth, int colourType, int interlace,
                    const std::string& data, bool compress = true) {
  const std::string header = be32(width) + be32(height) + std::string{static_cast<char>(depth),
      static_cast<char>(colourType), 0, 0, static_cast<char>(interlace)};
  const std::string palette = colourType == 3 ? chunk("PLTE", std::string(6, '\x7f')) : "";
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + palette +
         chunk("IDAT", compress ? deflate(data) : data) + chunk("IEND", "");
}

// Scanlines (filter 0) of image at `depth` bits per pel (most significant first), in the seven
// interlace passes or in one.
std::string scanlines(const GreyImage& image, int depth, bool interlaced) {
  const std::vector<std::array<long, 4>> adam7 = {{0, 8, 0, 8}, {4, 8, 0, 8}, {0, 4, 4, 8}, {2, 4, 0, 4},
                                                  {0, 2, 2, 4}, {1, 2, 0, 2}, {0, 1, 1, 2}};
  std::string raw;
  for (const auto& [x0, dx, y0, dy] : interlaced ? adam7 : std::vector<std::array<long, 4>>{{0, 1, 0, 1}}) {
    for (long y = y0; y < image.height && x0 < image.width; y += dy) {
      std::string row;
      for (long x = x0, bit = 0; x < image.width; x += dx, bit += depth) {
        if (bit % 8 == 0) row += '\0';
        row.back() = static_cast<char>(row.back() | image.pels[static_cast<std::size_t>(y * image.width + x)]
                                                        << (8 - depth - bit % 8));
      }
      raw += '\0' + row;
    }
  }
  return raw;
}

// Written and read back at odd sizes; every grey PNG depth, in one or seven passes, keeps the
// stored values; PGM comments are skipped.
TEST(ImageIoRead, roundTripsAndEveryPngDepthInOneOrSevenPasses_keepStoredValues) {
  for (const auto& [width, height] : {std::pair{1L, 1L}, {37L, 5L}, {300L, 2L}, {3L, 257L}}) {
    const GreyImage image = randomImage(width, height, static_cast<unsigned>(width * 1000 + height));
    for (const auto write : {report::writePng, report::writePgm}) {
      const std::string path = tempPath("round");
      write(path, image);
      const GreyImage back = readImage(path);
      EXPECT_TRUE(back.width == width && back.height == height && back.pels == image.pels) << width << " x " << height;
      std::filesystem::remove(path);
    }
  }
  for (int depth : {1, 2, 4, 8})
    for (int interlace : {0, 1}) {
      GreyImage image = randomImage(11, 9, static_cast<unsigned>(depth));
      for (auto& pel : image.pels) pel = static_cast<unsigned char>(pel % (1 << depth));
      EXPECT_EQ(readBytes("forms.png", pngFile(11, 9, depth, 0, interlace, scanlines(image, depth, interlace))).pels,
                image.pels)
          << depth << "-bit, interlace " << interlace;
    }
  EXPECT_EQ(readBytes("comment.pgm", "P5 # made by hand\n2 # width\n1\n# maxval next\n7\n\x05\x07").pels,
            (std::vector<unsigned char>{5, 7}));
}

// ---- refusals ----

TEST(ImageIoRefusals, otherKindsAndDamagedFiles_refusedSayingWhatIsWrong) {
  const std::string rows = scanlines(randomImage(20, 20, 3), 8, false);
  const std::string good = pngFile(20, 20, 8, 0, 0, rows);
  const std::size_t iend = good.size() - 12;  // IEND is 12 bytes; the IDAT checksum precedes it
  const auto flipped = [&](std::size_t at) {
    std::string bytes = good;
    bytes[at] = static_cast<char>(bytes[at] ^ 0x55);
    return bytes;
  };
  std::string zlibHeader = deflate(rows), filter = rows;
  zlibHeader[0] = 0x12;
  filter[21] = 9;  // the filter byte of the second row
  // 100 x 100 one-bit pels pack into 13 bytes a row: a small file, but 10000 pels to store.
  const std::string oneBit = pngFile(100, 100, 1, 0, 0, std::string(100 * 14, '\0'));
  const std::string damaged = "damaged PNG: ", inHeader = "the file ends inside the header, before the image data";
  struct Refusal {
    std::string name, bytes, reason;
    std::uint64_t maxPels = report::kDefaultMaxPels;
  };
  const std::vector<Refusal> cases = {
      {"rgb.png", pngFile(2, 2, 8, 2, 0, std::string(2 * 7, '\0')), "colour PNG"},
      {"palette.png", pngFile(2, 2, 8, 3, 0, std::string(2 * 3, '\0')), "palette PNG"},
      {"deep.png", pngFile(2, 2, 16, 0, 0, std::string(2 * 5, '\0')), "16-bit"},
      {"cut-ihdr.png", good.substr(0, 20), damaged + inHeader},
      {"cut-idat.png", good.substr(0, iend - 30), damaged + "the file ends before the image data is complete"},
      {"cut-iend.png", good.substr(0, iend + 6),
       damaged + "the file ends after the image data, before its end chunk (IEND)"},
      {"crc.png", flipped(iend - 1), damaged + "a chunk does not match its checksum (IDAT: CRC error)"},
      {"fewrows.png", pngFile(20, 20, 8, 0, 0, rows.substr(0, 210)),
       damaged + "the image data end before the last row"},
      {"zlib.png", pngFile(20, 20, 8, 0, 0, zlibHeader, false),
       damaged + "the compressed image data are damaged (incorrect header check)"},
      {"filter.png", pngFile(20, 20, 8, 0, 0, filter), damaged + "a row of the image data has an unknown filter type"},
      // 16000 x 16000 pels (within the default ceiling) cannot come out of a few hundred bytes of deflate data.
      {"huge.png", pngFile(16000, 16000, 8, 0, 0, std::string(1000, '\0')), "cannot hold"},
      // Within the limit, but the data are missing: only what arrives is stored.
      {"missing.pgm", "P5 16000 16000 255\n" + std::string(100, 'x'), "truncated PGM"},
      {"colour.ppm", "P6 1 1 255\n\x01\x02\x03", "colour PPM"},
      {"deep.pgm", "P5 1 1 65535\n\x01\x02", "16-bit PGM"},
      {"maxzero.pgm", "P5 1 1 0\n", "maxval must be at least 1"},
      {"above.pgm", "P5 2 1 15\n\x0f\x10", "pel (1, 0) is above maxval 15"},
      {"text.png", "hello, world", "not an image file of a known kind"},
      {"onebit.png", oneBit, "100 x 100 pels is larger than the limit of 9999 pels (see --max-pels)", 9999},
      {"onebit.pgm", "P5 100 100 1\n", "larger than the limit of 9999 pels", 9999},
  };
  for (const Refusal& c : cases) {
    EXPECT_THAT([&] { readBytes(c.name, c.bytes, c.maxPels); },
                testing::ThrowsMessage<ImageError>(testing::HasSubstr(c.reason)))
        << c.name;
  }
  EXPECT_EQ(readBytes("onebit.png", oneBit, 10000).pels.size(), 10000u);
  EXPECT_THROW(readImage(tempPath("does_not_exist.png")), ImageError);
  EXPECT_THROW(readImage(std::filesystem::temp_directory_path().string()), ImageError);
}

}  // namespace
