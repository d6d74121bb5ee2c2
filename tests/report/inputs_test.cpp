// Input folders: expanded into their image files, sorted, other inputs kept in place.
#include <report/inputs.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

TEST(Inputs, foldersExpandSortedByName_filesStayInPlace_emptyFolderRefused) {
  const std::string folder =
      (std::filesystem::temp_directory_path() / ("blob_report_inputs_" + std::to_string(getpid()))).string();
  const std::string f = folder + "/";
  for (const char* folderName : {"sub/deeper", "empty"}) std::filesystem::create_directories(f + folderName);
  for (const char* name : {"b.png", "a.pgm", "c.PNG", "notes.txt", "sub/d.png", "sub/deeper/e.pgm"})
    std::ofstream(f + name) << "not read";
  EXPECT_EQ(report::expandInputs({"x.png", folder, "y.pgm"}, false),
            (Strings{"x.png", f + "a.pgm", f + "b.png", f + "c.PNG", "y.pgm"}));
  EXPECT_EQ(report::expandInputs({folder}, true),
            (Strings{f + "a.pgm", f + "b.png", f + "c.PNG", f + "sub/d.png", f + "sub/deeper/e.pgm"}));
  EXPECT_THROW(report::expandInputs({f + "empty"}, true), report::InputError);
  EXPECT_EQ(report::expandInputs({f + "missing.png"}, false), Strings{f + "missing.png"});
  std::filesystem::remove_all(folder);
}

}  // namespace
