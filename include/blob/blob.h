// The blob: one connected region of a scene with its tree links and measures.
#pragma once

#include <blob/blobdefs.h>

// kcBlob: one blob of a scene description. Its navigation and measures are declared as they land;
// this header holds the blob's error class.
class kcBlob {
 public:
  // BadMeasure (0x10001a03): a measure number is invalid, or the measure cannot be computed for
  // this blob's kind of analysis. Same pattern as kcBlobDefs::BadParams; registered and refused
  // on archive loading under "kcBlob::BadMeasure".
  class BadMeasure : public kcBlobDefs::Errors {
   public:
    static constexpr long kErrorNumber = 0x10001a03;
    explicit BadMeasure(const wchar_t* message = nullptr) : Errors(message) {}
    KC_CONCRETE_EXCEPTION(BadMeasure);

   protected:
    void serialize_(kcArchive& ar, unsigned char version);
  };
};
