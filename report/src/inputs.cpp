// Folders expanded into sorted lists of their image files.
#include <report/inputs.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace report {
namespace {

bool isImageName(const std::filesystem::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const char* known : {".png", ".pgm", ".tif", ".tiff", ".jpg", ".jpeg", ".bmp"})
    if (ext == known) return true;
  return false;
}

template <class Iterator>
void collect(const std::string& folder, std::vector<std::string>& files) {
  std::error_code error;
  Iterator it(folder, error), end;
  for (; !error && it != end; it.increment(error)) {
    std::error_code kind;
    if (it->is_regular_file(kind) && isImageName(it->path())) files.push_back(it->path().string());
  }
  if (error) throw InputError(folder + ": cannot read the folder: " + error.message());
}

}  // namespace

std::vector<std::string> expandInputs(const std::vector<std::string>& inputs, bool recursive) {
  std::vector<std::string> out;
  for (const std::string& input : inputs) {
    std::error_code error;
    if (!std::filesystem::is_directory(input, error)) {
      out.push_back(input);
      continue;
    }
    std::vector<std::string> files;
    if (recursive)
      collect<std::filesystem::recursive_directory_iterator>(input, files);
    else
      collect<std::filesystem::directory_iterator>(input, files);
    if (files.empty()) throw InputError(input + ": the folder holds no image file (.png, .pgm, .tif, .tiff, .jpg, .jpeg or .bmp)");
    std::sort(files.begin(), files.end());
    out.insert(out.end(), files.begin(), files.end());
  }
  return out;
}

}  // namespace report
