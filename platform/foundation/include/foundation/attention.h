// The cancellation point of long operations: kcAttention::check() and the scopes that arm it.
#pragma once

#include <foundation/exception.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <iosfwd>
#include <memory>
#include <optional>

// kcAttention: lets a caller stop a long operation running on some thread.
//
// Long operations call kcAttention::check() at regular points; it throws kcAttention::Abandoned
// when the operation is to stop, and the operation unwinds, releasing what it holds. Whether check()
// throws is decided by the scopes installed on the calling thread:
//
// - A kcAttention::Scope is an RAII object created on the stack of the thread that runs the
//   operation. While it lives it is installed on that thread; check() on other threads ignores it.
// - With no scope installed, check() does nothing (one thread-local read).
// - Scopes nest. check() consults every scope installed on the thread, innermost first, and throws
//   when any of them is due, so an inner scope can narrow but never mask an outer caller's request.
// - A scope is due when (a) abandon was requested through it or through its Handle (from any thread),
//   (b) its deadline, if set, has passed on the steady clock, or (c) its abandonAfter(n) countdown has
//   run out. Being due is sticky: once due, every later check() under the scope throws.
// - Every check() made while a scope is installed counts toward that scope's countdown, also when
//   another scope makes that check() throw.
// - Destroying a scope uninstalls it; nothing else is undone. Abandoned is thrown only by check().
//
// Abandoning is cooperative: an operation stops at its next check(), never in between.
class kcAttention {
 public:
  using Clock = std::chrono::steady_clock;

  // Abandoned: thrown by check() when a scope is due. Number 0x10000030, fixed message
  // "The operation was abandoned.". Registered as "kcAttention::Abandoned".
  class Abandoned : public kcException {
   public:
    Abandoned() = default;
    KC_CONCRETE_EXCEPTION(Abandoned);

   protected:
    void message_(std::wostream& os) const override;
  };

  // Handle: a shareable abandon request. Copies share one flag, so a thread that holds a copy can
  // request abandon at any time, also after the scope that watches it has ended (then it has no
  // effect). Thread-safe.
  class Handle {
   public:
    // Handle(): a new flag, not yet set. May throw std::bad_alloc.
    Handle();
    // requestAbandon(): sets the flag. Every scope watching it is due from then on; cannot be undone.
    void requestAbandon() const noexcept;
    // abandonRequested(): whether the flag is set.
    bool abandonRequested() const noexcept;

   private:
    std::shared_ptr<std::atomic<bool>> flag_;
  };

  // Scope: installs an abandon condition on the constructing thread for its lifetime.
  // Must be destroyed on the thread that created it (destroying it elsewhere terminates the process).
  // Lives on the stack: it cannot be copied, moved or created with new.
  class Scope {
   public:
    // Scope(): watches a new Handle of its own. Scope(handle): watches the caller's handle.
    Scope();
    explicit Scope(Handle handle);
    ~Scope();

    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    static void* operator new(std::size_t) = delete;
    static void* operator new[](std::size_t) = delete;

    // requestAbandon(): requests abandon through the scope's handle. Callable from any thread while
    // the scope lives; to request later or from a thread that may outlive the scope, use handle().
    void requestAbandon() const noexcept { handle_.requestAbandon(); }
    // handle(): the handle the scope watches (a copy sharing its flag).
    Handle handle() const { return handle_; }

    // deadline(when): the scope becomes due once the steady clock reaches when; replaces an earlier
    // deadline. deadline(): the deadline set, if any. Owning thread only.
    void deadline(Clock::time_point when);
    std::optional<Clock::time_point> deadline() const;

    // abandonAfter(n): the next n check() calls under this scope pass (as far as this scope goes);
    // every later one throws. Replaces an earlier countdown, but a scope already due stays due.
    // Meant for tests of operations that call check(). Owning thread only.
    void abandonAfter(unsigned long n);

   private:
    friend class kcAttention;
    bool due();  // counts one check and tells whether the scope is due

    Handle handle_;
    Scope* outer_;
    Clock::time_point deadline_{};
    bool hasDeadline_ = false;
    bool counting_ = false;
    bool countedOut_ = false;
    unsigned long countdown_ = 0;
  };

  // check(): throws Abandoned when any scope installed on the calling thread is due (see above);
  // otherwise returns. Reads the steady clock only when an installed scope has a deadline.
  static void check();

  kcAttention() = delete;

 private:
  [[noreturn]] static void abandon();
};
