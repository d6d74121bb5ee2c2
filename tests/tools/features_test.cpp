// blob-analyze --features: one chain per blob the report lists, on the pels' outlines.
#include "common/json_reader.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace toolrun;

// A ring around a one-pel hole, and a single pel.
const std::vector<std::string> kPicture = {"......", ".###..", ".#.#.#", ".###..", "......"};

// foreground(x, y): the picture's pel, background beyond its edges.
bool foreground(long x, long y) {
  return x >= 0 && y >= 0 && y < static_cast<long>(kPicture.size()) && x < static_cast<long>(kPicture[0].size()) &&
         kPicture[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] == '#';
}

class BlobAnalyzeFeatures : public testing::Test {
 protected:
  void SetUp() override { report::writePng(png_, picture(kPicture, 255, 0)); }
  void TearDown() override {
    for (const auto& path : {png_, features_}) std::filesystem::remove(path);
  }
  const std::string png_ = tempPath("picture.png"), features_ = tempPath("features.json");
};

// Directions point into blobs and out of holes, so in this picture (no pel touches another only at
// a corner) always from a background pel towards a foreground one.
TEST_F(BlobAnalyzeFeatures, oneChainPerListedBlob_alongItsOutline) {
  for (const std::string view : {"", "--shown --filter area:1:1 "}) {
    SCOPED_TRACE(view);
    const ToolRun run =
        runTool("--format json --measures area,numSteps " + view + "--features" + q(features_) + q(png_));
    ASSERT_EQ(run.status, 0) << run.err;
    const auto report = testjson::parse(run.out), doc = testjson::parse(slurp(features_));
    const auto &blobs = report["images"][0]["blobs"], &chains = doc["images"][0]["chains"];
    EXPECT_EQ(doc["images"][0]["file"].text, png_);
    ASSERT_EQ(chains.items.size(), blobs.items.size());
    ASSERT_EQ(blobs.items.size(), view.empty() ? 3u : 2u);
    for (std::size_t i = 0; i < blobs.items.size(); ++i) {
      const auto& chain = chains[i];
      const auto& points = chain["points"].items;
      EXPECT_EQ(chain["blob"].number, blobs[i]["id"].number);
      EXPECT_EQ(chain["sense"].text, blobs[i]["label"].number != 0 ? "forward" : "reverse");
      ASSERT_EQ(static_cast<double>(points.size()), blobs[i]["numSteps"].number);
      ASSERT_EQ(chain["directions"].items.size(), points.size());
      for (std::size_t k = 0; k < points.size(); ++k) {
        const double x = points[k][0].number, y = points[k][1].number;
        const auto& next = points[(k + 1) % points.size()];
        EXPECT_EQ(std::fabs(next[0].number - x) + std::fabs(next[1].number - y), 1.0) << "point " << k;
        const double a = chain["directions"][k].number;
        ASSERT_EQ(chain["directions"][k].kind, testjson::Value::eNumber);
        const auto pel = [&](double side) {
          return foreground(std::lround(std::floor(x + side * std::cos(a))),
                            std::lround(std::floor(y + side * std::sin(a))));
        };
        EXPECT_TRUE(pel(0.5) && !pel(-0.5)) << "point " << k;
      }
    }
  }
}

}  // namespace
