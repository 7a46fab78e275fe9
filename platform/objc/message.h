// Typed message sending on top of the runtime.
//
//   id title = msg<id>(item, "title"_sel);
//   msg<void>(label, "setAttributedText:"_sel, text);
//   addMethod(cls, "title"_sel, +[](id self, SEL) -> id { ... });
//
// Every implementation takes (id self, SEL _cmd, args...). A method's
// signature is the typeid of its normalized function type: every pointer to a
// class type but SEL (objects, classes, blocks) counts as `id`, so a method defined
// with `id` may be sent an NSString* and return into an NSString*. Anything
// else must match exactly; a mismatch aborts naming class and selector.
//
// A message to nil does nothing and returns a zero value.
#pragma once

#include <atomic>
#include <cstddef>
#include <type_traits>
#include <typeinfo>

#include "platform/objc/runtime.h"

namespace objc {

template <class T>
struct Normalize {
  using type = T;
};
template <class T>
requires(std::is_class_v<T> &&
         !std::is_same_v<std::remove_cv_t<T>, objc_selector>) struct Normalize<T*> {
  using type = id;
};
template <>
struct Normalize<std::nullptr_t> {
  using type = id;
};
template <class T>
using Norm = typename Normalize<std::remove_cvref_t<T>>::type;

template <class R, class... A>
using Imp = Norm<R> (*)(id, SEL, Norm<A>...);

template <class R, class... A>
const std::type_info& signature() {
  return typeid(Norm<R>(Norm<A>...));
}

// The text of a string literal carried in a type, as a pack of characters.
// (A class-type template argument holding the characters would read better,
// but Clang 14 crashes printing such arguments in its constant evaluator.)
template <char... Cs>
inline constexpr char literalText[] = {Cs..., '\0'};

template <char... Cs>
SEL selector() {
  static const SEL sel = sel_registerName(literalText<Cs...>);
  return sel;
}

// A selector literal: "setFoo:"_sel, interned once per spelling. Its type
// carries the spelling, so a send written with a literal has a call-site
// cache of its own (see msg below); it converts to SEL wherever one is needed.
template <char... Cs>
struct Selector {
  operator SEL() const { return selector<Cs...>(); }  // NOLINT: a literal reads as a SEL
};

template <char... Cs>
struct Normalize<Selector<Cs...>> {
  using type = SEL;
};

template <class R>
R cast_result(Norm<R> value) {
  if constexpr (std::is_pointer_v<R> && !std::is_same_v<R, Norm<R>>) {
    return static_cast<R>(value);
  } else {
    return value;
  }
}

template <class R, class... A>
R invoke(const objc_cache_entry* e, id self, A... args) {
  auto fn = reinterpret_cast<Imp<R, A...>>(e->imp);
  if constexpr (std::is_void_v<R>) {
    fn(self, e->sel, static_cast<Norm<A>>(args)...);
  } else {
    return cast_result<R>(fn(self, e->sel, static_cast<Norm<A>>(args)...));
  }
}

template <class R>
R zero() {
  if constexpr (std::is_void_v<R>) {
    return;
  } else {
    return R{};
  }
}

// What a call site remembers: the last cache entry it ran, which stays
// right for as long as the receiver's class still has the cache the entry
// belongs to. One site per selector spelling and signature; it starts at an
// entry that matches no class.
inline constexpr objc_cache_entry kNoEntry{};
template <class Signature, char... Cs>
inline std::atomic<const objc_cache_entry*> callSite{&kNoEntry};

// A call site's miss: the look-up with its signature check, remembered.
template <class Signature, char... Cs>
[[gnu::noinline]] const objc_cache_entry* refill(Class cls, id receiver) {
  const objc_cache_entry* e = lookUp(cls, selector<Cs...>(), receiver, typeid(Signature));
  callSite<Signature, Cs...>.store(e, std::memory_order_release);
  return e;
}

}  // namespace objc

// String literal operator templates taking a pack of characters are an
// extension that GCC and Clang share.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#if defined(__clang__)
#pragma GCC diagnostic ignored "-Wgnu-string-literal-operator-template"
#endif
template <class C, C... Cs>
objc::Selector<Cs...> operator""_sel() {
  return {};
}
#pragma GCC diagnostic pop

// Sends `sel` to `self` with `args`, returning R. Written with a selector
// literal, a send that its call site has seen before for the same class (and
// no method changed since) is a load of the site's entry, one compare with
// the class's cache and an indirect call; the signature was checked when the
// site took the entry.
template <class R = id, char... Cs, class... A>
R msg(id self, objc::Selector<Cs...>, A... args) {
  if (self == nullptr) return objc::zero<R>();
  using Signature = objc::Norm<R>(objc::Norm<A>...);
  const objc_cache_entry* e = objc::callSite<Signature, Cs...>.load(std::memory_order_acquire);
  if (e->cache != self->isa->cache.load(std::memory_order_relaxed)) [[unlikely]] {
    e = objc::refill<Signature, Cs...>(self->isa, self);
  }
  return objc::invoke<R, A...>(e, self, args...);
}

// Sends a selector known only at run time: the class's cache, probed.
template <class R = id, class... A>
R msg(id self, SEL sel, A... args) {
  if (self == nullptr) return objc::zero<R>();
  return objc::invoke<R, A...>(objc::lookUp(self->isa, sel, self, objc::signature<R, A...>()),
                               self, args...);
}

// Sends `sel` to `self`, starting the look-up at `cls` (a send to super).
template <class R = id, class... A>
R msgSuper(Class cls, id self, SEL sel, A... args) {
  if (self == nullptr) return objc::zero<R>();
  return objc::invoke<R, A...>(objc::lookUp(cls, sel, self, objc::signature<R, A...>()), self,
                               args...);
}
// Adds an instance method (a category method when the class already exists).
template <class R, class... A>
BOOL addMethod(Class cls, SEL sel, R (*imp)(id, SEL, A...)) {
  static_assert(std::is_same_v<objc::Imp<R, A...>, R (*)(id, SEL, A...)>,
                "implementations take id for every object argument and result");
  return class_addMethod(cls, sel, reinterpret_cast<IMP>(imp), objc::signature<R, A...>());
}

// Adds a class method.
template <class R, class... A>
BOOL addClassMethod(Class cls, SEL sel, R (*imp)(id, SEL, A...)) {
  return addMethod(object_getClass(cls), sel, imp);
}

// Answers whether `obj` responds to `sel`, without sending it.
inline BOOL respondsTo(id obj, SEL sel) {
  return obj != nullptr && class_respondsToSelector(obj->isa, sel);
}
