// The recorder and its records: entries made whole before they are added, records by index.
#include <diag/recorder.h>

#include <foundation/exception.h>

#include <cstdint>
#include <typeinfo>
#include <utility>

namespace {

constexpr unsigned long kFlagBits = UINT32_MAX;

}  // namespace

// ---- entries

kcDiagRecord::Entry::Entry(EntryKind kind, std::wstring title) : kind_(kind), title_(std::move(title)) {}

void kcDiagRecord::Entry::expect(EntryKind kind) const {
  if (kind_ != kind) throw kcBadArgument(L"The diagnostics entry is of another kind.");
}

const kcPelBuffer_const<unsigned char>& kcDiagRecord::Entry::image() const {
  expect(eImage);
  return image_;
}

const kcDiagData& kcDiagRecord::Entry::data() const {
  expect(eData);
  return *data_;
}

const kcGraphicList& kcDiagRecord::Entry::graphics() const {
  expect(eGraphics);
  return graphics_;
}

long kcDiagRecord::Entry::coordinates() const {
  expect(eGraphics);
  return coordinates_;
}

const std::wstring& kcDiagRecord::Entry::text() const {
  expect(eText);
  return text_;
}

// ---- records

kcDiagRecord::~kcDiagRecord() = default;

void kcDiagRecord::image(const kcPelBuffer_const<unsigned char>& pels, bool copyPels) {
  Entry entry(eImage, std::wstring());
  entry.image_ = copyPels ? pels.deepCopy() : pels;
  entries_.push_back(std::move(entry));
}

void kcDiagRecord::recordAnnotation(const std::wstring& annotation) {
  entries_.push_back(Entry(eAnnotation, annotation));
}

void kcDiagRecord::data(const kcDiagData& data, const std::wstring& title) {
  Entry entry(eData, title);
  entry.data_.reset(data.copy());
  if (!entry.data_) throw kcBadPointer(L"A diagnostics data object copied itself to null.");
  const kcDiagData& copied = *entry.data_;
  if (typeid(copied) != typeid(data))
    throw kcBadArgument(L"A diagnostics data object copied itself to an object of another class.");
  entries_.push_back(std::move(entry));
}

void kcDiagRecord::data(std::unique_ptr<kcDiagData> data, const std::wstring& title) {
  if (!data) throw kcBadPointer(L"Null diagnostics data handed to a record.");
  Entry entry(eData, title);
  entry.data_ = std::move(data);
  entries_.push_back(std::move(entry));
}

void kcDiagRecord::graphics(const kcGraphicList& list, long coordinates, const std::wstring& title) {
  Entry entry(eGraphics, title);
  for (std::size_t i = 0; i < list.size(); ++i) entry.graphics_.append(kcGraphicHandle(list[i].clone()), true);
  entry.coordinates_ = coordinates;
  entries_.push_back(std::move(entry));
}

void kcDiagRecord::text(const std::wstring& text, const std::wstring& title) {
  Entry entry(eText, title);
  entry.text_ = text;
  entries_.push_back(std::move(entry));
}

const kcDiagRecord::Entry& kcDiagRecord::entry(std::size_t i) const {
  if (i >= entries_.size()) throw kcBadArgument(L"There is no diagnostics entry of that index.");
  return entries_[i];
}

// ---- the recorder

kcDiagObject::~kcDiagObject() = default;

kcDiagObject* kcDiagObject::getRecordingDestination(kcDiagObject* recorder, unsigned long& flags) noexcept {
  if (recorder != nullptr) flags |= recorder->flags_;
  flags &= kFlagBits;
  return recorder;
}

bool kcDiagObject::shouldRecord(unsigned long flags, kcDiagDefs::What what) noexcept {
  return what != 0 && (flags & what) == what;
}

void kcDiagObject::flags(unsigned long f) {
  if (f > kFlagBits) throw kcBadArgument(L"Diagnostics flags must fit 32 bits.");
  flags_ = f;
}

kcDiagRecord& kcDiagObject::newDiagRecord() {
  records_.push_back(std::make_unique<kcDiagRecord>());
  return *records_.back();
}

kcDiagRecord& kcDiagObject::diagRecord(long index) {
  if (index < 0 || index >= numRecords()) throw kcBadArgument(L"There is no diagnostics record of that index.");
  return *records_[static_cast<std::size_t>(index)];
}

const kcDiagRecord& kcDiagObject::diagRecord(long index) const {
  return const_cast<kcDiagObject&>(*this).diagRecord(index);
}
