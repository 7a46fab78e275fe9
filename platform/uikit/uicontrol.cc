#include "platform/uikit/uicontrol.h"

#include <algorithm>
#include <cstring>

#include "platform/foundation/nsstring.h"

namespace uikit {
namespace {

UIControl* control(id self) { return static_cast<UIControl*>(self); }
UISwitch* toggle(id self) { return static_cast<UISwitch*>(self); }

int argumentCount(SEL action) {
  const char* name = sel_getName(action);
  return static_cast<int>(std::count(name, name + std::strlen(name), ':'));
}

Class defineControl() {
  Class cls = objc::defineClass<UIControl>("UIControl", viewClass());
  addMethod(
      cls, "addTarget:action:forControlEvents:"_sel,
      +[](id self, SEL, id target, SEL action, unsigned long events) {
        if (action == nullptr || events == 0) return;
        for (auto& t : control(self)->targets) {
          if (t.target == target && t.action == action) {
            t.events |= events;
            return;
          }
        }
        control(self)->targets.push_back({target, action, events});
      });
  addMethod(
      cls, "removeTarget:action:forControlEvents:"_sel,
      +[](id self, SEL, id target, SEL action, unsigned long events) {
        auto& list = control(self)->targets;
        for (auto& t : list) {
          if ((target == nullptr || t.target == target) &&
              (action == nullptr || t.action == action)) {
            t.events &= ~events;
          }
        }
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [](const UIControl::Target& t) { return t.events == 0; }),
                   list.end());
      });
  addMethod(
      cls, "sendActionsForControlEvents:"_sel,
      +[](id self, SEL, unsigned long events) { sendActions(control(self), events); });
  addMethod(
      cls, "isEnabled"_sel, +[](id self, SEL) -> BOOL { return control(self)->enabled; });
  addMethod(
      cls, "setEnabled:"_sel,
      +[](id self, SEL, BOOL enabled) { control(self)->enabled = enabled; });
  return cls;
}

Class defineSwitch() {
  Class cls = objc::defineClass<UISwitch>("UISwitch", controlClass());
  addMethod(
      cls, "isOn"_sel, +[](id self, SEL) -> BOOL { return toggle(self)->on; });
  addMethod(
      cls, "on"_sel, +[](id self, SEL) -> BOOL { return toggle(self)->on; });
  addMethod(
      cls, "setOn:"_sel, +[](id self, SEL, BOOL on) {
        toggle(self)->on = on;
        toggle(self)->lastAnimated = false;
      });
  addMethod(
      cls, "setOn:animated:"_sel, +[](id self, SEL, BOOL on, BOOL animated) {
        toggle(self)->on = on;
        toggle(self)->lastAnimated = animated;
      });
  addMethod(
      cls, "onTintColor"_sel, +[](id self, SEL) -> id { return toggle(self)->onTintColor.get(); });
  addMethod(
      cls, "setOnTintColor:"_sel,
      +[](id self, SEL, id color) { toggle(self)->onTintColor = static_cast<UIColor*>(color); });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        UISwitch* s = toggle(self);
        std::string text = s->on ? "switch on" : "switch off";
        if (s->tintColor) text += " tint " + describeColor(s->tintColor);
        if (s->onTintColor) text += " onTint " + describeColor(s->onTintColor);
        return foundation::makeString(text);
      });
  return cls;
}

}  // namespace

Class controlClass() {
  static Class cls = defineControl();
  return cls;
}

Class switchClass() {
  static Class cls = defineSwitch();
  return cls;
}

void sendActions(UIControl* sender, unsigned long events) {
  Strong<UIControl> keep(sender);
  auto targets = sender->targets;  // an action may add or remove targets
  for (const auto& t : targets) {
    if ((t.events & events) == 0 || t.target == nullptr) continue;
    switch (argumentCount(t.action)) {
      case 0:
        msg<void>(t.target, t.action);
        break;
      case 1:
        msg<void>(t.target, t.action, static_cast<id>(sender));
        break;
      default:
        msg<void>(t.target, t.action, static_cast<id>(sender), static_cast<id>(nullptr));
        break;
    }
  }
}

bool userToggle(UISwitch* control, BOOL on) {
  if (control->on == static_cast<bool>(on)) return false;
  control->on = on;
  control->lastAnimated = true;
  sendActions(control, UIControlEventValueChanged);
  return true;
}

}  // namespace uikit
