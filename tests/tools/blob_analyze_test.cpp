// Runs of the blob-analyze program on images written by the test, checked against a flood-fill labeller.
#include <blob/blob.h>

#include "demo_image.h"
#include "image_io.h"
#include "json_reader.h"
#include "messages.h"
#include "reference_labeller.h"
#include "tool_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using namespace toolrun;
using tool::GreyImage;

// Blobs and holes at four levels, an 8-connected diamond around a one-pel hole, parts touching the
// left and right edges, a bay open to the border (not a hole).
const std::vector<std::string> kPicture = {
    "..........................",
    ".#######.....##...........",
    ".#.....#.....##....#......",
    ".#.###.#..........#.#.....",
    ".#.#.#.#...........#......",
    ".#.###.#..................",
    ".#.....#......#####.......",
    ".#######......#...#.......",
    "..............#####..#####",
    "#....................#...#",
    "##...................##..#",
};

GreyImage picture(const std::vector<std::string>& rows) {
  GreyImage image{static_cast<long>(rows[0].size()), static_cast<long>(rows.size()), {}};
  for (const std::string& row : rows) {
    for (char c : row) image.pels.push_back(c == '#' ? 200 : 30);
  }
  return image;
}

// The names in folder, sorted.
std::vector<std::string> folderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

void expectMatchesReference(const testjson::Value& blobs, const std::vector<reference::Blob>& expected) {
  ASSERT_EQ(blobs.items.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const reference::Blob& ref = expected[i];
    const auto& blob = blobs[i];
    SCOPED_TRACE("blob " + std::to_string(ref.id));
    EXPECT_EQ(blob["id"].number, ref.id);
    EXPECT_EQ(blob["parent"].number, ref.parent);
    EXPECT_EQ(blob["label"].number, ref.label);
    EXPECT_EQ(blob["numChildren"].number, ref.numChildren);
    EXPECT_EQ(blob["area"].number, ref.area);
    EXPECT_NEAR(blob["centerOfMassX"].number, ref.sumX / static_cast<double>(ref.area), 1e-12);
    EXPECT_NEAR(blob["centerOfMassY"].number, ref.sumY / static_cast<double>(ref.area), 1e-12);
    EXPECT_EQ(blob["imageBoundingBoxMinX"].number, ref.minX);
    EXPECT_EQ(blob["imageBoundingBoxMaxX"].number, ref.maxX);
    EXPECT_EQ(blob["imageBoundingBoxMinY"].number, ref.minY);
    EXPECT_EQ(blob["imageBoundingBoxMaxY"].number, ref.maxY);
  }
}

class BlobAnalyzeRun : public testing::Test {
 protected:
  void SetUp() override {
    tool::writePng(png_, picture(kPicture));
    tool::writePgm(pgm_, picture(kPicture));
    std::filesystem::create_directory(folder_);
  }
  void TearDown() override {
    for (const auto& path : {png_, pgm_, tempPath("out.json"), tempPath("mask.pgm")}) std::filesystem::remove(path);
    std::filesystem::remove_all(folder_);
  }
  const std::string png_ = tempPath("picture.png");
  const std::string pgm_ = tempPath("picture.pgm");
  const std::string folder_ = tempPath("folder");  // for outputs whose neighbours are checked
};

// ---- results ----

