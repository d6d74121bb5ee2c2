// Tests of the results' archive form: ownership of the scene on loading.
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

// Loading releases the scene the results held (a leak shows under the sanitizer), loading results
// without a scene included, but never a relinquished one. (Round trips, truncations and newer
// versions: the corpus test.)
TEST(ResultsArchive, loading_releasesHeldSceneButNotARelinquishedOne) {
  const Bytes withScene = seed("results-with-scene.bin");
  kcBlobResults first, holder;
  load(withScene, first);
  load(withScene, holder);
  load(withScene, holder);
  std::unique_ptr<Scene> taken(holder.connectedBlobs());
  holder.relinquishBSDOwnership();
  load(withScene, holder);
  load(seed("results-empty.bin"), holder);
  EXPECT_EQ(holder.connectedBlobs(), nullptr);
  EXPECT_TRUE(answers(*taken) == answers(*first.connectedBlobs()));
}

}  // namespace
