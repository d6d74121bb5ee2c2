// Pictures of a scene: the bytes held while an overlay or a label image is written.
#include "common/allocation_budget.h"

#include <report/image_io.h>
#include <report/pictures.h>

#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <utility>

namespace {

using report::GreyImage;

// Pictures are written as they are made: what they hold is bounded by the image (its embedded PNG,
// the PNG overlay's canvas, the label image, the scene's rows), not by the picture, many times
// larger; nor by the scene's caches: drawing every blob caches no outline, painting it no region.
TEST(PicturesMemory, noiseImage_heldBytesBoundedByTheImageNotByThePicture) {
  constexpr long kSide = 256;
  constexpr std::size_t kPels = kSide * kSide;
  std::mt19937 rng(7);
  GreyImage image{kSide, kSide, {}};
  for (std::size_t i = 0; i < kPels; ++i) image.pels.push_back(rng() % 10 == 0 ? 255 : 0);
  kcBlobParams params;
  kcBlobResults results;
  kfBlobAnalysis(report::toPelBuffer(image), params, results);
  const kcBlobSceneDescription& scene = *results.connectedBlobs();
  ASSERT_GT(scene.numBlobs(false), 4000);
  scene.getBlob(1)->region();  // makes every blob's rows

  const std::size_t canvas = 3 * kPels * 4;  // zoom 2
  enum Kind { eSvg, ePng, eLabels };
  const std::pair<Kind, std::size_t> cases[] = {{eSvg, 2 * kPels}, {ePng, canvas + 3 * kPels}, {eLabels, 2 * kPels}};
  for (const auto& [kind, bound] : cases) {
    std::ofstream out("/dev/null", std::ios::binary);
    testalloc::HeldBytes held;
    if (kind == eLabels) report::writeLabelImage(out, scene, false);
    else report::writeOverlay(out, image, scene, report::kDefaultDrawFlags, false, kind == eSvg);
    EXPECT_LT(held.peak(), bound) << kind;
  }
}

}  // namespace
