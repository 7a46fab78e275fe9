// NSArray, NSDictionary and their mutable subclasses; NSData and NSDate, the
// remaining property-list values.
//
// Collections hold strong references to their elements. A dictionary keeps
// its keys in insertion order and compares them with isEqual:. `copy` of an
// immutable collection is the same object; `copy` of a mutable one and
// `mutableCopy` of either make a new collection (shallow, as the platform does).
//
// Thread safety: none beyond the runtime's; immutable collections may be read
// from any thread.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "platform/objc/nsobject.h"

struct NSArray : NSObject {
  std::vector<Strong<objc_object>> items;
};

struct NSDictionary : NSObject {
  std::vector<std::pair<Strong<objc_object>, Strong<objc_object>>> entries;
  id find(id key) const;
};

struct NSData : NSObject {
  std::vector<uint8_t> bytes;
};

struct NSDate : NSObject {
  double sinceReferenceDate = 0;  // seconds since 2001-01-01 00:00:00 UTC
};

namespace foundation {

Class arrayClass();
Class mutableArrayClass();
Class dictionaryClass();
Class mutableDictionaryClass();
Class dataClass();
Class dateClass();

BOOL isArray(id obj);
BOOL isDictionary(id obj);

// New collections owned by the caller.
Strong<NSArray> newArray(std::initializer_list<id> items = {}, bool mutable_ = false);
Strong<NSDictionary> newDictionary(bool mutable_ = false);
Strong<NSData> newData(std::vector<uint8_t> bytes);
Strong<NSDate> newDate(double since_reference_date);

}  // namespace foundation
