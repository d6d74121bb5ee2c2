// The exception roots and the foundation's concrete error classes.
#include <foundation/archive.h>
#include <foundation/exception.h>
#include <foundation/persist.h>

#include <cstdio>
#include <sstream>

kcException::~kcException() = default;

std::wstring kcException::message(bool withHeader) const {
  std::wostringstream os;
  if (withHeader) {
    const char* name = kc_Instantiator::nameOf(*this);
    std::string header = name ? name : "exception";
    char number[32];
    std::snprintf(number, sizeof number, " (0x%08lx): ", static_cast<unsigned long>(errorNumber()));
    header += number;
    os << std::wstring(header.begin(), header.end());
  }
  message_(os);
  return os.str();
}

void kcException::message_(std::wostream&) const {}

void kcException::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, kc_Persist::Level{0, "kcException", 0},
                       [&](unsigned char) { kcPersistent::dispatchSerialize(ar); });
}

kcExceptionWithString::kcExceptionWithString(const wchar_t* message)
    : text_(message ? message : L""), hasText_(message != nullptr) {}

kcExceptionWithString::~kcExceptionWithString() = default;

void kcExceptionWithString::message_(std::wostream& os) const { os << text_; }

void kcExceptionWithString::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, kc_Persist::Level{0, "kcExceptionWithString", 0}, [&](unsigned char) {
    kcException::dispatchSerialize(ar);
    bool hasText = hasText_;
    std::wstring text = text_;
    ar || hasText || text;
    if (ar.isLoading()) {
      if (!hasText && !text.empty()) kcArchive::damaged();
      hasText_ = hasText;
      text_ = std::move(text);
    }
  });
}

void kcUnknownError::message_(std::wostream& os) const {
  os << L"An unknown error occurred (code " << code_ << L").";
}

KC_DEFINE_EXCEPTION(kcInvariantFailure, kcExceptionWithString, "kcInvariantFailure", 0x10000001L);
KC_DEFINE_EXCEPTION(kcBadPointer, kcExceptionWithString, "kcBadPointer", 0x10000002L);
KC_DEFINE_EXCEPTION(kcBadArgument, kcExceptionWithString, "kcBadArgument", 0x10000020L);

// kcUnknownError archives its code after the kcException part, so it is defined by hand.
long kcUnknownError::errorNumber() const { return 0x10000003L; }
void kcUnknownError::suicideAndRethrow() {
  kcUnknownError copy(*this);
  delete this;
  throw copy;
}
void kcUnknownError::dispatchSerialize(kcArchive& ar) {
  kc_Persist::dispatch(ar, *this, kc_Persist::Level{0, "kcUnknownError", 0}, [&](unsigned char) {
    kcException::dispatchSerialize(ar);
    long code = code_;
    ar || code;
    code_ = code;
  });
}
kcPersistent* kcUnknownError::make() { return new kcUnknownError(); }
kc_Instantiator kcUnknownError::sExemplar("kcUnknownError", typeid(kcUnknownError), &kcUnknownError::make);
