// The scene description: every blob of one analysis, their tree, views, settings and errors.
#pragma once

#include <blob/blobdefs.h>

#include <cstdint>

class kcArchive;

// kcBlobSceneDescription: the result of one connectivity analysis. Its data access, filters,
// views and drawing are declared as they land; this header holds the shared enumerations and the
// scene's error classes.
class kcBlobSceneDescription {
 public:
  // Analysis: which connectivity analysis runs. Any 32-bit value can be stored; values outside
  // the enumerators are refused where they are used, not where they are set or loaded.
  enum Analysis : std::int32_t { eGreyScale = 0, eLabelled = 1, eWholeImageGreyScale = 2 };

  // ConnectCleanup: what happens to regions below the minimum size. Same storage rule.
  enum ConnectCleanup : std::int32_t { eNone = 0, ePrune = 1, eFill = 2 };

  // The scene's errors follow the pattern of kcBlobDefs::BadParams; each is registered and
  // refused on archive loading under its qualified name ("kcBlobSceneDescription::BadId", ...).

  // BadId (0x10001a02): a blob id is out of range.
  class BadId : public kcBlobDefs::Errors {
   public:
    static constexpr long kErrorNumber = 0x10001a02;
    explicit BadId(const wchar_t* message = nullptr) : Errors(message) {}
    KC_CONCRETE_EXCEPTION(BadId);

   protected:
    void serialize_(kcArchive& ar, unsigned char version);
  };

  // Degenerate (0x10001a00): the scene holds no analysis yet.
  class Degenerate : public kcBlobDefs::Errors {
   public:
    static constexpr long kErrorNumber = 0x10001a00;
    explicit Degenerate(const wchar_t* message = nullptr) : Errors(message) {}
    KC_CONCRETE_EXCEPTION(Degenerate);

   protected:
    void serialize_(kcArchive& ar, unsigned char version);
  };

  // DuplicateFilter (0x10001a01): a second filter for a measure that already has one.
  class DuplicateFilter : public kcBlobDefs::Errors {
   public:
    static constexpr long kErrorNumber = 0x10001a01;
    explicit DuplicateFilter(const wchar_t* message = nullptr) : Errors(message) {}
    KC_CONCRETE_EXCEPTION(DuplicateFilter);

   protected:
    void serialize_(kcArchive& ar, unsigned char version);
  };
};

// Archive forms of the enumerations: the value as an int, taken unchecked on loading.
kcArchive& operator||(kcArchive& ar, kcBlobSceneDescription::Analysis& value);
kcArchive& operator||(kcArchive& ar, kcBlobSceneDescription::ConnectCleanup& value);
