// Temporary files of the calling test process, and whole files read back.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace testfiles {

// tempPath(name): a file of this process alone (cases run as processes of their own, in parallel).
inline std::string tempPath(const std::string& name) {
  return std::filesystem::temp_directory_path() / ("blob_test_" + std::to_string(getpid()) + "_" + name);
}

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace testfiles
