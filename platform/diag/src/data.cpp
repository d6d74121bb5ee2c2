// kcDiagData: the plain data object, its archive form and its registry entry.
#include <diag/data.h>

#include <foundation/archive.h>

namespace {

constexpr unsigned char kVersion = 0;

}  // namespace

kc_Instantiator kcDiagData::sExemplar("kcDiagData", typeid(kcDiagData), &kcDiagData::make);

kcPersistent* kcDiagData::make() { return new kcDiagData; }

kcDiagData::~kcDiagData() = default;

kcDiagData* kcDiagData::copy() const { return new kcDiagData(*this); }

std::wstring kcDiagData::getAsText() const { return std::wstring(); }

void kcDiagData::dispatchSerialize(kcArchive& ar) {
  if (haveVisited(ar, this, sizeof(kcDiagData))) return;
  unsigned char version = kVersion;
  ar || version;
  kcDiagData::serialize_(ar, version);  // this level's own, whatever a derived class overrides
  setVisited(ar, this, sizeof(kcDiagData));
}

void kcDiagData::serialize_(kcArchive& ar, unsigned char version) {
  if (version > kVersion) throw kcArchive::UnknownVersion("diag/data", __LINE__);
  kcPersistent::dispatchSerialize(ar);
}
