// The status check and the cleanup registry's out-of-line parts.
#include <featurelet/cleanup.h>
#include <featurelet/featurelet.h>

#include <foundation/exception.h>

#include <new>

void kfThrowExceptionOnFailure(int status) {
  if (status >= 0) return;
  switch (status) {
    case kfeat_errNoMemory:
      throw std::bad_alloc();
    case kfeat_errBadArgument:
      throw kcBadArgument(L"A featurelet function was given a null pointer or a value out of range.");
    default:
      throw kcUnknownError(status);
  }
}

void kcCleanupRegistry::run() noexcept {
  while (size_ > 0) {
    const Entry& e = entries_[--size_];
    e.run(e.freeObject, e.variable);
  }
}

void kcCleanupRegistry::checkAdd(bool pointersGiven) const {
  if (!pointersGiven) throw kcBadPointer(L"A cleanup needs a free function and a pointer variable.");
  if (size_ == kCapacity) throw kcBadArgument(L"The cleanup registry is full.");
}
