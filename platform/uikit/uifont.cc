#include "platform/uikit/uifont.h"

#include <string>

#include "platform/foundation/nsstring.h"
#include "platform/uikit/geometry.h"

namespace uikit {
namespace {

// The weight a font of `weight` is drawn in.
const char* weightName(double weight) {
  if (weight >= UIFontWeightBold) return "bold";
  if (weight >= UIFontWeightSemibold) return "semibold";
  return "regular";
}

id makeFont(id cls, double size, double weight) {
  auto* f = static_cast<UIFont*>(class_createInstance(static_cast<Class>(cls)));
  f->pointSize = size;
  f->weight = weight;
  return objc_autorelease(f);
}

Class defineFont() {
  Class cls = objc::defineClass<UIFont>("UIFont", objc::nsobjectClass());
  addClassMethod(
      cls, "systemFontOfSize:"_sel,
      +[](id self, SEL, double size) -> id { return makeFont(self, size, UIFontWeightRegular); });
  addClassMethod(
      cls, "boldSystemFontOfSize:"_sel,
      +[](id self, SEL, double size) -> id { return makeFont(self, size, UIFontWeightBold); });
  addClassMethod(
      cls, "systemFontOfSize:weight:"_sel,
      +[](id self, SEL, double size, double weight) -> id { return makeFont(self, size, weight); });
  addMethod(
      cls, "pointSize"_sel,
      +[](id self, SEL) -> double { return static_cast<UIFont*>(self)->pointSize; });
  addMethod(
      cls, "isEqual:"_sel, +[](id self, SEL, id other) -> BOOL {
        if (other == nullptr || !msg<BOOL>(other, "isKindOfClass:"_sel, fontClass())) return NO;
        auto* a = static_cast<UIFont*>(self);
        auto* b = static_cast<UIFont*>(other);
        return a->pointSize == b->pointSize && a->weight == b->weight;
      });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        auto* f = static_cast<UIFont*>(self);
        return foundation::makeString(std::string(weightName(f->weight)) + " " +
                                      formatNumber(f->pointSize));
      });
  return cls;
}

}  // namespace

Class fontClass() {
  static Class cls = defineFont();
  return cls;
}

id systemFont(double size, double weight) {
  return msg<id>(fontClass(), "systemFontOfSize:weight:"_sel, size, weight);
}

}  // namespace uikit
