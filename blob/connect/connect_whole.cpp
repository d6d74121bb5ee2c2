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

void kf_WholeImageBlobs(const kcRLEBuffer& image, kc_BlobStore& store, std::vector<BlobId>& topIds) {
  KC_ASSERT(!image.isDegenerate(), "the image of a whole-image analysis has pels");
  store.clear();
  topIds.clear();
  if (weightedSum(image) == 0) return;
  std::vector<std::uint64_t> rows = image.projectHoriz();
  std::vector<std::uint64_t> columns = image.projectVert();
  long top = 0, height = 0, left = 0, width = 0;
  trim(rows, top, height);
  trim(columns, left, width);
  const kcPelRect rect(left + image.offset().first, top + image.offset().second, width, height);
  kc_BlobPlan plan;
  plan.region = image.subWindow(rect);
  plan.label = 1;
  kc_SceneBuilder::fill(store, {plan}, image.offset());
  keep(rows, top, height);
  keep(columns, left, width);
  kc_BlobBoundaryData& boundary = store.measures(1).boundary;
  boundary.rowProjection = std::move(rows);
  boundary.columnProjection = std::move(columns);
  topIds.push_back(1);
}
