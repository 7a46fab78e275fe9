// Strong<T>: a retaining pointer to an object, for ivars, captures and locals
// that must keep an object alive. Copying retains, destruction releases.
// Strong<T>::adopt takes over a reference the caller already owns (the result
// of alloc/init, new, copy or mutableCopy) without retaining again.
//
// Not thread-safe as a variable (like any pointer); the counts it changes are.
#pragma once

#include <utility>

#include "platform/objc/runtime.h"

template <class T>
class Strong {
 public:
  Strong() = default;
  Strong(std::nullptr_t) {}
  Strong(T* p) : p_(p) { objc_retain(as_id()); }  // NOLINT: implicit on purpose
  Strong(const Strong& o) : p_(o.p_) { objc_retain(as_id()); }
  Strong(Strong&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <class U>
  requires std::is_convertible_v<U*, T*> Strong(const Strong<U>& o) : p_(o.get()) {  // NOLINT
    objc_retain(as_id());
  }
  ~Strong() { objc_release(as_id()); }

  Strong& operator=(Strong o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }

  static Strong adopt(T* p) {
    Strong s;
    s.p_ = p;
    return s;
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  operator T*() const { return p_; }  // NOLINT: reads like a plain pointer
  explicit operator bool() const { return p_ != nullptr; }

  // Gives up the reference to the current autorelease pool and returns the
  // object, for methods that return an object they do not keep.
  T* autorelease() {
    T* p = std::exchange(p_, nullptr);
    objc_autorelease(reinterpret_cast<id>(p));
    return p;
  }

 private:
  id as_id() const { return reinterpret_cast<id>(p_); }
  T* p_ = nullptr;
};

// Takes over a +1 reference.
template <class T>
Strong<T> adopt(T* p) {
  return Strong<T>::adopt(p);
}
