// What the library asks of the Photos app's objects and of UIKit: the album a
// row or sidebar item stands for, the two album kinds, navigation, and the
// badge of a row's cell with the texts it can show.
//
// Every call is defined here, inline, so that each compiles to its sends
// alone at the hook, as the same calls written in Objective-C do.
#pragma once

#include "runtime/class_reference.h"
#include "runtime/literal.h"
#include "runtime/message.h"
#include "runtime/objc.h"
#include "runtime/strong.h"

namespace host {

// A sidebar item's or list item's asset collection.
inline id collection(id item) { return msg<id>(item, "collection"_sel); }

inline BOOL isHiddenSmartAlbum(id collection) {
  return msg<BOOL>(collection, "px_isHiddenSmartAlbum"_sel);
}

inline BOOL isRecentlyDeletedSmartAlbum(id collection) {
  return msg<BOOL>(collection, "px_isRecentlyDeletedSmartAlbum"_sel);
}

inline id navigationController(id viewController) {
  return msg<id>(viewController, "navigationController"_sel);
}

inline void popToRootWithoutAnimation(id navigationController) {
  msg<id>(navigationController, "popToRootViewControllerAnimated:"_sel, NO);
}

// Sets `text` as the attributed text of the badge label of a list cell.
inline void setBadgeText(id cell, id text) {
  id badge = msg<id>(cell, "valueForKey:"_sel, "badge"_ns);
  id label = msg<id>(badge, "badgeTextLabel"_sel);
  msg<void>(label, "setAttributedText:"_sel, text);
}
// One text attachment: the system symbol "lock.fill" tinted system grey.
inline Strong<objc_object> newLockBadgeText() {
  id symbol = msg<id>("UIImage"_cls, "systemImageNamed:"_sel, "lock.fill"_ns);
  id grey = msg<id>("UIColor"_cls, "systemGrayColor"_sel);
  Strong<objc_object> attachment = adopt(msg<id>("NSTextAttachment"_cls, "new"_sel));
  msg<void>(attachment, "setImage:"_sel, msg<id>(symbol, "imageWithTintColor:"_sel, grey));
  return Strong<objc_object>(
      msg<id>("NSAttributedString"_cls, "attributedStringWithAttachment:"_sel, attachment.get()));
}

// The count in decimal, a minus sign before a negative one.
inline Strong<objc_object> newCountBadgeText(long long count) {
  // NSNumber's decimal text of a 64-bit integer is "%ld" of it.
  id number = msg<id>("NSNumber"_cls, "numberWithLongLong:"_sel, count);
  id text = msg<id>(number, "stringValue"_sel);
  id string = msg<id>("NSAttributedString"_cls, "alloc"_sel);
  return adopt(msg<id>(string, "initWithString:"_sel, text));
}

}  // namespace host
