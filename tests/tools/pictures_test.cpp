// blob-analyze's pictures: the overlay as SVG and PNG, the label image, the README's picture, a
// picture that fails alone.
#include <report/image_io.h>
#include <report/pictures.h>
#include "tool_run.h"

#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>

#include <png.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace toolrun;
using report::GreyImage;

// Blobs: a 2 x 2 square at (3, 2), a ring at (8, 1) around a one-pel hole.
const std::vector<std::string> kRows = {
    "............", "........###.", "...##...#.#.", "...##...###.", "............", "............",
};

GreyImage picture() {
  GreyImage image{static_cast<long>(kRows[0].size()), static_cast<long>(kRows.size()), {}};
  for (const std::string& row : kRows)
    for (char c : row) image.pels.push_back(c == '#' ? 220 : 10);
  return image;
}

struct Rgb {
  long width = 0, height = 0;
  std::vector<unsigned char> pels;
  bool is(long x, long y, unsigned char r, unsigned char g, unsigned char b) const {
    const std::size_t i = 3 * static_cast<std::size_t>(y * width + x);
    return pels[i] == r && pels[i + 1] == g && pels[i + 2] == b;
  }
};

Rgb readRgb(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_RGB;
  Rgb out{image.width, image.height, std::vector<unsigned char>(PNG_IMAGE_SIZE(image))};
  return png_image_finish_read(&image, nullptr, out.pels.data(), 0, nullptr) ? out : Rgb{};
}

std::string fromBase64(const std::string& text) {
  static const std::string kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bytes;
  std::uint32_t group = 0;
  int bits = 0;
  for (const char c : text) {
    if (c == '=') break;
    group = (group << 6) | static_cast<std::uint32_t>(kDigits.find(c));
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes += static_cast<char>((group >> bits) & 0xFF);
    }
  }
  return bytes;
}

class Pictures : public testing::Test {
 protected:
  void SetUp() override { report::writePng(input_, picture()); }
  void TearDown() override {
    for (const auto& path : {input_, svg_, png_, labels_}) std::filesystem::remove(path);
  }
  const std::string input_ = tempPath("picture_in.png"), svg_ = tempPath("overlay.svg");
  const std::string png_ = tempPath("overlay.png"), labels_ = tempPath("labels.png");
};

TEST_F(Pictures, overlaysAndLabelImage_showEveryBlob) {
  const ToolRun run = runTool("--draw boundary,label --overlay '" + svg_ + "' --label-image '" + labels_ + "' '" +
                              input_ + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string svg = slurp(svg_);
  EXPECT_THAT(svg, testing::HasSubstr("data:image/png;base64,"));
  const auto count = [&](const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = svg.find(what); at != std::string::npos; at = svg.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("<polyline"), 3u);  // the ring, the square and the hole: an outline and a label each
  EXPECT_EQ(count("<text"), 3u);
  // The embedded image is the input, whole.
  const std::size_t start = svg.find("base64,") + 7;
  const std::string text = svg.substr(start, svg.find('"', start) - start);
  EXPECT_EQ(text.size() % 4, 0u);
  const std::string embedded = tempPath("embedded.png");
  std::ofstream(embedded, std::ios::binary) << fromBase64(text);
  EXPECT_EQ(report::readImage(embedded).pels, picture().pels);
  std::filesystem::remove(embedded);

  const GreyImage labels = report::readImage(labels_);
  const GreyImage in = picture();
  ASSERT_EQ(labels.width, in.width);
  for (std::size_t i = 0; i < in.pels.size(); ++i) EXPECT_EQ(labels.pels[i], in.pels[i] > 128 ? 1 : 0) << i;

  // PNG: enlarged; the square's border pels carry the boundary colour, its neighbours' far side not.
  ASSERT_EQ(runTool("--draw boundary --overlay '" + png_ + "' '" + input_ + "'").status, 0);
  const Rgb rgb = readRgb(png_);
  const int zoom = report::overlayZoom(in.width, in.height);
  ASSERT_EQ(rgb.width, in.width * zoom);
  ASSERT_EQ(rgb.height, in.height * zoom);
  for (long pel = 0; pel < 4; ++pel) {
    const long x = 3 + pel % 2, y = 2 + pel / 2;
    bool cyan = false;
    for (long d = 0; d < zoom * zoom; ++d) cyan = cyan || rgb.is(x * zoom + d % zoom, y * zoom + d / zoom, 0, 255, 255);
    EXPECT_TRUE(cyan) << x << "," << y;
  }
  EXPECT_TRUE(rgb.is(0, 5 * zoom, 10, 10, 10));  // background far from every blob keeps its grey
}

TEST_F(Pictures, refusals_statusTwo) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"--draw boundary '" + input_ + "'", "add --overlay"},
      {"--overlay x.jpg '" + input_ + "'", "ending in .svg or .png"},
      {"--draw boundry --overlay '" + svg_ + "'", "unknown graphic 'boundry'"},
      {"--overlay '" + svg_ + "' '" + input_ + "' '" + input_ + "'", "at most one"},
      {"--label-image '" + input_ + "' '" + input_ + "'", "would overwrite the input"},
      {"--overlay '" + png_ + "' --label-image '" + png_ + "'", "name the same file"},
  };
  for (const auto& [args, message] : cases) {
    const ToolRun run = runTool(args);
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_THAT(run.err, testing::HasSubstr(message)) << args;
  }
  EXPECT_EQ(report::readImage(input_).pels, picture().pels);
}

