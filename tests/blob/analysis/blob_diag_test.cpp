// Tests of the diagnostics of an analysis: kcBlobDiagInputData and kcBlobDiagResultData (text reports,
// archive forms) and the records kfBlobAnalysis makes, also when it or its recorder fails.
#include <blob/blobdesc.h>
#include <blob/blobdiag.h>
#include <blob/blobtool.h>
#include <diag/recorder.h>
#include <foundation/archive.h>
#include <foundation/pelbuffer.h>
#include <foundation/rlebuffer.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "messages.h"
#include "persist.h"
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
// A 2 x 1 bar from x = 2 on row 0, the only blob.
const std::wstring kBarAt2 = L"Number of Blobs = 1\n\nBlob #1:\n  Center of Mass = ( 3 , 0.5 )\n  Area = 2\n"
                             L"  Perimeter = 3.4669\n  Inertia = ( 0.666667 , 0.166667 )\n  Elongation = 4\n"
                             L"  Angle =0.000000 radian\n\n";
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
  kcBlobParams eroded = hardParams();
  eroded.morph({eMorphErode1});
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
      {"mask", masked, {".#####."}, kGreyHead + kNoCleanup + kBarAt2},
      {"morphology", eroded, {".####.."}, kGreyHead + kNoCleanup + kBarAt2},
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

// Both classes: a default object, a filled one (every field unlike the default's), the fields as text.
struct Kind {
  const char* name;
  std::function<std::unique_ptr<kcDiagData>()> fresh;
  std::function<std::unique_ptr<kcDiagData>()> make;
  std::function<std::wstring(const kcDiagData&)> describe;
};

template <class Data>
std::wstring describeCommon(const Data& d) {
  return d.getAsText() + L"|" + std::to_wstring(d.runImage().width()) + L"|" + std::to_wstring(d.diagFlags());
}

const Kind kKinds[] = {
    {"input", [] { return std::unique_ptr<kcDiagData>(new kcBlobDiagInputData); },
     [] {
       kcBlobParams params;
       params.setSegmentationSoftThresh(1L, 2L, 3L, 4L, 5, true);
       auto d = std::make_unique<kcBlobDiagInputData>(params);
       d->runImage(runs(kRingAndBar));
       d->diagFlags(0xFFFF'FFFFul);
       EXPECT_THROW(d->diagFlags(0x1'0000'0000ul), kcBadArgument);
       return std::unique_ptr<kcDiagData>(std::move(d));
     },
     [](const kcDiagData& d) { return describeCommon(dynamic_cast<const kcBlobDiagInputData&>(d)); }},
    {"result", [] { return std::unique_ptr<kcDiagData>(new kcBlobDiagResultData); },
     [] {
       kcBlobResults results;  // its encoded image kept, its scene let go (scenes do not archive yet)
       kcBlobParams params = hardParams();
       params.keepRLE(true);
       kfBlobAnalysis(picture(kRingAndBar), params, results);
       delete results.connectedBlobs();
       results.relinquishBSDOwnership();
       auto d = std::make_unique<kcBlobDiagResultData>(results);
       d->runImage(runs(kRingAndBar));
       d->diagFlags(0x30000);
       return std::unique_ptr<kcDiagData>(std::move(d));
     },
     [](const kcDiagData& d) {
       const auto& data = dynamic_cast<const kcBlobDiagResultData&>(d);
       return describeCommon(data) + L"|" + std::to_wstring(data.blobResults().rle().width());
     }},
};

TEST(BlobDiagData_archive, roundTripThroughRegistry_versionZeroReadWithPersistentBase) {
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    std::unique_ptr<kcDiagData> original = kind.make();
    Bytes bytes;
    {
      kcArchive out(bytes, kcArchive::eStoring);
      kc_Persist::ownedPointer(out, original);
    }
    std::unique_ptr<kcDiagData> loaded;
    kcArchive in(bytes.data(), bytes.size());
    kc_Persist::ownedPointer(in, loaded);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(kind.describe(*loaded), kind.describe(*original));
    const std::unique_ptr<kcDiagData> copied(loaded->copy());
    EXPECT_EQ(kind.describe(*copied), kind.describe(*original));

    Bytes old = stored(*original);
    ASSERT_EQ(old[0], 1);  // the class's version, kcDiagData's, then kcPersistent's
    ASSERT_EQ(old[1], 0);
    old[0] = 0;
    old.erase(old.begin() + 1);  // no kcDiagData part: kcPersistent's byte comes next
    loaded = kind.fresh();
    kcArchive oldIn(old.data(), old.size());
    oldIn || *loaded;
    EXPECT_EQ(oldIn.remaining(), 0u);
    EXPECT_EQ(kind.describe(*loaded), kind.describe(*original));
  }
}

