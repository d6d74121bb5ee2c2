// The fuzzer's committed seed corpus, replayed in every build: each seed loads as the kind its name
// starts with, and every kind is asked everything without an internal assertion or a crash. Inputs
// the fuzzer found ("found-...") are kept as they are: they need not load as anything.
#include "archive_exercise.h"

#include <foundation/exception.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

using archive_exercise::Kind;

std::vector<unsigned char> contents(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ArchiveCorpus, everySeedLoadsAsItsKind_andSurvivesEveryQuery) {
  std::set<std::string> kinds;
  for (const auto& entry : std::filesystem::directory_iterator(BLOB_FUZZ_CORPUS)) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    const std::vector<unsigned char> bytes = contents(entry.path());
    bool known = false;
    try {
      for (Kind k : archive_exercise::kKinds) {
        const std::string prefix = std::string(archive_exercise::kindName(k)) + "-";
        if (name.rfind(prefix, 0) != 0) continue;
        known = true;
        kinds.insert(archive_exercise::kindName(k));
        EXPECT_TRUE(archive_exercise::loadAndQuery(k, bytes.data(), bytes.size()));
      }
      archive_exercise::loadAndQueryAll(bytes.data(), bytes.size());
    } catch (const kcException& e) {
      const std::wstring message = e.message(false);
      ADD_FAILURE() << "escaped: " << std::string(message.begin(), message.end());
    }
    EXPECT_TRUE(known || name.rfind("found-", 0) == 0) << "a seed is named after the kind it loads as";
  }
  EXPECT_EQ(kinds.size(), std::size(archive_exercise::kKinds)) << "a seed of every kind";
}

}  // namespace