TEST_F(BlobAnalyzeRun, pngAsJson_everyBlobAndHoleMatchesTheReference) {
  const ToolRun run = runTool("--format json '" + png_ + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  const auto doc = testjson::parse(run.out);
  const auto& image = doc["images"][0];
  EXPECT_EQ(image["file"].text, png_);
  EXPECT_EQ(image["width"].number, 26);
  EXPECT_EQ(image["height"].number, 11);
  expectMatchesReference(image["blobs"], reference::blobs(picture(kPicture)));
  // The boundary measures: the 2 x 2 square's outline is its eight pel edges.
  int squares = 0;
  for (const auto& blob : image["blobs"].items) {
    if (blob["area"].number != 4 || blob["imageBoundingBoxMaxX"].number - blob["imageBoundingBoxMinX"].number != 2) continue;
    ++squares;
    EXPECT_EQ(blob["numSteps"].number, 8);
    EXPECT_DOUBLE_EQ(blob["perimeter"].number, 0.94806 * (8 - 0.58579 * 4));
    EXPECT_GT(blob["acircularity"].number, 0);
    EXPECT_GT(blob["acircularityRms"].number, 1);
  }
  EXPECT_EQ(squares, 1);
  // Every measure of the library is reported under its name.
  for (int m = 0; const char* name = kfBlobMeasureName(static_cast<kcBlob::Measure>(m)); ++m)
    EXPECT_TRUE(image["blobs"][0].has(name)) << name;
  // A whole-image analysis has no outline: its boundary measures are null, the others are there.
  const ToolRun whole = runTool("--format json --connectivity wholeImage '" + png_ + "'");
  ASSERT_EQ(whole.status, 0) << whole.err;
  const auto wholeDoc = testjson::parse(whole.out);
  const auto& blob = wholeDoc["images"][0]["blobs"][0];
  EXPECT_EQ(blob["perimeter"].kind, testjson::Value::eNull);
  EXPECT_EQ(blob["area"].kind, testjson::Value::eNumber);
}

TEST_F(BlobAnalyzeRun, pgmAsCsv_sameRowsAsTheReference) {
  const ToolRun run = runTool("--format=csv --measures area,imageBoundingBoxMinX '" + pgm_ + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  std::istringstream lines(run.out);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "file,id,parent,label,numChildren,area,imageBoundingBoxMinX");
  for (const reference::Blob& ref : reference::blobs(picture(kPicture))) {
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line, pgm_ + "," + std::to_string(ref.id) + "," + std::to_string(ref.parent) + "," +
                        std::to_string(ref.label) + "," + std::to_string(ref.numChildren) + "," +
                        std::to_string(ref.area) + "," + std::to_string(ref.minX));
  }
  EXPECT_FALSE(std::getline(lines, line));
}

TEST_F(BlobAnalyzeRun, maskOnLeftHalf_onlyBlobsThere) {
  GreyImage mask = picture(kPicture);
  GreyImage masked = picture(kPicture);
  for (long i = 0; i < mask.width * mask.height; ++i) {
    mask.pels[static_cast<std::size_t>(i)] = i % mask.width < 10 ? 1 : 0;
    if (i % mask.width >= 10) masked.pels[static_cast<std::size_t>(i)] = 0;
  }
  tool::writePgm(tempPath("mask.pgm"), mask);
  const ToolRun run = runTool("--format json --mask '" + tempPath("mask.pgm") + "' '" + png_ + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  expectMatchesReference(testjson::parse(run.out)["images"][0]["blobs"], reference::blobs(masked));
  // With --mask-interior the mask decides the interior test too: the ring is interior unless the
  // mask ends at its edge.
  for (const int maskEnd : {10, 8}) {
    for (long i = 0; i < mask.width * mask.height; ++i) mask.pels[static_cast<std::size_t>(i)] = i % mask.width < maskEnd;
    tool::writePgm(tempPath("mask.pgm"), mask);
    for (const bool maskInterior : {false, true}) {
      const ToolRun cut = runTool(std::string("--format json --measures isInterior,imageBoundingBoxMinX ") +
                                  (maskInterior ? "--mask-interior" : "") + " --mask '" + tempPath("mask.pgm") +
                                  "' '" + png_ + "'");
      ASSERT_EQ(cut.status, 0) << cut.err;
      const auto doc = testjson::parse(cut.out);
      const auto& ring = doc["images"][0]["blobs"][0];
      ASSERT_EQ(ring["imageBoundingBoxMinX"].number, 1);
      EXPECT_EQ(ring["isInterior"].number, maskEnd == 10 || !maskInterior ? 1 : 0);
    }
  }
}

// The view: the filtered blobs of the plain listing, ordered by the sort measure; the table lists
// them flat in that order.
TEST_F(BlobAnalyzeRun, shown_listsTheFilteredBlobsInSortOrder) {
  const std::string measures = "--measures area,centerOfMassY ";
  const ToolRun all = runTool("--format json " + measures + "'" + png_ + "'");
  const ToolRun view = runTool("--format json " + measures +
                               "--shown --filter area:2:30 --filter label:0:0:exclude --sort centerOfMassY:asc '" +
                               png_ + "'");
  ASSERT_EQ(all.status, 0) << all.err;
  ASSERT_EQ(view.status, 0) << view.err;
  const auto allDoc = testjson::parse(all.out), viewDoc = testjson::parse(view.out);
  std::vector<double> want, got;
  for (const auto& blob : allDoc["images"][0]["blobs"].items) {
    const double area = blob["area"].number;
    if (area >= 2 && area <= 30 && blob["label"].number != 0) want.push_back(blob["id"].number);
  }
  double lastY = -1;
  for (const auto& blob : viewDoc["images"][0]["blobs"].items) {
    got.push_back(blob["id"].number);
    EXPECT_GE(blob["centerOfMassY"].number, lastY);
    lastY = blob["centerOfMassY"].number;
  }
  ASSERT_GE(want.size(), 3u);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, want);

  const ToolRun table = runTool("--measures area --shown --no-sort --filter area:4:4 '" + png_ + "'");
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_THAT(table.out, testing::EndsWith("2 blobs and holes shown\nid  parent  label  numChildren  area\n"
                                           "2        0      1            0     4\n4        0      1            1     4\n"));
  const ToolRun refused = runTool("--shown --filter area:3:1 '" + png_ + "'");
  EXPECT_EQ(refused.status, 2);
  EXPECT_THAT(refused.err, testing::HasSubstr("The filter low limit must be less than or equal to the high limit."));
}

