#include "tweak/row_decoration.h"

#include "tweak/host/photos.h"
#include "tweak/settings.h"

namespace velmo {

void (*originalConfigureCell)(id, SEL, id, id, id) = nullptr;
id (*originalInitWithAssetCollection)(id, SEL, id, long long) = nullptr;

void badgeDecoration(id self, SEL _cmd, id cell, id listItem, id textColor) {
  // The host configures the cell completely first, so what is set here stays.
  originalConfigureCell(self, _cmd, cell, listItem, textColor);
  id collection = host::collection(listItem);
  if (host::isHiddenSmartAlbum(collection) && (showLockIcon || hiddenItemCountEnabled)) {
    // The lock glyph wins when both are on.
    Strong<objc_object> text =
        showLockIcon ? host::newLockBadgeText() : host::newCountBadgeText(hiddenItemCount);
    host::setBadgeText(cell, text);
    return;
  }
  if (host::isRecentlyDeletedSmartAlbum(collection) && lockRecentlyDeleted && showLockIcon) {
    host::setBadgeText(cell, host::newLockBadgeText());
  }
}

id countOverride(id self, SEL _cmd, id collection, long long itemCount) {
  if (host::isHiddenSmartAlbum(collection) && hiddenItemCountEnabled) {
    return originalInitWithAssetCollection(self, _cmd, collection, hiddenItemCount);
  }
  return originalInitWithAssetCollection(self, _cmd, collection, itemCount);
}

}  // namespace velmo
