#include "tweak/settings.h"

#include "runtime/strong.h"
#include "tweak/host/foundation.h"

extern "C" {
BOOL lockRecentlyDeleted = NO;
BOOL popToRoot = NO;
BOOL hiddenItemCountEnabled = NO;
BOOL showLockIcon = NO;
long long hiddenItemCount = 0;
BOOL accessed = NO;
NSString* reason = "Use your passcode to view and manage hidden album."_ns;
}

namespace velmo {

NSString* settingsPath() {
  return "/var/jb/var/mobile/Library/Preferences/com.qel.velmopreferences.plist"_ns;
}

NSString* changedNotification() { return "com.qel.velmopreferences/changed"_ns; }

}  // namespace velmo

void reloadSettings(CFNotificationCenterRef, void*, CFStringRef, const void*, CFDictionaryRef) {
  objc::AutoreleasePool pool;
  if (!host::fileExistsAtPath(velmo::settingsPath())) return;
  id settings = host::dictionaryWithContentsOfFile(velmo::settingsPath());
  lockRecentlyDeleted = host::boolValue(host::objectForKey(settings, "lockRecentlyDeleted"_ns));
  popToRoot = host::boolValue(host::objectForKey(settings, "popToRoot"_ns));
  hiddenItemCountEnabled =
      host::boolValue(host::objectForKey(settings, "hiddenItemCountEnabled"_ns));
  showLockIcon = host::boolValue(host::objectForKey(settings, "showLockIcon"_ns));
  hiddenItemCount = host::longLongValue(host::objectForKey(settings, "hiddenItemCount"_ns));
}
