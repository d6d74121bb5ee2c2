// blob-analyze --report: the diagnostics reports printed after the table, refused in other formats.
#include <report/image_io.h>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string tempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("blob_report_" + std::to_string(getpid()) + "_" + name)).string();
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs the program on args; the status and standard output.
std::pair<int, std::string> run(const std::string& args) {
  const std::string out = tempPath("stdout");
  const std::string command = "'" + std::string(BLOB_ANALYZE_EXE) + "' " + args + " >'" + out + "' 2>/dev/null";
  const int raw = std::system(command.c_str());
  std::string text = slurp(out);
  std::filesystem::remove(out);
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, text};
}

TEST(BlobAnalyzeReport, tableThenBothReports_otherFormatsRefused) {
  // A 2 x 1 bar at (1, 1): centre (2, 1.5), second moments (2^3 / 12, 2 / 12) about it, an
  // outline of 6 steps and 4 corners.
  const std::string image = tempPath("bar.pgm");
  report::writePgm(image, report::GreyImage{6, 3, {30, 30, 30, 30, 30, 30, 30, 200, 200, 30, 30, 30,  //
                                               30, 30, 30, 30, 30, 30}});
  const auto [status, out] = run("--report --measures area '" + image + "'");
  std::filesystem::remove(image);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, image + ": 6 x 3, 1 blob or hole\n"
                         "id  parent  label  numChildren  area\n"
                         "1        0      1            0     2\n"
                         "\nHard threshold = 128\n"
                         "\nConnectivity Kind  =  eGreyScale \nScale Value  = 1\nCleanup Kind  =  eNone \n"
                         "Number of Filters = 0\nNumber of Blobs = 1\n"
                         "\nBlob #1:\n  Center of Mass = ( 2 , 1.5 )\n  Area = 2\n  Perimeter = 3.4669\n"
                         "  Inertia = ( 0.666667 , 0.166667 )\n  Elongation = 4\n  Angle =0.000000 radian\n\n");
  for (const char* format : {"json", "csv"}) EXPECT_EQ(run(std::string("--report --format ") + format).first, 2);
}

}  // namespace
