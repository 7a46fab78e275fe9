// Foundation's additions to every object: description and key-value reading,
// and the registration of Foundation's classes when the library loads.
#include <cstdio>

#include "platform/foundation/collections.h"
#include "platform/foundation/nsnumber.h"
#include "platform/foundation/nsstring.h"

namespace {

void addObjectMethods() {
  Class root = objc::nsobjectClass();
  addMethod(
      root, "description"_sel, +[](id self, SEL) -> id {
        char buf[128];
        std::snprintf(buf, sizeof buf, "<%s: %p>", class_getName(object_getClass(self)),
                      (void*)self);
        return foundation::makeString(buf);
      });
  // valueForKey: answers through the getter of the same name; a key the object
  // has no getter for is a broken invariant, as on the platform.
  addMethod(
      root, "valueForKey:"_sel, +[](id self, SEL, id key) -> id {
        std::string name = foundation::stdString(key);
        SEL getter = sel_registerName(name.c_str());
        if (!class_respondsToSelector(object_getClass(self), getter)) {
          objc_fatal(
              "objc: [<%s %p> valueForKey:]: this class is not key value coding-compliant for the "
              "key %s",
              class_getName(object_getClass(self)), (void*)self, name.c_str());
        }
        return msg<id>(self, getter);
      });
}

[[maybe_unused]] const bool kRegistered = [] {
  addObjectMethods();
  foundation::stringClass();
  foundation::numberClass();
  foundation::arrayClass();
  foundation::mutableArrayClass();
  foundation::dictionaryClass();
  foundation::mutableDictionaryClass();
  foundation::dataClass();
  foundation::dateClass();
  return true;
}();

}  // namespace
