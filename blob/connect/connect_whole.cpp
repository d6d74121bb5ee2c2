// Whole-image analysis: every non-zero pel of the image in one weighted blob, trimmed to the
// smallest rectangle that holds them.
#include "connect/connect_scene.h"
#include "scene/scene_builder.h"

#include <foundation/assert.h>
#include <foundation/attention.h>
#include <foundation/rlebuffer.h>

#include <algorithm>
#include <cstdint>

namespace {

std::uint64_t weightedSum(const kcRLEBuffer& image) {
  std::uint64_t sum = 0;
  const unsigned char* const* rows = image.pointToRat();
  for (long y = 0; y < image.height(); ++y) {
    if ((y & 15) == 15) kcAttention::check();
    for (const unsigned char* r = rows[y]; r[1] != 0; r += 2) sum += std::uint64_t{r[0]} * r[1];
  }
  return sum;
}

// trim(projection, first, count): the first non-zero entry and the span up to the last one.
void trim(const std::vector<std::uint64_t>& projection, long& first, long& count) {
  const auto nonZero = [](std::uint64_t v) { return v != 0; };
  const auto begin = std::find_if(projection.begin(), projection.end(), nonZero);
  KC_ASSERT(begin != projection.end(), "a projection of an image with weight has a non-zero entry");
  const auto last = std::find_if(projection.rbegin(), projection.rend(), nonZero);
  first = static_cast<long>(begin - projection.begin());
  count = static_cast<long>(projection.rend() - last) - first;
}

void keep(std::vector<std::uint64_t>& projection, long first, long count) {
  projection.erase(projection.begin(), projection.begin() + first);
  projection.resize(static_cast<std::size_t>(count));
}

}  // namespace

kc_SceneResult kf_WholeImageBlobs(const kcBlobSceneDescription& scene, const kcRLEBuffer& image) {
  KC_ASSERT(!image.isDegenerate(), "the image of a whole-image analysis has pels");
  kc_SceneResult result;
  if (weightedSum(image) == 0) return result;
  result.blobs = kc_SceneBuilder::newBlobs(scene, 1);
  kcBlob& blob = result.blobs.front();
  kc_SceneBuilder::label(blob) = 1;
  kc_BlobRecord& record = kc_SceneBuilder::record(blob);
  kc_BlobBoundaryData& boundary = record.boundary.create(&blob);
  boundary.rowProjection = image.projectHoriz();
  boundary.columnProjection = image.projectVert();
  long top = 0, height = 0, left = 0, width = 0;
  trim(boundary.rowProjection, top, height);
  trim(boundary.columnProjection, left, width);
  const kcPelRect rect(left + image.offset().first, top + image.offset().second, width, height);
  kc_SceneBuilder::imageRect(blob) = rect;
  kc_SceneBuilder::region(blob) = image.subWindow(rect);
  keep(boundary.rowProjection, top, height);
  keep(boundary.columnProjection, left, width);
  result.topIds.push_back(1);
  return result;
}
