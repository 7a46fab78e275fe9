#include "tweak/hook_table.h"

#include "tweak/face_id_grant.h"
#include "tweak/host/hooking.h"
#include "tweak/navigation_guard.h"
#include "tweak/row_decoration.h"

namespace velmo {

void installHookRow(HookRow row) {
  switch (row) {
    case HookRow::kUsageText:
      host::hook(host::kInfoDictionary, &usageText, &originalInfoDictionary);
      break;
    case HookRow::kAllowList:
      host::hook(host::kSetDefaultAllowedIdentifiersList, &allowList,
                 &originalSetDefaultAllowedIdentifiersList);
      break;
    case HookRow::kSidebarGuard:
      host::hook(host::kNavigateToDestination, &sidebarGuard, &originalNavigateToDestination);
      break;
    case HookRow::kListGuard:
      host::hook(host::kNavigateToListItem, &listGuard, &originalNavigateToListItem);
      break;
    case HookRow::kBackgroundReturn:
      host::hook(host::kApplicationDidEnterBackground, &backgroundReturn,
                 &originalApplicationDidEnterBackground);
      break;
    case HookRow::kBadgeDecoration:
      host::hook(host::kConfigureCell, &badgeDecoration, &originalConfigureCell);
      break;
    case HookRow::kCountOverride:
      host::hook(host::kInitWithAssetCollection, &countOverride, &originalInitWithAssetCollection);
      break;
  }
}

}  // namespace velmo
