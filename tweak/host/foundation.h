// The Foundation operations the library uses: the file manager, property-list
// dictionaries, the platform's value conversions, copies of collections, and
// the process's main bundle. All objects returned are autoreleased unless the
// name says "new" (owned by the returned Strong).
#pragma once

#include "runtime/objc.h"
#include "runtime/strong.h"

namespace host {

BOOL fileExistsAtPath(NSString* path);
// The dictionary in the property-list file at `path`, or an empty dictionary
// when the file cannot be read as one.
id dictionaryWithContentsOfFile(NSString* path);
id objectForKey(id dictionary, NSString* key);

// The platform's conversions of whatever object stands under a key. An object
// that has no such conversion (a dictionary, an array, data, a date) reads as
// NO or 0 rather than raising.
BOOL boolValue(id value);
long long longLongValue(id value);

BOOL isEqualToString(id string, NSString* other);
BOOL containsString(id string, NSString* part);
float floatValue(id string);

Strong<objc_object> newMutableCopy(id object);
Strong<objc_object> newCopy(id object);
Strong<objc_object> newMutableDictionary();
Strong<objc_object> newMutableArray();
void setObjectForKey(id dictionary, id object, NSString* key);
void addObject(id array, id object);

id mainBundleIdentifier();

}  // namespace host
