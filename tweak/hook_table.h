// The hook table: each row is a hooked host method, its replacement and the
// row's original implementation slot. Which rows a process gets is decided by
// the library's set-up from the process, the device family and the system
// version; this file only knows how to install a row.
//
// Every caller names its row as a constant, so the row's install is defined
// here and always inlined: each call compiles to the one hook of its row,
// with no dispatch on the row at run time.
#pragma once

#include "tweak/face_id_grant.h"
#include "tweak/host/hooking.h"
#include "tweak/navigation_guard.h"
#include "tweak/row_decoration.h"

namespace velmo {

enum class HookRow {
  kUsageText = 1,         // NSBundle infoDictionary
  kAllowList = 2,         // TCCDService setDefaultAllowedIdentifiersList:
  kSidebarGuard = 3,      // PUSidebarViewController, iPad
  kListGuard = 4,         // PXNavigationListGadget _navigateTolistItem:animated:
  kBackgroundReturn = 5,  // PUAlbumsGadgetViewController _applicationDidEnterBackground:
  kBadgeDecoration = 6,   // PXNavigationListGadget _configureCell:forListItem:textColor:, 15.0 on
  kCountOverride = 7,     // PXNavigationListAssetCollectionItem, before 15.0
};

[[gnu::always_inline]] inline void installHookRow(HookRow row) {
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
