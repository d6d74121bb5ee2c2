// blob-analyze --stream against the whole image's report: the same blobs and values, from a file of
// either kind and from a pipe, each tree written once the row after it has been read.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tool_run.h"

namespace {

using namespace toolrun;

// rowsAfter(csv, fields): each data row of csv without its first fields fields, sorted.
std::vector<std::string> rowsAfter(const std::string& csv, int fields) {
  std::vector<std::string> rows;
  std::istringstream in(csv);
  std::string line;
  std::getline(in, line);  // the header
  while (std::getline(in, line)) {
    std::size_t at = 0;
    for (int k = 0; k < fields; ++k) at = line.find(',', at) + 1;
    rows.push_back(line.substr(at));
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

TEST(StreamRun, pgmPngAndPipe_sameBlobsAsTheWholeImage_treesWrittenAsTheyEnd) {
  std::mt19937 rng(34);
  report::GreyImage image{150, 220, std::vector<unsigned char>(150 * 220, 0)};
  for (int k = 0; k < 60; ++k) {  // frames and filled boxes: holes, nesting, blobs side by side
    const int x0 = static_cast<int>(rng() % 140), y0 = static_cast<int>(rng() % 210);
    const int x1 = x0 + 1 + static_cast<int>(rng() % static_cast<unsigned>(149 - x0)), y1 = y0 + 1 + static_cast<int>(rng() % 30);
    const bool frame = rng() % 2 == 0;
    const auto value = static_cast<unsigned char>(rng() % 2 ? 40 + rng() % 200 : 0);
    for (int y = y0; y <= std::min(y1, 219); ++y)
      for (int x = x0; x <= x1; ++x)
        if (!frame || y == y0 || y == y1 || x == x0 || x == x1) image.pels[static_cast<std::size_t>(y * 150 + x)] = value;
  }
  const std::string pgm = tempPath("stream.pgm"), png = tempPath("stream.png");
  report::writePgm(pgm, image);
  report::writePng(png, image);
  const std::string settings = " --format csv --soft 60,180,6 --prune 3";
  const ToolRun whole = runTool(settings + q(pgm));
  ASSERT_EQ(whole.status, 0) << whole.err;
  const ToolRun streamed = runTool("--stream" + settings + q(png));
  ASSERT_EQ(streamed.status, 0) << streamed.err;
  EXPECT_EQ(rowsAfter(streamed.out, 4), rowsAfter(whole.out, 3));  // tree,rows,id,parent / file,id,parent
  const ToolRun piped = runTool("--stream" + settings + " /dev/stdin", "cat" + q(pgm) + " | ");
  EXPECT_EQ(piped.out, streamed.out);
  const std::string wholeImage = " --format csv --connectivity wholeImage";
  EXPECT_EQ(rowsAfter(runTool("--stream" + wholeImage + q(png)).out, 4), rowsAfter(runTool(wholeImage + q(pgm)).out, 3));
  const std::string labelled = " --format csv --none --connectivity labelled";
  EXPECT_EQ(rowsAfter(runTool("--stream" + labelled + q(png)).out, 4), rowsAfter(runTool(labelled + q(pgm)).out, 3));
  // A tree's row ends at the row after its last, or later while the background around it is closed
  // in: never before, and the rows column never goes back.
  std::istringstream lines(streamed.out);
  std::string line;
  std::getline(lines, line);
  long lastRows = 0;
  while (std::getline(lines, line)) {
    const long rows = std::stol(line.substr(line.find(',') + 1));
    EXPECT_GE(rows, lastRows);
    lastRows = rows;
  }
  const ToolRun cut = runTool("--stream" + settings + " /dev/stdin", "head -c 9000" + q(pgm) + " | ");
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.err.find("truncated PGM"), std::string::npos) << cut.err;
  std::filesystem::remove(pgm);
  std::filesystem::remove(png);
}

}  // namespace
