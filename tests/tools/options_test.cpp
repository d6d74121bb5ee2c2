// Command line: both option forms and the separator reach Options; help and version win over errors.
#include "options.h"

#include <tuple>

#include <gtest/gtest.h>

namespace {

using tool::Options, tool::parseOptions;

// The values themselves are checked end to end (runs of the program, and the Python module's
// reports against the program's under the same settings); here the command line's own forms.
TEST(OptionsAccepted, bothFormsAndTheSeparator_reachOptions_helpAndVersionWin) {
  const Options options = parseOptions(
      {"a.png", "--soft=10,20,5", "--mask=m.pgm", "b.pgm", "--max-pels", "2147483648", "--", "--threshold"});
  EXPECT_EQ(options.images, (std::vector<std::string>{"a.png", "b.pgm", "--threshold"}));
  EXPECT_EQ(std::tuple(options.threshold, options.highThreshold, options.softness), std::tuple(10L, 20L, 5L));
  EXPECT_EQ(options.maskPath, "m.pgm");
  EXPECT_EQ(options.maxPels, report::kMaxImagePels);
  EXPECT_TRUE(parseOptions({"--bogus", "--help"}).help);  // help and version win over errors
  EXPECT_FALSE(parseOptions({"--", "--help"}).help);
  EXPECT_TRUE(parseOptions({"--bogus", "-j", "--version"}).version);
  EXPECT_EQ(parseOptions({}).maxPels, report::kDefaultMaxPels);  // not the largest --max-pels accepts
}

}  // namespace
