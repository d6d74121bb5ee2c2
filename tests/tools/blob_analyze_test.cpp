// Runs of the blob-analyze program on images written by the test, checked against a flood-fill labeller.
#include <blob/blob.h>

#include <report/demo_image.h>
#include <report/image_io.h>
#include "common/json_reader.h"
#include "base/messages.h"
#include "common/reference_labeller.h"
#include "tool_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace toolrun;
using testing::HasSubstr;
using report::GreyImage;
using Strings = std::vector<std::string>;

// Blobs and holes at four levels, an 8-connected diamond around a one-pel hole, parts touching the
// left and right edges, a bay open to the border (not a hole).
const Strings kPicture = {
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

GreyImage picture() {
  GreyImage image{static_cast<long>(kPicture[0].size()), static_cast<long>(kPicture.size()), {}};
  for (const std::string& row : kPicture)
    for (char c : row) image.pels.push_back(c == '#' ? 200 : 30);
  return image;
}

// q(path): path quoted for the shell, after a space.
std::string q(const std::string& path) { return " '" + path + "'"; }

// The names in folder, sorted.
Strings folderEntries(const std::string& folder) {
  Strings names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

void expectMatchesReference(const testjson::Value& blobs, const std::vector<reference::Blob>& expected) {
  ASSERT_EQ(blobs.items.size(), expected.size());
  const char* const keys[] = {"id", "parent", "label", "numChildren", "area", "imageBoundingBoxMinX",
                              "imageBoundingBoxMaxX", "imageBoundingBoxMinY", "imageBoundingBoxMaxY"};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const reference::Blob& r = expected[i];
    const long want[] = {r.id, r.parent, r.label, r.numChildren, r.area, r.minX, r.maxX, r.minY, r.maxY};
    for (std::size_t k = 0; k < std::size(keys); ++k)
      EXPECT_EQ(blobs[i][keys[k]].number, want[k]) << keys[k] << " of " << r.id;
    EXPECT_NEAR(blobs[i]["centerOfMassX"].number, r.sumX / static_cast<double>(r.area), 1e-12) << r.id;
    EXPECT_NEAR(blobs[i]["centerOfMassY"].number, r.sumY / static_cast<double>(r.area), 1e-12) << r.id;
  }
}

class BlobAnalyzeRun : public testing::Test {
 protected:
  void SetUp() override {
    report::writePng(png_, picture());
    report::writePgm(pgm_, picture());
    std::filesystem::create_directory(folder_);
  }
  void TearDown() override {
    for (const auto& path : {png_, pgm_, mask_, out_}) std::filesystem::remove(path);
    std::filesystem::remove_all(folder_);
  }
  // blobsOf(args): the blobs the program reports in JSON for the picture under args.
  testjson::Value blobsOf(const std::string& args) {
    const ToolRun run = runTool("--format json " + args + q(png_));
    EXPECT_EQ(run.status, 0) << args << "\n" << run.err;
    return run.status == 0 ? testjson::parse(run.out)["images"][0]["blobs"] : testjson::Value{};
  }
  const std::string png_ = tempPath("picture.png"), pgm_ = tempPath("picture.pgm");
  const std::string mask_ = tempPath("mask.pgm"), out_ = tempPath("out.json");
  const std::string folder_ = tempPath("folder");  // for outputs whose neighbours are checked
};

// ---- results ----

TEST_F(BlobAnalyzeRun, pngAndPgmAsJson_everyBlobAndHoleMatchesTheReference) {
  const ToolRun run = runTool("--format json" + q(png_) + q(pgm_));
  ASSERT_EQ(run.status, 0) << run.err;
  const auto doc = testjson::parse(run.out);
  for (std::size_t i = 0; i < 2; ++i) {
    const auto& image = doc["images"][i];
    EXPECT_EQ(image["file"].text, i == 0 ? png_ : pgm_);
    EXPECT_TRUE(image["width"].number == 26 && image["height"].number == 11);
    expectMatchesReference(image["blobs"], reference::blobs(picture()));
  }
  const auto& blobs = doc["images"][0]["blobs"];
  // The boundary measures: the 2 x 2 square's outline is its eight pel edges.
  int squares = 0;
  for (const auto& blob : blobs.items) {
    const double width = blob["imageBoundingBoxMaxX"].number - blob["imageBoundingBoxMinX"].number;
    if (blob["area"].number != 4 || width != 2) continue;
    ++squares;
    EXPECT_EQ(blob["numSteps"].number, 8);
    EXPECT_DOUBLE_EQ(blob["perimeter"].number, 0.94806 * (8 - 0.58579 * 4));
    EXPECT_GT(blob["acircularity"].number, 0);
    EXPECT_GT(blob["acircularityRms"].number, 1);
  }
  EXPECT_EQ(squares, 1);
  // Every measure of the library is reported under its name.
  for (int m = 0; const char* name = kfBlobMeasureName(static_cast<kcBlob::Measure>(m)); ++m)
    EXPECT_TRUE(blobs[0].has(name)) << name;
  // A whole-image analysis has no outline: its boundary measures are null, the others are there.
  const auto whole = blobsOf("--connectivity wholeImage");
  EXPECT_EQ(whole[0]["perimeter"].kind, testjson::Value::eNull);
  EXPECT_EQ(whole[0]["area"].kind, testjson::Value::eNumber);
}

TEST_F(BlobAnalyzeRun, maskOnLeftHalf_onlyBlobsThere_andTheInteriorTestWhenAsked) {
  const auto writeMask = [&](long end) {  // keeps the columns left of end
    GreyImage mask = picture();
    for (long i = 0; i < mask.width * mask.height; ++i) mask.pels[static_cast<std::size_t>(i)] = i % mask.width < end;
    report::writePgm(mask_, mask);
  };
  GreyImage masked = picture();
  for (long i = 0; i < masked.width * masked.height; ++i)
    if (i % masked.width >= 10) masked.pels[static_cast<std::size_t>(i)] = 0;
  writeMask(10);
  expectMatchesReference(blobsOf("--mask" + q(mask_)), reference::blobs(masked));
  // With --mask-interior the mask decides the interior test too: the ring is interior unless the
  // mask ends at its edge.
  for (const long maskEnd : {10L, 8L}) {
    writeMask(maskEnd);
    for (const bool maskInterior : {false, true}) {
      const auto blobs = blobsOf("--measures isInterior,imageBoundingBoxMinX --mask" + q(mask_) +
                                 (maskInterior ? " --mask-interior" : ""));
      ASSERT_EQ(blobs[0]["imageBoundingBoxMinX"].number, 1);
      EXPECT_EQ(blobs[0]["isInterior"].number, maskEnd == 10 || !maskInterior ? 1 : 0);
    }
  }
}

// A mask of another size fails its image, unless --mask-offset places it: then it masks where it
// lies.
TEST_F(BlobAnalyzeRun, maskOfAnotherSize_failsTheImage_unlessAnOffsetPlacesIt) {
  report::writePgm(mask_, GreyImage{10, 11, std::vector<unsigned char>(110, 1)});
  const ToolRun run = runTool("--format json --mask" + q(mask_) + " --output" + q(out_) + q(png_));
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr(png_ + ": the mask is 10 x 11 pels, the image 26 x 11"));
  EXPECT_THAT(testjson::parse(slurp(out_))["images"][0]["error"].text, HasSubstr("the mask is 10 x 11 pels"));
  for (const long left : {0L, 16L}) {
    GreyImage masked = picture();
    for (long i = 0; i < masked.width * masked.height; ++i)
      if (i % masked.width < left || i % masked.width >= left + 10) masked.pels[static_cast<std::size_t>(i)] = 0;
    expectMatchesReference(blobsOf("--mask" + q(mask_) + " --mask-offset " + std::to_string(left) + ",0"),
                           reference::blobs(masked));
  }
}

