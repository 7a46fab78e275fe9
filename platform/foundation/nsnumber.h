// NSNumber: a boolean, a signed 64-bit integer or a double, with the
// platform's conversions between them (boolValue is "not zero"; a double
// converts to an integer by truncation, saturating at the integer's range).
// The two boolean numbers are shared constants, the platform's true and false.
//
// Thread safety: a number never changes once made.
#pragma once

#include "platform/objc/nsobject.h"

struct NSNumber : NSObject {
  enum class Kind { kBool, kInteger, kReal } kind = Kind::kInteger;
  long long integer = 0;  // kBool and kInteger
  double real = 0;        // kReal
};

namespace foundation {

Class numberClass();
BOOL isNumber(id obj);

NSNumber* trueValue();   // kCFBooleanTrue, @YES
NSNumber* falseValue();  // kCFBooleanFalse, @NO
NSNumber* boolNumber(BOOL value);
NSNumber* integerNumber(long long value);  // autoreleased
NSNumber* realNumber(double value);        // autoreleased

}  // namespace foundation
