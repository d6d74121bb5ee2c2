// blob-analyze's pictures: the overlay as SVG and PNG, the label image, the README's picture.
#include "tool_run.h"

#include <png.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

namespace {

using namespace toolrun;
using report::GreyImage;

// Blobs: a 2 x 2 square at (3, 2), a ring at (8, 1) around a one-pel hole.
const std::vector<std::string> kRows = {
    "............", "........###.", "...##...#.#.", "...##...###.", "............", "............",
};

GreyImage picture() { return toolrun::picture(kRows, 220, 10); }

struct Rgb {
  long width = 0, height = 0;
  std::vector<unsigned char> pels;
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
  void SetUp() override { report::writePng(input_, picture()); }
  void TearDown() override {
    for (const auto& path : {input_, svg_, png_, labels_}) std::filesystem::remove(path);
  }
  const std::string input_ = tempPath("picture_in.png"), svg_ = tempPath("overlay.svg");
  const std::string png_ = tempPath("overlay.png"), labels_ = tempPath("labels.png");
};

TEST_F(Pictures, overlaysAndLabelImage_showEveryBlob) {
  const ToolRun run = runTool("--draw boundary,label --overlay" + q(svg_) + " --label-image" + q(labels_) + q(input_));
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string svg = slurp(svg_);
  EXPECT_THAT(svg, testing::HasSubstr("data:image/png;base64,"));
  const auto count = [&](const char* what) {
    const std::regex pattern(what);
    return std::distance(std::sregex_iterator(svg.begin(), svg.end(), pattern), std::sregex_iterator());
  };
  EXPECT_EQ(count("<polyline"), 3);  // the ring, the square and the hole: an outline and a label each
  EXPECT_EQ(count("<text"), 3);

  GreyImage binary = picture();
  for (auto& pel : binary.pels) pel = pel > 128 ? 1 : 0;
  EXPECT_EQ(report::readImage(labels_).pels, binary.pels);
}

// The picture the README shows is what the program makes of its demo image today, pel for pel: the
// PNG overlay enlarged, its graphics drawn over the image.
TEST_F(Pictures, readmePicture_isRegenerated) {
  ASSERT_EQ(runTool("--overlay" + q(png_)).status, 0);
  const Rgb made = readRgb(png_), committed = readRgb(BLOB_SOURCE_DIR "/docs/demo-overlay.png");
  ASSERT_GT(made.width, 0);
  EXPECT_EQ(made.width, committed.width);
  EXPECT_EQ(made.height, committed.height);
  EXPECT_TRUE(made.pels == committed.pels) << "regenerate docs/demo-overlay.png with: blob-analyze --overlay "
                                               "docs/demo-overlay.png";
}

}  // namespace
