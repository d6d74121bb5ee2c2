// Shared ownership by intrusive reference count: the counted base and the two handle templates.
#pragma once

#include <foundation/exception.h>

#include <atomic>
#include <cstddef>
#include <type_traits>
#include <utility>

// kcRepBase: base of objects held by kcPtrHandle / kcPtrHandle_const. It carries the reference
// count. A copy or an assignment starts or keeps its own count: the count belongs to the object's
// storage, not to its value. The count is atomic, so handles to one object may be copied and
// dropped on different threads; the object itself is not made thread-safe by this.
class kcRepBase {
 public:
  kcRepBase() noexcept = default;
  kcRepBase(const kcRepBase&) noexcept {}
  kcRepBase& operator=(const kcRepBase&) noexcept { return *this; }
  virtual ~kcRepBase();

  // refCount(): the number of handles that currently hold this object (0 for an object that no
  // handle holds, such as one on the stack or owned by a plain pointer).
  long refCount() const noexcept { return count_.load(std::memory_order_acquire); }

  // Used by the handles only: addRef_() adds a holder; release_() drops one and deletes the
  // object when it was the last.
  void addRef_() const noexcept { count_.fetch_add(1, std::memory_order_relaxed); }
  void release_() const noexcept {
    if (count_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

 private:
  mutable std::atomic<long> count_{0};
};

// kf_ThrowNullHandle(): throws kcBadPointer with the fixed message for dereferencing a null handle.
[[noreturn]] void kf_ThrowNullHandle();

// kc_PtrHandleBase<T, P>: the mechanics both handles share; P is T* or const T*.
template <class T, class P>
class kc_PtrHandleBase {
 public:
  // get(): the object, or null. Valid while any handle holds the object.
  P get() const noexcept { return p_; }
  // operator* and operator->: throw kcBadPointer on a null handle.
  auto& operator*() const { if (!p_) kf_ThrowNullHandle(); return *p_; }
  P operator->() const { if (!p_) kf_ThrowNullHandle(); return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 protected:
  kc_PtrHandleBase() noexcept = default;
  explicit kc_PtrHandleBase(P p) noexcept : p_(p) { if (p_) p_->addRef_(); }
  kc_PtrHandleBase(const kc_PtrHandleBase& o) noexcept : p_(o.p_) { if (p_) p_->addRef_(); }
  kc_PtrHandleBase(kc_PtrHandleBase&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  kc_PtrHandleBase& operator=(const kc_PtrHandleBase& o) noexcept { reset(o.p_); return *this; }
  kc_PtrHandleBase& operator=(kc_PtrHandleBase&& o) noexcept {
    if (this != &o) {
      P old = std::exchange(p_, std::exchange(o.p_, nullptr));
      if (old) old->release_();
    }
    return *this;
  }
  ~kc_PtrHandleBase() {
    static_assert(std::is_base_of_v<kcRepBase, T>, "handles hold kcRepBase objects only");
    if (p_) p_->release_();
  }
  // reset(p): hold p instead (adds its reference before dropping the old one, so resetting to the
  // object already held is safe).
  void reset(P p) noexcept {
    if (p) p->addRef_();
    P old = std::exchange(p_, p);
    if (old) old->release_();
  }

 private:
  P p_ = nullptr;
};

// kcPtrHandle<T>: a counted handle to a mutable T (T derives from kcRepBase). The object must have
// been made with new; it is deleted when the last handle lets it go. A null handle is allowed.
// Equality compares identity: two handles are equal when they hold the same object (or both none).
template <class T>
class kcPtrHandle : public kc_PtrHandleBase<T, T*> {
  using Base = kc_PtrHandleBase<T, T*>;

 public:
  kcPtrHandle() noexcept = default;
  kcPtrHandle(std::nullptr_t) noexcept {}
  // kcPtrHandle(p): holds p (may be null). p may already be held by other handles.
  explicit kcPtrHandle(T* p) noexcept : Base(p) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  kcPtrHandle(const kcPtrHandle<U>& o) noexcept : Base(static_cast<T*>(o.get())) {}

  // reset(p): holds p instead (null lets go).
  void reset(T* p = nullptr) noexcept { Base::reset(p); }

  template <class U>
  bool operator==(const kcPtrHandle<U>& o) const noexcept { return this->get() == o.get(); }
  bool operator==(std::nullptr_t) const noexcept { return this->get() == nullptr; }
};

// kcPtrHandle_const<T>: like kcPtrHandle<T> but grants only const access. Converts implicitly from
// a kcPtrHandle<U> or kcPtrHandle_const<U> with U* convertible to const T*.
template <class T>
class kcPtrHandle_const : public kc_PtrHandleBase<T, const T*> {
  using Base = kc_PtrHandleBase<T, const T*>;

 public:
  kcPtrHandle_const() noexcept = default;
  kcPtrHandle_const(std::nullptr_t) noexcept {}
  explicit kcPtrHandle_const(const T* p) noexcept : Base(p) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, const T*>>>
  kcPtrHandle_const(const kcPtrHandle<U>& o) noexcept : Base(static_cast<const T*>(o.get())) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<const U*, const T*>>>
  kcPtrHandle_const(const kcPtrHandle_const<U>& o) noexcept
      : Base(static_cast<const T*>(o.get())) {}

  void reset(const T* p = nullptr) noexcept { Base::reset(p); }

  template <class U>
  bool operator==(const kcPtrHandle_const<U>& o) const noexcept { return this->get() == o.get(); }
  template <class U>
  bool operator==(const kcPtrHandle<U>& o) const noexcept { return this->get() == o.get(); }
  bool operator==(std::nullptr_t) const noexcept { return this->get() == nullptr; }
};
