// Foundation exceptions: the persistent exception roots and the foundation's own error classes.
#pragma once

#include <foundation/persistent.h>

#include <iosfwd>
#include <string>

// kcException: abstract root of every exception the foundation and the library throw.
// Exceptions are persistent, so a captured exception can be archived and read back with its class.
class kcException : public kcPersistent {
 public:
  ~kcException() override;

  // errorNumber(): the fixed number of the concrete class.
  virtual long errorNumber() const = 0;

  // suicideAndRethrow(): for an object made with new: copies *this, deletes this, and throws the
  // copy by value with its most-derived type. Never returns; the object no longer exists after.
  virtual void suicideAndRethrow() = 0;

  // message(withHeader): the text of the exception. With withHeader true it is preceded by the
  // registered class name and the error number in hex ("kcBadArgument (0x10000020): ...").
  // The header's exact form is not promised; the text without it is the class's fixed message.
  std::wstring message(bool withHeader = false) const;

 protected:
  kcException() = default;
  kcException(const kcException&) = default;
  kcException& operator=(const kcException&) = default;

  // message_(os): writes the text. The root writes nothing.
  virtual void message_(std::wostream& os) const;
  void dispatchSerialize(kcArchive& ar) override;
};

// kcExceptionWithString: an exception carrying a wide message given at construction.
// A null message is accepted and kept as "no text": message() is then empty, and the archive form
// records the null so that it reads back as null.
class kcExceptionWithString : public kcException {
 public:
  ~kcExceptionWithString() override;
  // text(): the message, or null when none was given.
  const wchar_t* text() const { return hasText_ ? text_.c_str() : nullptr; }

 protected:
  explicit kcExceptionWithString(const wchar_t* message = nullptr);
  kcExceptionWithString(const kcExceptionWithString&) = default;
  kcExceptionWithString& operator=(const kcExceptionWithString&) = default;

  void message_(std::wostream& os) const override;
  void dispatchSerialize(kcArchive& ar) override;

 private:
  std::wstring text_;
  bool hasText_ = false;
};

// Declares the members every concrete exception class repeats: the number, the rethrow, and the
// registry entry. Used only in class bodies of this stand-in and of the library.
#define KC_CONCRETE_EXCEPTION(Class)                            \
 public:                                                        \
  long errorNumber() const override;                            \
  [[noreturn]] void suicideAndRethrow() override;               \
                                                                \
 protected:                                                     \
  void dispatchSerialize(kcArchive& ar) override;               \
                                                                \
 private:                                                       \
  static kcPersistent* make();                                  \
  static kc_Instantiator sExemplar

// kcInvariantFailure: an internal consistency check failed (see assert.h). Number 0x10000001.
class kcInvariantFailure : public kcExceptionWithString {
 public:
  explicit kcInvariantFailure(const wchar_t* message = nullptr) : kcExceptionWithString(message) {}
  KC_CONCRETE_EXCEPTION(kcInvariantFailure);
};

// kcBadPointer: a null or dangling pointer was handed to the foundation. Number 0x10000002.
class kcBadPointer : public kcExceptionWithString {
 public:
  explicit kcBadPointer(const wchar_t* message = nullptr) : kcExceptionWithString(message) {}
  KC_CONCRETE_EXCEPTION(kcBadPointer);
};

// kcUnknownError: stands for an exception that is not a kcException (std::bad_alloc, ...).
// Number 0x10000003. The code given at construction is kept and archived.
class kcUnknownError : public kcException {
 public:
  explicit kcUnknownError(long code = 0) : code_(code) {}
  long code() const { return code_; }
  KC_CONCRETE_EXCEPTION(kcUnknownError);

 protected:
  void message_(std::wostream& os) const override;

 private:
  long code_;
};

// kcBadArgument: an argument handed to a foundation function is out of range or malformed
// (a short map, malformed runs, a singular transform, ...). Number 0x10000020.
class kcBadArgument : public kcExceptionWithString {
 public:
  explicit kcBadArgument(const wchar_t* message = nullptr) : kcExceptionWithString(message) {}
  KC_CONCRETE_EXCEPTION(kcBadArgument);
};

// Defines the members declared by KC_CONCRETE_EXCEPTION, in a .cpp file that includes
// <foundation/persist.h>. Name is the registered class name, also the file passed to
// kcArchive::UnknownVersion (line 0) when a stored version is not 0. The archive form is one version
// byte (0) followed by Base's form.
#define KC_DEFINE_EXCEPTION(Class, Base, Name, Number)                          \
  long Class::errorNumber() const { return Number; }                           \
  void Class::suicideAndRethrow() {                                            \
    Class copy(*this);                                                         \
    delete this;                                                               \
    throw copy;                                                                \
  }                                                                            \
  void Class::dispatchSerialize(kcArchive& ar) {                               \
    kc_Persist::dispatch(ar, *this, kc_Persist::Level{0, Name, 0},             \
                         [&](unsigned char) { Base::dispatchSerialize(ar); }); \
  }                                                                            \
  kcPersistent* Class::make() { return new Class(); }                          \
  kc_Instantiator Class::sExemplar(Name, typeid(Class), &Class::make)