// The scene's settings reach the measures: a client transform maps them, the angle and exclusion
// change the oriented box as the library computes it; the library's refusals are status 2.
TEST_F(BlobAnalyzeRun, sceneSettings_reachTheMeasures) {
  const std::string measures = "--format json --measures area,centerOfMassX,centerOfMassY,boundingBoxWidth ";
  const ToolRun plain = runTool(measures + "'" + png_ + "'");
  const ToolRun client = runTool(measures + "--xform=2,0,0,3,10,-4 '" + png_ + "'");
  const ToolRun turned = runTool(measures + "--angle=0.3 --exclude-pels 1 '" + png_ + "'");
  ASSERT_EQ(client.status, 0) << client.err;
  ASSERT_EQ(turned.status, 0) << turned.err;
  const auto p = testjson::parse(plain.out), c = testjson::parse(client.out), t = testjson::parse(turned.out);
  std::size_t changed = 0;
  for (std::size_t i = 0; i < p["images"][0]["blobs"].items.size(); ++i) {
    const auto &a = p["images"][0]["blobs"][i], &b = c["images"][0]["blobs"][i];
    EXPECT_DOUBLE_EQ(b["area"].number, 6 * a["area"].number);
    EXPECT_DOUBLE_EQ(b["centerOfMassX"].number, 2 * a["centerOfMassX"].number + 10);
    EXPECT_DOUBLE_EQ(b["centerOfMassY"].number, 3 * a["centerOfMassY"].number - 4);
    changed += t["images"][0]["blobs"][i]["boundingBoxWidth"].number != a["boundingBoxWidth"].number;
  }
  EXPECT_GT(changed, 0u);
  for (const std::string refused : {"--exclude-percent 50", "--xform 1,2,2,4,0,0", "--exclude-area -1"}) {
    const ToolRun run = runTool(refused + " '" + png_ + "'");
    EXPECT_EQ(run.status, 2) << refused;
    EXPECT_THAT(run.err, testing::HasSubstr("blob-analyze: The ")) << refused;  // the library's own message
  }
}

