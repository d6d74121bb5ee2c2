// Runs of the blob-analyze program on images written by the test, checked against a flood-fill labeller,
// and its diagnostics reports, chains and pictures.
#include <blob/blob.h>

#include "common/json_reader.h"
#include "base/messages.h"
#include "common/reference_labeller.h"
#include "tool_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
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

GreyImage picture() { return toolrun::picture(kPicture, 200, 30); }

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
  // Every measure of the library is reported under its name.
  for (int m = 0; const char* name = kfBlobMeasureName(static_cast<kcBlob::Measure>(m)); ++m)
    EXPECT_TRUE(doc["images"][0]["blobs"][0].has(name)) << name;
}

// A mask keeps the blobs where it lies: of the picture's size, or placed by --mask-offset (of
// another size unplaced, it fails its image). With --mask-interior it decides the interior test
// too: the ring is not interior when the mask ends at its edge.
TEST_F(BlobAnalyzeRun, mask_onlyBlobsWhereItLies_andTheInteriorTestWhenAsked) {
  const auto masked = [](long left, long end) {  // the picture with the columns outside [left, end) cleared
    GreyImage image = picture();
    for (long i = 0; i < image.width * image.height; ++i)
      if (i % image.width < left || i % image.width >= end) image.pels[static_cast<std::size_t>(i)] = 0;
    return image;
  };
  const auto writeMask = [&](long end) {  // keeps the columns left of end
    GreyImage mask{26, 11, {}};
    for (long i = 0; i < 26 * 11; ++i) mask.pels.push_back(i % 26 < end);
    report::writePgm(mask_, mask);
  };
  writeMask(10);
  expectMatchesReference(blobsOf("--mask" + q(mask_)), reference::blobs(masked(0, 10)));
  writeMask(8);
  for (const bool maskInterior : {false, true}) {
    const auto blobs = blobsOf("--measures isInterior,imageBoundingBoxMinX --mask" + q(mask_) +
                               (maskInterior ? " --mask-interior" : ""));
    ASSERT_EQ(blobs[0]["imageBoundingBoxMinX"].number, 1);
    EXPECT_EQ(blobs[0]["isInterior"].number, maskInterior ? 0 : 1);
  }
  report::writePgm(mask_, GreyImage{10, 11, std::vector<unsigned char>(110, 1)});
  const ToolRun run = runTool("--format json --mask" + q(mask_) + " --output" + q(out_) + q(png_));
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr(png_ + ": the mask is 10 x 11 pels, the image 26 x 11"));
  EXPECT_THAT(testjson::parse(slurp(out_))["images"][0]["error"].text, HasSubstr("the mask is 10 x 11 pels"));
  for (const long left : {0L, 16L})
    expectMatchesReference(blobsOf("--mask" + q(mask_) + " --mask-offset " + std::to_string(left) + ",0"),
                           reference::blobs(masked(left, left + 10)));
}

// The view: the filtered blobs (here every blob, no hole) ordered by the sort measure; the table
// lists them flat in that order.
TEST_F(BlobAnalyzeRun, shown_listsTheFilteredBlobsInSortOrder) {
  const auto reference = reference::blobs(picture());
  const auto shown = blobsOf("--measures area --shown --filter label:0:0:exclude --sort area:desc").items;
  const auto blobs = std::count_if(reference.begin(), reference.end(), [](auto& b) { return b.label == 1; });
  ASSERT_EQ(shown.size(), static_cast<std::size_t>(blobs));
  for (std::size_t i = 0; i < shown.size(); ++i)
    EXPECT_TRUE(shown[i]["label"].number == 1 && (i == 0 || shown[i]["area"].number <= shown[i - 1]["area"].number));
  const ToolRun table = runTool("--measures area --shown --no-sort --filter area:4:4" + q(png_));
  EXPECT_THAT(table.out, testing::EndsWith("2 blobs and holes shown\nid  parent  label  numChildren  area\n"
                                           "2        0      1            0     4\n"
                                           "4        0      1            1     4\n"));
}

