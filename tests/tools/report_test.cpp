// blob-analyze --report: the diagnostics reports printed after the table, refused in other formats.
#include "tool_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

using namespace toolrun;

// A 2 x 1 bar at (1, 1): centre (2, 1.5), second moments (2^3 / 12, 2 / 12) about it, an outline
// of 6 steps and 4 corners.
TEST(BlobAnalyzeReport, tableThenBothReports_otherFormatsRefused) {
  const std::string image = tempPath("bar.pgm");
  report::writePgm(image, picture({"......", ".##...", "......"}, 200, 30));
  const ToolRun run = runTool("--report --measures area '" + image + "'");
  std::filesystem::remove(image);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, image + ": 6 x 3, 1 blob or hole\n"
                             "id  parent  label  numChildren  area\n"
                             "1        0      1            0     2\n"
                             "\nHard threshold = 128\n"
                             "\nConnectivity Kind  =  eGreyScale \nScale Value  = 1\nCleanup Kind  =  eNone \n"
                             "Number of Filters = 0\nNumber of Blobs = 1\n"
                             "\nBlob #1:\n  Center of Mass = ( 2 , 1.5 )\n  Area = 2\n  Perimeter = 3.4669\n"
                             "  Inertia = ( 0.666667 , 0.166667 )\n  Elongation = 4\n  Angle =0.000000 radian\n\n");
  for (const char* format : {"json", "csv"}) EXPECT_EQ(runTool(std::string("--report --format ") + format).status, 2);
}

}  // namespace
