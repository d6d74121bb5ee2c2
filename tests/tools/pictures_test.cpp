// blob-analyze's pictures: the overlay as SVG and PNG, the label image, and the README's picture.
#include "image_io.h"
#include "pictures.h"
#include "tool_run.h"

#include <png.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace toolrun;
using tool::GreyImage;

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

class Pictures : public testing::Test {
 protected:
  void SetUp() override { tool::writePng(input_, picture()); }
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

  const GreyImage labels = tool::readImage(labels_);
  const GreyImage in = picture();
  ASSERT_EQ(labels.width, in.width);
  for (std::size_t i = 0; i < in.pels.size(); ++i) EXPECT_EQ(labels.pels[i], in.pels[i] > 128 ? 1 : 0) << i;

  // PNG: enlarged; the square's border pels carry the boundary colour, its neighbours' far side not.
  ASSERT_EQ(runTool("--draw boundary --overlay '" + png_ + "' '" + input_ + "'").status, 0);
  const Rgb rgb = readRgb(png_);
  const int zoom = tool::overlayZoom(in.width, in.height);
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
  EXPECT_EQ(tool::readImage(input_).pels, picture().pels);
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