// --report: the diagnostics reports after the table. A 2 x 1 bar at (1, 1): centre (2, 1.5),
// second moments (2^3 / 12, 2 / 12) about it, an outline of 6 steps and 4 corners.
TEST_F(BlobAnalyzeRun, report_tableThenBothDiagnosticsReports) {
  const std::string image = folder_ + "/bar.pgm";
  report::writePgm(image, toolrun::picture({"......", ".##...", "......"}, 200, 30));
  const ToolRun run = runTool("--report --measures area" + q(image));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, image + ": 6 x 3, 1 blob or hole\n"
                             "id  parent  label  numChildren  area\n"
                             "1        0      1            0     2\n"
                             "\nHard threshold = 128\n"
                             "\nConnectivity Kind  =  eGreyScale \nScale Value  = 1\nCleanup Kind  =  eNone \n"
                             "Number of Filters = 0\nNumber of Blobs = 1\n"
                             "\nBlob #1:\n  Center of Mass = ( 2 , 1.5 )\n  Area = 2\n  Perimeter = 3.4669\n"
                             "  Inertia = ( 0.666667 , 0.166667 )\n  Elongation = 4\n  Angle =0.000000 radian\n\n");
}

// --features: one chain per blob the report lists, on the pels' outlines, here of a ring around a
// one-pel hole and a single pel. Directions point into blobs and out of holes, so in this picture
// (no pel touches another only at a corner) always from a background pel towards a foreground one.
TEST_F(BlobAnalyzeRun, features_oneChainPerListedBlob_alongItsOutline) {
  const Strings rows = {"......", ".###..", ".#.#.#", ".###..", "......"};
  const auto foreground = [&](long x, long y) {  // background beyond the edges
    return x >= 0 && y >= 0 && y < static_cast<long>(rows.size()) && x < static_cast<long>(rows[0].size()) &&
           rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] == '#';
  };
  const std::string png = folder_ + "/ring.png", features = folder_ + "/features.json";
  report::writePng(png, toolrun::picture(rows, 255, 0));
  for (const std::string view : {"", "--shown --filter area:1:1 "}) {
    SCOPED_TRACE(view);
    const ToolRun run = runTool("--format json --measures area,numSteps " + view + "--features" + q(features) + q(png));
    ASSERT_EQ(run.status, 0) << run.err;
    const auto report = testjson::parse(run.out), doc = testjson::parse(slurp(features));
    const auto &blobs = report["images"][0]["blobs"], &chains = doc["images"][0]["chains"];
    EXPECT_EQ(doc["images"][0]["file"].text, png);
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

// ---- pictures ----

// The SVG overlay holds the image and an outline and a label for every blob and hole; the label
// image holds each pel's label.
TEST_F(BlobAnalyzeRun, overlayAndLabelImage_showEveryBlob) {
  const std::string svg = folder_ + "/overlay.svg", labels = folder_ + "/labels.png";
  const ToolRun run = runTool("--draw boundary,label --overlay" + q(svg) + " --label-image" + q(labels) + q(png_));
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string text = slurp(svg);
  EXPECT_THAT(text, HasSubstr("data:image/png;base64,"));
  const auto count = [&](const char* what) {
    const std::regex pattern(what);
    return std::distance(std::sregex_iterator(text.begin(), text.end(), pattern), std::sregex_iterator());
  };
  const auto blobs = static_cast<long>(reference::blobs(picture()).size());
  EXPECT_EQ(count("<polyline"), blobs);
  EXPECT_EQ(count("<text"), blobs);
  GreyImage binary = picture();
  for (auto& pel : binary.pels) pel = pel > 128 ? 1 : 0;
  EXPECT_EQ(report::readImage(labels).pels, binary.pels);
}

// The picture the README shows is what the program makes of its demo image today, pel for pel: the
// PNG overlay enlarged, its graphics drawn over the image; compared a colour channel at a time.
TEST_F(BlobAnalyzeRun, readmePicture_isRegenerated) {
  const std::string png = folder_ + "/overlay.png";
  ASSERT_EQ(runTool("--overlay" + q(png)).status, 0);
  for (const auto channel : {report::ColourToGrey::eRed, report::ColourToGrey::eGreen, report::ColourToGrey::eBlue}) {
    const GreyImage made = report::readImage(png, report::kDefaultMaxPels, channel);
    const GreyImage committed =
        report::readImage(BLOB_SOURCE_DIR "/docs/demo-overlay.png", report::kDefaultMaxPels, channel);
    EXPECT_TRUE(made.width == committed.width && made.height == committed.height && made.pels == committed.pels)
        << "regenerate docs/demo-overlay.png with: blob-analyze --overlay docs/demo-overlay.png";
  }
}

// ---- failures and exit statuses ----

// Status 2, the reason and no report, for malformed values, conflicts and options given twice; the
// library's refusals carry its own message. Outputs are compared by the file they will be, whether
// it exists yet or not, and refused before anything is written; so is an output over the file
// standard output writes the report to, or over an input.
TEST_F(BlobAnalyzeRun, refusedCommandLines_statusTwoWithTheReason_nothingWritten) {
  using Msg = kc_BlobMessages;
  const auto library = [](std::wstring_view text) { return std::string(text.begin(), text.end()); };  // ASCII
  report::writePgm(mask_, picture());
  const std::string pngBytes = slurp(png_), maskBytes = slurp(mask_);
  const std::filesystem::path png(png_);
  const std::string otherSpelling = (png.parent_path() / "." / png.filename()).string();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"--threshold 256", "from 0 to 255"},
      {"--threshold 12x", "not '12x'"},
      {"--threshold", "--threshold needs a value"},
      {"--soft 1,2", "LOW,HIGH,SOFTNESS"},
      {"--max-pels 0", "--max-pels needs a whole number from 1 to 2147483648"},
      {"--max-pels=2147483649", "not '2147483649'"},
      {"-j 0", "-j needs a whole number from 1 to 256, not '0'"},
      {"--threads 0", "--threads needs a whole number from 1 to 256"},
      {"--connectivity grey", "greyScale, labelled or wholeImage"},
      {"--morph erode0,erode3", "unknown operation 'erode3'"},
      {"--format xml", "table, json or csv"},
      {"--measures area,perimeterX", "unknown measure 'perimeterX'; valid names: area,"},
      {"--measures area,area", "named twice"},
      {"--frobnicate", "unknown option '--frobnicate'"},
      {"--invert=yes", "--invert takes no value"},
      {"--threshold 5 --none", "--threshold and --none cannot be combined"},
      {"--format json --format=csv", "--format is given twice"},
      {"-j 2 --jobs=3", "--jobs is given twice"},
      {"--help=x", "unknown option '--help=x'"},
      {"--none --invert", "--invert applies to"},
      {"--prune 3 --fill 3", "--prune and --fill cannot be combined"},
      {"--stream", "add --format json or --format csv"},
      {"--stream --format csv" + q(pgm_), "give exactly one"},
      {"--stream --format csv -j 2", "cannot be combined with --jobs"},
      {"--max-open-pels 9", "add --stream"},
      {"--fill 3 --connectivity wholeImage", "--fill cannot be used with --connectivity wholeImage"},
      {"--shown --filter area:1", "NAME:LOW:HIGH or NAME:LOW:HIGH:exclude, not 'area:1'"},
      {"--shown --filter size:1:2", "--filter: unknown measure 'size'"},
      {"--shown --sort area:up", "NAME, NAME:asc or NAME:desc"},
      {"--shown --sort area --no-sort", "--sort and --no-sort cannot be combined"},
      {"--sort area", "add --shown"},
      {"--exclude-area 1 --exclude-percent 2", "--exclude-area and --exclude-percent cannot be combined"},
      {"--xform 1,0,0,1,0", "A,B,C,D,TX,TY"},
      {"--angle north", "--angle needs a number, not 'north'"},
      {"--mask-interior", "--mask-interior needs --mask"},
      {"--mask m.png --mask-offset 1", "--mask-offset needs X,Y"},
      {"--report --format csv", "--report prints text reports after each table; it needs --format table"},
      {"--threshold-percent 50,51,10", library(Msg::kTool[Msg::eTailSum])},
      {"--prune -1", library(Msg::kTool[Msg::eMinPelsNegative])},
      {"--shown --filter area:3:1", library(Msg::kSceneDesc[Msg::eFilterLimits])},
      {"--xform 1,2,2,4,0,0", "blob-analyze: The "},  // cannot be inverted
      {"--xform 1,0,0,nan,0,0", "--xform: 'nan' is not finite"},  // not "singular"
      {"--mask" + q(tempPath("absent.pgm")), "cannot open"},
      {"--max-pels 285 --mask" + q(mask_), "--mask " + mask_ + ": the image of 26 x 11 pels is larger"},
      {"--output" + q(otherSpelling), "would overwrite the input"},
      {"--mask" + q(mask_) + " --output" + q(mask_), "would overwrite the --mask " + mask_},
      {"--features f.json --output ./f.json", "--output ./f.json and --features f.json name the same file"},
      {"--label-image sub/../l.png --overlay l.png", "--overlay l.png and --label-image sub/../l.png name the same"},
      {"--features" + q(tempPath("stdout")), "is the file standard output writes the report to"},
      {"--features f.json --connectivity wholeImage", "does not trace"},
      {"--features=", "--features needs a file name"},
      {"--draw boundary", "add --overlay"},
      {"--overlay o.svg" + q(pgm_), "at most one"},
  };
  std::filesystem::create_directory(folder_ + "/sub");
  for (const auto& [args, message] : cases) {
    const ToolRun run = runTool(q(png_) + " " + args, "cd" + q(folder_) + " && ");
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_THAT(run.err, HasSubstr(message)) << args;
    EXPECT_EQ(run.out, "") << args;
  }
  EXPECT_EQ(folderEntries(folder_), Strings{"sub"});
  EXPECT_EQ(slurp(png_), pngBytes);
  EXPECT_EQ(slurp(mask_), maskBytes);
}

