// The fuzzer's committed seed corpus, replayed in every build: each seed loads as the kind its name
// starts with, and every kind is asked everything without an internal assertion or a crash. Inputs
// the fuzzer found ("found-...") are kept as they are: they need not load as anything. Seeds of the
// current forms store back to their own bytes.
#include "archive_exercise.h"
#include "platform/foundation/archive_bytes.h"

#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>
#include <foundation/exception.h>
#include <foundation/pelbuffer.h>
#include <foundation/rlebuffer.h>
#include <foundation/xform.h>
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

// storedAgain<T>(bytes): bytes loaded as a T, stored again.
template <class T>
archive_bytes::Bytes storedAgain(const archive_bytes::Bytes& bytes) {
  T object;
  kcArchive in(bytes.data(), bytes.size());
  in || object;
  return archive_bytes::stored(object);
}

// Archive forms do not move: a seed written at the current version of every form it holds (not the
// records of older versions, which load upgraded) is what storing what it loads writes.
TEST(ArchiveCorpus, currentFormSeeds_storeBackToTheirOwnBytes) {
  using Again = archive_bytes::Bytes (*)(const archive_bytes::Bytes&);
  const std::pair<const char*, Again> kinds[] = {
      {"scene-v3-", storedAgain<kcBlobSceneDescription>}, {"blob-v1-", storedAgain<kcBlob>},
      {"params-v1-", storedAgain<kcBlobParams>},          {"results-", storedAgain<kcBlobResults>},
      {"rle-", storedAgain<kcRLEBuffer>},                 {"pel-", storedAgain<kcPelBuffer<unsigned char>>},
      {"xform-", storedAgain<kc2XformCache>}};
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(BLOB_FUZZ_CORPUS)) {
    const std::string name = entry.path().filename().string();
    if (name.find("-record-v") != std::string::npos && name.find("-record-v3") == std::string::npos) continue;
    for (const auto& [prefix, again] : kinds) {
      if (name.rfind(prefix, 0) != 0) continue;
      SCOPED_TRACE(name);
      const archive_bytes::Bytes bytes = contents(entry.path());
      EXPECT_EQ(again(bytes), bytes);
      ++checked;
    }
  }
  EXPECT_GE(checked, 20);
}

}  // namespace
