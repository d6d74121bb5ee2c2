// Command line: every option form reaches Options, and every malformed value is refused with a reason.
#include "options.h"

#include <blob/blob.h>

#include <tuple>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using tool::Options, tool::parseOptions, tool::UsageError;

std::string refusal(const std::vector<std::string>& args) try {
  parseOptions(args);
  return "accepted";
} catch (const UsageError& error) {
  return error.what();
}

TEST(OptionsAccepted, everyOptionInBothFormsOrHelp_reachesOptions) {
  const Options options =
      parseOptions({"a.png", "--soft=10,20,5", "--invert", "--connectivity", "labelled", "--fill", "7", "--morph",
                    "open2,erode0,close1", "--mask=m.pgm", "b.pgm", "--max-pels", "2147483648", "--format", "csv",
                    "--measures", "centerOfMassY,area", "--output", "out.csv", "--", "--threshold"});
  EXPECT_EQ(options.images, (std::vector<std::string>{"a.png", "b.pgm", "--threshold"}));
  EXPECT_EQ(options.segmentation, tool::Segmentation::eSoft);
  EXPECT_EQ(std::tuple(options.threshold, options.highThreshold, options.softness), std::tuple(10L, 20L, 5L));
  EXPECT_TRUE(options.invert && options.minPels == 7);
  EXPECT_EQ(std::tuple(options.connectivity, options.cleanup),
            std::tuple(kcBlobSceneDescription::eLabelled, kcBlobSceneDescription::eFill));
  EXPECT_EQ(options.morph, (std::vector<int>{11, 0, 7}));
  EXPECT_EQ(options.maskPath, "m.pgm");
  EXPECT_EQ(options.maxPels, report::kMaxImagePels);
  EXPECT_EQ(options.format, report::Format::eCsv);
  ASSERT_EQ(options.measures.size(), 2u);
  EXPECT_STREQ(options.measures[0].name, "centerOfMassY");
  EXPECT_EQ(options.measures[1].number, 1);
  EXPECT_EQ(options.outputPath, "out.csv");
  EXPECT_TRUE(parseOptions({"--bogus", "--help"}).help);  // help and version win over errors
  EXPECT_FALSE(parseOptions({"--", "--help"}).help);
  EXPECT_TRUE(parseOptions({"--bogus", "-j", "--version"}).version);
  EXPECT_EQ(parseOptions({}).maxPels, report::kDefaultMaxPels);  // not the largest --max-pels accepts
}

TEST(OptionsRefused, badValuesOrConflicts_refusedWithReason) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--threshold", "256"}, "from 0 to 255"},
      {{"--threshold", "12x"}, "not '12x'"},
      {{"--threshold"}, "--threshold needs a value"},
      {{"--soft", "1,2"}, "LOW,HIGH,SOFTNESS"},
      {{"--max-pels", "0"}, "--max-pels needs a whole number from 1 to 2147483648"},
      {{"--max-pels=2147483649"}, "not '2147483649'"},
      {{"--connectivity", "grey"}, "greyScale, labelled or wholeImage"},
      {{"--morph", "erode0,erode3"}, "unknown operation 'erode3'"},
      {{"--format", "xml"}, "table, json or csv"},
      {{"--measures", "area,perimeterX"}, "unknown measure 'perimeterX'; valid names: area,"},
      {{"--measures", "area,area"}, "named twice"},
      {{"--frobnicate"}, "unknown option '--frobnicate'"},
      {{"--invert=yes"}, "--invert takes no value"},
      {{"--threshold", "5", "--none"}, "--threshold and --none cannot be combined"},
      {{"--format", "json", "--format=csv"}, "--format is given twice"},
      {{"-j", "2", "--jobs=3"}, "--jobs is given twice"},
      {{"--help=x"}, "unknown option '--help=x'"},
      {{"--none", "--invert"}, "--invert applies to"},
      {{"--prune", "3", "--fill", "3"}, "--prune and --fill cannot be combined"},
      {{"--stream", "a.png"}, "add --format json or --format csv"},
      {{"--stream", "--format", "csv", "a.png", "b.png"}, "give exactly one"},
      {{"--stream", "--format", "csv", "-j", "2", "a.png"}, "cannot be combined with --jobs"},
      {{"--max-open-pels", "9", "a.png"}, "add --stream"},
      {{"--fill", "3", "--connectivity", "wholeImage"}, "--fill cannot be used with --connectivity wholeImage"},
      {{"--shown", "--filter", "area:1"}, "NAME:LOW:HIGH or NAME:LOW:HIGH:exclude, not 'area:1'"},
      {{"--shown", "--filter", "size:1:2"}, "--filter: unknown measure 'size'"},
      {{"--shown", "--sort", "area:up"}, "NAME, NAME:asc or NAME:desc"},
      {{"--shown", "--sort", "area", "--no-sort"}, "--sort and --no-sort cannot be combined"},
      {{"--sort", "area"}, "add --shown"},
      {{"--exclude-area", "1", "--exclude-percent", "2"}, "--exclude-area and --exclude-percent cannot be combined"},
      {{"--xform", "1,0,0,1,0"}, "A,B,C,D,TX,TY"},
      {{"--angle", "north"}, "--angle needs a number, not 'north'"},
      {{"--mask-interior"}, "--mask-interior needs --mask"},
      {{"--mask", "m.png", "--mask-offset", "1"}, "--mask-offset needs X,Y"},
  };
  for (const auto& [args, reason] : cases) {
    EXPECT_THAT(refusal(args), testing::HasSubstr(reason)) << args.front();
  }
}

}  // namespace
