// kcBlobDiagInputData and kcBlobDiagResultData: construction, copies, setters and archive forms.
#include <blob/blobdiag.h>

#include <foundation/archive.h>
#include <foundation/exception.h>
#include <foundation/persist.h>

#include <cstdint>

namespace {

// The archive form's version, and the lines the two classes' version errors report: fixed numbers,
// part of the errors' messages and archive forms.
constexpr unsigned char kVersion = 1;
constexpr int kInputVersionLine = 79;
constexpr int kResultVersionLine = 147;
constexpr kc_Persist::Level kInputLevel{kVersion, "blob/blobtool", kInputVersionLine};
constexpr kc_Persist::Level kResultLevel{kVersion, "blob/blobtool", kResultVersionLine};

std::uint32_t checkedFlags(unsigned long flags) {
  if (flags > UINT32_MAX) throw kcBadArgument(L"Diagnostics flags must fit 32 bits.");
  return static_cast<std::uint32_t>(flags);
}

void archiveFlags(kcArchive& ar, std::uint32_t& flags) {
  unsigned long value = flags;
  ar || value;
  flags = static_cast<std::uint32_t>(value);  // the archive holds 32 bits
}

}  // namespace

// ---- kcBlobDiagInputData

kc_Instantiator kcBlobDiagInputData::sExemplar{"kcBlobDiagInputData", typeid(kcBlobDiagInputData),
                                               &kcBlobDiagInputData::make};

kcPersistent* kcBlobDiagInputData::make() { return new kcBlobDiagInputData; }

kcBlobDiagInputData::kcBlobDiagInputData() = default;
kcBlobDiagInputData::kcBlobDiagInputData(const kcBlobParams& params) : params_(params) {}
kcBlobDiagInputData::kcBlobDiagInputData(const kcBlobDiagInputData& other) = default;
kcBlobDiagInputData::~kcBlobDiagInputData() = default;

kcBlobDiagInputData& kcBlobDiagInputData::operator=(const kcBlobDiagInputData& other) {
  if (this == &other) return *this;
  params_ = other.params_;  // the only step that can fail; it changes nothing then
  mutating();
  kcDiagData::operator=(other);
  runImage_ = other.runImage_;
  diagFlags_ = other.diagFlags_;
  return *this;
}

kcDiagData* kcBlobDiagInputData::copy() const { return new kcBlobDiagInputData(*this); }

void kcBlobDiagInputData::params(const kcBlobParams& params) {
  mutating();
  params_ = params;
}

void kcBlobDiagInputData::runImage(const kcRLEBuffer& image) {
  mutating();
  runImage_ = image;
}

void kcBlobDiagInputData::diagFlags(unsigned long flags) {
  const std::uint32_t value = checkedFlags(flags);
  mutating();
  diagFlags_ = value;
}

void kcBlobDiagInputData::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, kInputLevel,
                       [&](unsigned char version) { kcBlobDiagInputData::serialize_(ar, version); });
}

// Loading writes the fields in place (later references in the archive may name them by address)
// and puts the previous values back when it fails.
void kcBlobDiagInputData::serialize_(kcArchive& ar, unsigned char version) {
  kc_Persist::inPlace(ar, *this, [&] { archiveFields(ar, version); });
}

void kcBlobDiagInputData::archiveFields(kcArchive& ar, unsigned char version) {
  if (version >= 1)
    kcDiagData::dispatchSerialize(ar);
  else
    kcPersistent::dispatchSerialize(ar);
  ar || params_;
  ar || runImage_;
  archiveFlags(ar, diagFlags_);
}

// ---- kcBlobDiagResultData

kc_Instantiator kcBlobDiagResultData::sExemplar{"kcBlobDiagResultData", typeid(kcBlobDiagResultData),
                                                &kcBlobDiagResultData::make};

kcPersistent* kcBlobDiagResultData::make() { return new kcBlobDiagResultData; }

kcBlobDiagResultData::kcBlobDiagResultData() = default;
kcBlobDiagResultData::kcBlobDiagResultData(const kcBlobResults& results) : blobResults_(results) {}
kcBlobDiagResultData::kcBlobDiagResultData(const kcBlobDiagResultData& other) = default;
kcBlobDiagResultData::~kcBlobDiagResultData() = default;

kcBlobDiagResultData& kcBlobDiagResultData::operator=(const kcBlobDiagResultData& other) {
  if (this == &other) return *this;
  blobResults_ = other.blobResults_;  // the only step that can fail; it changes nothing then
  mutating();
  kcDiagData::operator=(other);
  runImage_ = other.runImage_;
  diagFlags_ = other.diagFlags_;
  return *this;
}

kcDiagData* kcBlobDiagResultData::copy() const { return new kcBlobDiagResultData(*this); }

void kcBlobDiagResultData::blobResults(const kcBlobResults& results) { blobResults_ = results; }

void kcBlobDiagResultData::runImage(const kcRLEBuffer& image) {
  mutating();
  runImage_ = image;
}

void kcBlobDiagResultData::diagFlags(unsigned long flags) {
  const std::uint32_t value = checkedFlags(flags);
  mutating();
  diagFlags_ = value;
}

void kcBlobDiagResultData::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, kResultLevel,
                       [&](unsigned char version) { kcBlobDiagResultData::serialize_(ar, version); });
}

void kcBlobDiagResultData::serialize_(kcArchive& ar, unsigned char version) {
  kc_Persist::inPlace(ar, *this, [&] { archiveFields(ar, version); });
}

void kcBlobDiagResultData::archiveFields(kcArchive& ar, unsigned char version) {
  if (version >= 1)
    kcDiagData::dispatchSerialize(ar);
  else
    kcPersistent::dispatchSerialize(ar);
  ar || blobResults_;
  ar || runImage_;
  archiveFlags(ar, diagFlags_);
}