// The view: the filtered blobs of the plain listing, ordered by the sort measure; the table lists
// them flat in that order.
TEST_F(BlobAnalyzeRun, shown_listsTheFilteredBlobsInSortOrder) {
  const std::string measures = "--measures area,centerOfMassY ";
  std::vector<double> want, got;
  for (const auto& blob : blobsOf(measures).items) {
    const double area = blob["area"].number;
    if (area >= 2 && area <= 30 && blob["label"].number != 0) want.push_back(blob["id"].number);
  }
  double lastY = -1;
  for (const auto& blob :
       blobsOf(measures + "--shown --filter area:2:30 --filter label:0:0:exclude --sort centerOfMassY:asc").items) {
    got.push_back(blob["id"].number);
    EXPECT_GE(blob["centerOfMassY"].number, lastY);
    lastY = blob["centerOfMassY"].number;
  }
  ASSERT_GE(want.size(), 3u);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, want);

  const ToolRun table = runTool("--measures area --shown --no-sort --filter area:4:4" + q(png_));
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_THAT(table.out, testing::EndsWith("2 blobs and holes shown\nid  parent  label  numChildren  area\n"
                                           "2        0      1            0     4\n4        0      1            1     4\n"));
}

// The scene's settings reach the measures: a client transform maps them, the angle and exclusion
// change the oriented box as the library computes it.
TEST_F(BlobAnalyzeRun, sceneSettings_reachTheMeasures) {
  const std::string measures = "--measures area,centerOfMassX,centerOfMassY,boundingBoxWidth ";
  const auto plain = blobsOf(measures), client = blobsOf(measures + "--xform=2,0,0,3,10,-4"),
             turned = blobsOf(measures + "--angle=0.3 --exclude-pels 1");
  ASSERT_TRUE(client.items.size() == plain.items.size() && turned.items.size() == plain.items.size());
  std::size_t changed = 0;
  for (std::size_t i = 0; i < plain.items.size(); ++i) {
    const auto &a = plain[i], &b = client[i];
    EXPECT_DOUBLE_EQ(b["area"].number, 6 * a["area"].number);
    EXPECT_DOUBLE_EQ(b["centerOfMassX"].number, 2 * a["centerOfMassX"].number + 10);
    EXPECT_DOUBLE_EQ(b["centerOfMassY"].number, 3 * a["centerOfMassY"].number - 4);
    changed += turned[i]["boundingBoxWidth"].number != a["boundingBoxWidth"].number;
  }
  EXPECT_GT(changed, 0u);
}

