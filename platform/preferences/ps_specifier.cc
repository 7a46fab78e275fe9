#include "platform/preferences/ps_specifier.h"

#include "platform/foundation/nsstring.h"

namespace preferences {
namespace {

constexpr const char* kCellTypeNames[] = {
    "PSGroupCell",          "PSLinkCell",    "PSLinkListCell",     "PSListItemCell",
    "PSTitleValueCell",     "PSSliderCell",  "PSSwitchCell",       "PSStaticTextCell",
    "PSEditTextCell",       "PSSegmentCell", "PSGiantIconCell",    "PSGiantCell",
    "PSSecureEditTextCell", "PSButtonCell",  "PSEditTextViewCell",
};

PSSpecifier* as(id self) { return static_cast<PSSpecifier*>(self); }

PSSpecifier* fill(PSSpecifier* s, id target, long cell_type) {
  if (!s->properties) s->properties = foundation::newDictionary(true);
  s->target = target;
  s->setter = "setPreferenceValue:specifier:"_sel;
  s->getter = "readPreferenceValue:"_sel;
  s->cellType = cell_type;
  return s;
}

void setProperty(PSSpecifier* s, id value, id key) {
  if (key == nullptr) return;
  if (value == nullptr) {
    msg<void>(s->properties, "removeObjectForKey:"_sel, key);
  } else {
    msg<void>(s->properties, "setObject:forKey:"_sel, value, key);
  }
}

Class defineSpecifier() {
  Class cls = objc::defineClass<PSSpecifier>("PSSpecifier", objc::nsobjectClass());
  addMethod(
      cls, "init"_sel, +[](id self, SEL) -> id { return fill(as(self), nullptr, PSGroupCell); });
  addClassMethod(
      cls, "preferenceSpecifierNamed:target:set:get:detail:cell:edit:"_sel,
      +[](id self, SEL, id name, id target, SEL set, SEL get, id detail, long cell, id edit) -> id {
        auto* s = fill(as(class_createInstance(static_cast<Class>(self))), target, cell);
        s->setter = set;
        s->getter = get;
        setProperty(s, name, "label"_ns);
        setProperty(s, detail, "detail"_ns);
        setProperty(s, edit, "pane"_ns);
        return objc_autorelease(s);
      });
  addClassMethod(
      cls, "emptyGroupSpecifier"_sel, +[](id self, SEL) -> id {
        return objc_autorelease(
            fill(as(class_createInstance(static_cast<Class>(self))), nullptr, PSGroupCell));
      });
  addMethod(
      cls, "properties"_sel, +[](id self, SEL) -> id { return as(self)->properties.get(); });
  addMethod(
      cls, "propertyForKey:"_sel, +[](id self, SEL, id key) -> id {
        return key == nullptr ? nullptr : as(self)->properties->find(key);
      });
  addMethod(
      cls, "setProperty:forKey:"_sel,
      +[](id self, SEL, id value, id key) { setProperty(as(self), value, key); });
  addMethod(
      cls, "name"_sel, +[](id self, SEL) -> id { return as(self)->properties->find("label"_ns); });
  addMethod(
      cls, "setName:"_sel, +[](id self, SEL, id name) { setProperty(as(self), name, "label"_ns); });
  addMethod(
      cls, "identifier"_sel, +[](id self, SEL) -> id {
        for (NSString* key : {"id"_ns, "key"_ns, "label"_ns}) {
          if (id value = as(self)->properties->find(key)) return value;
        }
        return nullptr;
      });
  addMethod(
      cls, "cellType"_sel, +[](id self, SEL) -> long { return as(self)->cellType; });
  addMethod(
      cls, "target"_sel, +[](id self, SEL) -> id { return as(self)->target; });
  addMethod(
      cls, "setTarget:"_sel, +[](id self, SEL, id target) { as(self)->target = target; });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        std::string id_text = foundation::stdString(msg<id>(self, "identifier"_sel));
        long type = as(self)->cellType;
        const char* type_name =
            type >= 0 && type <= PSEditTextViewCell ? kCellTypeNames[type] : "?";
        return foundation::makeString(std::string(type_name) + " \"" + id_text + "\"");
      });
  return cls;
}

}  // namespace

Class specifierClass() {
  static Class cls = defineSpecifier();
  return cls;
}

long cellTypeNamed(const std::string& name) {
  for (long i = 0; i <= PSEditTextViewCell; ++i) {
    if (name == kCellTypeNames[i]) return i;
  }
  return -1;
}

Strong<PSSpecifier> newSpecifier(NSDictionary* properties, id target) {
  auto s = adopt(as(class_createInstance(specifierClass())));
  if (properties != nullptr)
    s->properties = adopt(static_cast<NSDictionary*>(msg<id>(properties, "mutableCopy"_sel)));
  long type = cellTypeNamed(
      foundation::stdString(s->properties ? s->properties->find("cell"_ns) : nullptr));
  fill(s.get(), target, type < 0 ? PSStaticTextCell : type);
  return s;
}

std::string stringProperty(PSSpecifier* specifier, const char* key) {
  if (specifier == nullptr || !specifier->properties) return "";
  Strong<NSString> k = foundation::newString(key);
  id value = specifier->properties->find(k);
  return foundation::isString(value) ? foundation::stdString(value) : "";
}

}  // namespace preferences
