#include "platform/uikit/uibarbuttonitem.h"

namespace uikit {
namespace {

UIBarButtonItem* as(id self) { return static_cast<UIBarButtonItem*>(self); }

Class defineBarButtonItem() {
  Class cls = objc::defineClass<UIBarButtonItem>("UIBarButtonItem", objc::nsobjectClass());
  addMethod(
      cls, "initWithCustomView:"_sel, +[](id self, SEL, id view) -> id {
        as(self)->customView = static_cast<UIView*>(view);
        return self;
      });
  addMethod(
      cls, "initWithTitle:style:target:action:"_sel,
      +[](id self, SEL, id title, long, id target, SEL action) -> id {
        as(self)->title = static_cast<NSString*>(title);
        as(self)->target = target;
        as(self)->action = action;
        return self;
      });
  addMethod(
      cls, "customView"_sel, +[](id self, SEL) -> id { return as(self)->customView.get(); });
  addMethod(
      cls, "setCustomView:"_sel,
      +[](id self, SEL, id view) { as(self)->customView = static_cast<UIView*>(view); });
  addMethod(
      cls, "title"_sel, +[](id self, SEL) -> id { return as(self)->title.get(); });
  addMethod(
      cls, "target"_sel, +[](id self, SEL) -> id { return as(self)->target; });
  addMethod(
      cls, "action"_sel, +[](id self, SEL) -> SEL { return as(self)->action; });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        if (as(self)->customView) return msg<id>(as(self)->customView, "description"_sel);
        return foundation::makeString("button \"" + foundation::stdString(as(self)->title) + "\"");
      });
  return cls;
}

}  // namespace

Class barButtonItemClass() {
  static Class cls = defineBarButtonItem();
  return cls;
}

}  // namespace uikit
