// TIFF, JPEG and BMP files written by libtiff, libjpeg and by hand give the pels they were written
// from; colour needs a grey rule; damaged, oversized and unsupported files are refused.
#include "common/temp_files.h"
#include <report/image_io.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <tiffio.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <tuple>

namespace {

using report::ColourToGrey;
using report::GreyImage;
using testfiles::slurp, testfiles::tempPath, testfiles::writeFile;

// An image of flat 8 x 8 blocks (which JPEG at quality 100 keeps exactly) of values below 2^bits.
GreyImage blocks(long width, long height, unsigned bits, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<unsigned char> values(static_cast<std::size_t>((width + 7) / 8 * ((height + 7) / 8)));
  for (auto& v : values) v = static_cast<unsigned char>(random() & ((1u << bits) - 1));
  GreyImage image{width, height, {}};
  for (long y = 0; y < height; ++y)
    for (long x = 0; x < width; ++x) image.pels.push_back(values[static_cast<std::size_t>(y / 8 * ((width + 7) / 8) + x / 8)]);
  return image;
}

struct TiffForm {
  unsigned bits = 8;
  std::uint16_t compression = COMPRESSION_NONE;
  bool tiled = false;
  bool big = false;
  std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
  unsigned samples = 1;  // 3: RGB of (v, v/2, 255 - v)
};

// writeTiff(path, pages, form): each page through libtiff, samples packed from the high bit.
void writeTiff(const std::string& path, const std::vector<GreyImage>& pages, const TiffForm& f) {
  TIFF* tif = TIFFOpen(path.c_str(), f.big ? "w8" : "w");
  ASSERT_NE(tif, nullptr);
  for (const GreyImage& page : pages) {
    const auto w = static_cast<std::uint32_t>(page.width), h = static_cast<std::uint32_t>(page.height);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, f.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, f.samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, f.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, f.compression);
    if (pages.size() > 1) TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    const std::uint32_t span = f.tiled ? 16 : w;  // pels a written row holds
    const std::uint32_t rowBytes = (span * f.bits * f.samples + 7) / 8;
    const auto packed = [&](std::uint32_t x0, std::uint32_t y, std::vector<unsigned char>& row) {
      row.assign(rowBytes, 0);
      for (std::uint32_t i = 0; f.bits <= 8 && i < span && y < h && x0 + i < w; ++i) {  // 16 bits: zeros
        unsigned v = page.pels[std::size_t{y} * w + x0 + i];
        if (f.photometric == PHOTOMETRIC_MINISWHITE) v = (1u << f.bits) - 1 - v;
        const unsigned s[3] = {v, v / 2, 255 - v};
        for (unsigned c = 0; c < f.samples; ++c) {
          const std::uint64_t bit = std::uint64_t{i * f.samples + c} * f.bits;
          row[bit / 8] = static_cast<unsigned char>(row[bit / 8] | s[c] << (8 - f.bits - bit % 8));
        }
      }
    };
    std::vector<unsigned char> row, tile;
    if (f.tiled) {
      TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16u);
      TIFFSetField(tif, TIFFTAG_TILELENGTH, 16u);
      for (std::uint32_t y0 = 0; y0 < h; y0 += 16)
        for (std::uint32_t x0 = 0; x0 < w; x0 += 16) {
          tile.clear();
          for (std::uint32_t y = y0; y < y0 + 16; ++y) {
            packed(x0, y, row);
            tile.insert(tile.end(), row.begin(), row.end());
          }
          ASSERT_GE(TIFFWriteTile(tif, tile.data(), x0, y0, 0, 0), 0);
        }
    } else {
      TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 5u);
      for (std::uint32_t y = 0; y < h; ++y) {
        packed(0, y, row);
        ASSERT_EQ(TIFFWriteScanline(tif, row.data(), y, 0), 1);
      }
    }
    ASSERT_EQ(TIFFWriteDirectory(tif), 1);
  }
  TIFFClose(tif);
}

