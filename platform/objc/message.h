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

#include <cstddef>
#include <type_traits>

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

// A selector literal: "setFoo:"_sel, interned once per call site spelling.
template <std::size_t N>
struct SelectorName {
  char text[N];
  constexpr SelectorName(const char (&s)[N]) {
    for (std::size_t i = 0; i < N; ++i) text[i] = s[i];
  }
};

template <SelectorName Name>
SEL selector() {
  static const SEL sel = sel_registerName(Name.text);
  return sel;
}

template <class R>
R cast_result(Norm<R> value) {
  if constexpr (std::is_pointer_v<R> && !std::is_same_v<R, Norm<R>>) {
    return static_cast<R>(value);
  } else {
    return value;
  }
}

template <class R, class... A>
R invoke(Method m, id self, SEL sel, A... args) {
  auto fn = reinterpret_cast<Imp<R, A...>>(method_getImplementation(m));
  if constexpr (std::is_void_v<R>) {
    fn(self, sel, static_cast<Norm<A>>(args)...);
  } else {
    return cast_result<R>(fn(self, sel, static_cast<Norm<A>>(args)...));
  }
}

}  // namespace objc

template <objc::SelectorName Name>
SEL operator""_sel() {
  return objc::selector<Name>();
}

// Sends `sel` to `self` with `args`, returning R.
template <class R = id, class... A>
R msg(id self, SEL sel, A... args) {
  if (self == nullptr) {
    if constexpr (std::is_void_v<R>) {
      return;
    } else {
      return R{};
    }
  }
  Method m = objc_msgLookup(self->isa, sel, self);
  objc_checkTypes(m, self->isa, sel, objc::signature<R, A...>());
  return objc::invoke<R, A...>(m, self, sel, args...);
}

// Sends `sel` to `self`, starting the look-up at `cls` (a send to super).
template <class R = id, class... A>
R msgSuper(Class cls, id self, SEL sel, A... args) {
  if (self == nullptr) {
    if constexpr (std::is_void_v<R>) {
      return;
    } else {
      return R{};
    }
  }
  Method m = objc_msgLookup(cls, sel, self);
  objc_checkTypes(m, cls, sel, objc::signature<R, A...>());
  return objc::invoke<R, A...>(m, self, sel, args...);
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
