#include "settings-pane/root_list_controller.h"

#include "runtime/dispatch.h"
#include "runtime/literal.h"
#include "runtime/message.h"
#include "settings-pane/change_notification.h"
#include "settings-pane/header_views.h"
#include "settings-pane/photos_restart.h"
#include "settings-pane/preferences_domain.h"

namespace vlp {
namespace {

Class controllerClass = nullptr;

id standardDefaults() {
  return msg<id>(objc_getClass("NSUserDefaults"), "standardUserDefaults"_sel);
}

// An object instance variable: its slot inside an instance.
id* slot(id self, const char* ivarName) {
  Ivar ivar = class_getInstanceVariable(object_getClass(self), ivarName);
  return reinterpret_cast<id*>(reinterpret_cast<char*>(self) + ivar_getOffset(ivar));
}

// Stores `value` in a strong instance variable: the new value is retained
// before the old one is released, so setting the same object again is safe.
void setStrong(id self, const char* ivarName, id value) {
  id* where = slot(self, ivarName);
  id old = *where;
  *where = objc_retain(value);
  objc_release(old);
}

// A strong property: a getter and a setter over an instance variable named
// after the property with a leading underscore.
template <const char* Ivar>
void addStrongProperty(Class cls, SEL getter, SEL setter) {
  class_addIvar(cls, Ivar, sizeof(id), 3, "@");
  addMethod(
      cls, getter, +[](id self, SEL) -> id { return *slot(self, Ivar); });
  addMethod(
      cls, setter, +[](id self, SEL, id value) { setStrong(self, Ivar, value); });
}

constexpr char kHeaderView[] = "_headerView";
constexpr char kItem[] = "_item";
constexpr char kEnableSwitch[] = "_enableSwitch";
constexpr char kTitleLabel[] = "_titleLabel";
constexpr char kHeaderImageView[] = "_headerImageView";
constexpr const char* kProperties[] = {kHeaderView, kItem, kEnableSwitch, kTitleLabel,
                                       kHeaderImageView};
// PSListController's storage of the rows.
constexpr char kSpecifiers[] = "_specifiers";

Class defineRootListController() {
  Class base = objc_getClass("PSListController");
  Class cls = objc_allocateClassPair(base, "VLPRootListController", 0);
  controllerClass = cls;
  addStrongProperty<kHeaderView>(cls, "headerView"_sel, "setHeaderView:"_sel);
  addStrongProperty<kItem>(cls, "item"_sel, "setItem:"_sel);
  addStrongProperty<kEnableSwitch>(cls, "enableSwitch"_sel, "setEnableSwitch:"_sel);
  addStrongProperty<kTitleLabel>(cls, "titleLabel"_sel, "setTitleLabel:"_sel);
  addStrongProperty<kHeaderImageView>(cls, "headerImageView"_sel, "setHeaderImageView:"_sel);

  addMethod(
      cls, "init"_sel, +[](id self, SEL) -> id {
        self = msgSuper2<id>(controllerClass, self, "init"_sel);
        if (self == nullptr) return nullptr;
        buildHeaderViews(self);
        return self;
      });

  addMethod(
      cls, "specifiers"_sel, +[](id self, SEL) -> id {
        id* specifiers = slot(self, kSpecifiers);
        if (*specifiers == nullptr) {
          id loaded = msg<id>(self, "loadSpecifiersFromPlistName:target:"_sel, "Root"_ns, self);
          setStrong(self, kSpecifiers, loaded);
        }
        return *specifiers;
      });

  addMethod(
      cls, "tableView:cellForRowAtIndexPath:"_sel,
      +[](id self, SEL, id tableView, id indexPath) -> id {
        msg<void>(tableView, "setTableHeaderView:"_sel, msg<id>(self, "headerView"_sel));
        return msgSuper2<id>(controllerClass, self, "tableView:cellForRowAtIndexPath:"_sel,
                             tableView, indexPath);
      });

  addMethod(
      cls, "enableSwitchChanged"_sel, +[](id self, SEL) {
        id enableSwitch = msg<id>(self, "enableSwitch"_sel);
        BOOL on = msg<BOOL>(enableSwitch, "isOn"_sel);
        msg<void>(standardDefaults(), "setObject:forKey:inDomain:"_sel, booleanConstant(on),
                  enabledKey(), preferencesDomain());
        msg<void>(enableSwitch, "setOn:animated:"_sel, on, YES);
        // A value that was not saved must not restart Photos: it would come
        // back with the old state, and the switch would say otherwise.
        if (!msg<BOOL>(standardDefaults(), "synchronize"_sel)) return;
        msg<void>(self, "killPhotos"_sel);
      });

  addMethod(
      cls, "killPhotos"_sel, +[](id, SEL) {
        dispatch_async(dispatch_get_main_queue(), makeBlock<void()>([] { startKillall(); }));
      });

  addMethod(
      cls, "viewDidLoad"_sel, +[](id self, SEL) {
        msgSuper2<void>(controllerClass, self, "viewDidLoad"_sel);
        msg<void>(self, "setEnabledState"_sel);
      });

  addMethod(
      cls, "setEnabledState"_sel, +[](id self, SEL) {
        id value = msg<id>(standardDefaults(), "objectForKey:inDomain:"_sel, enabledKey(),
                           preferencesDomain());
        // A value that is no boolean, number or string reads as off, like a missing one.
        BOOL on = msg<BOOL>(value, "respondsToSelector:"_sel, "boolValue"_sel) &&
                  msg<BOOL>(value, "boolValue"_sel);
        msg<void>(msg<id>(self, "enableSwitch"_sel), "setOn:animated:"_sel, on, NO);
        postChangeNotification();
      });

  addMethod(
      cls, "setPreferenceValue:specifier:"_sel, +[](id self, SEL, id value, id specifier) {
        msgSuper2<void>(controllerClass, self, "setPreferenceValue:specifier:"_sel, value,
                        specifier);
        postChangeNotification();
      });

  // The properties are released with the controller; the base class releases
  // its own storage.
  addMethod(
      cls, "dealloc"_sel, +[](id self, SEL) {
        for (const char* ivar : kProperties) setStrong(self, ivar, nullptr);
        msgSuper2<void>(controllerClass, self, "dealloc"_sel);
      });

  objc_registerClassPair(cls);
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
