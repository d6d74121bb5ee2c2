// The connectivity engine's augmented run-length image (internal) and its error.
#pragma once

#include <blob/blobdefs.h>

// kc_ConnectivityAugmentedRLE: the run image prepared for the connectivity scan. The engine
// declares its members here as it lands; this header holds its error class.
class kc_ConnectivityAugmentedRLE {
 public:
  // MismatchedImageSizes (0x10001a80): the run image handed in does not match the one this
  // object was built for. Carries no text. Registered (internally) and refused on archive
  // loading under "kc_ConnectivityAugmentedRLE::MismatchedImageSizes".
  class MismatchedImageSizes : public kc_BlobInternalDefs::Errors {
   public:
    static constexpr long kErrorNumber = 0x10001a80;
    MismatchedImageSizes() = default;
    KC_CONCRETE_EXCEPTION(MismatchedImageSizes);

   protected:
    void serialize_(kcArchive& ar, unsigned char version);
  };
};