TEST(BlobAnalyzeDemo, noImage_tableOfTheDemoImage) {
  const ToolRun run = runTool("");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::size_t blobs = reference::blobs(tool::makeDemoImage()).size();
  EXPECT_THAT(run.out, testing::StartsWith("(demo image): 256 x 192, " + std::to_string(blobs) + " blobs and holes\n"
                                           "id  "));
  EXPECT_EQ(static_cast<std::size_t>(std::count(run.out.begin(), run.out.end(), '\n')), blobs + 2);
}

// ---- several images, failures and exit statuses ----

TEST_F(BlobAnalyzeRun, oneBadImageAmongGood_othersReportedAndStatusOne) {
  const std::string bad = tempPath("bad.png");
  std::ofstream(bad) << "not an image";
  const ToolRun run = runTool("--format json --output '" + tempPath("out.json") + "' '" + png_ + "' '" + bad + "' '" +
                          pgm_ + "'");
  std::filesystem::remove(bad);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_THAT(run.err, testing::HasSubstr(bad + ": not a PNG or PGM file"));
  const auto images = testjson::parse(slurp(tempPath("out.json")))["images"];
  ASSERT_EQ(images.items.size(), 3u);
  EXPECT_EQ(images[0]["blobs"].items.size(), reference::blobs(picture(kPicture)).size());
  EXPECT_THAT(images[1]["error"].text, testing::HasSubstr("not a PNG or PGM"));
  EXPECT_EQ(images[2]["blobs"].items.size(), images[0]["blobs"].items.size());
}

TEST_F(BlobAnalyzeRun, maxPels_appliesToImagesAndMask) {
  tool::writePgm(tempPath("mask.pgm"), picture(kPicture));
  const std::string mask = " --mask '" + tempPath("mask.pgm") + "'";
  struct Case {
    std::string args;
    int status;
    std::string message;
  };
  const std::vector<Case> cases = {  // the picture has 26 x 11 = 286 pels
      {"--max-pels 286", 0, ""},
      {"--max-pels 285", 1, "larger than the limit of 285 pels (see --max-pels)"},
      {"--max-pels 285" + mask, 2, "--mask " + tempPath("mask.pgm") + ": the image of 26 x 11 pels is larger"},
  };
  for (const auto& [args, status, message] : cases) {
    const ToolRun run = runTool(args + " '" + png_ + "'");
    EXPECT_EQ(run.status, status) << args;
    EXPECT_THAT(run.err, testing::HasSubstr(message)) << args;
  }
}

TEST_F(BlobAnalyzeRun, refusedCommandLines_statusTwoWithTheMessage) {
  using Msg = kc_BlobMessages;
  const auto library = [](Msg::Tool entry) {  // the table's text is ASCII
    const std::wstring text = Msg::kTool[entry];
    return std::string(text.begin(), text.end());
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"--threshold-percent 50,51,10", library(Msg::eTailSum)},
      {"--soft 20,20,0", library(Msg::eLowNotBelowHigh)},
      {"--prune -1", library(Msg::eMinPelsNegative)},
      {"--mask '" + tempPath("absent.pgm") + "'", "cannot open"},
  };
  for (const auto& [args, message] : cases) {
    const ToolRun run = runTool(args + " '" + png_ + "'");
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_THAT(run.err, testing::HasSubstr(message)) << args;
    EXPECT_EQ(run.out, "") << args;
  }
}

// ---- the output file ----

TEST_F(BlobAnalyzeRun, outputNamingAnInput_statusTwoAndTheInputUnchanged) {
  const std::string mask = tempPath("mask.pgm");
  tool::writePgm(mask, picture(kPicture));
  const std::string pngBytes = slurp(png_), maskBytes = slurp(mask);
  const std::filesystem::path png(png_);
  const std::string otherSpelling = (png.parent_path() / "." / png.filename()).string();
  const std::vector<std::string> cases = {
      "--output '" + png_ + "' '" + png_ + "'",
      "--output '" + otherSpelling + "' '" + pgm_ + "' '" + png_ + "'",
      "--mask '" + mask + "' --output '" + mask + "' '" + png_ + "'",
  };
  for (const std::string& args : cases) {
    const ToolRun run = runTool("--format json " + args);
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_THAT(run.err, testing::HasSubstr("would overwrite the input")) << args;
    EXPECT_EQ(run.out, "") << args;
  }
  EXPECT_EQ(slurp(png_), pngBytes);
  EXPECT_EQ(slurp(mask), maskBytes);
}

