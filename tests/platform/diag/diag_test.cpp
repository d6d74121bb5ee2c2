// The diagnostics stand-in: flags and destinations, records and their entries, the data base class.
#include <diag/data.h>
#include <diag/recorder.h>

#include <foundation/archive.h>

#include "platform/foundation/archive_bytes.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

namespace {

using archive_bytes::Bytes;
using archive_bytes::stored;

// A derived data class with a field of its own, archived after the kcDiagData part. Its
// serialize_ overrides the base's, which the base's dispatchSerialize must not call.
class Note : public kcDiagData {
 public:
  std::wstring words;
  Note* copy() const override { return new Note(*this); }
  std::wstring getAsText() const override { return words; }

 protected:
  void dispatchSerialize(kcArchive& ar) override {
    if (haveVisited(ar, this, sizeof(Note))) return;
    unsigned char version = 0;
    ar || version;
    Note::serialize_(ar, version);
    setVisited(ar, this, sizeof(Note));
  }
  void serialize_(kcArchive& ar, unsigned char) override {
    kcDiagData::dispatchSerialize(ar);
    ar || words;
  }
};

// Derived classes whose copy() is wrong: not overridden (a plain kcDiagData), or null.
class Forgetful : public kcDiagData {};
class Empty : public kcDiagData {
 public:
  kcDiagData* copy() const override { return nullptr; }
};

bool refused(auto access) try {
  access();
  return false;
} catch (const kcBadArgument&) {
  return true;
}

TEST(DiagObject, DiagObject_destinationAndFlags_recorderFlagsAddedKeptWithin32Bits) {
  unsigned long flags = 0x1'0000'0001ul;
  EXPECT_EQ(kcDiagObject::getRecordingDestination(nullptr, flags), nullptr);
  EXPECT_EQ(flags, 1ul);

  kcDiagObject recorder;
  recorder.flags(kcDiagDefs::eRecordResult);
  EXPECT_THROW(recorder.flags(0x1'0000'0000ul), kcBadArgument);
  EXPECT_EQ(recorder.flags(), 0x20000ul);
  flags = kcDiagDefs::eRecordInput | 0xF'0000'0000ul;
  EXPECT_EQ(kcDiagObject::getRecordingDestination(&recorder, flags), &recorder);
  EXPECT_EQ(flags, 0x30000ul);

  EXPECT_TRUE(kcDiagObject::shouldRecord(0x3FFFF, kcDiagDefs::eRecordInput));
  EXPECT_FALSE(kcDiagObject::shouldRecord(0x2FFFF, kcDiagDefs::eRecordInput));
  EXPECT_FALSE(kcDiagObject::shouldRecord(~0ul, static_cast<kcDiagDefs::What>(0)));
}

TEST(DiagObject, DiagObject_records_inOrderAndStableBadIndexRefusedClearKeepsFlags) {
  kcDiagObject recorder;
  recorder.flags(7);
  kcDiagRecord& first = recorder.newDiagRecord();
  for (int i = 0; i < 100; ++i) recorder.newDiagRecord();  // the first record must not move
  EXPECT_EQ(recorder.numRecords(), 101);
  EXPECT_EQ(&recorder.diagRecord(0), &first);
  for (long bad : {-1L, 101L}) EXPECT_THROW(recorder.diagRecord(bad), kcBadArgument) << bad;
  recorder.clear();
  EXPECT_EQ(recorder.numRecords(), 0);
  EXPECT_THROW(recorder.diagRecord(0), kcBadArgument);
  EXPECT_EQ(recorder.flags(), 7ul);
}

TEST(DiagRecord, DiagRecord_entries_inOrderAsCopiesOtherKindsRefused) {
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
  record.image(kcPelBuffer_const<unsigned char>(), true);
  pels.pointToRow(0)[0] = 9;
  note.words = L"after";
  cross->color(kcColor::blueColor());

  using E = kcDiagRecord;
  const std::pair<E::EntryKind, const wchar_t*> entries[] = {
      {E::eImage, L""}, {E::eImage, L""}, {E::eAnnotation, L"caption"}, {E::eData, L"data"},
      {E::eGraphics, L"graphics"}, {E::eText, L"text"}, {E::eImage, L""}};
  ASSERT_EQ(record.numEntries(), 7u);
  for (std::size_t i = 0; i < 7; ++i) {
    const E::Entry& e = record.entry(i);
    EXPECT_TRUE(e.kind() == entries[i].first && e.title() == entries[i].second) << i;
    EXPECT_EQ(refused([&] { e.image(); }), e.kind() != E::eImage);
    EXPECT_EQ(refused([&] { e.data(); }), e.kind() != E::eData);
    EXPECT_EQ(refused([&] { e.coordinates(); }), e.kind() != E::eGraphics);
    EXPECT_EQ(refused([&] { e.text(); }), e.kind() != E::eText);
  }
  EXPECT_THROW(record.entry(7), kcBadArgument);
  // The first image shared, as asked, every other entry a copy.
  EXPECT_TRUE(record.entry(0).image().pointToRow(0)[0] == 9 && record.entry(1).image().pointToRow(0)[0] == 0);
  EXPECT_TRUE(record.entry(3).data().getAsText() == L"before" && record.entry(5).text() == L"body");
  EXPECT_TRUE(record.entry(4).graphics()[0].color() == kcColor::redColor() && record.entry(4).coordinates() == 2);
  EXPECT_FALSE(record.entry(6).image().isBound());
}

TEST(DiagRecord, DiagRecord_wrongOrNullData_refusedRecordUnchangedGivenDataAdopted) {
  kcDiagRecord record;
  EXPECT_THROW(record.data(Forgetful(), L"sliced"), kcBadArgument);
  EXPECT_THROW(record.data(Empty(), L"null"), kcBadPointer);
  EXPECT_THROW(record.data(std::unique_ptr<kcDiagData>(), L"none"), kcBadPointer);
  EXPECT_EQ(record.numEntries(), 0u);
  auto adopted = std::make_unique<Note>();
  const Note* const address = adopted.get();
  record.data(std::move(adopted), L"adopted");
  EXPECT_EQ(&record.entry(0).data(), address);
}

TEST(DiagData, DiagData_archive_plainThroughRegistryDerivedBasePartNewerRefused) {
  kcDiagData plain;
  EXPECT_EQ(stored(plain), (Bytes{0, 0}));  // kcDiagData's version, then kcPersistent's
  Bytes bytes;
  {
    kcArchive out(bytes, kcArchive::eStoring);
    kcPersistent* unused = nullptr;
    kcPersistent::serializePointer(out, &plain, unused);
  }
  kcArchive in(bytes.data(), bytes.size());
  kcPersistent* raw = nullptr;
  kcPersistent::serializePointer(in, nullptr, raw);
  const std::unique_ptr<kcPersistent> loaded(raw);
  const auto* data = dynamic_cast<kcDiagData*>(loaded.get());
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->getAsText(), L"");

  Note note;
  note.words = L"kept";
  const Bytes noteBytes = stored(note);
  Note back;
  kcArchive noteIn(noteBytes.data(), noteBytes.size());
  noteIn || back;
  EXPECT_EQ(back.words, L"kept");
  EXPECT_EQ(noteIn.remaining(), 0u);

  const Bytes newer{1, 0};
  kcArchive bad(newer.data(), newer.size());
  try {
    bad || plain;
    ADD_FAILURE() << "no throw";
  } catch (const kcArchive::UnknownVersion& e) {
    EXPECT_STREQ(e.file(), "diag/data");
  }
}

}  // namespace
