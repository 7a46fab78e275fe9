// The device facts the library's set-up reads: the model and the system
// version (as the platform's floatValue reads it: "16.4.1" is 16.4, a
// version that does not start with a number is 0). Defined inline, so that
// each compiles to its sends alone.
#pragma once

#include "runtime/class_reference.h"
#include "runtime/message.h"
#include "runtime/objc.h"

namespace host {

inline id currentDevice() { return msg<id>("UIDevice"_cls, "currentDevice"_sel); }

inline id deviceModel() { return msg<id>(currentDevice(), "model"_sel); }

inline float systemVersion() {
  return msg<float>(msg<id>(currentDevice(), "systemVersion"_sel), "floatValue"_sel);
}

}  // namespace host
