// archive_corpus DIR: writes the fuzzer's seed corpus into DIR (each file through a temporary
// beside it, renamed when complete). Run it after an archive form changes and commit the result.
#include "corpus_entries.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: archive_corpus DIR\n");
    return 2;
  }
  const std::filesystem::path dir(argv[1]);
  std::filesystem::create_directories(dir);
  for (const auto& [name, bytes] : archive_corpus::entries()) {
    const std::filesystem::path target = dir / name;
    const std::filesystem::path temporary = dir / (name + ".tmp");
    {
      std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
      if (!out) {
        std::fprintf(stderr, "cannot write %s\n", temporary.c_str());
        return 1;
      }
    }
    std::filesystem::rename(temporary, target);
  }
  return 0;
}
