// Persistent objects: the base class every archivable class derives from, and the class registry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <typeinfo>

class kcArchive;

// kcPersistent: base of every class that can be written to and read from a kcArchive.
//
// A derived class overrides dispatchSerialize() with one call to kc_Persist::dispatch
// (<foundation/persist.h>): skip a class level already archived, archive its version byte, reject a
// newer one, archive the direct base's level and then the class's own fields, mark the level.
// One code path stores and loads; kcArchive::isLoading() tells which.
//
// Objects are archived in place with operator||(kcArchive&, kcPersistent&) (declared in archive.h)
// or through pointers with serializePointer(), which records the registered class name so that the
// loader can create the right class through the registry (kc_Instantiator).
class kcPersistent {
 public:
  kcPersistent() = default;
  kcPersistent(const kcPersistent&) = default;
  kcPersistent& operator=(const kcPersistent&) { return *this; }  // the change count is not copied
  virtual ~kcPersistent();

  // reInit(): returns the object to the state of a freshly constructed one. The base does nothing;
  // classes with state that a failed load may leave half-written override it.
  virtual void reInit();

  // loadSimple(ar): reInit(), then reads this object's in-place form from ar (which must be loading;
  // a storing archive throws kcBadArgument). Failures of the archive pass through; the object is
  // then in whatever state the partial load left, and reInit() makes it usable again.
  virtual void loadSimple(kcArchive& ar);

  // mutating(): the notice every setter gives before it changes the object. The stand-in counts
  // notices modulo 2^32; mutationCount() reads the count (tests use it to check that a setter gave
  // notice). The count is 32 bits so that the base stays two words: classes with millions of
  // objects (blobs) place a 32-bit field of their own beside it.
  void mutating() { ++mutations_; }
  std::uint64_t mutationCount() const { return mutations_; }

  // serializePointer(ar, current, loaded): archives a pointer to a persistent object.
  // Storing: writes current (null, a new object with its registered class name and body, or a
  // back-reference to an object already archived, including objects archived in place).
  // Loading: sets loaded to the object read: null, a new object created through the registry and
  // owned by the caller from then on, or the object an earlier back-reference names (not owned).
  // With owning true a back-reference is refused on loading (kcArchive::Damaged), so a damaged
  // archive can never make two owners of one object; a new object whose load fails is deleted.
  // Throws kcArchive::UnknownClass for a class name the registry does not know (loading), and
  // kcBadArgument for an object of an unregistered class (storing). When created is not null it
  // receives, on loading, whether loaded is a new object (the caller's to delete) rather than null
  // or a back-reference.
  static void serializePointer(kcArchive& ar, kcPersistent* current, kcPersistent*& loaded,
                               bool owning = false, bool* created = nullptr);

  friend class kcArchive;
  friend kcArchive& operator||(kcArchive& ar, kcPersistent& object);

 protected:
  // dispatchSerialize(ar): the archive entry point; the base part writes one version byte (0).
  // Derived classes override it (see the class comment) and call their direct base's from serialize_.
  virtual void dispatchSerialize(kcArchive& ar);

  // haveVisited(ar, part, size): true when this part (address and size of one class level) has
  // already been archived by ar. setVisited() marks it. Keyed by (address, size), so the levels of
  // one object are told apart.
  static bool haveVisited(kcArchive& ar, const void* part, std::size_t size);
  static void setVisited(kcArchive& ar, const void* part, std::size_t size);

 private:
  std::uint32_t mutations_ = 0;
};

// kc_Instantiator: one registry entry, created during static initialisation, mapping an explicit
// class name to a type and a factory. Entries live for the life of the process.
// Registering a second class under a name already taken makes that name ambiguous: creating by it
// then throws kcInvariantFailure (a programming error, reported without aborting static init).
class kc_Instantiator {
 public:
  using Factory = kcPersistent* (*)();
  kc_Instantiator(const char* name, const std::type_info& type, Factory make);
  kc_Instantiator(const kc_Instantiator&) = delete;
  kc_Instantiator& operator=(const kc_Instantiator&) = delete;

  // create(name): a new object of the class registered under name, or null when none is.
  static kcPersistent* create(const std::string& name);
  // nameOf(object): the registered name of the object's dynamic class, or null when unregistered.
  static const char* nameOf(const kcPersistent& object);
  // isRegistered(name): whether a class is registered under name.
  static bool isRegistered(const std::string& name);
};
