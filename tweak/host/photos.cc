#include "tweak/host/photos.h"

#include "runtime/literal.h"
#include "runtime/message.h"

namespace host {

Strong<objc_object> newLockBadgeText() {
  id symbol = msg<id>("UIImage"_cls, "systemImageNamed:"_sel, "lock.fill"_ns);
  id grey = msg<id>("UIColor"_cls, "systemGrayColor"_sel);
  Strong<objc_object> attachment = adopt(msg<id>("NSTextAttachment"_cls, "new"_sel));
  msg<void>(attachment, "setImage:"_sel, msg<id>(symbol, "imageWithTintColor:"_sel, grey));
  return Strong<objc_object>(
      msg<id>("NSAttributedString"_cls, "attributedStringWithAttachment:"_sel, attachment.get()));
}

Strong<objc_object> newCountBadgeText(long long count) {
  // NSNumber's decimal text of a 64-bit integer is "%ld" of it.
  id number = msg<id>("NSNumber"_cls, "numberWithLongLong:"_sel, count);
  id text = msg<id>(number, "stringValue"_sel);
  id string = msg<id>("NSAttributedString"_cls, "alloc"_sel);
  return adopt(msg<id>(string, "initWithString:"_sel, text));
}

}  // namespace host