TEST(BlobAnalyzeDemo, noImage_tableOfTheDemoImage) {
  const ToolRun run = runTool("");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::size_t blobs = reference::blobs(report::makeDemoImage()).size();
  EXPECT_THAT(run.out, testing::StartsWith("(demo image): 256 x 192, " + std::to_string(blobs) + " blobs and holes\n"
                                           "id  "));
  EXPECT_EQ(static_cast<std::size_t>(std::count(run.out.begin(), run.out.end(), '\n')), blobs + 2);
}

TEST(BlobAnalyzeVersion, version_theProjectsVersionOnOneLine_anywhereBeforeTheImages) {
  for (const char* args : {"--version", "--version no-such.png", "--threshold 999 --version"}) {
    const ToolRun run = runTool(args);
    EXPECT_EQ(run.status, 0) << args;
    EXPECT_EQ(run.out, "blob-analyze " BLOB_PROJECT_VERSION "\n") << args;
  }
}

// ---- failures and exit statuses ----

TEST_F(BlobAnalyzeRun, badOrTooLargeImage_othersReportedAndStatusOne) {
  const std::string bad = tempPath("bad.png");
  std::ofstream(bad) << "not an image";
  // The picture has 26 x 11 = 286 pels: at the limit, and over it.
  const ToolRun run = runTool("--max-pels 286 --format json --output" + q(out_) + q(png_) + q(bad) + q(pgm_));
  std::filesystem::remove(bad);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_THAT(run.err, HasSubstr(bad + ": not a PNG or PGM file"));
  const auto images = testjson::parse(slurp(out_))["images"];
  ASSERT_EQ(images.items.size(), 3u);
  EXPECT_EQ(images[0]["blobs"].items.size(), reference::blobs(picture()).size());
  EXPECT_THAT(images[1]["error"].text, HasSubstr("not a PNG or PGM"));
  EXPECT_EQ(images[2]["blobs"].items.size(), images[0]["blobs"].items.size());
  const ToolRun large = runTool("--max-pels 285" + q(png_));
  EXPECT_EQ(large.status, 1);
  EXPECT_THAT(large.err, HasSubstr("larger than the limit of 285 pels (see --max-pels)"));
}

// Status 2, the reason and no report; the library's refusals carry its own message, and no input
// is overwritten.
TEST_F(BlobAnalyzeRun, refusedCommandLines_statusTwoWithTheReason_inputsUnchanged) {
  using Msg = kc_BlobMessages;
  const auto library = [](std::wstring_view text) { return std::string(text.begin(), text.end()); };  // ASCII
  report::writePgm(mask_, picture());
  const std::string pngBytes = slurp(png_), maskBytes = slurp(mask_);
  const std::filesystem::path png(png_);
  const std::string otherSpelling = (png.parent_path() / "." / png.filename()).string();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"--threshold-percent 50,51,10", library(Msg::kTool[Msg::eTailSum])},
      {"--soft 20,20,0", library(Msg::kTool[Msg::eLowNotBelowHigh])},
      {"--prune -1", library(Msg::kTool[Msg::eMinPelsNegative])},
      {"--exclude-area -1", library(Msg::kSceneDesc[Msg::eExcludeAreaNegative])},
      {"--exclude-percent 50", library(Msg::kSceneDesc[Msg::eExcludePercentRange])},
      {"--shown --filter area:3:1", library(Msg::kSceneDesc[Msg::eFilterLimits])},
      {"--xform 1,2,2,4,0,0", "blob-analyze: The "},  // cannot be inverted
      {"--mask" + q(tempPath("absent.pgm")), "cannot open"},
      {"--max-pels 285 --mask" + q(mask_), "--mask " + mask_ + ": the image of 26 x 11 pels is larger"},
      {"--output" + q(otherSpelling) + q(pgm_), "would overwrite the input"},
      {"--mask" + q(mask_) + " --output" + q(mask_), "would overwrite the --mask " + mask_},
      {"--xform 1,0,0,nan,0,0", "--xform: 'nan' is not finite"},  // not "singular"
      {"--angle=-inf", "--angle: '-inf' is not finite"},
  };
  for (const auto& [args, message] : cases) {
    const ToolRun run = runTool("--format json " + args + q(png_));
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_THAT(run.err, HasSubstr(message)) << args;
    EXPECT_EQ(run.out, "") << args;
  }
  EXPECT_EQ(slurp(png_), pngBytes);
  EXPECT_EQ(slurp(mask_), maskBytes);
}

