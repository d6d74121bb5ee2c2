// Running the blob-analyze program from a test: its exit status and both output streams, and
// temporary files of the calling test process.
#pragma once

#include "common/temp_files.h"
#include <report/image_io.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace toolrun {

using namespace testfiles;

struct ToolRun {
  int status = -1;
  std::string out, err;
};

// q(path): path quoted for the shell, after a space.
inline std::string q(const std::string& path) { return " '" + path + "'"; }

// folderEntries(folder): the names in folder, sorted.
inline std::vector<std::string> folderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// picture(rows, on, off): the grey image of a text picture, '#' pels on and the others off.
inline report::GreyImage picture(const std::vector<std::string>& rows, unsigned char on, unsigned char off) {
  report::GreyImage image{static_cast<long>(rows[0].size()), static_cast<long>(rows.size()), {}};
  for (const std::string& row : rows)
    for (char c : row) image.pels.push_back(c == '#' ? on : off);
  return image;
}

// Runs the program with args (already quoted for the shell) after the shell commands in setup,
// capturing both output streams.
inline ToolRun runTool(const std::string& args, const std::string& setup = "") {
  const std::string out = tempPath("stdout"), err = tempPath("stderr");
  const std::string command = setup + "'" + BLOB_ANALYZE_EXE + "' " + args + " >'" + out + "' 2>'" + err + "'";
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
}

}  // namespace toolrun
