// Archive bytes for tests: the stored form of a value or of an object archived in place.
#pragma once

#include <foundation/archive.h>

#include <vector>

namespace archive_bytes {

using Bytes = std::vector<unsigned char>;

// stored(object): object archived in place (its identity, so back-references to it, kept).
template <class T>
Bytes stored(T& object) {
  Bytes bytes;
  kcArchive out(bytes, kcArchive::eStoring);
  out || object;
  return bytes;
}

// storedValue(value): a copy of value archived; for constants and const objects.
template <class T>
Bytes storedValue(T value) {
  return stored(value);
}

}  // namespace archive_bytes
