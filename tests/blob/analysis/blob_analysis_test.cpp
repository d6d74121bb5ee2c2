// Tests of kfBlobAnalysis and kcBlobResults: refusals with the state they leave, the encoders and
// morphology the parameters select, threads, reuse, ownership and copies. (The
// results' archive is ResultsArchive's.)
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>
#include <foundation/archive.h>
#include <foundation/pelbuffer.h>
#include <foundation/rlebuffer.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <tuple>
#include <optional>
#include <string>
#include <vector>

#include "base/messages.h"
#include "connect/connect_fixture.h"
#include "parallel/work_pool.h"
#include "platform/foundation/archive_bytes.h"
#include "scene/scene_builder.h"

namespace {

using Msg = kc_BlobMessages;
using Scene = kcBlobSceneDescription;
using Runs = kcRLEBuffer;
using SetParams = std::function<void(kcBlobParams&)>;

kcPelBuffer<unsigned char> picture(std::initializer_list<const char*> rows) {
  return connecttest::pels(connecttest::draw(rows));
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

// A refusal before encoding leaves the results; a later one unbinds every image, kept or not.
TEST(BlobAnalysis, BlobAnalysis_pelFrontEndRefusal_leavesResultsLaterFailureUnbindsImages) {
  kcBlobParams params;
  params.keepRLE(true);
  kcBlobResults results;
  kfBlobAnalysis(kImage, params, results);
  const Runs rle = results.rle();
  const Scene* scene = results.connectedBlobs();
  expectRefusal([&] { kfBlobAnalysis(kcPelBuffer<unsigned char>(), params, results); }, Msg::eImageUnbound);
  expectRefusal([&] { kfBlobAnalysis(kcPelBuffer_const<unsigned char>(0, 3), params, results); }, Msg::eImageEmpty);
  expectRefusal([&] { kfBlobAnalysis(kImage, params, results, -1); }, Msg::eBadThreads);
  EXPECT_TRUE(results.rle() == rle && results.connectedBlobs() == scene);
  params.keepMorphed(true);
  params.morph({eMorphErode0, static_cast<keBlobParamsMorphOp>(-1)});
  expectRefusal([&] { kfBlobAnalysis(kImage, params, results); }, Msg::eBadMorphOp);
  EXPECT_TRUE(results.rle().isDegenerate() && results.morphed().isDegenerate());
}

// Refused before masking; a morphology list failing part-way keeps the operations before the
// fault; an unknown connectivity type is reported after morphology ran, a reused scene kept with
// its filters cleared, a scene the failing call created deleted (the sanitizer build sees a leak).
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
  EXPECT_EQ(results.maskTime(), maskTime);

  params.connectivityCleanup(Scene::eNone);
  params.mask(Runs());
  params.morph({eMorphErode0, static_cast<keBlobParamsMorphOp>(12)});
  expectRefusal([&] { kfBlobAnalysis(input, params, results); }, Msg::eBadMorphOp);
  EXPECT_EQ(results.morphed(), input.gmorphMin(Runs::eSquare3x3));
  EXPECT_EQ(results.masked(), masked);  // no mask this time: untouched

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

// Values no setter takes, stored by a cast or patched into an archive and loaded unchecked, are
// refused before anything is encoded: a cleanup kind 3, a scale value 0, a segmentation kind 9
// (which matters only to the encoder of the pel variants).
TEST(BlobAnalysis, BlobAnalysis_valuesOnlyArchivesOrCastsHold_refusedBeforeEncoding) {
  const auto patched = [](long at, unsigned char value) {  // at: from the end when negative
    kcBlobParams p;
    std::vector<unsigned char> bytes = archive_bytes::stored(p);
    bytes[static_cast<std::size_t>(at < 0 ? static_cast<long>(bytes.size()) + at : at)] = value;
    kcArchive in(bytes.data(), bytes.size());
    in || p;
    return p;
  };
  kcBlobParams cast;
  cast.connectivityCleanup(static_cast<Scene::ConnectCleanup>(3));
  const std::tuple<kcBlobParams, std::optional<Msg::Tool>, bool> cases[] = {
      {cast, std::nullopt, false},
      {patched(-2, 0), Msg::eScaleNotPositive, false},
      {patched(2, 9), std::nullopt, true}};
  for (const auto& c : cases) {
    kcBlobParams params = std::get<0>(c);
    params.keepRLE(true);
    kcBlobResults fresh;
    expectRefusal([&] { kfBlobAnalysis(kImage, params, fresh); }, std::get<1>(c));
    EXPECT_TRUE(fresh.rle().isDegenerate() && fresh.connectedBlobs() == nullptr);
    if (!std::get<2>(c)) expectRefusal([&] { kfBlobAnalysis(encoded(kImage), params, fresh); }, std::get<1>(c));
    EXPECT_EQ(fresh.connectedBlobs(), nullptr);
  }
}

// ---- stages chosen by the parameters ----

// Each segmentation gives what its encoder gives with the arguments set, on one thread and in
// bands on several (the percentage forms take their thresholds from the whole image's histogram).
TEST(BlobAnalysis, BlobAnalysis_segmentationKinds_useTheirEncoderAndArgumentsOnAnyThreads) {
  kcPelBuffer<unsigned char> pels(16, 64), steps(16, 64);  // the second of four bands a ramp, the others dark
  std::vector<unsigned char> map(256), post(256);
  for (long i = 0; i < 16 * 64; ++i) {
    pels.pointToRow(i / 16)[i % 16] = static_cast<unsigned char>(i / 256 == 1 ? i % 256 : i % 7);
    steps.pointToRow(i / 16)[i % 16] = static_cast<unsigned char>(7 * (i % 16));
    if (i < 256) map[static_cast<std::size_t>(i)] = static_cast<unsigned char>(255 - i);
  }
  for (std::size_t v = 0; v < 256; ++v) post[v] = static_cast<unsigned char>(v / 64);
  const std::pair<SetParams, std::function<void(Runs&)>> cases[] = {
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
  const kc_BandMinimum small(1, 1);  // bands of 16 rows
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    kcBlobParams params;
    params.keepRLE(true);
    cases[i].first(params);
    Runs expected;
    cases[i].second(expected);
    for (const int threads : {1, 4}) {
      kcBlobResults results;
      kfBlobAnalysis(pels, params, results, threads);
      EXPECT_EQ(results.rle(), expected) << "case " << i << ", " << threads << " threads";
    }
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

// ---- results: reuse, ownership, copies ----

// Analysing again reuses the scene (filters cleared) and keeps the interior mask the analysis
// used; a copy owns a scene of its own; a relinquished scene outlives the next analysis.
TEST(BlobAnalysis, BlobAnalysis_resultsReusedCopiedRelinquished_ownTheirScenes) {
  const Runs mask = encoded(picture({"..##..##", "..##..##", "..##..##", "..##..##", "..##..##"}));
  kcBlobParams params;
  params.mask(mask);
  params.useMaskForInterior(true);
  params.keepRLE(true);
  kcBlobResults results;
  kfBlobAnalysis(kImage, params, results);
  Scene* scene = results.connectedBlobs();
  scene->setFilter(kcBlob::eArea, 0, 1, false);
  params.useMaskForInterior(false);
  params.mask(Runs());
  kfBlobAnalysis(kImage, params, results);
  EXPECT_TRUE(results.connectedBlobs() == scene && scene->numFilters() == 0 && scene->numBlobs(false) == 3);
  EXPECT_EQ(kc_SceneBuilder::data(*scene).mask, mask);

  kcBlobResults copy(results);
  ASSERT_NE(copy.connectedBlobs(), nullptr);
  EXPECT_TRUE(copy.connectedBlobs() != scene && copy.connectedBlobs()->numBlobs(false) == 3);
  const std::unique_ptr<Scene> taken(scene);
  results.relinquishBSDOwnership();
  EXPECT_EQ(results.connectedBlobs(), nullptr);
  kfBlobAnalysis(kImage, params, results);
  EXPECT_EQ(taken->numBlobs(false), 3);
  EXPECT_NE(results.connectedBlobs(), taken.get());
}

}  // namespace
