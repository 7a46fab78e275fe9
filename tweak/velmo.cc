// The library's one entry point: its constructor, run once by the loader when
// the library is loaded into a process, before the host uses any hooked class.
// It attaches the category Velmo; then it leaves the library inert when there
// is no settings file or the master switch is off; otherwise it loads the
// options, subscribes to the change notification for the life of the process
// and installs the rows of the hook table that fit this process, device
// family and system version.
#include "runtime/notify.h"
#include "runtime/strong.h"
#include "tweak/authentication.h"
#include "tweak/hook_table.h"
#include "tweak/host/device.h"
#include "tweak/host/foundation.h"
#include "tweak/settings.h"

namespace {

__attribute__((constructor)) void velmoInit() {
  // Like any category, Velmo's is attached when the library loads, whatever
  // the settings say.
  velmo::addVelmoCategory();
  objc::AutoreleasePool pool;
  if (!host::fileExistsAtPath(velmo::settingsPath())) return;
  id settings = host::dictionaryWithContentsOfFile(velmo::settingsPath());
  if (!host::boolValue(host::objectForKey(settings, "enabled"_ns))) return;

  reloadSettings();
  CFNotificationCenterAddObserver(CFNotificationCenterGetDarwinNotifyCenter(), nullptr,
                                  &reloadSettings, toCFString(velmo::changedNotification()),
                                  nullptr, CFNotificationSuspensionBehaviorCoalesce);

  if (host::isEqualToString(host::mainBundleIdentifier(), "com.apple.mobileslideshow"_ns)) {
    velmo::installHookRow(velmo::HookRow::kUsageText);
  }
  velmo::installHookRow(velmo::HookRow::kAllowList);

  if (host::containsString(host::deviceModel(), "iPad"_ns)) {
    velmo::installHookRow(velmo::HookRow::kSidebarGuard);
    return;
  }
  velmo::installHookRow(velmo::HookRow::kListGuard);
  velmo::installHookRow(velmo::HookRow::kBackgroundReturn);
  if (host::systemVersion() >= 15.0f) {
    velmo::installHookRow(velmo::HookRow::kBadgeDecoration);
  } else {
    velmo::installHookRow(velmo::HookRow::kCountOverride);
  }
}

}  // namespace