// writeJpeg(path, image, components): quality 100, no chroma subsampling; 3 components: RGB of
// (v, v/2, 255 - v).
void writeJpeg(const std::string& path, const GreyImage& image, int components) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  jpeg_stdio_dest(&info, file);
  info.image_width = static_cast<JDIMENSION>(image.width);
  info.image_height = static_cast<JDIMENSION>(image.height);
  info.input_components = components;
  info.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 100, TRUE);
  for (int c = 0; c < components; ++c) info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = 1;
  jpeg_start_compress(&info, TRUE);
  std::vector<unsigned char> row;
  for (long y = 0; y < image.height; ++y) {
    row.clear();
    for (long x = 0; x < image.width; ++x) {
      const unsigned char v = image.pels[static_cast<std::size_t>(y * image.width + x)];
      if (components == 1) row.push_back(v);
      else row.insert(row.end(), {v, static_cast<unsigned char>(v / 2), static_cast<unsigned char>(255 - v)});
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::fclose(file);
}

// bmpBytes(image, bits, topDown): an uncompressed BMP with a BITMAPINFOHEADER; 8 bits with the
// identity grey palette, 24 bits as (v, v/2, 255 - v) in red, green, blue.
std::string bmpBytes(const GreyImage& image, unsigned bits, bool topDown) {
  const auto le = [](std::string& s, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) s += static_cast<char>(v >> (8 * i));
  };
  const std::uint32_t stride = (static_cast<std::uint32_t>(image.width) * bits / 8 + 3) / 4 * 4;
  const std::uint32_t palette = bits == 8 ? 1024 : 0, at = 54 + palette;
  std::string s = "BM";
  le(s, at + stride * static_cast<std::uint32_t>(image.height), 4), le(s, 0, 4), le(s, at, 4);
  le(s, 40, 4), le(s, static_cast<std::uint32_t>(image.width), 4);
  le(s, static_cast<std::uint32_t>(topDown ? -image.height : image.height), 4);
  le(s, 1, 2), le(s, bits, 2), le(s, 0, 4), le(s, 0, 4), le(s, 0, 4), le(s, 0, 4), le(s, 0, 4), le(s, 0, 4);
  for (std::uint32_t i = 0; i < palette / 4; ++i) le(s, i * 0x010101u, 4);
  for (long r = 0; r < image.height; ++r) {
    const long y = topDown ? r : image.height - 1 - r;
    std::string row;
    for (long x = 0; x < image.width; ++x) {
      const unsigned v = image.pels[static_cast<std::size_t>(y * image.width + x)];
      if (bits == 8) row += static_cast<char>(v);
      else row += {static_cast<char>(255 - v), static_cast<char>(v / 2), static_cast<char>(v)};
    }
    s += row + std::string(stride - row.size(), '\0');
  }
  return s;
}

// What a rule makes of the colour (v, v/2, 255 - v).
GreyImage asGrey(GreyImage image, ColourToGrey rule) {
  for (auto& v : image.pels) {
    const unsigned r = v, g = v / 2u, b = 255u - v;
    v = static_cast<unsigned char>(rule == ColourToGrey::eRed     ? r
                                   : rule == ColourToGrey::eGreen ? g
                                   : rule == ColourToGrey::eBlue  ? b
                                                                  : (299 * r + 587 * g + 114 * b + 500) / 1000);
  }
  return image;
}

void expectPels(const GreyImage& want, const GreyImage& got, const std::string& form) {
  EXPECT_EQ(got.width, want.width) << form;
  EXPECT_EQ(got.height, want.height) << form;
  EXPECT_TRUE(got.pels == want.pels) << form;
}

