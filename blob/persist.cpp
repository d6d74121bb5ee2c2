// The out-of-line part of the persistence frame: loading non-owning pointers.
#include "persist.h"

namespace {

// The archive writes a null pointer as a 1-byte tag and a back-reference as the tag and a 4-byte
// index; a new object takes more (tag, class name, body).
constexpr std::size_t kBackReferenceBytes = 5;

}  // namespace

kcPersistent* kc_Persist::loadReference(kcArchive& ar) {
  const std::size_t before = ar.remaining();
  kcPersistent* raw = nullptr;
  serializePointer(ar, nullptr, raw, false);
  if (raw && before - ar.remaining() > kBackReferenceBytes) {
    delete raw;
    kcArchive::damaged();
  }
  return raw;
}
