// The hooking runtime as the library uses it: each hooked method is a hook
// point (a class looked up by name, and a selector); installing a hook hands
// the replacement to MSHookMessageEx together with the row's original
// implementation slot. A class the process does not have comes back nil from
// objc_getClass and the hooking runtime then leaves the slot empty.
#pragma once

#include "runtime/objc.h"
#include "runtime/substrate.h"

namespace host {

struct HookPoint {
  const char* className;
  const char* selector;
};

inline constexpr HookPoint kInfoDictionary{"NSBundle", "infoDictionary"};
inline constexpr HookPoint kSetDefaultAllowedIdentifiersList{"TCCDService",
                                                             "setDefaultAllowedIdentifiersList:"};
inline constexpr HookPoint kNavigateToDestination{
    "PUSidebarViewController", "_navigateToDestinationForItem:sameItem:completionHandler:"};
inline constexpr HookPoint kNavigateToListItem{"PXNavigationListGadget",
                                               "_navigateTolistItem:animated:"};
inline constexpr HookPoint kApplicationDidEnterBackground{"PUAlbumsGadgetViewController",
                                                          "_applicationDidEnterBackground:"};
inline constexpr HookPoint kConfigureCell{"PXNavigationListGadget",
                                          "_configureCell:forListItem:textColor:"};
inline constexpr HookPoint kInitWithAssetCollection{"PXNavigationListAssetCollectionItem",
                                                    "initWithAssetCollection:itemCount:"};

template <class R, class... A>
void hook(HookPoint point, R (*replacement)(id, SEL, A...), R (**original)(id, SEL, A...)) {
  MSHookMessageEx(objc_getClass(point.className), sel_registerName(point.selector), replacement,
                  original);
}

}  // namespace host