TEST_F(BlobAnalyzeRun, outputReplaced_wholeAndWithTheTargetsMode) {
  const mode_t umaskBits = umask(0);
  umask(umaskBits);
  const std::string old = folder_ + "/old.json", created = folder_ + "/new.json";
  std::ofstream(old) << "old report\n";
  std::filesystem::permissions(old, std::filesystem::perms(0640));
  for (const auto& [target, mode] : {std::pair{old, 0640u}, {created, 0666u & ~umaskBits}}) {
    const ToolRun run = runTool("--format json --output '" + target + "' '" + png_ + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(testjson::parse(slurp(target))["images"][0]["width"].number, 26) << target;
    EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms(mode)) << target;
  }
  EXPECT_EQ(folderEntries(folder_), (std::vector<std::string>{"new.json", "old.json"}));
}

TEST_F(BlobAnalyzeRun, writeFailingPartWay_leavesNothingButTheMessage) {
  // Under a 512-byte file size limit, with SIGXFSZ ignored, the report cannot be written whole.
  const std::string limited = "trap '' XFSZ; ulimit -f 1; ";
  const std::string target = folder_ + "/report.json";
  for (const bool existed : {false, true}) {
    if (existed) std::ofstream(target) << "old report\n";
    const ToolRun run = runTool("--format json --output '" + target + "' '" + png_ + "' '" + pgm_ + "'", limited);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "blob-analyze: cannot write " + target + ": File too large\n");
    EXPECT_EQ(folderEntries(folder_), existed ? std::vector<std::string>{"report.json"} : std::vector<std::string>{});
    if (existed) {
      EXPECT_EQ(slurp(target), "old report\n");
    }
  }
}

TEST_F(BlobAnalyzeRun, outputNotWritable_statusOneWithTheReason) {
  const std::string full = folder_ + "/full";
  std::filesystem::create_symlink("/dev/full", full);  // a device: written directly, never replaced
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/nonexistent/dir/out.json", "No such file or directory"},
      {full, "No space left on device"},
  };
  for (const auto& [output, reason] : cases) {
    const ToolRun run = runTool("--output '" + output + "' '" + png_ + "'");
    EXPECT_EQ(run.status, 1) << output;
    EXPECT_EQ(run.err, "blob-analyze: cannot write " + output + ": " + reason + "\n");
  }
  EXPECT_TRUE(std::filesystem::is_character_file(full));
  EXPECT_EQ(folderEntries(folder_), std::vector<std::string>{"full"});
}

TEST_F(BlobAnalyzeRun, standardOutputOrFifoByName_writtenDirectly) {
  const ToolRun toStdout = runTool("--format json --output /dev/stdout '" + png_ + "'");
  ASSERT_EQ(toStdout.status, 0) << toStdout.err;
  EXPECT_EQ(testjson::parse(toStdout.out)["images"][0]["width"].number, 26);

  const std::string fifo = folder_ + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // the report fits the pipe's buffer
  ASSERT_GE(reader, 0);
  const ToolRun toFifo = runTool("--format json --measures area --output '" + fifo + "' '" + png_ + "'");
  std::string received;
  char piece[4096];
  for (ssize_t got; (got = read(reader, piece, sizeof piece)) > 0;) received.append(piece, static_cast<std::size_t>(got));
  close(reader);
  ASSERT_EQ(toFifo.status, 0) << toFifo.err;
  EXPECT_EQ(testjson::parse(received)["images"][0]["width"].number, 26);
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  EXPECT_EQ(folderEntries(folder_), std::vector<std::string>{"fifo"});
}

}  // namespace
