// Input folders: expanded into their image files, sorted, other inputs kept in place.
#include <report/inputs.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

TEST(Inputs, foldersExpandSortedByName_filesStayInPlace_emptyFolderRefused) {
  const std::string folder = (fs::temp_directory_path() / ("blob_report_inputs_" + std::to_string(getpid()))).string();
  fs::create_directories(folder + "/sub/deeper");
  fs::create_directory(folder + "/empty");
  for (const char* name : {"b.png", "a.pgm", "c.PNG", "notes.txt", "sub/d.png", "sub/deeper/e.pgm"}) {
    std::ofstream(folder + "/" + name) << "not read";
  }
  const std::string f = folder + "/";
  EXPECT_EQ(report::expandInputs({"x.png", folder, "y.pgm"}, false),
            (Strings{"x.png", f + "a.pgm", f + "b.png", f + "c.PNG", "y.pgm"}));
  EXPECT_EQ(report::expandInputs({folder}, true),
            (Strings{f + "a.pgm", f + "b.png", f + "c.PNG", f + "sub/d.png", f + "sub/deeper/e.pgm"}));
  EXPECT_THROW(report::expandInputs({folder + "/empty"}, true), report::InputError);
  EXPECT_EQ(report::expandInputs({folder + "/missing.png"}, false), Strings{folder + "/missing.png"});
  fs::remove_all(folder);
}

}  // namespace
