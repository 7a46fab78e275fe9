// The Foundation operations the library uses: the file manager, property-list
// dictionaries, the platform's value conversions, copies of collections, and
// the process's main bundle. All objects returned are autoreleased unless the
// name says "new" (owned by the returned Strong).
//
// The operations the constructor and the settings reload run are defined
// here, inline, so that each compiles to its sends alone, as the same calls
// written in Objective-C do.
#pragma once

#include "runtime/class_reference.h"
#include "runtime/message.h"
#include "runtime/objc.h"
#include "runtime/strong.h"

namespace host {

inline BOOL fileExistsAtPath(NSString* path) {
  id manager = msg<id>("NSFileManager"_cls, "defaultManager"_sel);
  return msg<BOOL>(manager, "fileExistsAtPath:"_sel, path);
}

// The dictionary in the property-list file at `path`, or an empty dictionary
// when the file cannot be read as one.
inline id dictionaryWithContentsOfFile(NSString* path) {
  Class dictionary = "NSDictionary"_cls;
  id contents = msg<id>(dictionary, "dictionaryWithContentsOfFile:"_sel, path);
  return contents != nullptr ? contents : msg<id>(dictionary, "dictionary"_sel);
}

inline id objectForKey(id dictionary, NSString* key) {
  return msg<id>(dictionary, "objectForKey:"_sel, key);
}

// The platform's conversions of whatever object stands under a key. An object
// that has no such conversion (a dictionary, an array, data, a date) reads as
// NO or 0 rather than raising.
inline BOOL boolValue(id value) {
  if (!msg<BOOL>(value, "respondsToSelector:"_sel, "boolValue"_sel)) return NO;
  return msg<BOOL>(value, "boolValue"_sel);
}

inline long long longLongValue(id value) {
  if (!msg<BOOL>(value, "respondsToSelector:"_sel, "longLongValue"_sel)) return 0;
  return msg<long long>(value, "longLongValue"_sel);
}

inline BOOL isEqualToString(id string, NSString* other) {
  return msg<BOOL>(string, "isEqualToString:"_sel, other);
}

inline BOOL containsString(id string, NSString* part) {
  return msg<BOOL>(string, "containsString:"_sel, part);
}

inline float floatValue(id string) { return msg<float>(string, "floatValue"_sel); }

Strong<objc_object> newMutableCopy(id object);
Strong<objc_object> newCopy(id object);
Strong<objc_object> newMutableDictionary();
Strong<objc_object> newMutableArray();
void setObjectForKey(id dictionary, id object, NSString* key);
void addObject(id array, id object);

inline id mainBundleIdentifier() {
  id bundle = msg<id>("NSBundle"_cls, "mainBundle"_sel);
  return msg<id>(bundle, "bundleIdentifier"_sel);
}

}  // namespace host
