// Tests of the diagnostics of an analysis: kcBlobDiagInputData and kcBlobDiagResultData (text reports,
// archive forms) and the records kfBlobAnalysis makes, also when it or its recorder fails.
#include <blob/blobdesc.h>
#include <blob/blobdiag.h>
#include <blob/blobtool.h>
#include <diag/recorder.h>
#include <foundation/archive.h>
#include <foundation/pelbuffer.h>
#include <foundation/persist.h>
#include <foundation/rlebuffer.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "platform/foundation/archive_bytes.h"

namespace {

using archive_bytes::Bytes;
using archive_bytes::stored;
using Scene = kcBlobSceneDescription;
using Msg = kc_BlobMessages;
using E = kcDiagRecord;

// picture(rows): '#' is 200, '.' is 0.
kcPelBuffer<unsigned char> picture(const std::vector<std::string>& rows) {
  kcPelBuffer<unsigned char> image(static_cast<long>(rows[0].size()), static_cast<long>(rows.size()));
  for (std::size_t y = 0; y < rows.size(); ++y)
    for (std::size_t x = 0; x < rows[y].size(); ++x)
      image.pointToRow(static_cast<long>(y))[x] = rows[y][x] == '#' ? 200 : 0;
  return image;
}

kcRLEBuffer runs(const std::vector<std::string>& rows) {
  kcRLEBuffer out;
  out.encode(picture(rows));
  return out;
}

// A 4 x 3 ring around a 2 x 1 hole (ids 1 and 2), and a 1 x 2 bar (id 3).
const std::vector<std::string> kRingAndBar = {
    "..........",
    ".####.....",
    ".#..#..#..",
    ".####..#..",
    "..........",
};

// Closed forms: a w x h block of unit pels has second moments (w^3 h / 12, w h^3 / 12) about its
// centre; its outline has 2 (w + h) steps and 4 convex corners, so a perimeter of
// 0.94806 x (2 (w + h) - 4 x 0.58579): 3.4669 (2 x 1), 5.36302 (3 x 1), 11.0514 (4 x 3).
const std::wstring kRing =
    L"\nBlob #1:\n  Center of Mass = ( 3 , 2.5 )\n  Area = 10\n  Perimeter = 11.0514\n"
    L"  Inertia = ( 15.3333 , 8.83333 )\n  Elongation = 1.73585\n  Angle =0.000000 radian\n";
const std::wstring kHole =
    L"\nBlob #2:\n  Center of Mass = ( 3 , 2.5 )\n  Area = 2\n  Perimeter = 3.4669\n"
    L"  Inertia = ( 0.666667 , 0.166667 )\n  Elongation = 4\n  Angle =0.000000 radian\n";
const std::wstring kBar =
    L"\nBlob #3:\n  Center of Mass = ( 7.5 , 3 )\n  Area = 2\n  Perimeter = 3.4669\n"
    L"  Inertia = ( 0.166667 , 0.666667 )\n  Elongation = 4\n  Angle =1.570796 radian\n";
const std::wstring kGreyHead = L"Connectivity Kind  =  eGreyScale \nScale Value  = 1\n";
const std::wstring kNoCleanup = L"Cleanup Kind  =  eNone \nNumber of Filters = 0\n";
const std::wstring kRingAndBarReport = kGreyHead + kNoCleanup + L"Number of Blobs = 3\n" + kRing + kHole + kBar + L"\n";

kcBlobParams hardParams(Scene::Analysis kind = Scene::eGreyScale) {
  kcBlobParams p;
  p.setSegmentationHardThresh(100, false);
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
  struct Case {
    std::function<void(kcBlobParams&)> set;
    const wchar_t* text;
  };
  const Case cases[] = {
      {[](kcBlobParams&) {}, L"No segmentation. ScaleVal = 1\n"},
      {[](kcBlobParams& p) { p.setSegmentationMap(std::vector<unsigned char>(256, 1), 5); }, L"Map. ScaleVal = 5\n"},
      {[](kcBlobParams& p) { p.setSegmentationThreshImage({}, picture({"#"}), {}, 255); },
       L"Threshold image. ScaleVal = 255\n"},
      {[](kcBlobParams& p) { p.setSegmentationHardThresh(40, false); }, L"Hard threshold = 40\n"},
      {[](kcBlobParams& p) { p.setSegmentationHardThresh(128, true); }, L"Hard threshold = 128 (inverted)\n"},
      {[](kcBlobParams& p) { p.setSegmentationHardThresh(5L, 10L, 50L, false); },
       L"Hard threshold = 50%\nLow Tail Percent = 5\nHigh Tail Percent = 10\n"},
      {[](kcBlobParams& p) { p.setSegmentationSoftThresh(10, 20, 4, false); },
       L"Soft threshold = 10\nHigh threshold = 20\nSoftness = 4\n"},
      {[](kcBlobParams& p) { p.setSegmentationSoftThresh(0L, 100L, 30L, 30L, 6, true); },
       L"Soft threshold = 30% (inverted)\nHigh threshold = 30%\nSoftness = 6\nLow Tail Percent = 0\n"
       L"High Tail Percent = 100\n"},
  };
  for (const Case& c : cases) {
    kcBlobParams params;
    c.set(params);
    params.connectivityType(Scene::eLabelled);  // none of these shows
    params.morph({eMorphOpen1});
    params.mask(runs({"#"}));
    EXPECT_EQ(kcBlobDiagInputData(params).getAsText(), c.text);
  }

  Bytes bytes = stored(*std::make_unique<kcBlobParams>());
  bytes[2] = 99;  // kcBlobParams' version, kcPersistent's, then the kind as an int
  kcBlobParams damaged;
  kcArchive in(bytes.data(), bytes.size());
  in || damaged;
  EXPECT_THROW(kcBlobDiagInputData(damaged).getAsText(), kcBadArgument);
}

TEST(BlobDiagResultData_report, analyses_exactText) {
  const auto cleaned = [](Scene::ConnectCleanup c) {
    kcBlobParams p = hardParams();
    p.connectivityCleanup(c);
    p.connectivityMinPels(1);  // nothing is that small
    return p;
  };
  kcBlobParams masked = hardParams();
  masked.mask(runs({"..##..."}));
  kcBlobParams labelled;  // every value a region, the background included
  labelled.connectivityType(Scene::eLabelled);
  const std::wstring cleanupTail = L"Minimum Feature Size = 1\nNumber of Filters = 0\nNumber of Blobs = 3\n" + kRing +
                                   kHole + kBar + L"\n";
  struct Case {
    const char* name;
    kcBlobParams params;
    std::vector<std::string> picture;
    std::wstring text;
  };
  const Case cases[] = {
      {"greyScale", hardParams(), kRingAndBar, kRingAndBarReport},
      {"prune", cleaned(Scene::ePrune), kRingAndBar, kGreyHead + L"Cleanup Kind  =  ePrune \n" + cleanupTail},
      {"fill", cleaned(Scene::eFill), kRingAndBar, kGreyHead + L"Cleanup Kind  =  eFill \n" + cleanupTail},
      {"labelled", labelled, {"##..."},
       L"Connectivity Kind  =  eLabelled \n" + kNoCleanup + L"Number of Blobs = 2\n"
       L"\nBlob #1:\n  Center of Mass = ( 1 , 0.5 )\n  Area = 2\n  Perimeter = 3.4669\n"
       L"  Inertia = ( 0.666667 , 0.166667 )\n  Elongation = 4\n  Angle =0.000000 radian\n"
       L"\nBlob #2:\n  Center of Mass = ( 3.5 , 0.5 )\n  Area = 3\n  Perimeter = 5.36302\n"
       L"  Inertia = ( 2.25 , 0.25 )\n  Elongation = 9\n  Angle =0.000000 radian\n\n"},
      {"wholeImage", hardParams(Scene::eWholeImageGreyScale), {"..##..."},
       L"Connectivity Kind  =  eWholeImageGreyScale \nScale Value  = 1\n" + kNoCleanup +
           L"Number of Blobs = 1\n\nBlob #1:\n  Center of Mass = ( 3 , 0.5 )\n  Area = 2\n"
           L"  Inertia = ( 0.666667 , 0.166667 )\n  Elongation = 4\n  Angle =0.000000 radian\n\n"},
      {"mask", masked, {".#####."},  // a 2 x 1 bar from x = 2 left
       kGreyHead + kNoCleanup + L"Number of Blobs = 1\n\nBlob #1:\n  Center of Mass = ( 3 , 0.5 )\n  Area = 2\n"
       L"  Perimeter = 3.4669\n  Inertia = ( 0.666667 , 0.166667 )\n  Elongation = 4\n  Angle =0.000000 radian\n\n"},
      {"noBlobs", hardParams(), {"....", "...."}, kGreyHead + kNoCleanup + L"Number of Blobs = 0\n\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kcBlobDiagResultData(analysed(c.params, c.picture)).getAsText(), c.text) << c.name;
  }
}

TEST(BlobDiagResultData_report, noScene_degenerateScene_filteredView) {
  EXPECT_EQ(kcBlobDiagResultData().getAsText(), L"Connectivity Kind  = \n");

  kcBlobResults results = analysed(hardParams(), kRingAndBar);
  results.connectedBlobs()->setFilter(kcBlob::eCenterOfMassX, 7.0, 8.0, false);  // the bar alone
  EXPECT_EQ(kcBlobDiagResultData(results).getAsText(),
            kGreyHead + L"Cleanup Kind  =  eNone \nNumber of Filters = 1\nNumber of Blobs = 1\n" + kBar + L"\n");

  static_cast<kcPersistent&>(*results.connectedBlobs()).reInit();  // back to a degenerate scene
  EXPECT_THROW(kcBlobDiagResultData(results).getAsText(), Scene::Degenerate);
}

// ---- archive forms

std::wstring describe(const kcBlobDiagInputData& d) {
  return d.getAsText() + L"|" + std::to_wstring(d.runImage().width()) + L"|" + std::to_wstring(d.diagFlags());
}

std::wstring describe(const kcBlobDiagResultData& d) {
  return d.getAsText() + L"|" + std::to_wstring(d.runImage().width()) + L"|" + std::to_wstring(d.diagFlags()) +
         L"|" + std::to_wstring(d.blobResults().rle().width());
}

// Filled objects: every field unlike a new object's.
kcBlobDiagInputData filledInput() {
  kcBlobParams params;
  params.setSegmentationSoftThresh(1L, 2L, 3L, 4L, 5, true);
  kcBlobDiagInputData d(params);
  d.runImage(runs(kRingAndBar));
  d.diagFlags(0xFFFF'FFFFul);
  EXPECT_THROW(d.diagFlags(0x1'0000'0000ul), kcBadArgument);
  EXPECT_EQ(d.diagFlags(), 0xFFFF'FFFFul);
  return d;
}

kcBlobDiagResultData filledResult() {
  kcBlobParams params = hardParams();
  params.keepRLE(true);
  kcBlobDiagResultData d(analysed(params, kRingAndBar));
  d.runImage(runs(kRingAndBar));
  d.diagFlags(0x30000);
  return d;
}

// expectArchiveForms(name, original): through the registry, and through copy(), unchanged; the
// version-0 form read; a newer version and every truncation refused, the target left as it was.
template <class Data>
void expectArchiveForms(const char* name, Data original) {
  SCOPED_TRACE(name);
  std::unique_ptr<kcDiagData> owned(original.copy()), loaded;
  Bytes bytes;
  {
    kcArchive out(bytes, kcArchive::eStoring);
    kc_Persist::ownedPointer(out, owned);
  }
  kcArchive in(bytes.data(), bytes.size());
  kc_Persist::ownedPointer(in, loaded);
  const auto* data = dynamic_cast<const Data*>(loaded.get());
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(describe(*data), describe(original));

  Bytes old = stored(original);
  ASSERT_EQ(old[0], 1);  // the class's version, kcDiagData's, then kcPersistent's
  ASSERT_EQ(old[1], 0);
  old[0] = 0;
  old.erase(old.begin() + 1);  // no kcDiagData part: kcPersistent's byte comes next
  Data fromOld;
  kcArchive oldIn(old.data(), old.size());
  oldIn || fromOld;
  EXPECT_EQ(oldIn.remaining(), 0u);
  EXPECT_EQ(describe(fromOld), describe(original));

  Data target;
  const std::wstring before = describe(target);
  Bytes body = stored(original);
  for (std::size_t size = 0; size < body.size(); ++size) {  // every failure point of the body
    kcArchive cut(body.data(), size);
    EXPECT_THROW(cut || target, kcException) << size;
    ASSERT_EQ(describe(target), before) << size;
  }
  body[0] = 2;
  kcArchive newer(body.data(), body.size());
  try {
    newer || target;
    ADD_FAILURE() << "no throw";
  } catch (const kcArchive::UnknownVersion& e) {
    EXPECT_STREQ(e.file(), "blob/blobtool");
  }
  EXPECT_EQ(describe(target), before);
}

TEST(BlobDiagData_archive, roundTripAndVersionZero_newerOrTruncatedRefused_objectUnchanged) {
  expectArchiveForms("input", filledInput());
  expectArchiveForms("result", filledResult());
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

// The annotation of each record, and the kinds of a record's entries.
std::vector<std::wstring> annotations(const kcDiagObject& recorder) {
  std::vector<std::wstring> found;
  for (long i = 0; i < recorder.numRecords(); ++i) found.push_back(recorder.diagRecord(i).entry(1).title());
  return found;
}

std::vector<E::EntryKind> entryKinds(const kcDiagRecord& record) {
  std::vector<E::EntryKind> kinds;
  for (std::size_t i = 0; i < record.numEntries(); ++i) kinds.push_back(record.entry(i).kind());
  return kinds;
}

TEST(BlobRecording, eachKindOnlyWhenSelected_byCallerOrRecorder) {
  struct Case {
    unsigned long caller;
    unsigned long recorder;
    std::vector<std::wstring> titles;
  };
  const Case cases[] = {
      {0, 0, {}},
      {kInput, 0, {kInputTitle}},
      {kResult | 0xFFFF, 0, {kResultTitle}},
      {0, kResult, {kResultTitle}},
  };
  for (const Case& c : cases) {
    kcDiagObject recorder;
    recorder.flags(c.recorder);
    kcBlobResults results;
    recordedAnalysis(picture(kRingAndBar), hardParams(), results, &recorder, c.caller);
    EXPECT_EQ(annotations(recorder), c.titles) << c.caller << " " << c.recorder;
    EXPECT_EQ(results.connectedBlobs()->numBlobs(false), 3);
  }
}

TEST(BlobRecording, inputAndResult_encodedImageDataAndGraphics) {
  kcDiagObject recorder;
  recorder.flags(kResult);
  kcBlobResults results;
  const kcPelBuffer<unsigned char> pels = picture(kRingAndBar);
  recordedAnalysis(pels, hardParams(), results, &recorder, kInput);
  ASSERT_EQ(recorder.numRecords(), 2);
  kcRLEBuffer encoded;
  encoded.encode(pels, 100, false);

  const kcDiagRecord& input = recorder.diagRecord(0);
  ASSERT_EQ(entryKinds(input), (std::vector<E::EntryKind>{E::eImage, E::eAnnotation, E::eData}));
  EXPECT_TRUE(input.entry(0).image().samePels(encoded.image()));  // the encoded image, not the pels
  EXPECT_EQ(input.entry(2).title(), L"Analysis Input Data");
  const auto& in = dynamic_cast<const kcBlobDiagInputData&>(input.entry(2).data());
  EXPECT_EQ(in.getAsText(), L"Hard threshold = 100\n");
  EXPECT_TRUE(in.runImage() == encoded);
  EXPECT_EQ(in.diagFlags(), kInput | kResult);

  const kcDiagRecord& result = recorder.diagRecord(1);
  ASSERT_EQ(entryKinds(result), (std::vector<E::EntryKind>{E::eImage, E::eAnnotation, E::eData, E::eGraphics}));
  EXPECT_TRUE(result.entry(0).image().samePels(encoded.image()));
  EXPECT_EQ(result.entry(2).title(), L"Analysis Output Data");
  const auto& out = dynamic_cast<const kcBlobDiagResultData&>(result.entry(2).data());
  EXPECT_EQ(out.getAsText(), kRingAndBarReport);
  EXPECT_TRUE(out.runImage() == encoded);
  EXPECT_EQ(out.diagFlags(), kInput | kResult);
  EXPECT_EQ(result.entry(3).title(), L"Result Graphics");
  EXPECT_EQ(result.entry(3).coordinates(), 2);
  // Each blob of the view: its centre-of-mass cross, its label, its image bounding box, its boundary.
  const kcGraphicList& graphics = result.entry(3).graphics();
  const kcGraphic::Kind each[] = {kcGraphic::eCross, kcGraphic::eText, kcGraphic::ePolyline, kcGraphic::ePolyline};
  ASSERT_EQ(graphics.size(), 12u);
  for (std::size_t i = 0; i < graphics.size(); ++i) EXPECT_EQ(graphics[i].kind(), each[i % 4]) << i;
}

// A recorder that refuses every record from the limit-th on, the first refusal optionally with an
// exception that is not a kcException.
class Refusing : public kcDiagObject {
 public:
  explicit Refusing(long limit, bool foreignFirst = false) : limit_(limit), foreign_(foreignFirst) {}
  kcDiagRecord& newDiagRecord() override {
    if (std::exchange(foreign_, false)) throw std::runtime_error("not a kcException");
    if (numRecords() >= limit_) throw kcBadArgument(L"The recorder is full.");
    return kcDiagObject::newDiagRecord();
  }

 private:
  long limit_;
  bool foreign_;
};

kcBlobParams badMorphology() {
  kcBlobParams p;
  p.morph({static_cast<keBlobParamsMorphOp>(12)});
  return p;
}

// thrownText(run): the text, with its header (class and number), of the kcException run throws.
std::wstring thrownText(const std::function<void()>& run) {
  try {
    run();
  } catch (const kcException& e) {
    return e.message(true);
  }
  ADD_FAILURE() << "no throw";
  return L"";
}

std::wstring refusal(Msg::Tool message) { return kcBlobDefs::BadParams(Msg::kTool[message]).message(true); }

TEST(BlobRecording_failure, exceptionText_inTheResultRecordJustMade) {
  kcDiagObject recorder;
  kcBlobResults results;
  const std::wstring message = thrownText(
      [&] { recordedAnalysis(runs(kRingAndBar), badMorphology(), results, &recorder, kInput | kResult); });
  EXPECT_EQ(message, refusal(Msg::eBadMorphOp));
  EXPECT_EQ(annotations(recorder), (std::vector<std::wstring>{kInputTitle, kResultTitle}));
  const kcDiagRecord& failure = recorder.diagRecord(1);
  ASSERT_EQ(entryKinds(failure), (std::vector<E::EntryKind>{E::eImage, E::eAnnotation, E::eData, E::eText}));
  EXPECT_EQ(failure.entry(3).title(), L"Exception Data");
  EXPECT_EQ(failure.entry(3).text(), L"kfBlobAnalysis threw \n" + message + L"\n");

  Refusing foreign(10, true);  // the input record fails with a std::runtime_error
  try {
    recordedAnalysis(runs(kRingAndBar), hardParams(), results, &foreign, kInput | kResult);
    ADD_FAILURE() << "no throw";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "not a kcException");
  }
  ASSERT_EQ(foreign.numRecords(), 1);
  EXPECT_EQ(foreign.diagRecord(0).entry(3).text(),
            L"kfBlobAnalysis threw \n" + kcUnknownError(0).message(true) + L"\n");
}

// Each failure of the failure record itself is left out; the caller gets the analysis's exception.
TEST(BlobRecording_failure, recorderOwnFailures_keepTheAnalysisException) {
  Refusing full(0);
  kcBlobResults results;  // no scene: the first analysis fails before connectivity
  EXPECT_EQ(thrownText([&] { recordedAnalysis(runs({"#"}), badMorphology(), results, &full, kResult); }),
            refusal(Msg::eBadMorphOp));
  EXPECT_EQ(full.numRecords(), 0);

  // Unbound pels of either kind (nothing to encode), and a degenerate scene (nothing to draw).
  kcDiagObject readOnlyPels, mutablePels, degenerate;
  const kcPelBuffer_const<unsigned char> unboundReadOnly;
  const kcPelBuffer<unsigned char> unboundMutable;
  EXPECT_EQ(thrownText([&] { recordedAnalysis(unboundReadOnly, hardParams(), results, &readOnlyPels, kResult); }),
            refusal(Msg::eImageUnbound));
  EXPECT_EQ(thrownText([&] { recordedAnalysis(unboundMutable, hardParams(), results, &mutablePels, kResult); }),
            refusal(Msg::eImageUnbound));
  kfBlobAnalysis(runs({"#"}), kcBlobParams(), results);
  static_cast<kcPersistent&>(*results.connectedBlobs()).reInit();
  EXPECT_EQ(thrownText([&] { recordedAnalysis(runs({"#"}), badMorphology(), results, &degenerate, kResult); }),
            refusal(Msg::eBadMorphOp));
  for (const kcDiagObject* recorder : {&readOnlyPels, &mutablePels, &degenerate}) {
    ASSERT_EQ(recorder->numRecords(), 1);
    const kcDiagRecord& record = recorder->diagRecord(0);
    EXPECT_EQ(entryKinds(record), (std::vector<E::EntryKind>{E::eImage, E::eAnnotation, E::eData, E::eText}));
    EXPECT_TRUE(record.entry(3).text().starts_with(L"kfBlobAnalysis threw \n"));
  }

  // A refused record of an analysis that would succeed is that analysis's failure.
  EXPECT_THROW(recordedAnalysis(picture({"#"}), hardParams(), results, &full, kInput), kcBadArgument);
}

}  // namespace
