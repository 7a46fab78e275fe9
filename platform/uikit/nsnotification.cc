#include "platform/uikit/nsnotification.h"

namespace uikit {
namespace {

NSNotification* as(id self) { return static_cast<NSNotification*>(self); }

Class defineNotification() {
  Class cls = objc::defineClass<NSNotification>("NSNotification", objc::nsobjectClass());
  addClassMethod(
      cls, "notificationWithName:object:"_sel, +[](id self, SEL, id name, id object) -> id {
        auto* n = as(class_createInstance(static_cast<Class>(self)));
        n->name = adopt(static_cast<NSString*>(msg<id>(name, "copy"_sel)));
        n->object = object;
        return objc_autorelease(n);
      });
  addMethod(
      cls, "name"_sel, +[](id self, SEL) -> id { return as(self)->name.get(); });
  addMethod(
      cls, "object"_sel, +[](id self, SEL) -> id { return as(self)->object.get(); });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        return foundation::makeString("notification " + foundation::stdString(as(self)->name));
      });
  return cls;
}

}  // namespace

Class notificationClass() {
  static Class cls = defineNotification();
  return cls;
}

}  // namespace uikit
