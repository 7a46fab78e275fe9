#include "platform/uikit/nsattributedstring.h"

#include "platform/foundation/nsstring.h"

namespace uikit {
namespace {

constexpr const char kReplacementCharacter[] = "\xEF\xBF\xBC";  // U+FFFC in UTF-8

NSAttributedString* as(id self) { return static_cast<NSAttributedString*>(self); }

std::string plainString(const NSAttributedString* s) {
  std::string out;
  for (const auto& run : s->runs) out += run.attachment ? kReplacementCharacter : run.text;
  return out;
}

// UTF-16 code units of UTF-8 text: one per character, two for those beyond
// the basic plane (lead bytes 0xF0 and up). Stray bytes count as one each.
unsigned long utf16Length(const std::string& text) {
  unsigned long n = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) n += c >= 0xF0 ? 2 : 1;
  }
  return n;
}

bool sameRuns(const NSAttributedString* a, const NSAttributedString* b) {
  if (a->runs.size() != b->runs.size()) return false;
  for (size_t i = 0; i < a->runs.size(); ++i) {
    const auto& x = a->runs[i];
    const auto& y = b->runs[i];
    if (x.text != y.text || x.attachment.get() != y.attachment.get()) return false;
  }
  return true;
}

Class defineAttributedString() {
  Class cls = objc::defineClass<NSAttributedString>("NSAttributedString", objc::nsobjectClass());
  addMethod(
      cls, "initWithString:"_sel, +[](id self, SEL, id string) -> id {
        if (!foundation::isString(string)) {
          objc_release(self);
          return nullptr;
        }
        std::string text = foundation::stdString(string);
        if (!text.empty()) as(self)->runs.push_back({text, nullptr});
        return self;
      });
  addClassMethod(
      cls, "attributedStringWithAttachment:"_sel, +[](id self, SEL, id attachment) -> id {
        auto* s = as(class_createInstance(static_cast<Class>(self)));
        if (attachment != nullptr) {
          s->runs.push_back({std::string(), static_cast<NSTextAttachment*>(attachment)});
        }
        return objc_autorelease(s);
      });
  addMethod(
      cls, "string"_sel,
      +[](id self, SEL) -> id { return foundation::makeString(plainString(as(self))); });
  addMethod(
      cls, "length"_sel,
      +[](id self, SEL) -> unsigned long { return utf16Length(plainString(as(self))); });
  addMethod(
      cls, "copy"_sel, +[](id self, SEL) -> id { return objc_retain(self); });
  addMethod(
      cls, "isEqualToAttributedString:"_sel, +[](id self, SEL, id other) -> BOOL {
        return other != nullptr &&
               msg<BOOL>(other, "isKindOfClass:"_sel, attributedStringClass()) &&
               sameRuns(as(self), as(other));
      });
  addMethod(
      cls, "isEqual:"_sel, +[](id self, SEL, id other) -> BOOL {
        return other != nullptr &&
               msg<BOOL>(other, "isKindOfClass:"_sel, attributedStringClass()) &&
               sameRuns(as(self), as(other));
      });
  addMethod(
      cls, "description"_sel,
      +[](id self, SEL) -> id { return foundation::makeString(describeAttributedString(self)); });
  return cls;
}

}  // namespace

Class attributedStringClass() {
  static Class cls = defineAttributedString();
  return cls;
}

Strong<NSAttributedString> newAttributedString(std::string_view text) {
  auto s = adopt(as(class_createInstance(attributedStringClass())));
  if (!text.empty()) s->runs.push_back({std::string(text), nullptr});
  return s;
}

std::string describeAttributedString(id string) {
  if (string == nullptr) return "nil";
  if (!msg<BOOL>(string, "isKindOfClass:"_sel, attributedStringClass())) {
    return foundation::stdString(msg<id>(string, "description"_sel));
  }
  std::string out;
  for (const auto& run : as(string)->runs) {
    out += run.attachment ? describeAttachment(run.attachment) : run.text;
  }
  return out;
}

}  // namespace uikit