TEST(ImageFormats, everyForm_givesThePelsWrittenOrTheirGrey) {
  struct Case {
    std::string name;
    unsigned bits;
    std::function<void(const std::string&, const GreyImage&)> write;
    ColourToGrey grey = ColourToGrey::eRefuse;
  };
  const auto tiff = [](TiffForm f) { return [f](const std::string& p, const GreyImage& i) { writeTiff(p, {i}, f); }; };
  const auto bmp = [](unsigned bits, bool topDown) {
    return [=](const std::string& p, const GreyImage& i) { writeFile(p, bmpBytes(i, bits, topDown)); };
  };
  const std::vector<Case> cases = {
      {"strips.tif", 8, tiff({})},
      {"lzw.tif", 8, tiff({8, COMPRESSION_LZW})},
      {"deflate-tiles.tif", 8, tiff({8, COMPRESSION_ADOBE_DEFLATE, true})},
      {"packbits-big.tif", 8, tiff({8, COMPRESSION_PACKBITS, false, true})},
      {"1bit.tif", 1, tiff({1})},
      {"2bit-tiles.tif", 2, tiff({2, COMPRESSION_NONE, true})},
      {"4bit-white.tif", 4, tiff({4, COMPRESSION_LZW, false, false, PHOTOMETRIC_MINISWHITE})},
      {"rgb.tif", 8, tiff({8, COMPRESSION_LZW, false, false, PHOTOMETRIC_RGB, 3}), ColourToGrey::eRed},
      {"rgb-tiles.tif", 8, tiff({8, COMPRESSION_NONE, true, false, PHOTOMETRIC_RGB, 3}), ColourToGrey::eLuma},
      {"grey.jpg", 8, [](const std::string& p, const GreyImage& i) { writeJpeg(p, i, 1); }},
      {"bottom-up.bmp", 8, bmp(8, false)},
      {"top-down.bmp", 8, bmp(8, true)},
      {"colour.bmp", 8, bmp(24, false), ColourToGrey::eBlue},
      {"colour.png", 8,
       [](const std::string& p, const GreyImage& i) {
         std::ofstream out(p, std::ios::binary);
         report::PngWriter writer(out, i.width, i.height, 3);
         std::vector<unsigned char> rgb;
         for (long y = 0; y < i.height; ++y) {
           rgb.clear();
           for (long x = 0; x < i.width; ++x) {
             const unsigned char v = i.pels[static_cast<std::size_t>(y * i.width + x)];
             rgb.insert(rgb.end(), {v, static_cast<unsigned char>(v / 2), static_cast<unsigned char>(255 - v)});
           }
           writer.row(rgb.data());
         }
         writer.finish();
       },
       ColourToGrey::eGreen},
  };
  for (const Case& c : cases) {
    const GreyImage image = blocks(37, 29, c.bits, static_cast<unsigned>(c.name.size()));
    const std::string path = tempPath(c.name);
    c.write(path, image);
    SCOPED_TRACE(c.name);
    expectPels(c.grey == ColourToGrey::eRefuse ? image : asGrey(image, c.grey), report::readImage(path, 1 << 20, c.grey), c.name);
    if (c.grey != ColourToGrey::eRefuse) {
      EXPECT_THAT([&] { report::readImage(path); },
                  testing::ThrowsMessage<report::ImageError>(testing::HasSubstr("without --grey")))
          << c.name;
    }
    std::filesystem::remove(path);
  }
  // Colour JPEG is lossy even at quality 100 (the YCbCr round trip): each rule within 3 of its grey.
  const GreyImage image = blocks(37, 29, 8, 5);
  const std::string path = tempPath("colour.jpg");
  writeJpeg(path, image, 3);
  for (ColourToGrey rule : {ColourToGrey::eLuma, ColourToGrey::eRed, ColourToGrey::eGreen, ColourToGrey::eBlue}) {
    const GreyImage got = report::readImage(path, 1 << 20, rule), want = asGrey(image, rule);
    ASSERT_EQ(got.pels.size(), want.pels.size());
    int worst = 0;
    for (std::size_t i = 0; i < got.pels.size(); ++i) worst = std::max(worst, std::abs(got.pels[i] - want.pels[i]));
    EXPECT_LE(worst, 3) << static_cast<int>(rule);
  }
  std::filesystem::remove(path);
}

