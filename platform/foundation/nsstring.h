// NSString: an immutable UTF-8 string object, and the platform's conversions
// of strings to booleans and numbers.
//
// The conversions follow the platform's rules for strings: leading white
// space is skipped; boolValue is YES when an optional sign and leading zeros
// are followed by Y, y, T, t or a digit 1 to 9; longLongValue reads an
// optional sign and decimal digits (saturating on overflow); floatValue reads
// a decimal number with optional fraction and exponent. Text that does not
// start with a number reads as 0.
//
// Thread safety: a string never changes once made.
#pragma once

#include <string>
#include <string_view>

#include "platform/objc/nsobject.h"

struct NSString : NSObject {
  std::string text;
};

namespace foundation {

Class stringClass();

// A new string, autoreleased.
NSString* makeString(std::string_view text);
// A new string owned by the caller.
Strong<NSString> newString(std::string_view text);
// The text of a string object; "" for nil or an object that is no string.
std::string stdString(id obj);
BOOL isString(id obj);

BOOL stringBoolValue(std::string_view text);
long long stringLongLongValue(std::string_view text);
double stringDoubleValue(std::string_view text);

// An interned string that lives as long as the process (an @"..." literal).
NSString* constantString(const char* text);

}  // namespace foundation

// "text"_ns: a constant string object, like an @"text" literal. (A pack of
// characters, as "..."_sel takes them; see message.h.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#if defined(__clang__)
#pragma GCC diagnostic ignored "-Wgnu-string-literal-operator-template"
#endif
template <class C, C... Cs>
NSString* operator""_ns() {
  static NSString* const s = foundation::constantString(objc::literalText<Cs...>);
  return s;
}
#pragma GCC diagnostic pop
