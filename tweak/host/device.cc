#include "tweak/host/device.h"

#include "runtime/message.h"

namespace host {

namespace {
id currentDevice() { return msg<id>(objc_getClass("UIDevice"), "currentDevice"_sel); }
}  // namespace

id deviceModel() { return msg<id>(currentDevice(), "model"_sel); }

float systemVersion() {
  return msg<float>(msg<id>(currentDevice(), "systemVersion"_sel), "floatValue"_sel);
}

}  // namespace host
