// The fuzzer's committed seed corpus, replayed in every build: each seed loads as the kind its name
// starts with, and every kind is asked everything without an internal assertion or a crash. Inputs
// the fuzzer found ("found-...") are kept as they are: they need not load as anything. Seeds of the
// current forms store back to their own bytes.
#include "archive_exercise.h"
#include "platform/foundation/archive_bytes.h"

#include <foundation/archive.h>
#include <foundation/exception.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using archive_bytes::Bytes;
using archive_exercise::Kind;

// seeds(): every file of the corpus as (name, bytes).
std::vector<std::pair<std::string, Bytes>> seeds() {
  std::vector<std::pair<std::string, Bytes>> out;
  for (const auto& entry : std::filesystem::directory_iterator(BLOB_FUZZ_CORPUS)) {
    std::ifstream in(entry.path(), std::ios::binary);
    out.emplace_back(entry.path().filename().string(), Bytes(std::istreambuf_iterator<char>(in), {}));
  }
  return out;
}

// answersOf<T>(bytes): what the T the bytes load as answers.
template <class T>
archive_exercise::Answers answersOf(const Bytes& bytes) {
  T object;
  kcArchive in(bytes.data(), bytes.size());
  in || object;
  archive_exercise::Answers answers;
  archive_exercise::ask(object, answers);
  return answers;
}

bool startsWith(const std::string& name, const std::string& prefix) { return name.rfind(prefix, 0) == 0; }

TEST(ArchiveCorpus, everySeedLoadsAsItsKind_andSurvivesEveryQuery) {
  std::set<std::string> kinds;
  for (const auto& [name, bytes] : seeds()) {
    SCOPED_TRACE(name);
    try {
      for (Kind k : archive_exercise::kKinds) {
        if (!startsWith(name, std::string(archive_exercise::kindName(k)) + "-")) continue;
        kinds.insert(name.substr(0, name.find('-')));
        EXPECT_TRUE(archive_exercise::loadAndQuery(k, bytes.data(), bytes.size()));
      }
      archive_exercise::loadAndQueryAll(bytes.data(), bytes.size());
    } catch (const kcException& e) {
      const std::wstring message = e.message(false);
      ADD_FAILURE() << "escaped: " << std::string(message.begin(), message.end());
    }
    EXPECT_TRUE(kinds.count(name.substr(0, name.find('-'))) || startsWith(name, "found-"))
        << "a seed is named after the kind it loads as";
  }
  EXPECT_EQ(kinds.size(), std::size(archive_exercise::kKinds)) << "a seed of every kind";
}

// Archive forms do not move: a seed written at the current version of every form it holds (not the
// records of older versions, which load upgraded) is what storing what it loads writes.
TEST(ArchiveCorpus, currentFormSeeds_storeBackToTheirOwnBytes) {
  int checked = 0;
  for (const auto& [name, bytes] : seeds()) {
    Kind k;
    if (!archive_exercise::currentForm(name, k)) continue;
    EXPECT_EQ(archive_exercise::storedAgain(k, bytes), bytes) << name;
    ++checked;
  }
  EXPECT_GE(checked, 20);
}

// Older forms load upgraded: a seed of an older scene data or blob record form, written from the
// same object as the seed of the current form, answers alike.
TEST(ArchiveCorpus, olderFormSeeds_answerAsTheCurrentForm) {
  std::map<std::string, Bytes> byName;
  for (auto& [name, bytes] : seeds()) byName[name] = std::move(bytes);
  for (const std::string version : {"0", "1", "2"}) {
    SCOPED_TRACE(version);
    EXPECT_TRUE(answersOf<kcBlobSceneDescription>(byName.at("scene-data-v" + version + ".bin")) ==
                answersOf<kcBlobSceneDescription>(byName.at("scene-data-v3.bin")));
    EXPECT_TRUE(answersOf<kcBlob>(byName.at("blob-v1-record-v" + version + ".bin")) ==
                answersOf<kcBlob>(byName.at("blob-v1-record-v3.bin")));
  }
}

}  // namespace
