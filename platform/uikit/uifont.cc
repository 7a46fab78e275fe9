#include "platform/uikit/uifont.h"

#include "platform/foundation/nsstring.h"
#include "platform/uikit/geometry.h"

namespace uikit {
namespace {

id makeFont(id cls, double size, bool bold) {
  auto* f = static_cast<UIFont*>(class_createInstance(static_cast<Class>(cls)));
  f->pointSize = size;
  f->bold = bold;
  return objc_autorelease(f);
}

Class defineFont() {
  Class cls = objc::defineClass<UIFont>("UIFont", objc::nsobjectClass());
  addClassMethod(
      cls, "systemFontOfSize:"_sel,
      +[](id self, SEL, double size) -> id { return makeFont(self, size, false); });
  addClassMethod(
      cls, "boldSystemFontOfSize:"_sel,
      +[](id self, SEL, double size) -> id { return makeFont(self, size, true); });
  addMethod(
      cls, "pointSize"_sel,
      +[](id self, SEL) -> double { return static_cast<UIFont*>(self)->pointSize; });
  addMethod(
      cls, "isEqual:"_sel, +[](id self, SEL, id other) -> BOOL {
        if (other == nullptr || !msg<BOOL>(other, "isKindOfClass:"_sel, fontClass())) return NO;
        auto* a = static_cast<UIFont*>(self);
        auto* b = static_cast<UIFont*>(other);
        return a->pointSize == b->pointSize && a->bold == b->bold;
      });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        auto* f = static_cast<UIFont*>(self);
        return foundation::makeString(std::string(f->bold ? "bold " : "regular ") +
                                      formatNumber(f->pointSize));
      });
  return cls;
}

}  // namespace

Class fontClass() {
  static Class cls = defineFont();
  return cls;
}

}  // namespace uikit
