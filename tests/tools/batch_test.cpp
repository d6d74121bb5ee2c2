// Batches: the progress line, and parallel runs that
// report exactly what a sequential run does, in input order.
#include "batch.h"
#include <report/image_io.h>
#include "tool_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace toolrun;
namespace fs = std::filesystem;

class Batch : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder_ + "/sub");
    // Image i holds i + 1 separate pels, so every report differs.
    const std::vector<std::string> names = {"b.png", "a.pgm", "c.PNG", "sub/d.png", "e.png", "f.pgm", "g.png"};
    for (std::size_t i = 0; i < names.size(); ++i) {
      report::GreyImage image{16, 4, std::vector<unsigned char>(64, 0)};
      for (std::size_t k = 0; k <= i; ++k) image.pels[2 * k + 16] = 255;
      const std::string path = folder_ + "/" + names[i];
      if (path.find(".pgm") != std::string::npos)
        report::writePgm(path, image);
      else
        report::writePng(path, image);
    }
    std::ofstream(folder_ + "/notes.txt") << "not an image";
    fs::create_directory(folder_ + "/empty");
  }
  void TearDown() override { fs::remove_all(folder_); }
  const std::string folder_ = tempPath("batch");
};

TEST_F(Batch, parallelRun_reportsLikeASequentialOneInInputOrder) {
  const ToolRun one = runTool("--format csv --measures area,centerOfMassX -j 1 --recursive '" + folder_ + "'");
  const ToolRun four = runTool("--format csv --measures area,centerOfMassX -j4 --recursive '" + folder_ + "'");
  ASSERT_EQ(one.status, 0) << one.err;
  ASSERT_EQ(four.status, 0) << four.err;
  EXPECT_EQ(four.out, one.out);
  EXPECT_EQ(four.err, "");  // no progress line when standard error is not a terminal
  EXPECT_EQ(std::count(one.out.begin(), one.out.end(), '\n'), 1 + (1 + 2 + 3 + 4 + 5 + 6 + 7));

  std::ofstream(folder_ + "/h.png") << "broken";
  const ToolRun failing = runTool("--format csv -j 3 '" + folder_ + "'");
  EXPECT_EQ(failing.status, 1);
  EXPECT_THAT(failing.err, testing::HasSubstr("h.png: not a PNG or PGM file"));
  EXPECT_EQ(runTool("-j 0 '" + folder_ + "'").status, 2);
}

TEST_F(Batch, threadsPerImage_sameReportOnAnyCount_jobsTimesThreadsWithinTheCores) {
  // Large enough to be split into bands: 640 x 1000 pels of bars, rings and specks.
  report::GreyImage image{640, 1000, std::vector<unsigned char>(640 * 1000, 0)};
  for (std::size_t i = 0; i < image.pels.size(); ++i) {
    const std::size_t x = i % 640, y = i / 640;
    if ((x / 7 + y / 13) % 5 == 0 || (x * 31 + y * 17) % 101 == 0) image.pels[i] = static_cast<unsigned char>(128 + y % 128);
  }
  const std::string path = folder_ + "/large.pgm";
  report::writePgm(path, image);
  const ToolRun one = runTool("--format csv --threads 1 '" + path + "'");
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_GT(std::count(one.out.begin(), one.out.end(), '\n'), 1000);
  EXPECT_EQ(runTool("--format csv --threads 3 '" + path + "'").out, one.out);
  EXPECT_EQ(runTool("--format csv '" + path + "'").out, one.out);
  EXPECT_EQ(runTool("--threads 0 '" + path + "'").status, 2);

  EXPECT_EQ(tool::threadsPerImage(0, 1, 8), 8u);
  EXPECT_EQ(tool::threadsPerImage(0, 3, 8), 2u);
  EXPECT_EQ(tool::threadsPerImage(6, 1, 8), 6u);
  EXPECT_EQ(tool::threadsPerImage(6, 2, 8), 4u);
  EXPECT_EQ(tool::threadsPerImage(2, 16, 8), 1u);
}

TEST(ProgressLine, text_showsCountRateAndTimeLeft) {
  EXPECT_EQ(tool::ProgressLine::text(0, 8, 0.0), "[........................] 0/8 images");
  EXPECT_EQ(tool::ProgressLine::text(6, 8, 3.0), "[##################......] 6/8 images  2.0/s  0:01 left");
  EXPECT_EQ(tool::ProgressLine::text(8, 8, 120.0), "[########################] 8/8 images  0.1/s  0:00 left");
}

}  // namespace
