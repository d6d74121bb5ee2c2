// The augmented row reader (maximal runs of a row), the scene's cached engine state and its error
// class.
#include "connect/connect_augmented.h"
#include "connect/connect_engine.h"

#include <foundation/assert.h>
#include <foundation/persist.h>
#include <foundation/rlebuffer.h>

std::size_t kf_ReadAugmentedRow(const unsigned char* row, std::vector<kc_ScanRun>& out) {
  std::size_t n = 0;
  Column x = 0;
  for (const unsigned char* src = row; src[1] != 0; src += 2) {
    const Column xe = x + src[1];
    if (n != 0 && out[n - 1].value == src[0]) {
      out[n - 1].xe = xe;
    } else {
      if (n == out.size()) out.resize(out.empty() ? 64 : out.size() * 2);
      out[n++] = kc_ScanRun{x, xe, kNone, src[0]};
    }
    x = xe;
  }
  return n;
}

kc_ConnectivityAugmentedRLE::kc_ConnectivityAugmentedRLE(const kcRLEBuffer& image)
    : height_(static_cast<std::int32_t>(image.height())),
      isBinary_(image.isBinary()),
      offset_(image.offset()),
      workspace_(std::make_unique<kc_ConnectWorkspace>()) {
  KC_ASSERT(!image.isDegenerate(), "the image to connect has rows");
}

kc_ConnectivityAugmentedRLE::kc_ConnectivityAugmentedRLE(const kcRLEBuffer& image,
                                                         kc_ConnectivityAugmentedRLE&& previous)
    : height_(static_cast<std::int32_t>(image.height())),
      isBinary_(image.isBinary()),
      offset_(image.offset()),
      workspace_(std::move(previous.workspace_)) {
  KC_ASSERT(!image.isDegenerate(), "the image to connect has rows");
  KC_ASSERT(previous.refCount() <= 1 && workspace_ != nullptr, "a workspace passes on from an object no other scene holds");
}

kc_ConnectivityAugmentedRLE::~kc_ConnectivityAugmentedRLE() = default;

bool kc_ConnectivityAugmentedRLE::sameGeometry(const kcRLEBuffer& image) const {
  return !image.isDegenerate() && image.height() == height_ && image.isBinary() == isBinary_ &&
         image.offset() == offset_;
}

void kc_ConnectivityAugmentedRLE::refill(const kcRLEBuffer& image) {
  if (!sameGeometry(image)) throw MismatchedImageSizes();
}

// The error class is at archive version 0 and adds no field of its own; its registered name is the
// file its version errors report, at line 0.
constexpr kc_Persist::Level kErrorLevel{0, "kc_ConnectivityAugmentedRLE::MismatchedImageSizes", 0};

// ---- kc_ConnectivityAugmentedRLE::MismatchedImageSizes

kc_Instantiator kc_ConnectivityAugmentedRLE::MismatchedImageSizes::sExemplar{
    "kc_ConnectivityAugmentedRLE::MismatchedImageSizes", typeid(MismatchedImageSizes),
    &MismatchedImageSizes::make};

kcPersistent* kc_ConnectivityAugmentedRLE::MismatchedImageSizes::make() {
  return new MismatchedImageSizes;
}
long kc_ConnectivityAugmentedRLE::MismatchedImageSizes::errorNumber() const {
  return kErrorNumber;
}
void kc_ConnectivityAugmentedRLE::MismatchedImageSizes::suicideAndRethrow() {
  MismatchedImageSizes copy(*this);
  delete this;
  throw copy;
}

void kc_ConnectivityAugmentedRLE::MismatchedImageSizes::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, kErrorLevel, &MismatchedImageSizes::serialize_);
}

void kc_ConnectivityAugmentedRLE::MismatchedImageSizes::serialize_(kcArchive& ar, unsigned char) {
  kc_BlobInternalDefs::Errors::dispatchSerialize(ar);
}
