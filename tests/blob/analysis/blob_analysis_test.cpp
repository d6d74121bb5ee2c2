// Tests of kfBlobAnalysis and kcBlobResults: refusals with the state they leave, the encoders and
// morphology the parameters select, keep flags, reuse, ownership and copies. (The results' archive
// is ResultsArchive's.)
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>
#include <foundation/archive.h>
#include <foundation/attention.h>
#include <foundation/pelbuffer.h>
#include <foundation/rlebuffer.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/messages.h"
#include "platform/foundation/archive_bytes.h"
#include "platform/foundation/attention_checks.h"
#include "scene/scene_builder.h"

namespace {

using Msg = kc_BlobMessages;
using Scene = kcBlobSceneDescription;
using Runs = kcRLEBuffer;

// picture(rows): '.' is 0, '#' is 200, a digit d is 20 x d.
kcPelBuffer<unsigned char> picture(const std::vector<std::string>& rows) {
  kcPelBuffer<unsigned char> image(static_cast<long>(rows[0].size()), static_cast<long>(rows.size()));
  for (std::size_t y = 0; y < rows.size(); ++y)
    for (std::size_t x = 0; x < rows[y].size(); ++x) {
      const char c = rows[y][x];
      image.pointToRow(static_cast<long>(y))[x] = static_cast<unsigned char>(c == '.' ? 0 : c == '#' ? 200 : 20 * (c - '0'));
    }
  return image;
}

// A ring around a hole, and a bar of another value: three regions.
const kcPelBuffer<unsigned char> kImage = picture({"........", ".###....", ".#.#..9.", ".###..9.", "........"});

Runs encoded(const kcPelBuffer_const<unsigned char>& image) {
  Runs out;
  out.encode(image);
  return out;
}

// expectRefusal(run, message): run throws BadParams with the tool table's message; no message:
// kcBadArgument.
template <class F>
void expectRefusal(F run, std::optional<Msg::Tool> message) {
  try {
    run();
    ADD_FAILURE() << "not refused";
  } catch (const kcBlobDefs::BadParams& e) {
    EXPECT_EQ(e.message(false), message ? Msg::kTool[*message] : L"(kcBadArgument)");
  } catch (const kcBadArgument&) {
    EXPECT_FALSE(message) << "kcBadArgument";
  }
}

// ---- refusals and the state they leave ----

TEST(BlobAnalysis, BlobAnalysis_pelFrontEndRefusal_leavesResultsLaterFailureUnbindsImages) {
  kcBlobParams params;
  params.keepRLE(true);
  kcBlobResults results;
  kfBlobAnalysis(kImage, params, results);
  const Runs rle = results.rle();
  const Scene* scene = results.connectedBlobs();
  expectRefusal([&] { kfBlobAnalysis(kcPelBuffer<unsigned char>(), params, results); }, Msg::eImageUnbound);
  expectRefusal([&] { kfBlobAnalysis(kcPelBuffer_const<unsigned char>(0, 3), params, results); }, Msg::eImageEmpty);
  EXPECT_TRUE(results.rle() == rle && results.connectedBlobs() == scene);

  // A failure after encoding unbinds every image, kept or not.
  params.keepMorphed(true);
  params.morph({eMorphErode0, static_cast<keBlobParamsMorphOp>(-1)});
  expectRefusal([&] { kfBlobAnalysis(kImage, params, results); }, Msg::eBadMorphOp);
  EXPECT_TRUE(results.rle().isDegenerate() && results.morphed().isDegenerate());
}

TEST(BlobAnalysis, BlobAnalysis_runLengthBodyRefusal_stagesBeforeTheFaultRan) {
  const Runs input = encoded(kImage);
  kcBlobParams params;
  params.mask(encoded(picture({"####....", "####....", "####....", "####....", "####...."})));
  kcBlobResults results;
  kfBlobAnalysis(input, params, results);
  const double maskTime = results.maskTime();
  const Runs masked = results.masked();
  params.connectivityCleanup(Scene::ePrune);
  params.connectivityType(Scene::eWholeImageGreyScale);
  expectRefusal([&] { kfBlobAnalysis(input, params, results); }, Msg::eCleanupWithWholeImage);
  EXPECT_EQ(results.maskTime(), maskTime);  // refused before masking

  // A list failing part-way keeps the operations before the fault.
  params.connectivityCleanup(Scene::eNone);
  params.mask(Runs());
  params.morph({eMorphErode0, static_cast<keBlobParamsMorphOp>(12)});
  expectRefusal([&] { kfBlobAnalysis(input, params, results); }, Msg::eBadMorphOp);
  EXPECT_EQ(results.morphed(), input.gmorphMin(Runs::eSquare3x3));
  EXPECT_EQ(results.masked(), masked);  // no mask this time: untouched

  // An unknown connectivity type is reported after morphology ran; a reused scene stays, its
  // filters cleared; a scene the failing call created is deleted (the sanitizer build sees a leak).
  Scene* scene = results.connectedBlobs();
  scene->setFilter(kcBlob::eArea, 0, 1, false);
  params.morph({eMorphDilate1});
  params.connectivityType(static_cast<Scene::Analysis>(7));
  expectRefusal([&] { kfBlobAnalysis(input, params, results); }, Msg::eBadConnectivityType);
  EXPECT_EQ(results.morphed(), input.gmorphMax(Runs::eHoriz3x1));
  EXPECT_TRUE(results.connectedBlobs() == scene && scene->numFilters() == 0);
  kcBlobResults fresh;
  expectRefusal([&] { kfBlobAnalysis(input, params, fresh); }, Msg::eBadConnectivityType);
  EXPECT_EQ(fresh.connectedBlobs(), nullptr);
}

// replaceOnce(bytes, from, to): the single occurrence of from in bytes replaced by to.
void replaceOnce(std::vector<unsigned char>& bytes, const std::vector<unsigned char>& from,
                 const std::vector<unsigned char>& to) {
  const auto at = std::search(bytes.begin(), bytes.end(), from.begin(), from.end());
  ASSERT_NE(at, bytes.end());
  ASSERT_EQ(std::search(at + 1, bytes.end(), from.begin(), from.end()), bytes.end()) << "not unique";
  std::copy(to.begin(), to.end(), at);
}

// Values no setter takes, stored by a cast or patched into an archive and loaded unchecked, are
// refused before anything is encoded.
TEST(BlobAnalysis, BlobAnalysis_valuesOnlyArchivesOrCastsHold_refusedBeforeEncoding) {
  using Patch = std::function<void(std::vector<unsigned char>&)>;
  struct Case {
    std::function<void(kcBlobParams&)> set;
    Patch patch;
    std::optional<Msg::Tool> message;  // none: kcBadArgument
    bool pelsOnly;                     // the value matters only to the encoder
  };
  const Case cases[] = {
      {[](auto& p) { p.connectivityCleanup(static_cast<Scene::ConnectCleanup>(3)); }, nullptr, std::nullopt, false},
      {[](auto& p) { p.setSegmentationNone(1); },
       [](auto& b) { b[b.size() - 2] = 0; },  // the scale value precedes the last field
       Msg::eScaleNotPositive, false},
      {[](auto&) {}, [](auto& b) { b[2] = 9; }, std::nullopt, true},  // segmentation kind 9
      {[](auto& p) { p.connectivityCleanup(Scene::ePrune), p.connectivityMinPels(0x01020304); },
       [](auto& b) { replaceOnce(b, {4, 3, 2, 1}, {0xFF, 0xFF, 0xFF, 0xFF}); }, Msg::eMinPelsNegative, false},
      {[](auto& p) { p.setSegmentationHardThresh(99L, 0L, 50L, false); },
       [](auto& b) { replaceOnce(b, {99, 0, 0, 0}, {101, 0, 0, 0}); }, Msg::eLowTailRange, true},
      {[](auto& p) { p.setSegmentationSoftThresh(0xA0, 0xB0, 0x0D, false); },
       [](auto& b) { replaceOnce(b, {0xA0, 0xB0}, {0xA0, 0xA1}); }, Msg::eSoftnessAboveRange, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    kcBlobParams params;
    c.set(params);
    if (c.patch) {
      std::vector<unsigned char> bytes = archive_bytes::stored(params);
      c.patch(bytes);
      kcArchive in(bytes.data(), bytes.size());
      in || params;
    }
    params.keepRLE(true);
    kcBlobResults fresh;
    expectRefusal([&] { kfBlobAnalysis(kImage, params, fresh); }, c.message);
    EXPECT_TRUE(fresh.rle().isDegenerate() && fresh.connectedBlobs() == nullptr);
    if (c.pelsOnly) continue;
    expectRefusal([&] { kfBlobAnalysis(encoded(kImage), params, fresh); }, c.message);
    EXPECT_EQ(fresh.connectedBlobs(), nullptr);
  }
}

TEST(BlobAnalysis, BlobAnalysis_abandoned_everyStageChecksEvery16Rows) {
  constexpr long kRows = 16 * 8;
  kcPelBuffer<unsigned char> image(24, kRows);
  for (long y = 0; y < kRows; ++y) image.pointToRow(y)[y % 24] = 200;
  kcBlobParams params;
  params.setSegmentationNone(1);
  params.connectivityType(Scene::eWholeImageGreyScale);
  const Runs runs = encoded(image);
  kcBlobResults results;
  {
    kcAttention::Scope scope;
    scope.requestAbandon();
    EXPECT_THROW(kfBlobAnalysis(runs, params, results), kcAttention::Abandoned);
  }
  EXPECT_EQ(results.connectedBlobs(), nullptr);
  // Whole-image analysis alone, then every stage of a pel analysis with a mask and morphology.
  EXPECT_GE(attention_checks::checksMadeBy([&] { kfBlobAnalysis(runs, params, results); }), kRows / 16 - 1);
  params.connectivityType(Scene::eGreyScale);
  params.mask(runs);
  params.morph({eMorphClose0});
  EXPECT_GE(attention_checks::checksMadeBy([&] { kfBlobAnalysis(image, params, results); }, 256), 5 * (kRows / 16 - 1));
}

// ---- stages chosen by the parameters ----

// Each segmentation gives what its encoder gives with the arguments set.
TEST(BlobAnalysis, BlobAnalysis_segmentationKinds_useTheirEncoderAndArguments) {
  kcPelBuffer<unsigned char> pels(16, 16), steps(16, 16);
  std::vector<unsigned char> map(256), post(256);
  for (long i = 0; i < 256; ++i) {
    pels.pointToRow(i / 16)[i % 16] = static_cast<unsigned char>(i);
    steps.pointToRow(i / 16)[i % 16] = static_cast<unsigned char>(7 * (i % 16));
    map[static_cast<std::size_t>(i)] = static_cast<unsigned char>(255 - i);
    post[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i / 64);
  }
  const std::pair<std::function<void(kcBlobParams&)>, std::function<void(Runs&)>> cases[] = {
      {[&](auto& p) { p.setSegmentationNone(3); }, [&](Runs& r) { r.encode(pels); }},
      {[&](auto& p) { p.setSegmentationMap(map, 1); }, [&](Runs& r) { r.encode(pels, map); }},
      {[&](auto& p) { p.setSegmentationHardThresh(100, true); }, [&](Runs& r) { r.encode(pels, 100, true); }},
      {[&](auto& p) { p.setSegmentationHardThresh(10L, 20L, 30L, false); },
       [&](Runs& r) { r.encodePercent(pels, 10, 20, 30, false); }},
      {[&](auto& p) { p.setSegmentationSoftThresh(40, 200, 9, false); },
       [&](Runs& r) { r.encode(pels, 40, 200, 9, false); }},
      {[&](auto& p) { p.setSegmentationSoftThresh(5L, 15L, 20L, 70L, 4, true); },
       [&](Runs& r) { r.encodePercent(pels, 5, 15, 20, 70, 4, true); }},
      {[&](auto& p) { p.setSegmentationThreshImage(map, steps, post, 2); },
       [&](Runs& r) { r.encode(pels, map, steps, post); }},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    kcBlobParams params;
    params.keepRLE(true);
    cases[i].first(params);
    kcBlobResults results;
    kfBlobAnalysis(pels, params, results);
    Runs expected;
    cases[i].second(expected);
    EXPECT_EQ(results.rle(), expected) << "case " << i;
  }
}

// Erosions, dilations, closings (dilate, erode) and openings (erode, dilate) of each shape.
TEST(BlobAnalysis, BlobAnalysis_morphologyOps_runTheirStepsWithTheirShape) {
  const Runs in = encoded(kImage);
  for (int op = 0; op < 12; ++op) {
    const auto shape = static_cast<Runs::Shape>(op % 3);
    const Runs expected = op < 3   ? in.gmorphMin(shape)
                          : op < 6 ? in.gmorphMax(shape)
                          : op < 9 ? in.gmorphMax(shape).gmorphMin(shape)
                                   : in.gmorphMin(shape).gmorphMax(shape);
    kcBlobParams params;
    params.morph({static_cast<keBlobParamsMorphOp>(op)});
    kcBlobResults results;
    kfBlobAnalysis(in, params, results);
    EXPECT_EQ(results.morphed(), expected) << "operation " << op;
  }
}

TEST(BlobAnalysis, BlobAnalysis_keepFlags_pelVariantUnbindsUnkeptRunLengthVariantNever) {
  kcBlobParams params;
  params.mask(encoded(kImage));
  params.morph({eMorphErode0});
  kcBlobResults results;
  kfBlobAnalysis(kImage, params, results);
  EXPECT_TRUE(results.rle().isDegenerate() && results.masked().isDegenerate() && results.morphed().isDegenerate());
  EXPECT_EQ(results.connectedBlobs()->numBlobs(false), 0);  // connectivity saw the eroded image
  params.keepRLE(true);
  params.keepMasked(true);
  kfBlobAnalysis(kcPelBuffer_const<unsigned char>(kImage), params, results);
  EXPECT_TRUE(results.rle() == encoded(kImage) && results.masked() == encoded(kImage));
  EXPECT_TRUE(results.morphed().isDegenerate());
  kcBlobResults fromRuns;
  kfBlobAnalysis(encoded(kImage), params, fromRuns);
  EXPECT_FALSE(fromRuns.morphed().isDegenerate());
}

// ---- results: reuse, ownership, copies ----

TEST(BlobAnalysis, BlobAnalysis_resultsReused_sameSceneFiltersClearedInteriorMaskKept) {
  const Runs mask = encoded(picture({"..##..##", "..##..##", "..##..##", "..##..##", "..##..##"}));
  kcBlobParams params;
  params.mask(mask);
  params.useMaskForInterior(true);
  kcBlobResults results;
  kfBlobAnalysis(kImage, params, results);
  Scene* scene = results.connectedBlobs();
  scene->setFilter(kcBlob::eArea, 0, 1, false);
  params.useMaskForInterior(false);
  params.mask(Runs());
  kfBlobAnalysis(kImage, params, results);
  EXPECT_TRUE(results.connectedBlobs() == scene && scene->numFilters() == 0 && scene->numBlobs(false) == 3);
  EXPECT_EQ(kc_SceneBuilder::data(*scene).mask, mask);
}

TEST(BlobAnalysis, BlobAnalysis_resultsCopiedAssignedRelinquished_ownTheirScenes) {
  kcBlobParams params;
  params.keepRLE(true);
  kcBlobResults results, assigned;
  kfBlobAnalysis(kImage, params, results);
  kcBlobResults copy(results);
  assigned = results;
  for (const kcBlobResults* r : {&copy, &assigned}) {
    ASSERT_NE(r->connectedBlobs(), nullptr);
    EXPECT_NE(r->connectedBlobs(), results.connectedBlobs());
    EXPECT_EQ(r->connectedBlobs()->numBlobs(false), 3);
    EXPECT_TRUE(r->rle() == results.rle() && r->RLETime() == results.RLETime());
  }
  copy.connectedBlobs()->setFilter(kcBlob::eArea, 0, 1, false);
  EXPECT_EQ(results.connectedBlobs()->numFilters(), 0);
  // The relinquished scene outlives the results' next analysis, which makes a new one.
  const std::unique_ptr<Scene> taken(results.connectedBlobs());
  results.relinquishBSDOwnership();
  EXPECT_EQ(results.connectedBlobs(), nullptr);
  kfBlobAnalysis(kImage, params, results);
  EXPECT_EQ(taken->numBlobs(false), 3);
  EXPECT_NE(results.connectedBlobs(), taken.get());
}

// ---- measures through the everyday call ----

TEST(BlobAnalysis, BlobAnalysis_wholeImage8192x4096_weightBeyond32Bits) {
  kcPelBuffer<unsigned char> image(8192, 4096);
  for (long y = 0; y < 4096; ++y) std::fill_n(image.pointToRow(y), 8192, 128);
  kcBlobParams params;
  params.setSegmentationNone(128);
  params.connectivityType(Scene::eWholeImageGreyScale);
  kcBlobResults results;
  kfBlobAnalysis(image, params, results);
  ASSERT_EQ(results.connectedBlobs()->numBlobs(false), 1);
  const kcBlob* blob = results.connectedBlobs()->getBlob(1);
  EXPECT_EQ(blob->area(), 33554432.0);  // 2^32 of weight, which a 32-bit sum wraps to 0
  EXPECT_EQ(blob->centerOfMass(), kcVector<2>(4096, 2048));
  EXPECT_EQ(kc_SceneBuilder::parts(*blob).entry.pelCount, -1);  // left unknown: it needs 33 bits
}

}  // namespace
