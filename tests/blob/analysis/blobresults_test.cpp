// Tests of the results' archive form: round trips, ownership of the scene on loading, truncations
// that leave the results as they were; a threshold image that declares more rows than bytes.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>
#include <foundation/archive.h>
#include <foundation/pelbuffer.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "archive_fixture.h"
#include "platform/foundation/allocation_count.h"

#include <random>

namespace {

using namespace archive_fixture;
using Scene = kcBlobSceneDescription;

// analysedResults(): results of an analysis of picture() that keep the encoded input.
kcBlobResults analysedResults() {
  const kcPelBuffer<unsigned char> pels = connecttest::encode(picture()).image();
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
  EXPECT_TRUE(a.RLETime() == b.RLETime() && a.maskTime() == b.maskTime() && a.morphTime() == b.morphTime() &&
              a.connectTime() == b.connectTime());
  EXPECT_TRUE(a.rle() == b.rle() && a.masked() == b.masked() && a.morphed() == b.morphed());
  ASSERT_EQ(a.connectedBlobs() == nullptr, b.connectedBlobs() == nullptr);
  EXPECT_TRUE(!a.connectedBlobs() || answers(*a.connectedBlobs()) == answers(*b.connectedBlobs()));
}

// A round trip releases the scene held before (a leak shows under the sanitizer), loading results
// without a scene included, but never a relinquished one; a newer version is refused.
TEST(ResultsArchive, ResultsArchive_roundTrip_releasesTheSceneHeldBeforeNeverARelinquishedOne) {
  kcBlobResults results = analysedResults(), none;
  const Bytes bytes = stored(results);
  EXPECT_EQ(bytes[0], 0) << "version 0, and no base part: the encoding time follows";
  kcBlobResults holder = analysedResults();
  EXPECT_EQ(load(bytes, holder), 0u);
  expectSame(holder, results);
  std::unique_ptr<Scene> taken(holder.connectedBlobs());
  holder.relinquishBSDOwnership();
  load(bytes, holder);
  load(stored(none), holder);
  EXPECT_EQ(holder.connectedBlobs(), nullptr);
  EXPECT_EQ(taken->numBlobs(false), results.connectedBlobs()->numBlobs(false));
  Bytes newer = bytes;
  newer[0] = 1;
  EXPECT_THROW(load(newer, holder), kcArchive::UnknownVersion);
}

// Loading each prefix of a sound archive, with a scene or without, fails, and the results keep
// every value and their scene. (An object of another class where the scene stands takes the same
// way out, through the persistence frame's owned pointer.)
TEST(ResultsArchive, ResultsArchive_truncatedAtEveryByte_leavesTheResultsUnchanged) {
  kcBlobResults none, withScene = analysedResults();
  for (const Bytes& bytes : {stored(none), stored(withScene)}) {
    kcBlobResults target = analysedResults();
    const kcBlobResults before(target);
    const Scene* scene = target.connectedBlobs();
    for (std::size_t size = 0; size < bytes.size(); ++size) {
      kcArchive in(bytes.data(), size);
      EXPECT_THROW(in || target, kcException) << size;
      ASSERT_EQ(target.connectedBlobs(), scene) << size;
      ASSERT_EQ(target.connectTime(), before.connectTime()) << size;
      ASSERT_EQ(target.rle(), before.rle()) << size;
    }
    expectSame(target, before);
  }
}

// A threshold image without columns and of the tallest height loads at once (the image alone is
// the pel image's own archive test).
TEST(PelImageArchive, PelImageArchive_noColumnsAndTallestHeight_loadsAtOnceInParameters) {
  const long tallest = 0x7FFFFFFF;
  kcBlobParams params, loaded;
  params.setSegmentationThreshImage({}, kcPelBuffer_const<unsigned char>(kcPelBuffer<unsigned char>(0, tallest)), {}, 1);
  const Bytes bytes = stored(params);
  kcArchive in(bytes.data(), bytes.size());
  in || loaded;
  EXPECT_EQ(loaded.threshImage().height(), tallest);
  EXPECT_LT(in.requests(), 96u) << "work in proportion to the bytes, not to the rows declared";
}

// The everyday call again into the same results (an image of the size and kind of the last one, then
// area, centre of mass and bounding box of every blob and hole) allocates nothing once the results
// have settled: the run storage, the engine's arrays and the scene's storage are reused, and the
// measures only mark what they computed.
TEST(ResultsReuse, ResultsReuse_everydayCallAgain_allocatesNothing) {
#ifndef NDEBUG
  GTEST_SKIP() << "debug builds check the engine's invariants with working sets of their own";
#endif
  kcPelBuffer<unsigned char> pels(301, 97);
  std::mt19937 rng(11);
  for (long y = 0; y < pels.height(); ++y)
    for (long x = 0; x < pels.width(); ++x) pels.pointToRow(y)[x] = static_cast<unsigned char>(rng() % 2 ? 200 : 20);
  kcRLEBuffer runs;
  runs.encode(pels, 128, false);
  kcBlobParams params;
  params.setSegmentationHardThresh(128, false);
  for (const bool fromPels : {true, false}) {
    SCOPED_TRACE(fromPels);
    kcBlobResults results;
    double sum = 0.0;
    const auto call = [&] {
      if (fromPels) kfBlobAnalysis(pels, params, results);
      else kfBlobAnalysis(runs, params, results);
      const Scene& scene = *results.connectedBlobs();
      for (long id = 1; id <= scene.numBlobs(false); ++id) {
        const kcBlob* b = scene.getBlob(id);
        sum += b->area() + b->centerOfMass().x() + static_cast<double>(b->imageBoundingBox().width());
      }
    };
    for (int settle = 0; settle < 3; ++settle) call();
    EXPECT_EQ(allocation_count::blocksAllocatedBy(call), 0u);
    EXPECT_GT(sum, 0.0);
  }
}

}  // namespace
