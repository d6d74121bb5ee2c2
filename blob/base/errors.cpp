// The library's error classes: numbers, rethrow, registry entries and archive forms.
#include <blob/blob.h>
#include <blob/blobdefs.h>
#include <blob/blobdesc.h>

#include <foundation/persist.h>

namespace {

// level(name): the archive level of an error class registered (or, for an abstract one, named) as
// name. Every error class is at version 0 and adds no field of its own; its name is the file its
// version errors report, at line 0.
constexpr kc_Persist::Level level(const char* name) { return {0, name, 0}; }

// rethrowAndDelete(self): the shared body of suicideAndRethrow: copy, delete, throw the copy.
template <class E>
[[noreturn]] void rethrowAndDelete(E* self) {
  E copy(*self);
  delete self;
  throw copy;
}

}  // namespace

// ---- kcBlobDefs::Errors

kcBlobDefs::Errors::~Errors() = default;

void kcBlobDefs::Errors::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, level("kcBlobDefs::Errors"), &Errors::serialize_);
}

void kcBlobDefs::Errors::serialize_(kcArchive& ar, unsigned char) {
  kcExceptionWithString::dispatchSerialize(ar);
}

// ---- kcBlobDefs::BadParams

kc_Instantiator kcBlobDefs::BadParams::sExemplar{"kcBlobDefs::BadParams", typeid(BadParams),
                                                 &BadParams::make};

kcPersistent* kcBlobDefs::BadParams::make() { return new BadParams; }
long kcBlobDefs::BadParams::errorNumber() const { return kErrorNumber; }
void kcBlobDefs::BadParams::suicideAndRethrow() { rethrowAndDelete(this); }

void kcBlobDefs::BadParams::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, level("kcBlobDefs::BadParams"), &BadParams::serialize_);
}

void kcBlobDefs::BadParams::serialize_(kcArchive& ar, unsigned char) {
  Errors::dispatchSerialize(ar);
}

// ---- kcBlob::BadMeasure

kc_Instantiator kcBlob::BadMeasure::sExemplar{"kcBlob::BadMeasure", typeid(BadMeasure),
                                              &BadMeasure::make};

kcPersistent* kcBlob::BadMeasure::make() { return new BadMeasure; }
long kcBlob::BadMeasure::errorNumber() const { return kErrorNumber; }
void kcBlob::BadMeasure::suicideAndRethrow() { rethrowAndDelete(this); }

void kcBlob::BadMeasure::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, level("kcBlob::BadMeasure"), &BadMeasure::serialize_);
}

void kcBlob::BadMeasure::serialize_(kcArchive& ar, unsigned char) {
  Errors::dispatchSerialize(ar);
}

// ---- kcBlobSceneDescription::BadId

kc_Instantiator kcBlobSceneDescription::BadId::sExemplar{"kcBlobSceneDescription::BadId",
                                                         typeid(BadId), &BadId::make};

kcPersistent* kcBlobSceneDescription::BadId::make() { return new BadId; }
long kcBlobSceneDescription::BadId::errorNumber() const { return kErrorNumber; }
void kcBlobSceneDescription::BadId::suicideAndRethrow() { rethrowAndDelete(this); }

void kcBlobSceneDescription::BadId::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, level("kcBlobSceneDescription::BadId"), &BadId::serialize_);
}

void kcBlobSceneDescription::BadId::serialize_(kcArchive& ar, unsigned char) {
  Errors::dispatchSerialize(ar);
}

// ---- kcBlobSceneDescription::Degenerate

kc_Instantiator kcBlobSceneDescription::Degenerate::sExemplar{
    "kcBlobSceneDescription::Degenerate", typeid(Degenerate), &Degenerate::make};

kcPersistent* kcBlobSceneDescription::Degenerate::make() { return new Degenerate; }
long kcBlobSceneDescription::Degenerate::errorNumber() const { return kErrorNumber; }
void kcBlobSceneDescription::Degenerate::suicideAndRethrow() { rethrowAndDelete(this); }

void kcBlobSceneDescription::Degenerate::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, level("kcBlobSceneDescription::Degenerate"), &Degenerate::serialize_);
}

void kcBlobSceneDescription::Degenerate::serialize_(kcArchive& ar, unsigned char) {
  Errors::dispatchSerialize(ar);
}

// ---- kcBlobSceneDescription::DuplicateFilter

kc_Instantiator kcBlobSceneDescription::DuplicateFilter::sExemplar{
    "kcBlobSceneDescription::DuplicateFilter", typeid(DuplicateFilter), &DuplicateFilter::make};

kcPersistent* kcBlobSceneDescription::DuplicateFilter::make() { return new DuplicateFilter; }
long kcBlobSceneDescription::DuplicateFilter::errorNumber() const { return kErrorNumber; }
void kcBlobSceneDescription::DuplicateFilter::suicideAndRethrow() { rethrowAndDelete(this); }

void kcBlobSceneDescription::DuplicateFilter::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, level("kcBlobSceneDescription::DuplicateFilter"),
                       &DuplicateFilter::serialize_);
}

void kcBlobSceneDescription::DuplicateFilter::serialize_(kcArchive& ar, unsigned char) {
  Errors::dispatchSerialize(ar);
}

// ---- kc_BlobInternalDefs::Errors

kc_BlobInternalDefs::Errors::~Errors() = default;

void kc_BlobInternalDefs::Errors::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, level("kc_BlobInternalDefs::Errors"), &Errors::serialize_);
}

void kc_BlobInternalDefs::Errors::serialize_(kcArchive& ar, unsigned char) {
  kcException::dispatchSerialize(ar);
}
