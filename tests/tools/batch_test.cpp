// Batches: the progress line, and parallel runs that report exactly what a sequential run does,
// in input order.
#include "batch.h"
#include "tool_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace toolrun;

// Image i of a folder holds i + 1 separate pels, so every report differs; a broken file fails
// alone. (That threads per image change nothing is the library's promise, BlobAnalysis_segmentationKinds.)
TEST(Batch, jobs_reportLikeASequentialRunInInputOrder) {
  const std::string folder = tempPath("batch");
  std::filesystem::create_directories(folder + "/sub");
  const std::vector<std::string> names = {"b.png", "a.pgm", "c.PNG", "sub/d.png", "e.png", "f.pgm", "g.png"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    report::GreyImage image{16, 4, std::vector<unsigned char>(64, 0)};
    for (std::size_t k = 0; k <= i; ++k) image.pels[2 * k + 16] = 255;
    (names[i].ends_with(".pgm") ? report::writePgm : report::writePng)(folder + "/" + names[i], image);
  }
  std::ofstream(folder + "/notes.txt") << "not an image";
  const std::string args = "--format csv --measures area,centerOfMassX --recursive '" + folder + "'";
  const ToolRun one = runTool("-j 1 " + args), four = runTool("-j4 " + args);
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(four.out, one.out);
  EXPECT_EQ(four.err, "");  // no progress line when standard error is not a terminal
  EXPECT_EQ(std::count(one.out.begin(), one.out.end(), '\n'), 1 + (1 + 2 + 3 + 4 + 5 + 6 + 7));
  std::ofstream(folder + "/h.png") << "broken";
  const ToolRun failing = runTool("--format csv -j 3 '" + folder + "'");
  EXPECT_EQ(failing.status, 1);
  EXPECT_THAT(failing.err, testing::HasSubstr("h.png: not an image file of a known kind"));
  std::filesystem::remove_all(folder);
}

// Folders take every known image kind; a TIFF's pages are images of their own, FILE#PAGE; colour
// needs --grey.
TEST(Batch, otherFormatsAndTiffPages_areImagesOfTheirOwn) {
  const std::string folder = tempPath("formats"), seeds = BLOB_SOURCE_DIR "/tests/fuzz/image_corpus/";
  std::filesystem::create_directories(folder);
  for (const char* seed : {"bits4-packbits-pages.tif", "grey.jpg", "grey.bmp", "rgb.png"})
    std::filesystem::copy_file(seeds + seed, folder + "/" + seed);
  const std::string args = "--format json --measures area --threshold 1 '" + folder + "'";
  const ToolRun one = runTool("--grey luma -j 1 " + args), three = runTool("--grey luma -j 3 " + args);
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(three.out, one.out);
  for (const char* name : {"pages.tif#1\"", "pages.tif#2\"", "grey.bmp\"", "grey.jpg\"", "rgb.png\""})
    EXPECT_THAT(one.out, testing::HasSubstr(name));
  // A pipe is not looked into for pages: its bytes reach the reader whole.
  const ToolRun piped = runTool("--format csv /dev/stdin", "cat '" + folder + "/grey.jpg' | ");
  EXPECT_THAT(piped.out, testing::HasSubstr("/dev/stdin,1,")) << piped.err;
  const ToolRun colour = runTool(args);
  EXPECT_EQ(colour.status, 1);
  EXPECT_THAT(colour.err, testing::HasSubstr("rgb.png: colour PNG is not supported without --grey"));
  std::filesystem::remove_all(folder);
}

// Jobs times threads stays within the cores; an explicit count is kept when it fits.
TEST(Batch, threadsPerImageAndProgressLine) {
  EXPECT_EQ(tool::threadsPerImage(0, 1, 8), 8u);
  EXPECT_EQ(tool::threadsPerImage(0, 3, 8), 2u);
  EXPECT_EQ(tool::threadsPerImage(6, 1, 8), 6u);
  EXPECT_EQ(tool::threadsPerImage(6, 2, 8), 4u);
  EXPECT_EQ(tool::threadsPerImage(2, 16, 8), 1u);
  EXPECT_EQ(tool::ProgressLine::text(0, 8, 0.0), "[........................] 0/8 images");
  EXPECT_EQ(tool::ProgressLine::text(6, 8, 3.0), "[##################......] 6/8 images  2.0/s  0:01 left");
  EXPECT_EQ(tool::ProgressLine::text(8, 8, 120.0), "[########################] 8/8 images  0.1/s  0:00 left");
}

}  // namespace
