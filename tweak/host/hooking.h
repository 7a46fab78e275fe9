// The hooking runtime as the library uses it: each hooked method is a hook
// point (a class looked up by name, and a selector); installing a hook hands
// the replacement to MSHookMessageEx together with the row's original
// implementation slot. A class the process does not have comes back nil from
// objc_getClass and the hooking runtime then leaves the slot empty.
#pragma once

#include "runtime/message.h"
#include "runtime/objc.h"
#include "runtime/substrate.h"

namespace host {

// A selector literal's type carries its spelling, so a hook point names its
// selector by type: the hook reaches it as any send of the library does.
template <class Selector>
struct HookPoint {
  const char* className;
  Selector selector{};
};

inline constexpr HookPoint<decltype("infoDictionary"_sel)> kInfoDictionary{"NSBundle"};
inline constexpr HookPoint<decltype("setDefaultAllowedIdentifiersList:"_sel)>
    kSetDefaultAllowedIdentifiersList{"TCCDService"};
inline constexpr HookPoint<
    decltype("_navigateToDestinationForItem:sameItem:completionHandler:"_sel)>
    kNavigateToDestination{"PUSidebarViewController"};
inline constexpr HookPoint<decltype("_navigateTolistItem:animated:"_sel)> kNavigateToListItem{
    "PXNavigationListGadget"};
inline constexpr HookPoint<decltype("_applicationDidEnterBackground:"_sel)>
    kApplicationDidEnterBackground{"PUAlbumsGadgetViewController"};
inline constexpr HookPoint<decltype("_configureCell:forListItem:textColor:"_sel)> kConfigureCell{
    "PXNavigationListGadget"};
inline constexpr HookPoint<decltype("initWithAssetCollection:itemCount:"_sel)>
    kInitWithAssetCollection{"PXNavigationListAssetCollectionItem"};

template <class Selector, class R, class... A>
void hook(HookPoint<Selector> point, R (*replacement)(id, SEL, A...),
          R (**original)(id, SEL, A...)) {
  MSHookMessageEx(objc_getClass(point.className), point.selector, replacement, original);
}

}  // namespace host
