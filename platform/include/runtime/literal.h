// Constant objects of the simulated device: "text"_ns and the platform's
// true and false objects.
#pragma once

#include "platform/foundation/nsnumber.h"
#include "platform/foundation/nsstring.h"

inline id booleanConstant(BOOL value) {
  return value ? foundation::trueValue() : foundation::falseValue();
}
