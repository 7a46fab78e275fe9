#include "platform/uikit/uinavigationitem.h"

namespace uikit {
namespace {

UINavigationItem* as(id self) { return static_cast<UINavigationItem*>(self); }

Class defineNavigationItem() {
  Class cls = objc::defineClass<UINavigationItem>("UINavigationItem", objc::nsobjectClass());
  addMethod(
      cls, "initWithTitle:"_sel, +[](id self, SEL, id title) -> id {
        as(self)->title = adopt(static_cast<NSString*>(msg<id>(title, "copy"_sel)));
        return self;
      });
  addMethod(
      cls, "title"_sel, +[](id self, SEL) -> id { return as(self)->title.get(); });
  addMethod(
      cls, "setTitle:"_sel, +[](id self, SEL, id title) {
        as(self)->title = adopt(static_cast<NSString*>(msg<id>(title, "copy"_sel)));
      });
  addMethod(
      cls, "titleView"_sel, +[](id self, SEL) -> id { return as(self)->titleView.get(); });
  addMethod(
      cls, "setTitleView:"_sel,
      +[](id self, SEL, id view) { as(self)->titleView = static_cast<UIView*>(view); });
  addMethod(
      cls, "rightBarButtonItem"_sel,
      +[](id self, SEL) -> id { return as(self)->rightBarButtonItem.get(); });
  addMethod(
      cls, "setRightBarButtonItem:"_sel, +[](id self, SEL, id item) {
        as(self)->rightBarButtonItem = static_cast<UIBarButtonItem*>(item);
      });
  addMethod(
      cls, "leftBarButtonItem"_sel,
      +[](id self, SEL) -> id { return as(self)->leftBarButtonItem.get(); });
  addMethod(
      cls, "setLeftBarButtonItem:"_sel, +[](id self, SEL, id item) {
        as(self)->leftBarButtonItem = static_cast<UIBarButtonItem*>(item);
      });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        UINavigationItem* item = as(self);
        std::string text = "title \"" + foundation::stdString(item->title) + "\"";
        if (item->titleView) text += " titleView " + describe(item->titleView);
        if (item->leftBarButtonItem) text += " left " + describe(item->leftBarButtonItem);
        if (item->rightBarButtonItem) text += " right " + describe(item->rightBarButtonItem);
        return foundation::makeString(text);
      });
  return cls;
}

}  // namespace

Class navigationItemClass() {
  static Class cls = defineNavigationItem();
  return cls;
}

}  // namespace uikit
