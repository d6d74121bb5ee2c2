// Tests of the diagnostics of an analysis: the text reports of kcBlobDiagInputData and
// kcBlobDiagResultData, and the records kfBlobAnalysis makes, also when it fails.
#include <blob/blobdesc.h>
#include <blob/blobdiag.h>
#include <blob/blobtool.h>
#include <diag/recorder.h>
#include <foundation/pelbuffer.h>
#include <foundation/rlebuffer.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/messages.h"
#include "connect/connect_fixture.h"

namespace {

using Scene = kcBlobSceneDescription;
using Msg = kc_BlobMessages;
using E = kcDiagRecord;
using Titles = std::vector<std::wstring>;
using Kinds = std::vector<E::EntryKind>;

kcPelBuffer<unsigned char> picture(const std::vector<std::string>& rows) {
  return connecttest::pels(connecttest::draw(rows));
}

kcRLEBuffer runs(const std::vector<std::string>& rows) {
  kcRLEBuffer out;
  out.encode(picture(rows));
  return out;
}

// A 4 x 3 ring around a 2 x 1 hole (ids 1 and 2), and a 1 x 2 bar (id 3).
const std::vector<std::string> kRingAndBar = {"..........", ".####.....", ".#..#..#..", ".####..#..", ".........."};

// Closed forms: a w x h block of unit pels has second moments (w^3 h / 12, w h^3 / 12) about its
// centre; its outline has 2 (w + h) steps and 4 convex corners, so a perimeter of
// 0.94806 x (2 (w + h) - 4 x 0.58579): 3.4669 (2 x 1), 11.0514 (4 x 3).
const std::wstring kBarMoments = L"  Inertia = ( 0.666667 , 0.166667 )\n  Elongation = 4\n  Angle =0.000000 radian\n";
const std::wstring kRing = L"\nBlob #1:\n  Center of Mass = ( 3 , 2.5 )\n  Area = 10\n  Perimeter = 11.0514\n"
                           L"  Inertia = ( 15.3333 , 8.83333 )\n  Elongation = 1.73585\n  Angle =0.000000 radian\n";
const std::wstring kHole =
    L"\nBlob #2:\n  Center of Mass = ( 3 , 2.5 )\n  Area = 2\n  Perimeter = 3.4669\n" + kBarMoments;
const std::wstring kBar = L"\nBlob #3:\n  Center of Mass = ( 7.5 , 3 )\n  Area = 2\n  Perimeter = 3.4669\n"
                          L"  Inertia = ( 0.166667 , 0.666667 )\n  Elongation = 4\n  Angle =1.570796 radian\n";
const std::wstring kGreyHead = L"Connectivity Kind  =  eGreyScale \nScale Value  = 1\n";
const std::wstring kNoCleanup = L"Cleanup Kind  =  eNone \nNumber of Filters = 0\n";
const std::wstring kRingAndBarReport = kGreyHead + kNoCleanup + L"Number of Blobs = 3\n" + kRing + kHole + kBar + L"\n";

kcBlobParams hardParams(Scene::Analysis kind = Scene::eGreyScale) {
  kcBlobParams p;
  p.setSegmentationHardThresh(1, false);
  p.connectivityType(kind);
  return p;
}

kcBlobResults analysed(const kcBlobParams& params, const std::vector<std::string>& rows) {
  kcBlobResults results;
  kfBlobAnalysis(picture(rows), params, results);
  return results;
}

// ---- text reports

TEST(BlobDiagInputData_report, eachSegmentationKind_exactText) {
  const std::pair<std::function<void(kcBlobParams&)>, const wchar_t*> cases[] = {
      {[](kcBlobParams&) {}, L"No segmentation. ScaleVal = 1\n"},
      {[](kcBlobParams& p) { p.setSegmentationThreshImage({}, picture({"#"}), {}, 255); },
       L"Threshold image. ScaleVal = 255\n"},
      {[](kcBlobParams& p) { p.setSegmentationHardThresh(128, true); }, L"Hard threshold = 128 (inverted)\n"},
      {[](kcBlobParams& p) { p.setSegmentationHardThresh(5L, 10L, 50L, false); },
       L"Hard threshold = 50%\nLow Tail Percent = 5\nHigh Tail Percent = 10\n"},
      {[](kcBlobParams& p) { p.setSegmentationSoftThresh(0L, 100L, 30L, 30L, 6, true); },
       L"Soft threshold = 30% (inverted)\nHigh threshold = 30%\nSoftness = 6\nLow Tail Percent = 0\n"
       L"High Tail Percent = 100\n"},
  };
  for (const auto& [set, text] : cases) {
    kcBlobParams params;
    set(params);
    params.connectivityType(Scene::eLabelled);  // none of these shows
    params.morph({eMorphOpen1});
    params.mask(runs({"#"}));
    EXPECT_EQ(kcBlobDiagInputData(params).getAsText(), text);
  }
}

// (The ring and bar's report: BlobRecording_selectedByCallerOrRecorder.)
TEST(BlobDiagResultData_report, analyses_exactText) {
  const std::tuple<kcBlobParams, std::vector<std::string>, std::wstring> cases[] = {
      {hardParams(Scene::eWholeImageGreyScale), {"..##..."},
       L"Connectivity Kind  =  eWholeImageGreyScale \nScale Value  = 1\n" + kNoCleanup +
           L"Number of Blobs = 1\n\nBlob #1:\n  Center of Mass = ( 3 , 0.5 )\n  Area = 2\n" + kBarMoments + L"\n"},
      {hardParams(), {"....", "...."}, kGreyHead + kNoCleanup + L"Number of Blobs = 0\n\n"},
  };
  for (const auto& [params, rows, text] : cases)
    EXPECT_EQ(kcBlobDiagResultData(analysed(params, rows)).getAsText(), text);
  EXPECT_EQ(kcBlobDiagResultData().getAsText(), L"Connectivity Kind  = \n");
}

// ---- recording

constexpr unsigned long kInput = kcDiagDefs::eRecordInput;
constexpr unsigned long kResult = kcDiagDefs::eRecordResult;
const std::wstring kInputTitle = L"Blob Analysis Input Image and Params";
const std::wstring kResultTitle = L"Blob Analysis Results";

template <class Image>
void recordedAnalysis(const Image& image, const kcBlobParams& params, kcBlobResults& results, kcDiagObject* recorder,
                      unsigned long flags) {
  kfBlobAnalysis<Image>(image, params, results, nullptr, recorder, flags);
}

// The annotation of each record.
Titles annotations(const kcDiagObject& recorder) {
  Titles found;
  for (long i = 0; i < recorder.numRecords(); ++i) found.push_back(recorder.diagRecord(i).entry(1).title());
  return found;
}

Kinds entryKinds(const kcDiagRecord& record) {
  Kinds kinds;
  for (std::size_t i = 0; i < record.numEntries(); ++i) kinds.push_back(record.entry(i).kind());
  return kinds;
}

// Each kind of record is made when the caller or the recorder selects it. Both records show the
// encoded image, not the pels, and their data; the result adds per blob its centre-of-mass cross,
// its label, its image bounding box and its boundary.
TEST(BlobRecording, selectedByCallerOrRecorder_encodedImageDataAndGraphics) {
  kcDiagObject recorder, unselected;
  recorder.flags(kResult);
  kcBlobResults results;
  recordedAnalysis(picture(kRingAndBar), hardParams(), results, &unselected, 0);
  EXPECT_EQ(unselected.numRecords(), 0);
  recordedAnalysis(picture(kRingAndBar), hardParams(), results, &recorder, kInput);
  ASSERT_EQ(annotations(recorder), (Titles{kInputTitle, kResultTitle}));
  kcRLEBuffer encoded;
  encoded.encode(picture(kRingAndBar), 1, false);
  const kcDiagRecord &input = recorder.diagRecord(0), &result = recorder.diagRecord(1);
  ASSERT_EQ(entryKinds(result), (Kinds{E::eImage, E::eAnnotation, E::eData, E::eGraphics}));
  for (const kcDiagRecord* record : {&input, &result}) EXPECT_TRUE(record->entry(0).image().samePels(encoded.image()));
  EXPECT_EQ(input.entry(2).data().getAsText(), L"Hard threshold = 1\n");
  EXPECT_EQ(result.entry(2).data().getAsText(), kRingAndBarReport);
  const kcGraphicList& graphics = result.entry(3).graphics();
  const kcGraphic::Kind each[] = {kcGraphic::eCross, kcGraphic::eText, kcGraphic::ePolyline, kcGraphic::ePolyline};
  ASSERT_EQ(graphics.size(), 12u);
  for (std::size_t i = 0; i < graphics.size(); ++i) EXPECT_EQ(graphics[i].kind(), each[i % 4]) << i;
}

// The failure is recorded in the result record just made, as the exception's text with its header.
TEST(BlobRecording, failure_exceptionTextInTheResultRecordJustMade) {
  kcBlobParams badMorphology;
  badMorphology.morph({static_cast<keBlobParamsMorphOp>(12)});
  kcDiagObject recorder;
  kcBlobResults results;
  EXPECT_THROW(recordedAnalysis(runs(kRingAndBar), badMorphology, results, &recorder, kInput | kResult),
               kcBlobDefs::BadParams);
  ASSERT_EQ(annotations(recorder), (Titles{kInputTitle, kResultTitle}));
  const kcDiagRecord& failure = recorder.diagRecord(1);
  ASSERT_EQ(entryKinds(failure), (Kinds{E::eImage, E::eAnnotation, E::eData, E::eText}));
  EXPECT_EQ(failure.entry(3).title(), L"Exception Data");
  EXPECT_EQ(failure.entry(3).text(), L"kfBlobAnalysis threw \n" +
                                         kcBlobDefs::BadParams(Msg::kTool[Msg::eBadMorphOp]).message(true) + L"\n");
}

}  // namespace
