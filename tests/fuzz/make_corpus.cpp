// archive_corpus DIR: rewrites every seed of the fuzzer's corpus in DIR that holds current forms
// (archive_exercise::currentForm) as what loading and storing it writes now, through a temporary
// beside it renamed when complete. Run it after an archive form changes and commit the result;
// seeds of older forms stay as they are.
#include "archive_exercise.h"

#include <foundation/exception.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: archive_corpus DIR\n");
    return 2;
  }
  const std::vector<std::filesystem::path> files(std::filesystem::directory_iterator(argv[1]), {});
  for (const std::filesystem::path& file : files) {
    archive_exercise::Kind kind;
    if (!archive_exercise::currentForm(file.filename().string(), kind)) continue;
    std::ifstream in(file, std::ios::binary);
    const std::vector<unsigned char> bytes(std::istreambuf_iterator<char>(in), {});
    std::vector<unsigned char> again;
    try {
      again = archive_exercise::storedAgain(kind, bytes);
    } catch (const kcException& e) {
      std::fprintf(stderr, "%s: %ls\n", file.c_str(), e.message(false).c_str());
      return 1;
    }
    const std::filesystem::path temporary = file.string() + ".tmp";
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(again.data()), static_cast<std::streamsize>(again.size()));
    out.close();
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", temporary.c_str());
      return 1;
    }
    std::filesystem::rename(temporary, file);
  }
  return 0;
}
