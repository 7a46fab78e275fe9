#include "platform/uikit/uicontrol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/nsstring.h"
#include "platform/uikit/uibarbuttonitem.h"

namespace {

// A target that records the actions it receives and the switch's state then.
struct Recorder : NSObject {
  std::vector<std::string> calls;
};

Class recorderClass() {
  static Class cls = [] {
    Class c = objc::defineClass<Recorder>("TestActionRecorder", objc::nsobjectClass());
    addMethod(
        c, "changed"_sel,
        +[](id self, SEL) { static_cast<Recorder*>(self)->calls.push_back("changed"); });
    addMethod(
        c, "changedFrom:"_sel, +[](id self, SEL, id sender) {
          bool on = msg<BOOL>(sender, "isOn"_sel);
          static_cast<Recorder*>(self)->calls.push_back(on ? "from on" : "from off");
        });
    addMethod(
        c, "tapped:forEvent:"_sel, +[](id self, SEL, id, id event) {
          static_cast<Recorder*>(self)->calls.push_back(event == nullptr ? "tapped" : "tapped?");
        });
    return c;
  }();
  return cls;
}

Strong<UISwitch> newSwitch() { return allocInit<UISwitch>(uikit::switchClass()); }

TEST(Switch, UserToggleSendsValueChangedToEachTarget) {
  objc::AutoreleasePool pool;
  auto target = allocInit<Recorder>(recorderClass());
  auto other = allocInit<Recorder>(recorderClass());
  auto toggle = newSwitch();
  msg<void>(toggle, "addTarget:action:forControlEvents:"_sel, static_cast<id>(target.get()),
            "changed"_sel, 4096ul);
  msg<void>(toggle, "addTarget:action:forControlEvents:"_sel, static_cast<id>(other.get()),
            "changedFrom:"_sel, static_cast<unsigned long>(UIControlEventValueChanged));
  msg<void>(toggle, "addTarget:action:forControlEvents:"_sel, static_cast<id>(other.get()),
            "tapped:forEvent:"_sel, static_cast<unsigned long>(UIControlEventTouchUpInside));
  // The same target and action again: still one call per event.
  msg<void>(toggle, "addTarget:action:forControlEvents:"_sel, static_cast<id>(target.get()),
            "changed"_sel, 4096ul);

  EXPECT_TRUE(uikit::userToggle(toggle, YES));
  EXPECT_TRUE(msg<BOOL>(toggle, "isOn"_sel));
  EXPECT_EQ(target->calls, std::vector<std::string>{"changed"});
  EXPECT_EQ(other->calls, std::vector<std::string>{"from on"});  // the state was set first
  // Set to the state it already has: no value change, nothing sent.
  EXPECT_FALSE(uikit::userToggle(toggle, YES));
  EXPECT_EQ(target->calls, std::vector<std::string>{"changed"});

  msg<void>(toggle, "sendActionsForControlEvents:"_sel,
            static_cast<unsigned long>(UIControlEventTouchUpInside));
  EXPECT_EQ(other->calls, (std::vector<std::string>{"from on", "tapped"}));

  msg<void>(toggle, "removeTarget:action:forControlEvents:"_sel, static_cast<id>(target.get()),
            "changed"_sel, 4096ul);
  uikit::userToggle(toggle, NO);
  EXPECT_EQ(target->calls.size(), 1u);
  EXPECT_EQ(other->calls.back(), "from off");
}

TEST(Switch, SettingTheStateSendsNothing) {
  objc::AutoreleasePool pool;
  auto target = allocInit<Recorder>(recorderClass());
  auto toggle = newSwitch();
  msg<void>(toggle, "addTarget:action:forControlEvents:"_sel, static_cast<id>(target.get()),
            "changed"_sel, 4096ul);
  msg<void>(toggle, "setOn:animated:"_sel, YES, YES);
  EXPECT_TRUE(msg<BOOL>(toggle, "on"_sel));
  EXPECT_TRUE(toggle->lastAnimated);
  msg<void>(toggle, "setOn:animated:"_sel, NO, NO);
  EXPECT_FALSE(toggle->on);
  EXPECT_FALSE(toggle->lastAnimated);
  EXPECT_TRUE(target->calls.empty());
}

TEST(Switch, DescribesStateAndColoursInItsBarItem) {
  objc::AutoreleasePool pool;
  auto toggle = newSwitch();
  id accent = msg<id>(uikit::colorClass(), "colorWithRed:green:blue:alpha:"_sel, 1.0, 105 / 255.0,
                      180 / 255.0, 1.0);
  msg<void>(toggle, "setTintColor:"_sel, accent);
  msg<void>(toggle, "setOnTintColor:"_sel, accent);
  msg<void>(toggle, "setOn:animated:"_sel, YES, NO);
  id item = msg<id>(msg<id>(uikit::barButtonItemClass(), "alloc"_sel), "initWithCustomView:"_sel,
                    static_cast<id>(toggle.get()));
  auto owned = adopt(item);
  EXPECT_EQ(msg<id>(item, "customView"_sel), toggle.get());
  EXPECT_EQ(uikit::describe(item),
            "switch on tint rgba(1.000,0.412,0.706,1.000) onTint rgba(1.000,0.412,0.706,1.000)");
}

}  // namespace
