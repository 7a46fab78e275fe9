#include "platform/uikit/uilabel.h"

#include "platform/foundation/nsstring.h"

namespace uikit {
namespace {

UILabel* as(id self) { return static_cast<UILabel*>(self); }

const char* alignmentName(long alignment) {
  switch (alignment) {
    case NSTextAlignmentLeft:
      return "left";
    case NSTextAlignmentCenter:
      return "center";
    case NSTextAlignmentRight:
      return "right";
    case NSTextAlignmentJustified:
      return "justified";
    default:
      return "";
  }
}

Class defineLabel() {
  Class cls = objc::defineClass<UILabel>("UILabel", viewClass());
  addMethod(
      cls, "initWithFrame:"_sel, +[](id self, SEL, CGRect frame) -> id {
        self = msgSuper<id>(viewClass(), self, "initWithFrame:"_sel, frame);
        if (self == nullptr) return nullptr;
        as(self)->font = static_cast<UIFont*>(msg<id>(fontClass(), "systemFontOfSize:"_sel, 17.0));
        as(self)->textColor = static_cast<UIColor*>(msg<id>(colorClass(), "labelColor"_sel));
        as(self)->userInteractionEnabled = false;
        return self;
      });
  addMethod(
      cls, "text"_sel, +[](id self, SEL) -> id {
        if (!as(self)->attributedText) return nullptr;
        return msg<id>(as(self)->attributedText, "string"_sel);
      });
  addMethod(
      cls, "setText:"_sel, +[](id self, SEL, id text) {
        as(self)->attributedText =
            foundation::isString(text) ? newAttributedString(foundation::stdString(text)) : nullptr;
      });
  addMethod(
      cls, "attributedText"_sel,
      +[](id self, SEL) -> id { return as(self)->attributedText.get(); });
  addMethod(
      cls, "setAttributedText:"_sel, +[](id self, SEL, id text) {
        // Attributed strings are immutable here, so the label may share it.
        as(self)->attributedText = static_cast<NSAttributedString*>(text);
      });
  addMethod(
      cls, "font"_sel, +[](id self, SEL) -> id { return as(self)->font.get(); });
  addMethod(
      cls, "setFont:"_sel, +[](id self, SEL, id font) {
        as(self)->font =
            font ? static_cast<UIFont*>(font)
                 : static_cast<UIFont*>(msg<id>(fontClass(), "systemFontOfSize:"_sel, 17.0));
      });
  addMethod(
      cls, "textColor"_sel, +[](id self, SEL) -> id { return as(self)->textColor.get(); });
  addMethod(
      cls, "setTextColor:"_sel, +[](id self, SEL, id color) {
        as(self)->textColor = color
                                  ? static_cast<UIColor*>(color)
                                  : static_cast<UIColor*>(msg<id>(colorClass(), "labelColor"_sel));
      });
  addMethod(
      cls, "textAlignment"_sel, +[](id self, SEL) -> long { return as(self)->textAlignment; });
  addMethod(
      cls, "setTextAlignment:"_sel,
      +[](id self, SEL, long alignment) { as(self)->textAlignment = alignment; });
  addMethod(
      cls, "numberOfLines"_sel, +[](id self, SEL) -> long { return as(self)->numberOfLines; });
  addMethod(
      cls, "setNumberOfLines:"_sel,
      +[](id self, SEL, long lines) { as(self)->numberOfLines = lines < 0 ? 0 : lines; });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        UILabel* l = as(self);
        std::string text = "label \"" + labelText(l) + "\" " + describe(l->font) + " " +
                           describeColor(l->textColor);
        std::string alignment = alignmentName(l->textAlignment);
        if (!alignment.empty()) text += " " + alignment;
        return foundation::makeString(text);
      });
  return cls;
}

}  // namespace

Class labelClass() {
  static Class cls = defineLabel();
  return cls;
}

std::string labelText(UILabel* label) {
  return label->attributedText ? describeAttributedString(label->attributedText) : std::string();
}

Strong<UILabel> newLabel(const std::string& text, id font, id color) {
  auto label = Strong<UILabel>(static_cast<UILabel*>(newView(labelClass(), CGRectZero).get()));
  label->attributedText = newAttributedString(text);
  if (font != nullptr) label->font = static_cast<UIFont*>(font);
  if (color != nullptr) label->textColor = static_cast<UIColor*>(color);
  return label;
}

}  // namespace uikit
