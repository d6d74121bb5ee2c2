// The persistence frame every archived class follows: the dispatch of one class level, version
// rejection, the roll-back of a failed load, and the archive forms of enumerations, pairs,
// vectors and pointers.
#pragma once

#include <foundation/archive.h>
#include <foundation/persistent.h>

#include <cstddef>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

// kc_Persist: a scope of static helpers. It derives from kcPersistent only to reach the protected
// visit marks; it is never instantiated. Every helper works the same when storing and loading.
//
// A class level's archive form is one version byte and then its fields, the direct base's level
// first. Its dispatchSerialize is one call:
//   namespace { constexpr kc_Persist::Level kLevel{1, "lib/foo", 120}; }
//   void kcFoo::dispatchSerialize(kcArchive& ar) {
//     kc_Persist::dispatch(ar, *this, kLevel, &kcFoo::serialize_);
//   }
//   void kcFoo::serialize_(kcArchive& ar, unsigned char version) {
//     kcBase::dispatchSerialize(ar);
//     ...fields, those added at version n read only when version >= n...
//   }
class kc_Persist : private kcPersistent {
 public:
  kc_Persist() = delete;

  // Level: what one version byte is checked against: the current version, and the file and line
  // a newer stored version is reported with (kcArchive::UnknownVersion(file, line)). file may be
  // null. The line is a fixed number, not the position of the check: the error's message and its
  // archive form hold it, so it must not move when the code does. The error classes
  // give their registered name and line 0.
  struct Level {
    unsigned char current;
    const char* file;
    int line;
  };
  // kUnnamed: the level of the value forms at version 0 that name no source (pairs, vectors,
  // geometry values, transform caches): another version throws kcArchive::UnknownVersion(null, 0).
  static constexpr Level kUnnamed{0, nullptr, 0};

  // dispatch(ar, self, level, body): the body of every dispatchSerialize. Returns at once when
  // this class level of self was already archived by ar. Otherwise archives one version byte
  // (writes level.current, or reads the stored one), rejects it as checkVersion() does, archives
  // the level with body and marks it visited. body is the class's own serialize_, called as
  // (self.*body)(ar, version), or any callable taking the version. Self must be the class level
  // (its size keys the visit mark), so pass *this from the class's own dispatchSerialize. A
  // pointer to a virtual serialize_ would call the override: pass a callable that names the
  // level's own one instead ([&](unsigned char v) { kcFoo::serialize_(ar, v); }).
  template <class Self, class Body>
  static void dispatch(kcArchive& ar, Self& self, const Level& level, Body&& body) {
    if (haveVisited(ar, static_cast<const void*>(&self), sizeof(Self))) return;
    unsigned char version = level.current;
    ar || version;
    checkVersion(version, level);
    if constexpr (std::is_member_function_pointer_v<std::remove_cvref_t<Body>>) {
      (self.*body)(ar, version);
    } else {
      body(version);
    }
    setVisited(ar, static_cast<const void*>(&self), sizeof(Self));
  }

  // version(ar, level): one version byte of a value form (no visit mark): writes level.current
  // and returns it, or reads the stored one, rejects it as checkVersion() does and returns it.
  static unsigned char version(kcArchive& ar, const Level& level) {
    unsigned char version = level.current;
    ar || version;
    checkVersion(version, level);
    return version;
  }

  // checkVersion(version, level): throws kcArchive::UnknownVersion(level.file, level.line) when
  // version is newer than level.current (for a level at version 0: any version but 0).
  static void checkVersion(unsigned char version, const Level& level) {
    if (version > level.current) throw kcArchive::UnknownVersion(level.file, level.line);
  }

  // rollBack(load, restore): runs load(); when it throws, runs restore() and rethrows what load
  // threw. restore must put back what load changed; if restore itself throws, that propagates.
  template <class Load, class Restore>
  static void rollBack(Load&& load, Restore&& restore) {
    try {
      load();
    } catch (...) {
      restore();
      throw;
    }
  }

  // inPlace(ar, self, fields, restore): archives fields of self that a load writes in place,
  // because later references in the archive may name them by address. Storing runs fields().
  // Loading copies self, gives notice (self.mutating()), runs fields() and, when that throws, hands
  // the copy to restore (as Self&) and rethrows: a failed load leaves self as it was. Without
  // restore the copy is assigned back (self = copy). Costs one copy of self per load.
  template <class Self, class Fields, class Restore>
  static void inPlace(kcArchive& ar, Self& self, Fields&& fields, Restore&& restore) {
    if (ar.isStoring()) {
      fields();
      return;
    }
    Self previous(self);
    self.mutating();
    rollBack(fields, [&] { restore(previous); });
  }
  template <class Self, class Fields>
  static void inPlace(kcArchive& ar, Self& self, Fields&& fields) {
    inPlace(ar, self, fields, [&](const Self& previous) { self = previous; });
  }

  // enumeration(ar, value): an enumeration as an int (4 bytes). Loading takes any stored value
  // unchecked; the library's enumerations have a 32-bit underlying type, so each is representable.
  template <class E>
    requires std::is_enum_v<E>
  static void enumeration(kcArchive& ar, E& value) {
    static_assert(sizeof(E) == 4, "archived enumerations have a 32-bit underlying type");
    int raw = static_cast<int>(value);
    ar || raw;
    value = static_cast<E>(raw);
  }

