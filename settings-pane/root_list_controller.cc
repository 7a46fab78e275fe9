#include "settings-pane/root_list_controller.h"

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/nsnumber.h"
#include "platform/foundation/nsuserdefaults.h"
#include "settings-pane/change_notification.h"
#include "settings-pane/header_views.h"
#include "settings-pane/photos_restart.h"
#include "settings-pane/preferences_domain.h"

namespace vlp {
namespace {

VLPRootListController* as(id self) { return static_cast<VLPRootListController*>(self); }

id standardDefaults() {
  return msg<id>(foundation::userDefaultsClass(), "standardUserDefaults"_sel);
}

// A strong property: `getter` answers the member, `setter` retains the new value.
template <class T>
struct MemberType;
template <class T>
struct MemberType<Strong<T> VLPRootListController::*> {
  using type = T;
};

template <auto Member>
void addStrongProperty(Class cls, SEL getter, SEL setter) {
  using T = typename MemberType<decltype(Member)>::type;
  addMethod(
      cls, getter, +[](id self, SEL) -> id { return (as(self)->*Member).get(); });
  addMethod(
      cls, setter, +[](id self, SEL, id value) { as(self)->*Member = static_cast<T*>(value); });
}

Class defineRootListController() {
  Class cls = objc::defineClass<VLPRootListController>("VLPRootListController",
                                                       preferences::listControllerClass());
  addStrongProperty<&VLPRootListController::headerView>(cls, "headerView"_sel,
                                                        "setHeaderView:"_sel);
  addStrongProperty<&VLPRootListController::item>(cls, "item"_sel, "setItem:"_sel);
  addStrongProperty<&VLPRootListController::enableSwitch>(cls, "enableSwitch"_sel,
                                                          "setEnableSwitch:"_sel);
  addStrongProperty<&VLPRootListController::titleLabel>(cls, "titleLabel"_sel,
                                                        "setTitleLabel:"_sel);
  addStrongProperty<&VLPRootListController::headerImageView>(cls, "headerImageView"_sel,
                                                             "setHeaderImageView:"_sel);

  addMethod(
      cls, "init"_sel, +[](id self, SEL) -> id {
        self = msgSuper<id>(preferences::listControllerClass(), self, "init"_sel);
        if (self == nullptr) return nullptr;
        buildHeaderViews(self);
        return self;
      });

  addMethod(
      cls, "specifiers"_sel, +[](id self, SEL) -> id {
        if (!as(self)->_specifiers) {
          id loaded = msg<id>(self, "loadSpecifiersFromPlistName:target:"_sel,
                              static_cast<id>("Root"_ns), self);
          as(self)->_specifiers = static_cast<NSArray*>(loaded);
        }
        return as(self)->_specifiers.get();
      });

  addMethod(
      cls, "tableView:cellForRowAtIndexPath:"_sel,
      +[](id self, SEL, id tableView, id indexPath) -> id {
        msg<void>(tableView, "setTableHeaderView:"_sel, msg<id>(self, "headerView"_sel));
        return msgSuper<id>(preferences::listControllerClass(), self,
                            "tableView:cellForRowAtIndexPath:"_sel, tableView, indexPath);
      });

  addMethod(
      cls, "enableSwitchChanged"_sel, +[](id self, SEL) {
        id enableSwitch = msg<id>(self, "enableSwitch"_sel);
        BOOL on = msg<BOOL>(enableSwitch, "isOn"_sel);
        id value = on ? foundation::trueValue() : foundation::falseValue();
        msg<void>(standardDefaults(), "setObject:forKey:inDomain:"_sel, value,
                  static_cast<id>(enabledKey()), static_cast<id>(preferencesDomain()));
        msg<void>(enableSwitch, "setOn:animated:"_sel, on, YES);
        // Photos reads the switch when it starts: restart it only once the
        // new value is on disk.
        if (!msg<BOOL>(standardDefaults(), "synchronize"_sel)) return;
        msg<void>(self, "killPhotos"_sel);
      });

  addMethod(
      cls, "killPhotos"_sel, +[](id, SEL) {
        dispatch_async(dispatch_get_main_queue(), makeBlock<void()>([] { startKillall(); }));
      });

  addMethod(
      cls, "viewDidLoad"_sel, +[](id self, SEL) {
        msgSuper<void>(preferences::listControllerClass(), self, "viewDidLoad"_sel);
        msg<void>(self, "setEnabledState"_sel);
      });

  addMethod(
      cls, "setEnabledState"_sel, +[](id self, SEL) {
        id value = msg<id>(standardDefaults(), "objectForKey:inDomain:"_sel,
                           static_cast<id>(enabledKey()), static_cast<id>(preferencesDomain()));
        // A value that is no boolean, number or string reads as off, like a missing one.
        BOOL on = respondsTo(value, "boolValue"_sel) && msg<BOOL>(value, "boolValue"_sel);
        msg<void>(msg<id>(self, "enableSwitch"_sel), "setOn:animated:"_sel, on, NO);
        postChangeNotification();
      });

  addMethod(
      cls, "setPreferenceValue:specifier:"_sel, +[](id self, SEL, id value, id specifier) {
        msgSuper<void>(preferences::listControllerClass(), self,
                       "setPreferenceValue:specifier:"_sel, value, specifier);
        postChangeNotification();
      });
  return cls;
}

// The Settings app finds the class by name as soon as the plug-in is loaded.
[[maybe_unused]] const bool kRegistered = (rootListControllerClass(), true);

}  // namespace

Class rootListControllerClass() {
  static Class cls = defineRootListController();
  return cls;
}

}  // namespace vlp
