#include "platform/uikit/uidevice.h"

#include "platform/foundation/device.h"
#include "platform/foundation/nsstring.h"

namespace uikit {
namespace {

Class defineDevice() {
  Class cls = objc::defineClass<UIDevice>("UIDevice", objc::nsobjectClass());
  addClassMethod(
      cls, "currentDevice"_sel, +[](id self, SEL) -> id {
        static id const device = [&] {
          id d = class_createInstance(static_cast<Class>(self));
          objc_makeImmortal(d);
          return d;
        }();
        return device;
      });
  addMethod(
      cls, "model"_sel,
      +[](id, SEL) -> id { return foundation::makeString(device::readConfig().model); });
  addMethod(
      cls, "systemName"_sel, +[](id, SEL) -> id { return "iOS"_ns; });
  addMethod(
      cls, "systemVersion"_sel,
      +[](id, SEL) -> id { return foundation::makeString(device::readConfig().systemVersion); });
  addMethod(
      cls, "userInterfaceIdiom"_sel, +[](id, SEL) -> long {
        return device::readConfig().model.find("iPad") != std::string::npos
                   ? UIUserInterfaceIdiomPad
                   : UIUserInterfaceIdiomPhone;
      });
  addMethod(
      cls, "description"_sel, +[](id, SEL) -> id {
        device::Config config = device::readConfig();
        return foundation::makeString(config.model + " iOS " + config.systemVersion);
      });
  return cls;
}

}  // namespace

Class deviceClass() {
  static Class cls = defineDevice();
  return cls;
}

}  // namespace uikit
