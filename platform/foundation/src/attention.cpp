// kcAttention: the per-thread scope chain, check(), and the Abandoned exception.
#include <foundation/archive.h>
#include <foundation/attention.h>
#include <foundation/persist.h>

#include <exception>
#include <ostream>
#include <utility>

namespace {

// The innermost scope installed on this thread; each scope links to the one it was nested in.
thread_local kcAttention::Scope* tInnermost = nullptr;

}  // namespace

// ---- Abandoned ----

KC_DEFINE_EXCEPTION(kcAttention::Abandoned, kcException, "kcAttention::Abandoned", 0x10000030L);

void kcAttention::Abandoned::message_(std::wostream& os) const { os << L"The operation was abandoned."; }

// ---- Handle ----

kcAttention::Handle::Handle() : flag_(std::make_shared<std::atomic<bool>>(false)) {}

void kcAttention::Handle::requestAbandon() const noexcept { flag_->store(true, std::memory_order_release); }

bool kcAttention::Handle::abandonRequested() const noexcept {
  return flag_->load(std::memory_order_acquire);
}

// ---- Scope ----

kcAttention::Scope::Scope() : Scope(Handle()) {}

kcAttention::Scope::Scope(Handle handle) : handle_(std::move(handle)), outer_(tInnermost) {
  tInnermost = this;
}

kcAttention::Scope::~Scope() {
  // Normally this is the innermost scope; a scope ended out of order is unlinked where it sits.
  for (Scope** link = &tInnermost; *link != nullptr; link = &(*link)->outer_) {
    if (*link == this) {
      *link = outer_;
      return;
    }
  }
  // Not on this thread's chain: ended on another thread, which would leave a dangling link there.
  std::terminate();
}

void kcAttention::Scope::deadline(Clock::time_point when) {
  deadline_ = when;
  hasDeadline_ = true;
}

std::optional<kcAttention::Clock::time_point> kcAttention::Scope::deadline() const {
  if (!hasDeadline_) return std::nullopt;
  return deadline_;
}

void kcAttention::Scope::abandonAfter(unsigned long n) {
  counting_ = true;
  countdown_ = n;
}

bool kcAttention::Scope::due() {
  if (counting_) {
    if (countdown_ == 0)
      countedOut_ = true;
    else
      --countdown_;
  }
  if (countedOut_ || handle_.abandonRequested()) return true;
  return hasDeadline_ && Clock::now() >= deadline_;
}

// ---- check ----

void kcAttention::check() {
  Scope* scope = tInnermost;
  if (scope == nullptr) [[likely]]
    return;
  bool due = false;
  for (; scope != nullptr; scope = scope->outer_) due = scope->due() || due;
  if (due) abandon();
}

void kcAttention::abandon() { throw Abandoned(); }
