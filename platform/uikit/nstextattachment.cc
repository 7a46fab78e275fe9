#include "platform/uikit/nstextattachment.h"

#include "platform/foundation/nsstring.h"

namespace uikit {
namespace {

Class defineTextAttachment() {
  Class cls = objc::defineClass<NSTextAttachment>("NSTextAttachment", objc::nsobjectClass());
  addClassMethod(
      cls, "textAttachmentWithImage:"_sel, +[](id self, SEL, id image) -> id {
        auto* a = static_cast<NSTextAttachment*>(class_createInstance(static_cast<Class>(self)));
        a->image = static_cast<UIImage*>(image);
        return objc_autorelease(a);
      });
  addMethod(
      cls, "image"_sel,
      +[](id self, SEL) -> id { return static_cast<NSTextAttachment*>(self)->image.get(); });
  addMethod(
      cls, "setImage:"_sel, +[](id self, SEL, id image) {
        static_cast<NSTextAttachment*>(self)->image = static_cast<UIImage*>(image);
      });
  addMethod(
      cls, "description"_sel,
      +[](id self, SEL) -> id { return foundation::makeString(describeAttachment(self)); });
  return cls;
}

}  // namespace

Class textAttachmentClass() {
  static Class cls = defineTextAttachment();
  return cls;
}

std::string describeAttachment(id attachment) {
  if (attachment == nullptr) return "nil";
  if (!msg<BOOL>(attachment, "isKindOfClass:"_sel, textAttachmentClass())) {
    return foundation::stdString(msg<id>(attachment, "description"_sel));
  }
  auto* a = static_cast<NSTextAttachment*>(attachment);
  return a->image ? describeImage(a->image) : "[attachment]";
}

}  // namespace uikit