// ---- the output file ----

// A regular file is replaced whole and keeps its mode (a new one gets the umask's); standard output
// and a FIFO named as the output are written directly.
TEST_F(BlobAnalyzeRun, outputTargets_filesReplacedWithTheirMode_othersWrittenDirectly) {
  const mode_t umaskBits = umask(0);
  umask(umaskBits);
  const std::string old = folder_ + "/old.json", created = folder_ + "/new.json", fifo = folder_ + "/fifo";
  std::ofstream(old) << "old report\n";
  std::filesystem::permissions(old, std::filesystem::perms(0640));
  for (const auto& [target, mode] : {std::pair{old, 0640u}, {created, 0666u & ~umaskBits}}) {
    const ToolRun run = runTool("--format json --output" + q(target) + q(png_));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(testjson::parse(slurp(target))["images"][0]["width"].number, 26) << target;
    EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms(mode)) << target;
  }
  const ToolRun toStdout = runTool("--format json --output /dev/stdout" + q(png_));
  ASSERT_EQ(toStdout.status, 0) << toStdout.err;
  EXPECT_EQ(testjson::parse(toStdout.out)["images"][0]["width"].number, 26);

  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // the report fits the pipe's buffer
  ASSERT_GE(reader, 0);
  const ToolRun toFifo = runTool("--format json --measures area --output" + q(fifo) + q(png_));
  std::string received;
  char piece[4096];
  for (ssize_t got; (got = read(reader, piece, sizeof piece)) > 0;) received.append(piece, static_cast<std::size_t>(got));
  close(reader);
  ASSERT_EQ(toFifo.status, 0) << toFifo.err;
  EXPECT_EQ(testjson::parse(received)["images"][0]["width"].number, 26);
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  EXPECT_EQ(folderEntries(folder_), (Strings{"fifo", "new.json", "old.json"}));
}

// Outputs are compared by the file they will be, whether it exists yet or not, and refused before
// anything is written; so is an output over the file standard output writes the report to.
TEST_F(BlobAnalyzeRun, outputsNamingOneFile_refusedWritingNothing) {
  std::filesystem::create_directory(folder_ + "/sub");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"--output o.txt --features ./o.txt", "--output o.txt and --features ./o.txt name the same file"},
      {"--output pic.png --overlay ./pic.png", "--output pic.png and --overlay ./pic.png name the same file"},
      {"--label-image sub/../l.png --overlay l.png", "--overlay l.png and --label-image sub/../l.png name the same"},
      {"--features" + q(tempPath("stdout")), "is the file standard output writes the report to"},
  };
  for (const auto& [args, message] : cases) {
    const ToolRun run = runTool(args + q(png_), "cd" + q(folder_) + " && ");
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_THAT(run.err, HasSubstr(message)) << args;
    EXPECT_EQ(run.out, "") << args;
  }
  EXPECT_EQ(folderEntries(folder_), Strings{"sub"});
}

// Whether the target is new, replaced or a device written directly, a failed write leaves the
// folder as it was.
TEST_F(BlobAnalyzeRun, outputFailing_statusOneWithTheReason_nothingLeftBehind) {
  const std::string old = folder_ + "/old.json", full = folder_ + "/full";
  std::ofstream(old) << "old report\n";
  std::filesystem::create_symlink("/dev/full", full);
  // Under a 512-byte file size limit, with SIGXFSZ ignored, the report cannot be written whole.
  const std::string limited = "trap '' XFSZ; ulimit -f 1; ";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {folder_ + "/new.json", "File too large"},
      {old, "File too large"},
      {"/nonexistent/dir/out.json", "No such file or directory"},
      {full, "No space left on device"},
  };
  for (const auto& [output, reason] : cases) {
    const ToolRun run = runTool("--format json --output" + q(output) + q(png_) + q(pgm_), limited);
    EXPECT_EQ(run.status, 1) << output;
    EXPECT_EQ(run.err, "blob-analyze: cannot write " + output + ": " + reason + "\n");
  }
  EXPECT_EQ(folderEntries(folder_), (Strings{"full", "old.json"}));
  EXPECT_EQ(slurp(old), "old report\n");
  EXPECT_TRUE(std::filesystem::is_character_file(full));
}

}  // namespace
