// The library's error roots: kcBlobDefs (public errors, BadParams) and kc_BlobInternalDefs.
//
// Usage: every error the library reports to its caller derives from kcBlobDefs::Errors.
//   try {
//     params.connectivityMinPels(-1);
//   } catch (const kcBlobDefs::BadParams& e) {  // a value a setter refuses
//     std::wcerr << e.message(false) << L"\n";
//   } catch (const kcBlobDefs::Errors& e) {     // any other error of the library
//     std::wcerr << e.errorNumber() << L": " << e.message(false) << L"\n";
//   }
#pragma once

#include <blob/blob_export.h>
#include <foundation/exception.h>

// kcBlobDefs: scope of the definitions shared by the whole library.
class BLOB_EXPORT kcBlobDefs {
 public:
  kcBlobDefs() = delete;

  // Errors: abstract root of every error the library reports to its caller. Each concrete
  // subclass has a fixed errorNumber() and is thrown with one entry of the library's message
  // tables; message(false) gives that text unchanged. Catch this class to catch them all.
  class BLOB_EXPORT Errors : public kcExceptionWithString {
   public:
    Errors(const Errors&) = default;
    Errors& operator=(const Errors&) = default;
    ~Errors() override;

   protected:
    // Errors(message): message may be null (the state the registry's factory creates before an
    // archive fills it). The text is copied.
    explicit Errors(const wchar_t* message = nullptr) : kcExceptionWithString(message) {}

    // Archive form: version byte 0, then the kcExceptionWithString part. Any other version throws
    // kcArchive::UnknownVersion("kcBlobDefs::Errors", 0) before anything else is read.
    void dispatchSerialize(kcArchive& ar) override;
    void serialize_(kcArchive& ar, unsigned char version);
  };

  // BadParams (0x10001a04): a parameter or argument is out of range, or a value asked for has no
  // meaning in the current configuration. Thrown by the parameters, the analysis entry and the
  // scene description.
  class BLOB_EXPORT BadParams : public Errors {
   public:
    static constexpr long kErrorNumber = 0x10001a04;
    explicit BadParams(const wchar_t* message = nullptr) : Errors(message) {}

    // errorNumber() gives kErrorNumber whatever the message. suicideAndRethrow() needs an object
    // made with new: it deletes it and throws a copy. Archive form: version byte 0, then the
    // Errors part; another version throws kcArchive::UnknownVersion("kcBlobDefs::BadParams", 0).
    // Registered as "kcBlobDefs::BadParams". The other concrete errors follow the same pattern.
    KC_CONCRETE_EXCEPTION(BadParams);

   protected:
    void serialize_(kcArchive& ar, unsigned char version);
  };
};

// kc_BlobInternalDefs: scope of the library's internal definitions.
class kc_BlobInternalDefs {
 public:
  kc_BlobInternalDefs() = delete;

  // Errors: abstract root of the internal errors of the connectivity engine. They carry no text.
  class Errors : public kcException {
   public:
    Errors() = default;
    Errors(const Errors&) = default;
    Errors& operator=(const Errors&) = default;
    ~Errors() override;

   protected:
    // Archive form: version byte 0, then the kcException part. Another version throws
    // kcArchive::UnknownVersion("kc_BlobInternalDefs::Errors", 0).
    void dispatchSerialize(kcArchive& ar) override;
    void serialize_(kcArchive& ar, unsigned char version);
  };
};
