// Classes as compiled Objective-C reaches them: "NSBundle"_cls is the class
// of that name.
//
// A class of a framework the image links (the ones listed below, which the
// link stubs export) is a class reference: a pointer in
// __DATA,__objc_classrefs to the class's symbol, _OBJC_CLASS_$_Name, which
// the loader binds at load, before any code of the image runs. Reaching the
// class then takes two instructions (adrp, ldr), with no call, as a message
// to `[NSBundle mainBundle]` does. Naming a listed class in an image that
// does not link its framework fails at link time, never at run time.
//
// Any other class (the host app's own, UIKit's in a library that does not
// link UIKit) has no symbol the image may bind to: it is looked up by name
// with objc_getClass when asked for, and is nil where the process lacks it.
#pragma once

#include "runtime/objc.h"

// The classes of the linked frameworks the deliverables name
// (phone/stubs/Foundation.tbd, LocalAuthentication.tbd).
#define VELMO_LINKED_CLASSES(X)                                                         \
  X(NSAttributedString)                                                                 \
  X(NSBundle) X(NSDictionary) X(NSFileManager) X(NSMutableArray) X(NSMutableDictionary) \
      X(NSNumber) X(LAContext)

#define VELMO_CLASS_SYMBOL(Name) \
  extern "C" objc_class velmoClass_##Name __asm__("_OBJC_CLASS_$_" #Name);
VELMO_LINKED_CLASSES(VELMO_CLASS_SYMBOL)
#undef VELMO_CLASS_SYMBOL

namespace objc {

// One reference per class, a weak definition the linker keeps once; hidden,
// so that code reaches it directly rather than through the global offset
// table.
template <objc_class* C>
struct __attribute__((visibility("hidden"))) ClassReference {
  __attribute__((section("__DATA,__objc_classrefs,regular,no_dead_strip"))) static Class reference;
};
template <objc_class* C>
constinit Class ClassReference<C>::reference = C;

template <char... Cs>
inline constexpr char className[] = {Cs..., '\0'};

constexpr bool sameName(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) ++a, ++b;
  return *a == *b;
}

template <char... Cs>
inline Class classNamed() {
  constexpr const char* name = className<Cs...>;
#define VELMO_CLASS_REFERENCE(Name)                       \
  if constexpr (sameName(name, #Name)) {                  \
    return ClassReference<&velmoClass_##Name>::reference; \
  } else
  VELMO_LINKED_CLASSES(VELMO_CLASS_REFERENCE)
#undef VELMO_CLASS_REFERENCE
  {
    return objc_getClass(name);
  }
}

}  // namespace objc

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wgnu-string-literal-operator-template"
template <class C, C... Cs>
Class operator""_cls() {
  return objc::classNamed<Cs...>();
}
#pragma GCC diagnostic pop
