// The diagnostics stand-in: flags and destinations, records and their entries, the data base class.
#include <diag/data.h>
#include <diag/recorder.h>

#include <foundation/archive.h>

#include "platform/foundation/archive_bytes.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using archive_bytes::Bytes;
using archive_bytes::stored;

// A derived data class with a field of its own.
class Note : public kcDiagData {
 public:
  std::wstring words;
  Note* copy() const override { return new Note(*this); }
  std::wstring getAsText() const override { return words; }
};

// Derived classes whose copy() is wrong: not overridden (a plain kcDiagData), or null.
class Forgetful : public kcDiagData {};
class Empty : public kcDiagData {
 public:
  kcDiagData* copy() const override { return nullptr; }
};

TEST(DiagObject, DiagObject_destinationAndFlags_recorderFlagsAddedKeptWithin32Bits) {
  unsigned long flags = 0x1'0000'0001ul;
  EXPECT_TRUE(kcDiagObject::getRecordingDestination(nullptr, flags) == nullptr && flags == 1ul);
  kcDiagObject recorder;
  recorder.flags(kcDiagDefs::eRecordResult);
  EXPECT_THROW(recorder.flags(0x1'0000'0000ul), kcBadArgument);
  flags = kcDiagDefs::eRecordInput | 0xF'0000'0000ul;
  EXPECT_TRUE(kcDiagObject::getRecordingDestination(&recorder, flags) == &recorder && flags == 0x30000ul);
  EXPECT_TRUE(kcDiagObject::shouldRecord(0x3FFFF, kcDiagDefs::eRecordInput) &&
              !kcDiagObject::shouldRecord(0x2FFFF, kcDiagDefs::eRecordInput) &&
              !kcDiagObject::shouldRecord(~0ul, static_cast<kcDiagDefs::What>(0)));
}

TEST(DiagObject, DiagObject_records_inOrderAndStableBadIndexRefusedClearKeepsFlags) {
  kcDiagObject recorder;
  recorder.flags(7);
  kcDiagRecord& first = recorder.newDiagRecord();
  for (int i = 0; i < 100; ++i) recorder.newDiagRecord();  // the first record must not move
  EXPECT_EQ(&recorder.diagRecord(0), &first);
  for (long bad : {-1L, 101L}) EXPECT_THROW(recorder.diagRecord(bad), kcBadArgument) << bad;
  recorder.clear();
  EXPECT_TRUE(recorder.numRecords() == 0 && recorder.flags() == 7ul);
}

// Every entry is a copy made when it was given (the first image is shared, as asked); each
// accessor of another kind is refused; bad data is refused leaving the record as it was.
TEST(DiagRecord, DiagRecord_entries_inOrderAsCopiesOtherKindsAndBadDataRefused) {
  kcPelBuffer<unsigned char> pels(2, 1);
  const kcGraphicHandle cross(new kcGraphicCross(kcCross(), kcColor::redColor()));
  kcGraphicList list;
  list.append(cross, true);
  Note note;
  note.words = L"before";
  kcDiagRecord record;
  record.image(pels, false);
  record.image(pels, true);
  record.recordAnnotation(L"caption");
  record.data(note, L"data");
  record.graphics(list, kcDiagDefs::eClientCoordinates, L"graphics");
  record.text(L"body", L"text");
  EXPECT_THROW(record.data(Forgetful(), L"sliced"), kcBadArgument);
  EXPECT_THROW(record.data(Empty(), L"null"), kcBadPointer);
  EXPECT_THROW(record.data(std::unique_ptr<kcDiagData>(), L"none"), kcBadPointer);
  pels.pointToRow(0)[0] = 9;
  note.words = L"after";
  cross->color(kcColor::blueColor());

  using E = kcDiagRecord;
  const E::EntryKind kinds[] = {E::eImage, E::eImage, E::eAnnotation, E::eData, E::eGraphics, E::eText};
  const wchar_t* titles[] = {L"", L"", L"caption", L"data", L"graphics", L"text"};
  ASSERT_EQ(record.numEntries(), 6u);
  for (std::size_t i = 0; i < 6; ++i) {
    const E::Entry& e = record.entry(i);
    EXPECT_TRUE(e.kind() == kinds[i] && e.title() == titles[i]) << i;
    if (e.kind() != E::eImage) { EXPECT_THROW(e.image(), kcBadArgument) << i; }
    if (e.kind() != E::eData) { EXPECT_THROW(e.data(), kcBadArgument) << i; }
    if (e.kind() != E::eGraphics) { EXPECT_THROW(e.coordinates(), kcBadArgument) << i; }
    if (e.kind() != E::eText) { EXPECT_THROW(e.text(), kcBadArgument) << i; }
  }
  EXPECT_THROW(record.entry(6), kcBadArgument);
  EXPECT_TRUE(record.entry(0).image().pointToRow(0)[0] == 9 && record.entry(1).image().pointToRow(0)[0] == 0);
  EXPECT_TRUE(record.entry(3).data().getAsText() == L"before" && record.entry(5).text() == L"body");
  EXPECT_TRUE(record.entry(4).graphics()[0].color() == kcColor::redColor() && record.entry(4).coordinates() == 2);
}

TEST(DiagData, DiagData_archive_plainFormNewerRefused) {
  kcDiagData plain;
  EXPECT_EQ(stored(plain), (Bytes{0, 0}));  // kcDiagData's version, then kcPersistent's
  const Bytes newer{1, 0};
  kcArchive bad(newer.data(), newer.size());
  EXPECT_THROW(bad || plain, kcArchive::UnknownVersion);
}

}  // namespace
