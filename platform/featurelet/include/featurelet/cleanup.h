// C++ around the featurelet C layer: failure statuses turned into exceptions, and the registry
// that frees C objects when a scope is left early.
#pragma once

#include <array>
#include <cstddef>
#include <utility>

// kfThrowExceptionOnFailure(status): nothing for a status of 0 or more. A negative one throws:
// kfeat_errNoMemory std::bad_alloc, kfeat_errBadArgument kcBadArgument, any other kcUnknownError
// carrying the status as its code.
void kfThrowExceptionOnFailure(int status);

// kcCleanupRegistry: frees the C objects a scope makes if it is left before they were handed over.
// Each entry names a pointer variable and the C function that frees what it points to. Running an
// entry reads the variable at that moment, frees a non-null object once and sets the variable to
// null; so an object already handed to an owner, which set the variable to null, is not freed.
// The destructor runs every entry still registered, which is what happens when an exception
// passes; run() does it at a chosen point and release() forgets the entries without running them.
// Entries run last registered first. The registry holds pointers to the variables: each must
// outlive the registry or be released from it first.
class kcCleanupRegistry {
 public:
  static constexpr std::size_t kCapacity = 8;

  kcCleanupRegistry() = default;
  ~kcCleanupRegistry() { run(); }
  kcCleanupRegistry(const kcCleanupRegistry&) = delete;
  kcCleanupRegistry& operator=(const kcCleanupRegistry&) = delete;

  // add(freeObject, variable): registers variable, to be freed with freeObject (its status is
  // ignored). Throws kcBadPointer when either is null and kcBadArgument when kCapacity entries are
  // registered; nothing is registered then. Allocates nothing, so registering the variable before
  // the object is made leaves no moment in which a failure could lose it.
  template <class T>
  void add(int (*freeObject)(T*), T** variable) {
    checkAdd(freeObject != nullptr && variable != nullptr);
    entries_[size_++] = Entry{&freeVariable<T>, reinterpret_cast<void (*)()>(freeObject), variable};
  }

  // run(): runs the registered entries and forgets them. release(): forgets them unrun.
  void run() noexcept;
  void release() noexcept { size_ = 0; }
  // size(): the number of entries registered.
  std::size_t size() const noexcept { return size_; }

 private:
  struct Entry {
    void (*run)(void (*freeObject)(), void* variable);
    void (*freeObject)();  // the typed function, converted back by run
    void* variable;
  };

  template <class T>
  static void freeVariable(void (*freeObject)(), void* variable) {
    T* object = std::exchange(*static_cast<T**>(variable), nullptr);
    if (object != nullptr) reinterpret_cast<int (*)(T*)>(freeObject)(object);
  }
  void checkAdd(bool pointersGiven) const;

  std::array<Entry, kCapacity> entries_{};
  std::size_t size_ = 0;
};
