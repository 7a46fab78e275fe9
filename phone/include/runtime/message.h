// Typed message sending on the phone: a send calls objc_msgSend cast to the
// exact function type of the method, R (*)(id, SEL, A...), as the arm64
// calling convention requires (never as a variadic function).
//
//   id title = msg<id>(item, "title"_sel);
//   msg<void>(label, "setAttributedText:"_sel, text);
//   msgSuper2<id>(MyClass, self, "init"_sel);   // [super init] in MyClass
//   addMethod(cls, "title"_sel, +[](id self, SEL) -> id { ... });
//
// A message to nil returns a zero value, as the runtime guarantees. A selector
// literal reads its selector reference (runtime/selector_reference.h).
#pragma once

#include "runtime/encoding.h"
#include "runtime/objc.h"
#include "runtime/selector_reference.h"

struct objc_super {
  id receiver;
  Class current_class;  // objc_msgSendSuper2 starts at its superclass
};

extern "C" {
void objc_msgSend(void);
void objc_msgSendSuper2(void);
}

namespace objc {

// A selector literal: "setFoo:"_sel; converts to SEL wherever one is needed.
template <char... Cs>
struct Selector {
  operator SEL() const { return selector<Cs...>(); }  // NOLINT: a literal reads as a SEL
};

template <class T>
struct SendType {
  using type = T;
};
template <char... Cs>
struct SendType<Selector<Cs...>> {
  using type = SEL;
};
template <>
struct SendType<decltype(nullptr)> {
  using type = id;
};

}  // namespace objc

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wgnu-string-literal-operator-template"
template <class C, C... Cs>
objc::Selector<Cs...> operator""_sel() {
  return {};
}
#pragma GCC diagnostic pop

template <class R = id, class S, class... A>
R msg(id self, S sel, A... args) {
  using Fn = R (*)(id, SEL, typename objc::SendType<A>::type...);
  return reinterpret_cast<Fn>(&objc_msgSend)(self, sel, args...);
}

// [super sel] from a method of `current`: the look-up starts at current's
// superclass.
template <class R = id, class S, class... A>
R msgSuper2(Class current, id self, S sel, A... args) {
  objc_super super{self, current};
  using Fn = R (*)(objc_super*, SEL, typename objc::SendType<A>::type...);
  return reinterpret_cast<Fn>(&objc_msgSendSuper2)(&super, sel, args...);
}

// Adds an instance method with the type encoding of its C++ signature (a
// category method when the class already exists).
template <class R, class... A>
BOOL addMethod(Class cls, SEL sel, R (*imp)(id, SEL, A...)) {
  return class_addMethod(cls, sel, reinterpret_cast<IMP>(imp), objc::encoding<R, A...>());
}
