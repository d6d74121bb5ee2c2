// The README's blob-analyze examples are what the program prints: every "$ blob-analyze ..." line
// of its text blocks is run on the parts.pgm it describes and must print the lines that follow it.
// Its list of options names exactly the options of the command line's table.
#include "options.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace toolrun;

struct Example {
  std::string command;  // what follows "$ blob-analyze"
  std::string output;
};

// The "$ blob-analyze ..." lines of the README's text blocks, each with the lines after it.
std::vector<Example> readmeExamples() {
  std::istringstream readme(slurp(BLOB_SOURCE_DIR "/README.md"));
  std::vector<Example> examples;
  const std::string prompt = "$ blob-analyze";
  bool inText = false;
  for (std::string line; std::getline(readme, line);) {
    if (line.starts_with("```")) inText = !inText && line == "```text";
    else if (inText && line.starts_with(prompt)) examples.push_back({line.substr(prompt.size()), ""});
    else if (inText && !examples.empty()) examples.back().output += line + "\n";
  }
  return examples;
}

TEST(Readme, examples_printWhatTheReadmeShows) {
  // parts.pgm: a 10 x 5 image with a 5 x 3 ring around a 3-pel hole, and a single pel.
  const std::vector<std::string> rows = {"..........", ".#####..#.", ".#...#....", ".#####....", ".........."};
  const std::string folder = tempPath("readme");
  std::filesystem::create_directory(folder);
  report::writePgm(folder + "/parts.pgm", picture(rows, 255, 0));

  const std::vector<Example> examples = readmeExamples();
  EXPECT_GE(examples.size(), 3u);
  for (const Example& example : examples) {
    const ToolRun run = runTool(example.command, "cd '" + folder + "' && ");
    EXPECT_EQ(run.status, 0) << example.command << "\n" << run.err;
    EXPECT_EQ(run.out, example.output) << "blob-analyze" << example.command;
  }
  std::filesystem::remove_all(folder);
}

// The options the README's list spells in code spans ("`--angle RAD`", "`--angle=-0.5`"): the list
// follows the line ending "lists the options:" and ends at the first blank line after it.
std::set<std::string> readmeOptionNames() {
  std::istringstream readme(slurp(BLOB_SOURCE_DIR "/README.md"));
  const std::regex span("`([^`]*)`"), option("(^|\\s)(--?[A-Za-z][-A-Za-z]*)");
  std::set<std::string> names;
  bool inList = false;
  for (std::string line; std::getline(readme, line) && !(line.empty() && !names.empty());) {
    const bool listing = inList;
    inList = inList || line.ends_with("lists the options:");
    for (std::sregex_iterator s(line.begin(), line.end(), span), end; listing && s != end; ++s) {
      const std::string text = (*s)[1];
      for (std::sregex_iterator o(text.begin(), text.end(), option); o != end; ++o) names.insert((*o)[2]);
    }
  }
  return names;
}

TEST(Readme, optionList_namesEveryOptionOfTheCommandLineAndNoOther) {
  const std::vector<std::string_view> table = tool::optionNames();
  EXPECT_EQ(readmeOptionNames(), std::set<std::string>(table.begin(), table.end()));
}

}  // namespace
