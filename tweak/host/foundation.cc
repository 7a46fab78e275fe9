#include "tweak/host/foundation.h"

#include "runtime/message.h"

namespace host {

BOOL fileExistsAtPath(NSString* path) {
  id manager = msg<id>(objc_getClass("NSFileManager"), "defaultManager"_sel);
  return msg<BOOL>(manager, "fileExistsAtPath:"_sel, path);
}

id dictionaryWithContentsOfFile(NSString* path) {
  Class dictionary = objc_getClass("NSDictionary");
  id contents = msg<id>(dictionary, "dictionaryWithContentsOfFile:"_sel, path);
  return contents != nullptr ? contents : msg<id>(dictionary, "dictionary"_sel);
}

id objectForKey(id dictionary, NSString* key) {
  return msg<id>(dictionary, "objectForKey:"_sel, key);
}

BOOL boolValue(id value) {
  if (!msg<BOOL>(value, "respondsToSelector:"_sel, "boolValue"_sel)) return NO;
  return msg<BOOL>(value, "boolValue"_sel);
}

long long longLongValue(id value) {
  if (!msg<BOOL>(value, "respondsToSelector:"_sel, "longLongValue"_sel)) return 0;
  return msg<long long>(value, "longLongValue"_sel);
}

BOOL isEqualToString(id string, NSString* other) {
  return msg<BOOL>(string, "isEqualToString:"_sel, other);
}

BOOL containsString(id string, NSString* part) {
  return msg<BOOL>(string, "containsString:"_sel, part);
}

float floatValue(id string) { return msg<float>(string, "floatValue"_sel); }

Strong<objc_object> newMutableCopy(id object) { return adopt(msg<id>(object, "mutableCopy"_sel)); }

Strong<objc_object> newCopy(id object) { return adopt(msg<id>(object, "copy"_sel)); }

Strong<objc_object> newMutableDictionary() {
  return adopt(msg<id>(objc_getClass("NSMutableDictionary"), "new"_sel));
}

Strong<objc_object> newMutableArray() {
  return adopt(msg<id>(objc_getClass("NSMutableArray"), "new"_sel));
}

void setObjectForKey(id dictionary, id object, NSString* key) {
  msg<void>(dictionary, "setObject:forKey:"_sel, object, key);
}

void addObject(id array, id object) { msg<void>(array, "addObject:"_sel, object); }

id mainBundleIdentifier() {
  id bundle = msg<id>(objc_getClass("NSBundle"), "mainBundle"_sel);
  return msg<id>(bundle, "bundleIdentifier"_sel);
}

}  // namespace host
