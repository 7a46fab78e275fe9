// The device facts the library's set-up reads: the model and the system
// version (as the platform's floatValue reads it: "16.4.1" is 16.4, a
// version that does not start with a number is 0).
#pragma once

#include "runtime/objc.h"

namespace host {

id deviceModel();
float systemVersion();

}  // namespace host
