// The fuzzer's committed seed corpus, replayed in every build: each seed loads as the kind its name
// starts with, and every kind is asked everything without an internal assertion or a crash. Inputs
// the fuzzer found ("found-...") are kept as they are: they need not load as anything. Seeds of the
// current forms store back to their own bytes, and refuse every truncation and a newer version.
#include "archive_exercise.h"
#include "platform/foundation/archive_bytes.h"

#include <blob/blobtool.h>
#include <foundation/archive.h>
#include <foundation/exception.h>
#include <foundation/pelbuffer.h>
#include <foundation/rlebuffer.h>
#include <foundation/xform.h>
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

// archived<T>(bytes, other): bytes load as a T that stores back to them; a T loaded from other
// refuses every prefix of bytes and bytes with the leading version byte raised, and stores as before.
template <class T>
void archived(const Bytes& bytes, const Bytes& other) {
  T object, target;
  kcArchive in(bytes.data(), bytes.size()), from(other.data(), other.size());
  in || object;
  from || target;
  EXPECT_EQ(archive_bytes::stored(object), bytes) << "stored back";
  const Bytes before = archive_bytes::stored(target);
  Bytes newer = bytes;
  ++newer[0];
  kcArchive newerIn(newer.data(), newer.size());
  EXPECT_THROW(newerIn || target, kcArchive::UnknownVersion);
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    kcArchive cut(bytes.data(), size);
    EXPECT_THROW(cut || target, kcException) << size;
  }
  EXPECT_EQ(archive_bytes::stored(target), before);
}

// Archive forms do not move: a seed written at the current version of every form it holds (not the
// records of older versions, which load upgraded) is what storing what it loads writes. Loaded into
// what the next seed of its kind loads as, its truncations and a newer version are refused, and
// leave that object as it was.
TEST(ArchiveCorpus, currentFormSeeds_storeBackToTheirOwnBytes_truncatedOrNewerRefusedLeavingTheTarget) {
  const std::map<Kind, void (*)(const Bytes&, const Bytes&)> byKind = {
      {Kind::eScene, &archived<kcBlobSceneDescription>},   {Kind::eBlob, &archived<kcBlob>},
      {Kind::eParams, &archived<kcBlobParams>},            {Kind::eResults, &archived<kcBlobResults>},
      {Kind::ePelImage, &archived<kcPelBuffer<unsigned char>>}, {Kind::eRunImage, &archived<kcRLEBuffer>},
      {Kind::eTransform, &archived<kc2XformCache>}};
  std::map<Kind, std::vector<std::pair<std::string, Bytes>>> current;
  for (auto& seed : seeds()) {
    Kind k;
    if (archive_exercise::currentForm(seed.first, k)) current[k].push_back(std::move(seed));
  }
  ASSERT_EQ(current.size(), byKind.size()) << "a seed of every kind";
  for (const auto& [k, all] : current) {
    for (std::size_t i = 0; i < all.size(); ++i) {
      SCOPED_TRACE(all[i].first);
      byKind.at(k)(all[i].second, all[(i + 1) % all.size()].second);
    }
  }
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
