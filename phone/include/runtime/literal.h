// Constant objects: "text"_ns is a constant string, like an @"text" literal:
// a CFString laid out as the compiler lays out its constant strings, in the
// __cfstring section, whose class is CoreFoundation's constant-string class.
// booleanConstant gives the platform's true and false objects.
#pragma once

#include "runtime/objc.h"
#include "runtime/ptrauth.h"

extern "C" {
extern int __CFConstantStringClassReference[];
struct __CFBoolean;
extern const __CFBoolean* const kCFBooleanTrue;
extern const __CFBoolean* const kCFBooleanFalse;
}

namespace objc {

struct ConstantString {
  const void* VELMO_SIGNED_ISA isa;
  int flags;  // 0x7c8: a constant string of 8-bit characters
  const char* bytes;
  long length;
};

template <char... Cs>
inline constexpr char stringText[] = {Cs..., '\0'};

}  // namespace objc

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wgnu-string-literal-operator-template"
template <class C, C... Cs>
NSString* operator""_ns() {
  __attribute__((section("__DATA,__cfstring"))) static objc::ConstantString string{
      __CFConstantStringClassReference, 0x7c8, objc::stringText<Cs...>, sizeof...(Cs)};
  return reinterpret_cast<NSString*>(&string);
}
#pragma GCC diagnostic pop

inline id booleanConstant(BOOL value) {
  const __CFBoolean* b = value ? kCFBooleanTrue : kCFBooleanFalse;
  return reinterpret_cast<id>(const_cast<__CFBoolean*>(b));
}
