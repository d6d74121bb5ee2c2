// kcBlobResults: ownership of the analysed scene, deep copies, and the archive form.
#include <blob/blobtool.h>

#include <foundation/archive.h>
#include <foundation/persist.h>

#include <memory>
#include <utility>

namespace {

// The archive form's version, and the line its version errors report: a fixed number, kept in the
// error's message and archive form.
constexpr unsigned char kVersion = 0;
constexpr int kVersionLine = 70;
constexpr kc_Persist::Level kLevel{kVersion, "blob/blobtool", kVersionLine};

}  // namespace

kc_Instantiator kcBlobResults::sExemplar{"kcBlobResults", typeid(kcBlobResults),
                                         &kcBlobResults::make};

kcPersistent* kcBlobResults::make() { return new kcBlobResults; }

// The run image keeps run storage of its own, which the encodings of later analyses reuse; a copy
// makes its own.
kcBlobResults::kcBlobResults() { rle_.storage(kcRLEStorage()); }

kcBlobResults::kcBlobResults(const kcBlobResults& other)
    : kcPersistent(other),
      kcRepBase(),
      connectedBlobs_(other.connectedBlobs_
                          ? std::make_unique<kcBlobSceneDescription>(*other.connectedBlobs_)
                          : nullptr),
      connectTime_(other.connectTime_),
      RLETime_(other.RLETime_),
      rle_(other.rle_),
      maskTime_(other.maskTime_),
      masked_(other.masked_),
      morphTime_(other.morphTime_),
      morphed_(other.morphed_) {
  rle_.storage(kcRLEStorage());
}

kcBlobResults& kcBlobResults::operator=(const kcBlobResults& other) {
  if (this == &other) return *this;
  kcBlobResults copy(other);  // the only step that can fail
  mutating();
  kcPersistent::operator=(other);
  connectedBlobs_ = std::move(copy.connectedBlobs_);
  connectTime_ = copy.connectTime_;
  RLETime_ = copy.RLETime_;
  rle_ = std::move(copy.rle_);
  maskTime_ = copy.maskTime_;
  masked_ = std::move(copy.masked_);
  morphTime_ = copy.morphTime_;
  morphed_ = std::move(copy.morphed_);
  return *this;
}

kcBlobResults::~kcBlobResults() = default;

void kcBlobResults::relinquishBSDOwnership() {
  mutating();
  static_cast<void>(connectedBlobs_.release());
}

void kcBlobResults::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, kLevel, &kcBlobResults::serialize_);
}

void kcBlobResults::serialize_(kcArchive& ar, unsigned char) {
  if (ar.isStoring()) {
    ar || RLETime_ || rle_ || maskTime_ || masked_ || morphTime_ || morphed_ || connectTime_;
    kc_Persist::ownedPointer(ar, connectedBlobs_);
    return;
  }
  // The images are read in place (the archive may refer back to them by address); the times and
  // the scene into locals. Everything is committed at the end, and a failure puts the previous
  // images back, so a failed load leaves the results as they were.
  kcRLEBuffer previousRle(rle_), previousMasked(masked_), previousMorphed(morphed_);
  double rleTime = 0.0, maskTime = 0.0, morphTime = 0.0, connectTime = 0.0;
  std::unique_ptr<kcBlobSceneDescription> scene;
  kc_Persist::rollBack(
      [&] {
        ar || rleTime || rle_ || maskTime || masked_ || morphTime || morphed_ || connectTime;
        kc_Persist::ownedPointer(ar, scene);
      },
      [&] {
        rle_ = std::move(previousRle);
        masked_ = std::move(previousMasked);
        morphed_ = std::move(previousMorphed);
      });
  mutating();
  RLETime_ = rleTime;
  maskTime_ = maskTime;
  morphTime_ = morphTime;
  connectTime_ = connectTime;
  connectedBlobs_ = std::move(scene);  // the scene held before is deleted, once
}
