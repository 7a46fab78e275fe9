// What the library asks of the Photos app's objects and of UIKit: the album a
// row or sidebar item stands for, the two album kinds, navigation, and the
// badge of a row's cell with the texts it can show.
#pragma once

#include "runtime/objc.h"
#include "runtime/strong.h"

namespace host {

// A sidebar item's or list item's asset collection.
id collection(id item);
BOOL isHiddenSmartAlbum(id collection);
BOOL isRecentlyDeletedSmartAlbum(id collection);

id navigationController(id viewController);
void popToRootWithoutAnimation(id navigationController);

// Sets `text` as the attributed text of the badge label of a list cell.
void setBadgeText(id cell, id text);
// One text attachment: the system symbol "lock.fill" tinted system grey.
Strong<objc_object> newLockBadgeText();
// The count in decimal, a minus sign before a negative one.
Strong<objc_object> newCountBadgeText(long long count);

}  // namespace host
