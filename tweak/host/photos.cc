#include "tweak/host/photos.h"

#include "runtime/literal.h"
#include "runtime/message.h"

namespace host {

id collection(id item) { return msg<id>(item, "collection"_sel); }

BOOL isHiddenSmartAlbum(id collection) {
  return msg<BOOL>(collection, "px_isHiddenSmartAlbum"_sel);
}

BOOL isRecentlyDeletedSmartAlbum(id collection) {
  return msg<BOOL>(collection, "px_isRecentlyDeletedSmartAlbum"_sel);
}

id navigationController(id viewController) {
  return msg<id>(viewController, "navigationController"_sel);
}

void popToRootWithoutAnimation(id navigationController) {
  msg<id>(navigationController, "popToRootViewControllerAnimated:"_sel, NO);
}

void setBadgeText(id cell, id text) {
  id badge = msg<id>(cell, "valueForKey:"_sel, "badge"_ns);
  id label = msg<id>(badge, "badgeTextLabel"_sel);
  msg<void>(label, "setAttributedText:"_sel, text);
}

Strong<objc_object> newLockBadgeText() {
  id symbol = msg<id>(objc_getClass("UIImage"), "systemImageNamed:"_sel, "lock.fill"_ns);
  id grey = msg<id>(objc_getClass("UIColor"), "systemGrayColor"_sel);
  Strong<objc_object> attachment = adopt(msg<id>(objc_getClass("NSTextAttachment"), "new"_sel));
  msg<void>(attachment, "setImage:"_sel, msg<id>(symbol, "imageWithTintColor:"_sel, grey));
  return Strong<objc_object>(msg<id>(objc_getClass("NSAttributedString"),
                                     "attributedStringWithAttachment:"_sel, attachment.get()));
}

Strong<objc_object> newCountBadgeText(long long count) {
  // NSNumber's decimal text of a 64-bit integer is "%ld" of it.
  id number = msg<id>(objc_getClass("NSNumber"), "numberWithLongLong:"_sel, count);
  id text = msg<id>(number, "stringValue"_sel);
  id string = msg<id>(objc_getClass("NSAttributedString"), "alloc"_sel);
  return adopt(msg<id>(string, "initWithString:"_sel, text));
}

}  // namespace host