// ---- the output file ----

// A regular file is replaced whole and keeps its mode (a new one gets the umask's). Whether the
// target is new, replaced or a device written directly, a failed write leaves the folder as it
// was: under a 512-byte file size limit, with SIGXFSZ ignored, the report cannot be written whole.
TEST_F(BlobAnalyzeRun, outputFile_replacedWithItsMode_failedWriteLeavesNothingBehind) {
  const mode_t umaskBits = umask(0);
  umask(umaskBits);
  const std::string old = folder_ + "/old.json", created = folder_ + "/new.json", full = folder_ + "/full";
  std::ofstream(old) << "old report\n";
  std::filesystem::permissions(old, std::filesystem::perms(0640));
  std::filesystem::create_symlink("/dev/full", full);
  const std::string limited = "trap '' XFSZ; ulimit -f 1; ";
  const std::vector<std::pair<std::string, std::string>> failures = {
      {folder_ + "/other.json", "File too large"},
      {old, "File too large"},
      {"/nonexistent/dir/out.json", "No such file or directory"},
      {full, "No space left on device"},
  };
  for (const auto& [output, reason] : failures) {
    const ToolRun run = runTool("--format json --output" + q(output) + q(png_) + q(pgm_), limited);
    EXPECT_EQ(run.status, 1) << output;
    EXPECT_EQ(run.err, "blob-analyze: cannot write " + output + ": " + reason + "\n");
  }
  EXPECT_EQ(folderEntries(folder_), (Strings{"full", "old.json"}));
  EXPECT_EQ(slurp(old), "old report\n");
  for (const auto& [target, mode] : {std::pair{old, 0640u}, {created, 0666u & ~umaskBits}}) {
    ASSERT_EQ(runTool("--format json --output" + q(target) + q(png_)).status, 0);
    EXPECT_EQ(testjson::parse(slurp(target))["images"][0]["width"].number, 26) << target;
    EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms(mode)) << target;
  }
}

}  // namespace
