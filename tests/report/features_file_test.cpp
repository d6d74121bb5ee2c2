// The features file: chains are written blob by blob, holding little of the file at once.
#include "common/allocation_budget.h"

#include <report/features_file.h>
#include <report/image_io.h>

#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

namespace {

// Chains are converted and written one blob at a time: the bytes held stay a small part of the
// file, whose size grows with the blobs, and no blob's outline is cached. The scene's rows are
// made first.
TEST(FeaturesMemory, noiseImage_heldBytesAFractionOfTheFile) {
  constexpr std::size_t kPels = 256 * 256;
  std::mt19937 rng(7);
  report::GreyImage image{256, 256, {}};
  for (std::size_t i = 0; i < kPels; ++i) image.pels.push_back(rng() % 10 == 0 ? 255 : 0);
  kcBlobParams params;
  kcBlobResults results;
  kfBlobAnalysis(report::toPelBuffer(image), params, results);
  const kcBlobSceneDescription& scene = *results.connectedBlobs();
  scene.getBlob(1)->region();  // makes every blob's rows

  const std::string path =
      (std::filesystem::temp_directory_path() / ("blob_report_features_" + std::to_string(getpid()) + ".json")).string();
  report::ImageReport report;
  report.file = "noise.png";
  {
    testalloc::HeldBytes held;
    report::FeaturesFile features(path);
    EXPECT_EQ(features.image(report, &scene, false), "");
    features.commit();
    EXPECT_LT(held.peak(), kPels / 2);
  }
  EXPECT_GT(std::filesystem::file_size(path), 8 * kPels);
  std::filesystem::remove(path);
}

}  // namespace
