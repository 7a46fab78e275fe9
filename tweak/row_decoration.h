// Album row decoration: the protected albums' rows in the album list show a
// grey lock glyph instead of their item count, or (the Hidden album only) a
// fixed count from the settings. From system version 15.0 the badge is
// changed after the host has configured a row's cell; before 15.0 the Hidden
// album's list item is created with the fixed count instead.
//
// Options are read on every call, so a changed option shows on the next
// configuration of a row.
#pragma once

#include "runtime/objc.h"

namespace velmo {

// -[PXNavigationListGadget _configureCell:forListItem:textColor:]
extern void (*originalConfigureCell)(id, SEL, id, id, id);
void badgeDecoration(id self, SEL _cmd, id cell, id listItem, id textColor);

// -[PXNavigationListAssetCollectionItem initWithAssetCollection:itemCount:]
extern id (*originalInitWithAssetCollection)(id, SEL, id, long long);
id countOverride(id self, SEL _cmd, id collection, long long itemCount);

}  // namespace velmo