TEST(ImageFormats, multiPageTiff_readsEachPageAndCountsThem) {
  const std::string path = tempPath("pages.tif");
  const std::vector<GreyImage> pages = {blocks(20, 10, 8, 1), blocks(9, 31, 8, 2)};
  writeTiff(path, pages, {8, COMPRESSION_LZW});
  EXPECT_EQ(report::tiffPages(path), 2);
  expectPels(pages[0], report::readImage(path), "page 0");
  expectPels(pages[1], report::readImage(path, 1 << 20, ColourToGrey::eRefuse, 2), "page 2");
  EXPECT_THROW(report::readImage(path, 1 << 20, ColourToGrey::eRefuse, 3), report::ImageError);
  std::filesystem::remove(path);
}

TEST(ImageFormats, badFiles_areRefusedWithTheirReason) {
  const GreyImage image = blocks(64, 48, 8, 3);
  const std::string tif = tempPath("good.tif"), jpg = tempPath("good.jpg");
  writeTiff(tif, {image}, {});
  writeJpeg(jpg, image, 1);
  const std::string goodTif = slurp(tif), goodJpg = slurp(jpg), goodBmp = bmpBytes(image, 8, false);
  std::string rle = goodBmp;
  rle[30] = 1;  // BI_RLE8
  std::string bigBmp = goodBmp;
  bigBmp[19] = 0x40;  // width 64 + 2^14
  writeTiff(tif, {image}, {16});
  const std::vector<std::tuple<std::string, std::uint64_t, std::string>> cases = {
      {goodTif.substr(0, goodTif.size() / 2), 1 << 20, "damaged TIFF"},
      {goodTif, 1000, "larger than the limit"},
      {slurp(tif), 1 << 20, "16-bit TIFF"},
      {goodJpg.substr(0, goodJpg.size() / 2), 1 << 20, "damaged JPEG"},
      {goodJpg, 1000, "larger than the limit"},
      {goodBmp.substr(0, goodBmp.size() - 10), 1 << 20, "truncated BMP"},
      {goodBmp.substr(0, 40), 1 << 20, "truncated BMP"},
      {rle, 1 << 20, "compressed BMP"},
      {bigBmp, 1u << 30, "truncated BMP"},
      {bigBmp, 100000, "larger than the limit"},
  };
  const std::string path = tempPath("bad");
  for (const auto& [bytes, maxPels, reason] : cases) {
    writeFile(path, bytes);
    const std::uint64_t limit = maxPels;  // clang 14 captures no structured binding
    EXPECT_THAT([&] { report::readImage(path, limit); },
                testing::ThrowsMessage<report::ImageError>(testing::HasSubstr(reason)))
        << reason;
  }
  EXPECT_THAT([&] { report::readImage(jpg, 1 << 20, ColourToGrey::eRefuse, 2); },
              testing::ThrowsMessage<report::ImageError>(testing::HasSubstr("not a TIFF")));
  for (const std::string& p : {tif, jpg, path}) std::filesystem::remove(p);
}

// The image fuzzer's seeds, those it found included, are read or refused in every build (here under
// the sanitizers too); the made ones of every form read.
TEST(ImageFormats, fuzzSeeds_readOrRefused) {
  int read = 0;
  for (const auto& entry : std::filesystem::directory_iterator(BLOB_IMAGE_CORPUS)) {
    try {
      const std::string path = entry.path().string();
      read += report::readImage(path, 1 << 20, ColourToGrey::eLuma, report::tiffPages(path) > 1 ? 2 : 0).height > 0;
    } catch (const report::ImageError&) {
      EXPECT_THAT(entry.path().filename().string(), testing::StartsWith("found-"));
    }
  }
  EXPECT_GE(read, 15);
}

}  // namespace
