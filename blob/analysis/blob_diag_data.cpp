// kcBlobDiagInputData and kcBlobDiagResultData: construction, copies, setters and archive forms;
// what the two share lives in kc_BlobDiagData.
#include <blob/blobdiag.h>

#include <foundation/archive.h>
#include <foundation/exception.h>
#include <foundation/persist.h>

#include <cstdint>
#include <type_traits>

namespace {

// The archive form's version, and the lines the two classes' version errors report: fixed numbers,
// kept in the errors' messages and archive forms.
constexpr unsigned char kVersion = 1;
constexpr int kInputVersionLine = 79;
constexpr int kResultVersionLine = 147;
template <class Derived>
constexpr kc_Persist::Level kLevel{
    kVersion, "blob/blobtool",
    std::is_same_v<Derived, kcBlobDiagInputData> ? kInputVersionLine : kResultVersionLine};

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

// ---- kc_BlobDiagData

template <class Derived, class Content>
kcDiagData* kc_BlobDiagData<Derived, Content>::copy() const {
  return new Derived(static_cast<const Derived&>(*this));
}

template <class Derived, class Content>
kcPersistent* kc_BlobDiagData<Derived, Content>::make() {
  return new Derived;
}

template <class Derived, class Content>
kc_BlobDiagData<Derived, Content>& kc_BlobDiagData<Derived, Content>::operator=(const kc_BlobDiagData& other) {
  if (this == &other) return *this;
  content_ = other.content_;  // the only step that can fail; it changes nothing then
  mutating();
  kcDiagData::operator=(other);
  runImage_ = other.runImage_;
  diagFlags_ = other.diagFlags_;
  return *this;
}

template <class Derived, class Content>
void kc_BlobDiagData<Derived, Content>::runImage(const kcRLEBuffer& image) {
  mutating();
  runImage_ = image;
}

template <class Derived, class Content>
void kc_BlobDiagData<Derived, Content>::diagFlags(unsigned long flags) {
  const std::uint32_t value = checkedFlags(flags);
  mutating();
  diagFlags_ = value;
}

template <class Derived, class Content>
void kc_BlobDiagData<Derived, Content>::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, static_cast<Derived&>(*this), kLevel<Derived>,
                       [&](unsigned char version) { kc_BlobDiagData::serialize_(ar, version); });
}

// Loading writes the fields in place (later references in the archive may name them by address)
// and puts the previous values back when it fails.
template <class Derived, class Content>
void kc_BlobDiagData<Derived, Content>::serialize_(kcArchive& ar, unsigned char version) {
  kc_Persist::inPlace(ar, static_cast<Derived&>(*this), [&] { archiveFields(ar, version); });
}

template <class Derived, class Content>
void kc_BlobDiagData<Derived, Content>::archiveFields(kcArchive& ar, unsigned char version) {
  if (version >= 1)
    kcDiagData::dispatchSerialize(ar);
  else
    kcPersistent::dispatchSerialize(ar);
  ar || content_;
  ar || runImage_;
  archiveFlags(ar, diagFlags_);
}

template class kc_BlobDiagData<kcBlobDiagInputData, kcBlobParams>;
template class kc_BlobDiagData<kcBlobDiagResultData, kcBlobResults>;

// ---- kcBlobDiagInputData

kc_Instantiator kcBlobDiagInputData::sExemplar{"kcBlobDiagInputData", typeid(kcBlobDiagInputData),
                                               &kcBlobDiagInputData::make};

kcBlobDiagInputData::kcBlobDiagInputData() = default;
kcBlobDiagInputData::kcBlobDiagInputData(const kcBlobParams& params) : kc_BlobDiagData(params) {}

void kcBlobDiagInputData::params(const kcBlobParams& params) {
  mutating();
  content_ = params;
}

// ---- kcBlobDiagResultData

kc_Instantiator kcBlobDiagResultData::sExemplar{"kcBlobDiagResultData", typeid(kcBlobDiagResultData),
                                                &kcBlobDiagResultData::make};

kcBlobDiagResultData::kcBlobDiagResultData() = default;
kcBlobDiagResultData::kcBlobDiagResultData(const kcBlobResults& results) : kc_BlobDiagData(results) {}

void kcBlobDiagResultData::blobResults(const kcBlobResults& results) { content_ = results; }
