#include "platform/foundation/collections.h"

#include "platform/foundation/nsstring.h"

id NSDictionary::find(id key) const {
  for (const auto& [k, v] : entries) {
    if (k.get() == key || msg<BOOL>(k, "isEqual:"_sel, key)) return v.get();
  }
  return nullptr;
}

namespace foundation {
namespace {

NSArray* arr(id self) { return static_cast<NSArray*>(self); }
NSDictionary* dict(id self) { return static_cast<NSDictionary*>(self); }

template <class T>
T* copyInto(Class cls, const T* from) {
  auto* to = static_cast<T*>(class_createInstance(cls));
  if constexpr (std::is_same_v<T, NSArray>) {
    to->items = from->items;
  } else {
    to->entries = from->entries;
  }
  return to;
}

BOOL isEqualObjects(id a, id b) { return a == b || msg<BOOL>(a, "isEqual:"_sel, b); }

Class defineArray() {
  Class cls = objc::defineClass<NSArray>("NSArray", objc::nsobjectClass());
  addClassMethod(
      cls, "array"_sel, +[](id self, SEL) -> id {
        return objc_autorelease(class_createInstance(static_cast<Class>(self)));
      });
  addClassMethod(
      cls, "arrayWithObjects:count:"_sel,
      +[](id self, SEL, const id* objects, unsigned long count) -> id {
        auto* a = static_cast<NSArray*>(class_createInstance(static_cast<Class>(self)));
        for (unsigned long i = 0; i < count; ++i) {
          if (objects[i] == nullptr) {
            objc_fatal("objc: +[NSArray arrayWithObjects:count:]: nil object at index %lu", i);
          }
          a->items.emplace_back(objects[i]);
        }
        return objc_autorelease(a);
      });
  addMethod(
      cls, "count"_sel, +[](id self, SEL) -> unsigned long { return arr(self)->items.size(); });
  addMethod(
      cls, "objectAtIndex:"_sel, +[](id self, SEL, unsigned long i) -> id {
        if (i >= arr(self)->items.size()) {
          objc_fatal("objc: -[NSArray objectAtIndex:]: index %lu beyond bounds %zu", i,
                     arr(self)->items.size());
        }
        return arr(self)->items[i].get();
      });
  addMethod(
      cls, "containsObject:"_sel, +[](id self, SEL, id obj) -> BOOL {
        for (auto& item : arr(self)->items) {
          if (isEqualObjects(item, obj)) return YES;
        }
        return NO;
      });
  addMethod(
      cls, "copy"_sel, +[](id self, SEL) -> id { return objc_retain(self); });
  addMethod(
      cls, "mutableCopy"_sel,
      +[](id self, SEL) -> id { return copyInto(mutableArrayClass(), arr(self)); });
  addMethod(
      cls, "isEqual:"_sel, +[](id self, SEL, id other) -> BOOL {
        if (!isArray(other) || arr(other)->items.size() != arr(self)->items.size()) return NO;
        for (size_t i = 0; i < arr(self)->items.size(); ++i) {
          if (!isEqualObjects(arr(self)->items[i], arr(other)->items[i])) return NO;
        }
        return YES;
      });
  return cls;
}

Class defineMutableArray() {
  Class cls = objc::defineClass<NSArray>("NSMutableArray", arrayClass());
  addMethod(
      cls, "copy"_sel, +[](id self, SEL) -> id { return copyInto(arrayClass(), arr(self)); });
  addMethod(
      cls, "addObject:"_sel, +[](id self, SEL, id obj) {
        if (obj == nullptr) objc_fatal("objc: -[NSMutableArray addObject:]: object cannot be nil");
        arr(self)->items.emplace_back(obj);
      });
  return cls;
}

Class defineDictionary() {
  Class cls = objc::defineClass<NSDictionary>("NSDictionary", objc::nsobjectClass());
  addClassMethod(
      cls, "dictionary"_sel, +[](id self, SEL) -> id {
        return objc_autorelease(class_createInstance(static_cast<Class>(self)));
      });
  addMethod(
      cls, "count"_sel, +[](id self, SEL) -> unsigned long { return dict(self)->entries.size(); });
  addMethod(
      cls, "objectForKey:"_sel, +[](id self, SEL, id key) -> id { return dict(self)->find(key); });
  addMethod(
      cls, "allKeys"_sel, +[](id self, SEL) -> id {
        auto keys = newArray();
        for (auto& [k, v] : dict(self)->entries) keys->items.push_back(k);
        return keys.autorelease();
      });
  addMethod(
      cls, "copy"_sel, +[](id self, SEL) -> id { return objc_retain(self); });
  addMethod(
      cls, "mutableCopy"_sel,
      +[](id self, SEL) -> id { return copyInto(mutableDictionaryClass(), dict(self)); });
  addMethod(
      cls, "isEqual:"_sel, +[](id self, SEL, id other) -> BOOL {
        if (!isDictionary(other) || dict(other)->entries.size() != dict(self)->entries.size())
          return NO;
        for (auto& [k, v] : dict(self)->entries) {
          id theirs = dict(other)->find(k);
          if (theirs == nullptr || !isEqualObjects(v, theirs)) return NO;
        }
        return YES;
      });
  return cls;
}

Class defineMutableDictionary() {
  Class cls = objc::defineClass<NSDictionary>("NSMutableDictionary", dictionaryClass());
  addMethod(
      cls, "copy"_sel, +[](id self, SEL) -> id { return copyInto(dictionaryClass(), dict(self)); });
  addMethod(
      cls, "setObject:forKey:"_sel, +[](id self, SEL, id value, id key) {
        if (value == nullptr || key == nullptr) {
          objc_fatal("objc: -[NSMutableDictionary setObject:forKey:]: object or key cannot be nil");
        }
        Strong<objc_object> keep(value);  // the old value may be all that keeps it alive
        for (auto& entry : dict(self)->entries) {
          if (isEqualObjects(entry.first, key)) {
            entry.second = keep;
            return;
          }
        }
        // Keys are copied, as the platform does, so a mutable key cannot change under us.
        dict(self)->entries.emplace_back(adopt(msg<id>(key, "copy"_sel)), keep);
      });
  addMethod(
      cls, "removeObjectForKey:"_sel, +[](id self, SEL, id key) {
        auto& e = dict(self)->entries;
        for (auto it = e.begin(); it != e.end(); ++it) {
          if (isEqualObjects(it->first, key)) {
            e.erase(it);
            return;
          }
        }
      });
  return cls;
}

Class defineData() {
  Class cls = objc::defineClass<NSData>("NSData", objc::nsobjectClass());
  addMethod(
      cls, "length"_sel,
      +[](id self, SEL) -> unsigned long { return static_cast<NSData*>(self)->bytes.size(); });
  addMethod(
      cls, "copy"_sel, +[](id self, SEL) -> id { return objc_retain(self); });
  addMethod(
      cls, "isEqual:"_sel, +[](id self, SEL, id other) -> BOOL {
        return other != nullptr && object_getClass(other) == object_getClass(self) &&
               static_cast<NSData*>(self)->bytes == static_cast<NSData*>(other)->bytes;
      });
  return cls;
}

Class defineDate() {
  Class cls = objc::defineClass<NSDate>("NSDate", objc::nsobjectClass());
  addMethod(
      cls, "timeIntervalSinceReferenceDate"_sel,
      +[](id self, SEL) -> double { return static_cast<NSDate*>(self)->sinceReferenceDate; });
  addMethod(
      cls, "copy"_sel, +[](id self, SEL) -> id { return objc_retain(self); });
  addMethod(
      cls, "isEqual:"_sel, +[](id self, SEL, id other) -> BOOL {
        return other != nullptr && object_getClass(other) == object_getClass(self) &&
               static_cast<NSDate*>(self)->sinceReferenceDate ==
                   static_cast<NSDate*>(other)->sinceReferenceDate;
      });
  return cls;
}

}  // namespace

Class arrayClass() {
  static Class cls = defineArray();
  return cls;
}
Class mutableArrayClass() {
  static Class cls = defineMutableArray();
  return cls;
}
Class dictionaryClass() {
  static Class cls = defineDictionary();
  return cls;
}
Class mutableDictionaryClass() {
  static Class cls = defineMutableDictionary();
  return cls;
}
Class dataClass() {
  static Class cls = defineData();
  return cls;
}
Class dateClass() {
  static Class cls = defineDate();
  return cls;
}

BOOL isArray(id obj) {
  return obj != nullptr && msg<BOOL>(obj, "isKindOfClass:"_sel, arrayClass());
}
BOOL isDictionary(id obj) {
  return obj != nullptr && msg<BOOL>(obj, "isKindOfClass:"_sel, dictionaryClass());
}

Strong<NSArray> newArray(std::initializer_list<id> items, bool mutable_) {
  auto* a =
      static_cast<NSArray*>(class_createInstance(mutable_ ? mutableArrayClass() : arrayClass()));
  for (id item : items) a->items.emplace_back(item);
  return adopt(a);
}

Strong<NSDictionary> newDictionary(bool mutable_) {
  return adopt(static_cast<NSDictionary*>(
      class_createInstance(mutable_ ? mutableDictionaryClass() : dictionaryClass())));
}

Strong<NSData> newData(std::vector<uint8_t> bytes) {
  auto* d = static_cast<NSData*>(class_createInstance(dataClass()));
  d->bytes = std::move(bytes);
  return adopt(d);
}

Strong<NSDate> newDate(double since_reference_date) {
  auto* d = static_cast<NSDate*>(class_createInstance(dateClass()));
  d->sinceReferenceDate = since_reference_date;
  return adopt(d);
}

}  // namespace foundation
