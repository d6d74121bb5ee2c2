// Tests of the results' archive form with their scene: round trips, ownership of the scene on
// loading, refusals that leave the results as they were; pel images that declare more rows than
// bytes, alone and inside parameters.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>
#include <foundation/archive.h>
#include <foundation/pelbuffer.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive_fixture.h"

namespace {

using namespace archive_fixture;
using Scene = kcBlobSceneDescription;

// analysedResults(): results of an analysis of picture() that keep the encoded input.
kcBlobResults analysedResults() {
  const connecttest::Grid& g = picture();
  kcPelBuffer<unsigned char> pels(g.width, g.height);
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width; ++x) pels.pointToRow(y)[x] = g.at(x, y);
  kcBlobParams params;
  params.keepRLE(true);
  params.setSegmentationNone(2);
  kcBlobResults results;
  kfBlobAnalysis(pels, params, results);
  withSettings(*results.connectedBlobs());
  answers(*results.connectedBlobs());
  return results;
}

// expectSame(a, b): the times, images and scene answers of two results agree.
void expectSame(const kcBlobResults& a, const kcBlobResults& b) {
  EXPECT_EQ(a.RLETime(), b.RLETime());
  EXPECT_EQ(a.maskTime(), b.maskTime());
  EXPECT_EQ(a.morphTime(), b.morphTime());
  EXPECT_EQ(a.connectTime(), b.connectTime());
  EXPECT_EQ(a.rle(), b.rle());
  EXPECT_EQ(a.masked(), b.masked());
  EXPECT_EQ(a.morphed(), b.morphed());
  ASSERT_EQ(a.connectedBlobs() == nullptr, b.connectedBlobs() == nullptr);
  if (a.connectedBlobs()) {
    EXPECT_TRUE(answers(*a.connectedBlobs()) == answers(*b.connectedBlobs()));
  }
}

TEST(ResultsArchive, resultsWithScene_roundTrip) {
  kcBlobResults results = analysedResults();
  Bytes bytes = stored(results);
  EXPECT_EQ(bytes[0], 0) << "version 0, and no base part: the encoding time follows";
  kcBlobResults copy;
  EXPECT_EQ(load(bytes, copy), 0u);
  expectSame(copy, results);
  EXPECT_NE(copy.connectedBlobs(), results.connectedBlobs());
}

TEST(ResultsArchive, loadingReleasesTheSceneHeldBefore_andNeverARelinquishedOne) {
  kcBlobResults results = analysedResults();
  const Bytes bytes = stored(results);
  kcBlobResults holder = analysedResults();
  load(bytes, holder);  // the scene held before is deleted (a leak shows under the sanitizer)
  expectSame(holder, results);

  // A relinquished scene belongs to its taker: loading twice must not delete it.
  std::unique_ptr<Scene> taken(holder.connectedBlobs());
  holder.relinquishBSDOwnership();
  load(bytes, holder);
  load(bytes, holder);
  EXPECT_EQ(taken->numBlobs(false), results.connectedBlobs()->numBlobs(false));
  EXPECT_NE(holder.connectedBlobs(), taken.get());
}

// refusedUnchanged(bytes, sizes): loading each prefix fails, and the results keep every value and
// their scene.
void refusedUnchanged(const Bytes& bytes, const std::vector<std::size_t>& sizes) {
  kcBlobResults target = analysedResults();
  const kcBlobResults before(target);
  const Scene* scene = target.connectedBlobs();
  for (std::size_t size : sizes) {
    kcArchive in(bytes.data(), size);
    EXPECT_THROW(in || target, kcException) << size;
    ASSERT_EQ(target.connectedBlobs(), scene) << size;
    ASSERT_EQ(target.connectTime(), before.connectTime()) << size;
    ASSERT_EQ(target.rle(), before.rle()) << size;
  }
  expectSame(target, before);
}

// everyPrefix(bytes): the sizes 0 to bytes.size() - 1.
std::vector<std::size_t> everyPrefix(const Bytes& bytes) {
  std::vector<std::size_t> sizes;
  for (std::size_t size = 0; size < bytes.size(); ++size) sizes.push_back(size);
  return sizes;
}

TEST(ResultsArchive, sceneOfAnotherClass_refusedAndDeleted) {
  kcBlobResults results;
  Bytes bytes = stored(results);
  bytes.pop_back();  // the null scene pointer
  kcBlobParams params;
  const std::string name = "kcBlobParams";
  bytes.insert(bytes.end(), {1, 12, 0, 0, 0});
  bytes.insert(bytes.end(), name.begin(), name.end());
  const Bytes body = stored(params);
  bytes.insert(bytes.end(), body.begin(), body.end());
  refusedUnchanged(bytes, {bytes.size()});
}

TEST(ResultsArchive, truncatedAtEveryByte_leavesTheResultsUnchanged) {
  kcBlobResults small;
  const Bytes noScene = stored(small);
  refusedUnchanged(noScene, everyPrefix(noScene));
  kcBlobResults withScene = analysedResults();
  const Bytes full = stored(withScene);
  refusedUnchanged(full, everyPrefix(full));
}

// ---- pel images that declare rows without columns

// patchHeight(bytes, from, to): the one 32-bit little-endian value from replaced by to.
void patchHeight(Bytes& bytes, std::uint32_t from, std::uint32_t to) {
  const Bytes pattern{static_cast<unsigned char>(from), static_cast<unsigned char>(from >> 8),
                      static_cast<unsigned char>(from >> 16), static_cast<unsigned char>(from >> 24)};
  const std::size_t at = find(bytes, std::string(pattern.begin(), pattern.end()));
  for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(to >> (8 * i));
}

constexpr std::uint32_t kMarker = 0x00BEEF77;  // a height whose bytes occur once
constexpr std::uint32_t kTallest = 0x7FFFFFFF;

TEST(PelImageArchive, noColumnsAndTallestHeight_loadsAtOnce_aloneAndInParameters) {
  kcPelBuffer<unsigned char> image(0, kMarker);
  Bytes bytes = stored(image);
  patchHeight(bytes, kMarker, kTallest);
  kcPelBuffer<unsigned char> loaded;
  kcArchive in(bytes.data(), bytes.size());
  in || loaded;
  EXPECT_EQ(loaded.height(), static_cast<long>(kTallest));
  EXPECT_LT(in.requests(), 32u) << "work in proportion to the bytes, not to the rows declared";

  kcBlobParams params;
  params.setSegmentationThreshImage({}, kcPelBuffer_const<unsigned char>(image), {}, 1);
  Bytes paramBytes = stored(params);
  patchHeight(paramBytes, kMarker, kTallest);
  kcBlobParams paramsIn;
  kcArchive in2(paramBytes.data(), paramBytes.size());
  in2 || paramsIn;
  EXPECT_EQ(paramsIn.threshImage().height(), static_cast<long>(kTallest));
  EXPECT_LT(in2.requests(), 96u);
}

}  // namespace
