// The album navigation guard: replacements that ask for authentication
// before a protected album opens (the Hidden album, or Recently Deleted when
// lockRecentlyDeleted is on), and that return the album list to its root
// when the app goes to the background after an unlock.
//
// A tap on a protected album always asks, unlocked before or not; the album
// opens only when the completion reports success, with the arguments the tap
// was made with. Each replacement calls the implementation it replaced
// through its original slot, filled when the hook is installed.
#pragma once

#include "runtime/objc.h"

namespace velmo {

BOOL isProtectedAlbum(id collection);

// -[PUSidebarViewController _navigateToDestinationForItem:sameItem:completionHandler:]
extern void (*originalNavigateToDestination)(id, SEL, id, BOOL, id);
void sidebarGuard(id self, SEL _cmd, id item, BOOL sameItem, id completionHandler);

// -[PXNavigationListGadget _navigateTolistItem:animated:]
extern id (*originalNavigateToListItem)(id, SEL, id, BOOL);
id listGuard(id self, SEL _cmd, id listItem, BOOL animated);

// -[PUAlbumsGadgetViewController _applicationDidEnterBackground:]
extern void (*originalApplicationDidEnterBackground)(id, SEL, id);
void backgroundReturn(id self, SEL _cmd, id notification);

}  // namespace velmo