TEST(BlobDiagData_archive, newerOrTruncated_refused_objectUnchanged) {
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    Bytes bytes = stored(*kind.make());
    const std::unique_ptr<kcDiagData> fresh = kind.fresh();
    kcDiagData& target = *fresh;
    const std::wstring before = kind.describe(target);
    for (std::size_t size = 0; size < bytes.size(); ++size) {  // every failure point of the body
      kcArchive in(bytes.data(), size);
      EXPECT_THROW(in || target, kcException) << size;
      ASSERT_EQ(kind.describe(target), before) << size;
    }
    bytes[0] = 2;
    kcArchive in(bytes.data(), bytes.size());
    try {
      in || target;
      ADD_FAILURE() << "no throw";
    } catch (const kcArchive::UnknownVersion& e) {
      EXPECT_STREQ(e.file(), "blob/blobtool");
    }
    EXPECT_EQ(kind.describe(target), before);
  }
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
      {kInput | kResult, 0, {kInputTitle, kResultTitle}},
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

  kcDiagObject whole;  // no boundaries in a whole-image scene
  recordedAnalysis(pels, hardParams(Scene::eWholeImageGreyScale), results, &whole, kResult);
  EXPECT_EQ(whole.diagRecord(0).entry(3).graphics().size(), 3u);
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

TEST(BlobRecording_failure, exceptionText_inTheResultRecordJustMade) {
  kcDiagObject recorder;
  kcBlobResults results;
  std::wstring message;
  try {
    recordedAnalysis(runs(kRingAndBar), badMorphology(), results, &recorder, kInput | kResult);
    ADD_FAILURE() << "no throw";
  } catch (const kcBlobDefs::BadParams& e) {
    message = e.message(true);
  }
  EXPECT_TRUE(message.ends_with(Msg::kTool[Msg::eBadMorphOp]));
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
  struct Case {
    const char* name;
    std::function<void(kcDiagObject&, kcBlobResults&)> analyse;
    Msg::Tool message;
    long records;  // made; the last one holds the failure's text
    std::vector<E::EntryKind> lastEntries;
  };
  const std::vector<E::EntryKind> noGraphics{E::eImage, E::eAnnotation, E::eData, E::eText};
  const Case cases[] = {
      {"failureRecordRefused",
       [](kcDiagObject& d, kcBlobResults& r) { recordedAnalysis(runs({"#"}), badMorphology(), r, &d, kResult); },
       Msg::eBadMorphOp, 0, {}},
      {"unboundReadOnlyPels",
       [](kcDiagObject& d, kcBlobResults& r) {
         recordedAnalysis(kcPelBuffer_const<unsigned char>(), hardParams(), r, &d, kResult);
       },
       Msg::eImageUnbound, 1, noGraphics},
      {"unboundMutablePels",
       [](kcDiagObject& d, kcBlobResults& r) {
         recordedAnalysis(kcPelBuffer<unsigned char>(), hardParams(), r, &d, kResult);
       },
       Msg::eImageUnbound, 1, noGraphics},
      {"degenerateScene",
       [](kcDiagObject& d, kcBlobResults& r) {
         kfBlobAnalysis(runs({"#"}), kcBlobParams(), r);
         static_cast<kcPersistent&>(*r.connectedBlobs()).reInit();
         recordedAnalysis(runs({"#"}), badMorphology(), r, &d, kResult);
       },
       Msg::eBadMorphOp, 1, noGraphics},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::unique_ptr<kcDiagObject> recorder =
        c.records == 0 ? std::make_unique<Refusing>(0) : std::make_unique<kcDiagObject>();
    kcBlobResults results;
    try {
      c.analyse(*recorder, results);
      ADD_FAILURE() << "no throw";
    } catch (const kcException& e) {  // the class and the text of the analysis's own refusal
      EXPECT_EQ(e.message(true), kcBlobDefs::BadParams(Msg::kTool[c.message]).message(true));
    }
    ASSERT_EQ(recorder->numRecords(), c.records);
    if (c.records > 0) {
      const kcDiagRecord& last = recorder->diagRecord(c.records - 1);
      EXPECT_EQ(entryKinds(last), c.lastEntries);
      EXPECT_TRUE(last.entry(3).text().starts_with(L"kfBlobAnalysis threw \n"));
    }
  }
  // A refused record of an analysis that would succeed is that analysis's failure.
  Refusing full(0);
  kcBlobResults results;
  EXPECT_THROW(recordedAnalysis(picture({"#"}), hardParams(), results, &full, kInput), kcBadArgument);
}

}  // namespace
