#include "tweak/navigation_guard.h"

#include "runtime/block.h"
#include "tweak/host/authentication.h"
#include "tweak/host/photos.h"
#include "tweak/settings.h"

namespace velmo {

void (*originalNavigateToDestination)(id, SEL, id, BOOL, id) = nullptr;
id (*originalNavigateToListItem)(id, SEL, id, BOOL) = nullptr;
void (*originalApplicationDidEnterBackground)(id, SEL, id) = nullptr;

BOOL isProtectedAlbum(id collection) {
  if (host::isHiddenSmartAlbum(collection)) return YES;
  return host::isRecentlyDeletedSmartAlbum(collection) && lockRecentlyDeleted;
}

void sidebarGuard(id self, SEL _cmd, id item, BOOL sameItem, id completionHandler) {
  if (!isProtectedAlbum(host::collection(item))) {
    originalNavigateToDestination(self, _cmd, item, sameItem, completionHandler);
    return;
  }
  // The deferred navigation keeps the receiver, the item and the host's
  // completion handler alive until it has run or been dropped.
  Strong<objc_object> receiver(self), keptItem(item), handler(completionHandler);
  auto completion =
      makeBlock<void(BOOL)>([receiver, _cmd, keptItem, sameItem, handler](BOOL success) {
        if (!success) return;
        accessed = YES;
        originalNavigateToDestination(receiver, _cmd, keptItem, sameItem, handler);
      });
  host::authenticateWithCompletion(self, completion.get());
}

id listGuard(id self, SEL _cmd, id listItem, BOOL animated) {
  if (!isProtectedAlbum(host::collection(listItem))) {
    return originalNavigateToListItem(self, _cmd, listItem, animated);
  }
  // The result holder lives in the completion: the deferred navigation stores
  // its result there, and it is released with the completion.
  Strong<objc_object> receiver(self), item(listItem);
  auto completion = makeBlock<void(BOOL)>(
      [receiver, _cmd, item, animated, result = Strong<objc_object>()](BOOL success) mutable {
        if (!success) return;
        accessed = YES;
        result = originalNavigateToListItem(receiver, _cmd, item, animated);
      });
  host::authenticateWithCompletion(self, completion.get());
  // Nil: either authentication is still pending, or it completed at once with
  // NO (success only ever arrives later, on the main queue). The host sees no
  // result for a guarded navigation.
  return nullptr;
}

void backgroundReturn(id self, SEL _cmd, id notification) {
  if (accessed && popToRoot) {
    id navigation = host::navigationController(self);
    if (navigation != nullptr) {
      accessed = NO;
      host::popToRootWithoutAnimation(navigation);
    }
  }
  originalApplicationDidEnterBackground(self, _cmd, notification);
}

}  // namespace velmo
