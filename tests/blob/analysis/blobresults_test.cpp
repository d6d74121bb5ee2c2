// Tests of the results' archive form: round trips, ownership of the scene on loading, truncations
// that leave the results as they were.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>
#include <foundation/archive.h>

#include <gtest/gtest.h>

#include <memory>

#include "archive_fixture.h"

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
// without a scene included, but never a relinquished one; a newer version is refused. Loading each
// prefix of a sound archive, with a scene or without, fails, and the results keep every value and
// their scene.
TEST(ResultsArchive, ResultsArchive_roundTripReleasesHeldScene_truncatedOrNewerLeaveTheResultsUnchanged) {
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

  for (const Bytes& sound : {stored(none), bytes}) {
    kcBlobResults target = analysedResults();
    const kcBlobResults before(target);
    const Scene* scene = target.connectedBlobs();
    for (std::size_t size = 0; size < sound.size(); ++size) {
      kcArchive in(sound.data(), size);
      EXPECT_THROW(in || target, kcException) << size;
      ASSERT_TRUE(target.connectedBlobs() == scene && target.connectTime() == before.connectTime() &&
                  target.rle() == before.rle()) << size;
    }
    expectSame(target, before);
  }
}

}  // namespace
