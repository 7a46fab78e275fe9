#include "tweak/host/foundation.h"

#include "runtime/message.h"

namespace host {

Strong<objc_object> newMutableCopy(id object) { return adopt(msg<id>(object, "mutableCopy"_sel)); }

Strong<objc_object> newCopy(id object) { return adopt(msg<id>(object, "copy"_sel)); }

Strong<objc_object> newMutableDictionary() {
  return adopt(msg<id>("NSMutableDictionary"_cls, "new"_sel));
}

Strong<objc_object> newMutableArray() { return adopt(msg<id>("NSMutableArray"_cls, "new"_sel)); }

void setObjectForKey(id dictionary, id object, NSString* key) {
  msg<void>(dictionary, "setObject:forKey:"_sel, object, key);
}

void addObject(id array, id object) { msg<void>(array, "addObject:"_sel, object); }

}  // namespace host