// Wider than libpng's own limit of a million pels a side, the image is still pictured.
TEST_F(Pictures, imageWiderThanAMillionPels_picturedAtItsWidth) {
  constexpr long kWidth = 1000001;
  GreyImage wide{kWidth, 1, std::vector<unsigned char>(kWidth, 10)};
  wide.pels[3] = wide.pels[kWidth - 1] = 220;
  const std::string input = tempPath("wide.pgm");
  report::writePgm(input, wide);
  const ToolRun run = runTool("--format csv --measures area --overlay '" + png_ + "' --label-image '" + labels_ +
                              "' '" + input + "'");
  std::filesystem::remove(input);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 3);  // the header and two blobs
  const GreyImage labels = report::readImage(labels_);
  ASSERT_EQ(labels.width, kWidth);
  for (std::size_t i = 0; i < wide.pels.size(); ++i) ASSERT_EQ(labels.pels[i], wide.pels[i] > 128 ? 1 : 0) << i;
  // The overlay's header: width and height (big-endian), 8 bits, RGB.
  const std::string header = slurp(png_).substr(16, 10);
  EXPECT_EQ(header, std::string("\x00\x0f\x42\x41\x00\x00\x00\x01\x08\x02", 10));
}

// A picture that cannot be written fails alone: status 1 and its reason, the report and the other
// picture written, nothing left behind.
TEST_F(Pictures, pictureFailing_statusOne_reportAndOtherPictureKept) {
  const std::string folder = tempPath("pictures");
  std::filesystem::create_directory(folder);
  std::filesystem::create_symlink("/dev/full", folder + "/full.png");
  const ToolRun run = runTool("--measures area --overlay '" + folder + "/full.png' --label-image '" + folder +
                              "/labels.png' '" + input_ + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "blob-analyze: cannot write " + folder + "/full.png: No space left on device\n");
  EXPECT_THAT(run.out, testing::StartsWith(input_ + ": 12 x 6, 3 blobs and holes\n"));
  EXPECT_EQ(report::readImage(folder + "/labels.png").width, 12);
  std::vector<std::string> entries;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) entries.push_back(entry.path().filename());
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"full.png", "labels.png"}));
  std::filesystem::remove_all(folder);
}

// The picture the README shows is what the program makes of its demo image today.
TEST_F(Pictures, readmePicture_isRegenerated) {
  ASSERT_EQ(runTool("--overlay '" + png_ + "'").status, 0);
  const Rgb made = readRgb(png_), committed = readRgb(BLOB_SOURCE_DIR "/docs/demo-overlay.png");
  ASSERT_GT(made.width, 0);
  EXPECT_EQ(made.width, committed.width);
  EXPECT_EQ(made.height, committed.height);
  EXPECT_TRUE(made.pels == committed.pels) << "regenerate docs/demo-overlay.png with: blob-analyze --overlay "
                                               "docs/demo-overlay.png";
}

}  // namespace
