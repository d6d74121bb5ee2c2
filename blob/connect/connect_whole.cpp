// Whole-image analysis: every non-zero pel of the image in one weighted blob, trimmed to the
// smallest rectangle that holds them.
#include "connect/connect_scene.h"
#include "parallel/run_bands.h"
#include "parallel/work_pool.h"
#include "scene/scene_builder.h"

#include <foundation/assert.h>
#include <foundation/rlebuffer.h>

#include <algorithm>
#include <cstdint>

namespace {

// project(image, threads, rows, columns): the row and column projections, in bands of rows whose
// column sums add up (exact: integer sums).
void project(const kcRLEBuffer& image, unsigned threads, std::vector<std::uint64_t>& rows,
             std::vector<std::uint64_t>& columns) {
  const long width = image.width(), height = image.height();
  const std::size_t bands = kf_Bands(width, height, threads);
  if (bands < 2) {
    rows = image.projectHoriz();
    columns = image.projectVert();
    return;
  }
  std::vector<std::vector<std::uint64_t>> rowParts(bands), columnParts(bands);
  const kcPair<long> at = image.offset();
  kc_WorkPool::shared().run(bands, threads, [&](std::size_t b) {
    const kcRLEBuffer band = image.subWindow(kf_BandRect(at, width, height, bands, b));
    rowParts[b] = band.projectHoriz();
    columnParts[b] = band.projectVert();
  });
  rows.clear();
  rows.reserve(static_cast<std::size_t>(height));
  for (const auto& part : rowParts) rows.insert(rows.end(), part.begin(), part.end());
  columns = std::move(columnParts[0]);
  for (std::size_t b = 1; b < bands; ++b)
    for (std::size_t x = 0; x < columns.size(); ++x) columns[x] += columnParts[b][x];
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

void kf_WholeImageBlobs(const kcRLEBuffer& image, kc_BlobStore& store, std::vector<BlobId>& topIds,
                        unsigned threads) {
  KC_ASSERT(!image.isDegenerate(), "the image of a whole-image analysis has pels");
  store.clear();
  topIds.clear();
  std::vector<std::uint64_t> rows, columns;
  project(image, threads, rows, columns);
  if (std::all_of(rows.begin(), rows.end(), [](std::uint64_t v) { return v == 0; })) return;
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
