#include "platform/uikit/uiviewcontroller.h"

#include <algorithm>

#include "platform/foundation/collections.h"
#include "platform/uikit/uinavigationcontroller.h"

UIViewController::~UIViewController() {
  for (auto& child : children) child->parent = nullptr;
}

namespace uikit {
namespace {

UIViewController* as(id self) { return static_cast<UIViewController*>(self); }

Class defineViewController() {
  Class cls = objc::defineClass<UIViewController>("UIViewController", responderClass());
  addMethod(
      cls, "view"_sel, +[](id self, SEL) -> id {
        UIViewController* vc = as(self);
        if (!vc->view) {
          msg<void>(self, "loadView"_sel);
          if (!vc->view) {
            objc_fatal("uikit: -[%s loadView] did not set a view",
                       class_getName(object_getClass(self)));
          }
          msg<void>(self, "viewDidLoad"_sel);
        }
        return vc->view.get();
      });
  addMethod(
      cls, "loadView"_sel,
      +[](id self, SEL) { as(self)->view = newView(viewClass(), CGRectZero); });
  addMethod(
      cls, "viewDidLoad"_sel, +[](id, SEL) {});
  addMethod(
      cls, "isViewLoaded"_sel, +[](id self, SEL) -> BOOL { return bool(as(self)->view); });
  addMethod(
      cls, "setView:"_sel,
      +[](id self, SEL, id view) { as(self)->view = static_cast<UIView*>(view); });
  addMethod(
      cls, "title"_sel, +[](id self, SEL) -> id { return as(self)->title.get(); });
  addMethod(
      cls, "setTitle:"_sel, +[](id self, SEL, id title) {
        as(self)->title = adopt(static_cast<NSString*>(msg<id>(title, "copy"_sel)));
        if (as(self)->navigationItem) msg<void>(as(self)->navigationItem, "setTitle:"_sel, title);
      });
  addMethod(
      cls, "navigationItem"_sel, +[](id self, SEL) -> id {
        UIViewController* vc = as(self);
        if (!vc->navigationItem) {
          vc->navigationItem = allocInit<UINavigationItem>(navigationItemClass());
          msg<void>(vc->navigationItem, "setTitle:"_sel, static_cast<id>(vc->title.get()));
        }
        return vc->navigationItem.get();
      });
  addMethod(
      cls, "addChildViewController:"_sel, +[](id self, SEL, id child) {
        if (child != nullptr) addChild(as(self), as(child));
      });
  addMethod(
      cls, "removeFromParentViewController"_sel, +[](id self, SEL) { removeFromParent(as(self)); });
  addMethod(
      cls, "childViewControllers"_sel, +[](id self, SEL) -> id {
        auto list = foundation::newArray();
        for (auto& child : as(self)->children) list->items.emplace_back(child.get());
        return list.autorelease();
      });
  addMethod(
      cls, "parentViewController"_sel, +[](id self, SEL) -> id { return as(self)->parent; });
  addMethod(
      cls, "navigationController"_sel, +[](id self, SEL) -> id {
        for (UIViewController* p = as(self)->parent; p != nullptr; p = p->parent) {
          if (msg<BOOL>(p, "isKindOfClass:"_sel, navigationControllerClass())) return p;
        }
        return nullptr;
      });
  addMethod(
      cls, "description"_sel,
      +[](id self, SEL) -> id { return foundation::makeString(controllerName(as(self))); });
  return cls;
}

}  // namespace

Class viewControllerClass() {
  static Class cls = defineViewController();
  return cls;
}

void addChild(UIViewController* parent, UIViewController* child) {
  for (UIViewController* p = parent; p != nullptr; p = p->parent) {
    if (p == child) objc_fatal("uikit: a view controller cannot be its own ancestor");
  }
  Strong<UIViewController> keep(child);
  removeFromParent(child);
  child->parent = parent;
  parent->children.push_back(keep);
}

void removeFromParent(UIViewController* child) {
  UIViewController* parent = child->parent;
  if (parent == nullptr) return;
  Strong<UIViewController> keep(child);
  child->parent = nullptr;
  auto& list = parent->children;
  list.erase(
      std::find_if(list.begin(), list.end(), [child](const auto& c) { return c.get() == child; }));
}

std::string controllerName(UIViewController* controller) {
  if (controller == nullptr) return "nil";
  if (controller->title) return controller->title->text;
  return class_getName(object_getClass(controller));
}

}  // namespace uikit
