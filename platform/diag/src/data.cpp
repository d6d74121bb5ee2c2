// kcDiagData: the plain data object, its archive form and its registry entry.
#include <diag/data.h>

#include <foundation/archive.h>
#include <foundation/persist.h>

namespace {

// The archive form's version, and the line its version errors report: a fixed number, kept in the
// error's message and archive form.
constexpr unsigned char kVersion = 0;
constexpr int kVersionLine = 31;
constexpr kc_Persist::Level kLevel{kVersion, "diag/data", kVersionLine};

}  // namespace

kc_Instantiator kcDiagData::sExemplar("kcDiagData", typeid(kcDiagData), &kcDiagData::make);

kcPersistent* kcDiagData::make() { return new kcDiagData; }

kcDiagData::~kcDiagData() = default;

kcDiagData* kcDiagData::copy() const { return new kcDiagData(*this); }

std::wstring kcDiagData::getAsText() const { return std::wstring(); }

void kcDiagData::dispatchSerialize(kcArchive& ar) {
  // This level's own serialize_, whatever a derived class overrides.
  kc_Persist::dispatch(ar, *this, kLevel,
                       [&](unsigned char version) { kcDiagData::serialize_(ar, version); });
}

void kcDiagData::serialize_(kcArchive& ar, unsigned char) { kcPersistent::dispatchSerialize(ar); }
