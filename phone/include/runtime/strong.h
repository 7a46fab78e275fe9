// Strong<T>: a retaining pointer to an object, for instance variables,
// captures and locals that must keep an object alive. Copying retains,
// destruction releases. adopt() takes over a reference the caller already
// owns (the result of alloc/init, new, copy or mutableCopy).
//
// Not thread-safe as a variable (like any pointer); the counts it changes are.
#pragma once

#include "runtime/objc.h"

template <class T>
class Strong {
 public:
  Strong() = default;
  Strong(decltype(nullptr)) {}
  Strong(T* p) : p_(p) { objc_retain(asId()); }  // NOLINT: implicit on purpose
  Strong(const Strong& o) : p_(o.p_) { objc_retain(asId()); }
  Strong(Strong&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  ~Strong() { objc_release(asId()); }

  Strong& operator=(Strong o) noexcept {
    T* old = p_;
    p_ = o.p_;
    o.p_ = old;
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

  // Hands the reference to the current autorelease pool and returns the
  // object, for methods that return an object they do not keep.
  T* autorelease() {
    T* p = p_;
    p_ = nullptr;
    objc_autorelease(reinterpret_cast<id>(p));
    return p;
  }

 private:
  id asId() const { return reinterpret_cast<id>(p_); }
  T* p_ = nullptr;
};

// Takes over an owned reference: adopt(msg<id>(cls, "new"_sel)).
template <class T>
Strong<T> adopt(T* p) {
  return Strong<T>::adopt(p);
}
