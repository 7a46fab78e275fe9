#include "platform/uikit/calayer.h"

#include "platform/foundation/nsstring.h"

namespace uikit {
namespace {

CALayer* as(id self) { return static_cast<CALayer*>(self); }

Class defineLayer() {
  Class cls = objc::defineClass<CALayer>("CALayer", objc::nsobjectClass());
  addMethod(
      cls, "init"_sel, +[](id self, SEL) -> id {
        id black = msg<id>(colorClass(), "blackColor"_sel);
        as(self)->shadowColor = static_cast<CGColor*>(msg<id>(black, "CGColor"_sel));
        return self;
      });
  addMethod(
      cls, "shadowColor"_sel, +[](id self, SEL) -> id { return as(self)->shadowColor.get(); });
  addMethod(
      cls, "setShadowColor:"_sel,
      +[](id self, SEL, id color) { as(self)->shadowColor = static_cast<CGColor*>(color); });
  addMethod(
      cls, "shadowOffset"_sel, +[](id self, SEL) -> CGSize { return as(self)->shadowOffset; });
  addMethod(
      cls, "setShadowOffset:"_sel,
      +[](id self, SEL, CGSize offset) { as(self)->shadowOffset = offset; });
  addMethod(
      cls, "shadowOpacity"_sel, +[](id self, SEL) -> float { return as(self)->shadowOpacity; });
  addMethod(
      cls, "setShadowOpacity:"_sel,
      +[](id self, SEL, float opacity) { as(self)->shadowOpacity = opacity; });
  addMethod(
      cls, "shadowRadius"_sel, +[](id self, SEL) -> double { return as(self)->shadowRadius; });
  addMethod(
      cls, "setShadowRadius:"_sel,
      +[](id self, SEL, double radius) { as(self)->shadowRadius = radius; });
  addMethod(
      cls, "cornerRadius"_sel, +[](id self, SEL) -> double { return as(self)->cornerRadius; });
  addMethod(
      cls, "setCornerRadius:"_sel,
      +[](id self, SEL, double radius) { as(self)->cornerRadius = radius; });
  addMethod(
      cls, "description"_sel,
      +[](id self, SEL) -> id { return foundation::makeString(describeLayer(self)); });
  return cls;
}

}  // namespace

Class layerClass() {
  static Class cls = defineLayer();
  return cls;
}

std::string describeLayer(id layer) {
  if (layer == nullptr) return "nil";
  CALayer* l = as(layer);
  if (l->shadowOpacity <= 0) return "layer";
  return "layer shadow " + describeColor(l->shadowColor) + " offset " +
         describeSize(l->shadowOffset) + " opacity " + formatNumber(l->shadowOpacity) + " radius " +
         formatNumber(l->shadowRadius);
}

}  // namespace uikit
