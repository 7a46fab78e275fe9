#include "platform/uikit/uiimageview.h"

#include "platform/foundation/nsstring.h"

namespace uikit {
namespace {

UIImageView* as(id self) { return static_cast<UIImageView*>(self); }

const char* modeName(long mode) {
  switch (mode) {
    case UIViewContentModeScaleToFill:
      return "scaleToFill";
    case UIViewContentModeScaleAspectFit:
      return "aspectFit";
    case UIViewContentModeScaleAspectFill:
      return "aspectFill";
    case UIViewContentModeCenter:
      return "center";
    default:
      return "otherMode";
  }
}

Class defineImageView() {
  Class cls = objc::defineClass<UIImageView>("UIImageView", viewClass());
  addMethod(
      cls, "initWithFrame:"_sel, +[](id self, SEL, CGRect frame) -> id {
        self = msgSuper<id>(viewClass(), self, "initWithFrame:"_sel, frame);
        if (self != nullptr) as(self)->userInteractionEnabled = false;
        return self;
      });
  addMethod(
      cls, "initWithImage:"_sel, +[](id self, SEL, id image) -> id {
        CGSize size = image ? static_cast<UIImage*>(image)->size : CGSizeZero;
        self = msg<id>(self, "initWithFrame:"_sel, CGRect{0, 0, size.width, size.height});
        if (self != nullptr) as(self)->image = static_cast<UIImage*>(image);
        return self;
      });
  addMethod(
      cls, "image"_sel, +[](id self, SEL) -> id { return as(self)->image.get(); });
  addMethod(
      cls, "setImage:"_sel,
      +[](id self, SEL, id image) { as(self)->image = static_cast<UIImage*>(image); });
  addMethod(
      cls, "contentMode"_sel, +[](id self, SEL) -> long { return as(self)->contentMode; });
  addMethod(
      cls, "setContentMode:"_sel, +[](id self, SEL, long mode) { as(self)->contentMode = mode; });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        UIImageView* v = as(self);
        std::string text = "imageView " + describeRect(v->frame) + " " +
                           (v->image ? describeImage(v->image) : std::string("no image")) + " " +
                           modeName(v->contentMode);
        if (v->layer && v->layer->shadowOpacity > 0) text += " " + describeLayer(v->layer);
        return foundation::makeString(text);
      });
  return cls;
}

}  // namespace

Class imageViewClass() {
  static Class cls = defineImageView();
  return cls;
}

}  // namespace uikit
