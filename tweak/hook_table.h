// The hook table: each row is a hooked host method, its replacement and the
// row's original implementation slot. Which rows a process gets is decided by
// the library's set-up from the process, the device family and the system
// version; this file only knows how to install a row.
#pragma once

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

void installHookRow(HookRow row);

}  // namespace velmo
