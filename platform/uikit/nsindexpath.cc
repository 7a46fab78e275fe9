#include "platform/uikit/nsindexpath.h"

#include <string>

#include "platform/foundation/nsstring.h"

namespace uikit {
namespace {

NSIndexPath* as(id self) { return static_cast<NSIndexPath*>(self); }

Class defineIndexPath() {
  Class cls = objc::defineClass<NSIndexPath>("NSIndexPath", objc::nsobjectClass());
  addClassMethod(
      cls, "indexPathForRow:inSection:"_sel, +[](id self, SEL, long row, long section) -> id {
        auto* path = as(class_createInstance(static_cast<Class>(self)));
        path->row = row;
        path->section = section;
        return objc_autorelease(path);
      });
  addMethod(
      cls, "row"_sel, +[](id self, SEL) -> long { return as(self)->row; });
  addMethod(
      cls, "section"_sel, +[](id self, SEL) -> long { return as(self)->section; });
  addMethod(
      cls, "copy"_sel, +[](id self, SEL) -> id { return objc_retain(self); });
  addMethod(
      cls, "isEqual:"_sel, +[](id self, SEL, id other) -> BOOL {
        return other != nullptr && msg<BOOL>(other, "isKindOfClass:"_sel, indexPathClass()) &&
               as(other)->row == as(self)->row && as(other)->section == as(self)->section;
      });
  addMethod(
      cls, "hash"_sel, +[](id self, SEL) -> unsigned long {
        return static_cast<unsigned long>(as(self)->section) * 1000003ul +
               static_cast<unsigned long>(as(self)->row);
      });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        return foundation::makeString("section " + std::to_string(as(self)->section) + " row " +
                                      std::to_string(as(self)->row));
      });
  return cls;
}

}  // namespace

Class indexPathClass() {
  static Class cls = defineIndexPath();
  return cls;
}

}  // namespace uikit