  // pair(ar, p): any value with members first and second (kcPair<long>, kcPair<double>): a version
  // byte 0, first, then second. Another stored version throws kcArchive::UnknownVersion(null, 0).
  // A failed load leaves p as it was.
  template <class P>
  static void pair(kcArchive& ar, P& p) {
    version(ar, kUnnamed);
    auto first = p.first;
    auto second = p.second;
    element(ar, first);
    element(ar, second);
    p.first = first;
    p.second = second;
  }

  // vector(ar, v, minBytesEach): a version byte 0, the count as unsigned long, then each element by
  // element() (enumerations as int, pairs by pair(), everything else by its operator||). Another
  // stored version throws kcArchive::UnknownVersion(null, 0). Loading checks the count against the
  // bytes left (each element takes at least minBytesEach; the default suits built-in elements)
  // before allocating, throwing kcArchive::Damaged when they cannot hold it, reads into a fresh
  // vector and swaps it in: v then has exactly the stored count, and a failed load leaves v as it
  // was. Swapping keeps the elements' addresses, so back-references to elements archived in place
  // stay valid. Storing more than 2^32 - 1 elements throws kcArchive::Unrepresentable.
  template <class T>
  static void vector(kcArchive& ar, std::vector<T>& v, std::size_t minBytesEach = minBytes<T>()) {
    static_assert(!std::is_same_v<T, bool>, "std::vector<bool> has no element references");
    version(ar, kUnnamed);
    if (ar.isStoring()) {
      unsigned long count = v.size();
      ar || count;
      for (T& e : v) element(ar, e);
      return;
    }
    unsigned long count = 0;
    ar || count;
    ar.checkCount(count, minBytesEach);
    std::vector<T> loaded(count);
    for (T& e : loaded) element(ar, e);
    v.swap(loaded);
  }

  // element(ar, e): one value as vector() and pair() archive it.
  template <class T>
  static void element(kcArchive& ar, T& e) {
    if constexpr (std::is_enum_v<T>) {
      enumeration(ar, e);
    } else if constexpr (requires { e.first; e.second; }) {
      pair(ar, e);
    } else {
      ar || e;
    }
  }

  // ownedPointer(ar, p): an owning pointer to a persistent object of class T (or derived).
  // Storing writes p (null or the object) through kcPersistent::serializePointer. Loading reads a
  // null or a new object (a back-reference is refused by the foundation with kcArchive::Damaged);
  // on success the old object is deleted and p takes the new one. A loaded object of a class other
  // than T is deleted and the load fails with kcArchive::Damaged: a sound archive never holds one,
  // and neither keeping it (a leak) nor handing back null after deleting it (the archive would
  // still resolve later references to the freed object) is safe. On any failure p is unchanged.
  template <class T>
  static void ownedPointer(kcArchive& ar, std::unique_ptr<T>& p) {
    if (ar.isStoring()) {
      storePointer(ar, p.get(), true);
      return;
    }
    p = loadOwned<T>(ar);
  }
  template <class T>
  static void ownedPointer(kcArchive& ar, T*& p) {
    if (ar.isStoring()) {
      storePointer(ar, p, true);
      return;
    }
    std::unique_ptr<T> loaded = loadOwned<T>(ar);
    delete p;
    p = loaded.release();
  }

  // referencePointer(ar, p): a non-owning pointer to an object that the same archive holds
  // elsewhere (archived before, in place or through an owning pointer). Loading sets p to null or
  // to that object; an object of another class loads as null (its owner keeps it). A new object
  // arriving through a reference would have no owner: it is deleted and the load fails with
  // kcArchive::Damaged. On failure p is unchanged. Store the owner before any reference to it:
  // a reference stored first writes the object in full, and loading then refuses it.
  template <class T>
  static void referencePointer(kcArchive& ar, T*& p) {
    if (ar.isStoring()) {
      storePointer(ar, p, false);
      return;
    }
    kcPersistent* raw = loadReference(ar);
    p = dynamic_cast<T*>(raw);
  }

  // pointer(ar, raw, created): loads a pointer to an object of any class: raw receives null, an
  // object loaded earlier (not owned) or, with created true, a new object the caller owns.
  static void pointer(kcArchive& ar, kcPersistent*& raw, bool& created) {
    serializePointer(ar, nullptr, raw, false, &created);
  }

  // minBytes<T>(): the fewest archive bytes one element of type T takes.
  template <class T>
  static constexpr std::size_t minBytes() {
    if constexpr (std::is_same_v<T, double>) {
      return 8;
    } else if constexpr (std::is_enum_v<T> || std::is_same_v<T, int> || std::is_same_v<T, long> ||
                         std::is_same_v<T, unsigned long>) {
      return 4;
    } else {
      return 1;
    }
  }

 private:
  template <class T>
  static void storePointer(kcArchive& ar, T* p, bool owning) {
    kcPersistent* current = const_cast<kcPersistent*>(static_cast<const kcPersistent*>(p));
    kcPersistent* unused = nullptr;
    serializePointer(ar, current, unused, owning);
  }

  template <class T>
  static std::unique_ptr<T> loadOwned(kcArchive& ar) {
    kcPersistent* raw = nullptr;
    serializePointer(ar, nullptr, raw, true);
    std::unique_ptr<kcPersistent> holder(raw);
    if (!raw) return nullptr;
    T* typed = dynamic_cast<T*>(raw);
    if (!typed) kcArchive::damaged();  // holder deletes the stray object
    holder.release();
    return std::unique_ptr<T>(typed);
  }

  static kcPersistent* loadReference(kcArchive& ar) {
    kcPersistent* raw = nullptr;
    bool created = false;
    serializePointer(ar, nullptr, raw, false, &created);
    if (created) {
      delete raw;
      kcArchive::damaged();
    }
    return raw;
  }
};
