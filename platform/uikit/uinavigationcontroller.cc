#include "platform/uikit/uinavigationcontroller.h"

#include "platform/foundation/collections.h"

namespace uikit {
namespace {

UINavigationController* as(id self) { return static_cast<UINavigationController*>(self); }

void record(id self, UINavigationController::Operation op, BOOL animated) {
  as(self)->lastOperation = op;
  as(self)->lastAnimated = animated;
}

bool isInStack(UINavigationController* nav, id vc) {
  for (auto& child : nav->children) {
    if (child.get() == vc) return true;
  }
  return false;
}

Class defineNavigationController() {
  using Op = UINavigationController::Operation;
  Class cls =
      objc::defineClass<UINavigationController>("UINavigationController", viewControllerClass());
  addMethod(
      cls, "initWithRootViewController:"_sel, +[](id self, SEL, id root) -> id {
        self = msg<id>(self, "init"_sel);
        if (self != nullptr && root != nullptr)
          addChild(as(self), static_cast<UIViewController*>(root));
        return self;
      });
  addMethod(
      cls, "viewControllers"_sel,
      +[](id self, SEL) -> id { return msg<id>(self, "childViewControllers"_sel); });
  addMethod(
      cls, "setViewControllers:animated:"_sel, +[](id self, SEL, id list, BOOL animated) {
        record(self, Op::kSetStack, animated);
        if (!foundation::isArray(list)) return;
        auto keep = as(self)->children;  // the old stack stays alive until the new one is in place
        while (!as(self)->children.empty()) removeFromParent(as(self)->children.back());
        for (auto& vc : static_cast<NSArray*>(list)->items) {
          if (msg<BOOL>(vc, "isKindOfClass:"_sel, viewControllerClass()) &&
              !isInStack(as(self), vc)) {
            addChild(as(self), static_cast<UIViewController*>(vc.get()));
          }
        }
      });
  addMethod(
      cls, "topViewController"_sel, +[](id self, SEL) -> id {
        auto& stack = as(self)->children;
        return stack.empty() ? nullptr : stack.back().get();
      });
  addMethod(
      cls, "visibleViewController"_sel,
      +[](id self, SEL) -> id { return msg<id>(self, "topViewController"_sel); });
  addMethod(
      cls, "pushViewController:animated:"_sel, +[](id self, SEL, id vc, BOOL animated) {
        record(self, Op::kPush, animated);
        if (vc == nullptr || isInStack(as(self), vc)) return;
        addChild(as(self), static_cast<UIViewController*>(vc));
      });
  addMethod(
      cls, "popViewControllerAnimated:"_sel, +[](id self, SEL, BOOL animated) -> id {
        record(self, Op::kPop, animated);
        auto& stack = as(self)->children;
        if (stack.size() < 2) return nullptr;
        Strong<UIViewController> popped = stack.back();
        removeFromParent(popped);
        return popped.autorelease();
      });
  addMethod(
      cls, "popToRootViewControllerAnimated:"_sel, +[](id self, SEL, BOOL animated) -> id {
        record(self, Op::kPopToRoot, animated);
        auto& stack = as(self)->children;
        auto popped = foundation::newArray();
        for (size_t i = 1; i < stack.size(); ++i) popped->items.emplace_back(stack[i].get());
        while (stack.size() > 1) removeFromParent(stack.back());
        return popped.autorelease();
      });
  addMethod(
      cls, "navigationBar"_sel, +[](id self, SEL) -> id {
        if (!as(self)->navigationBar) {
          as(self)->navigationBar =
              static_cast<UINavigationBar*>(newView(navigationBarClass(), CGRectZero).get());
        }
        return as(self)->navigationBar.get();
      });
  addMethod(
      cls, "description"_sel,
      +[](id self, SEL) -> id { return foundation::makeString(describeStack(as(self))); });
  return cls;
}

}  // namespace

Class navigationControllerClass() {
  static Class cls = defineNavigationController();
  return cls;
}

std::string describeStack(UINavigationController* controller) {
  std::string out;
  for (auto& vc : controller->children) {
    if (!out.empty()) out += " > ";
    out += controllerName(vc);
  }
  return out;
}

}  // namespace uikit
