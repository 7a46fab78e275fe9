#include "platform/uikit/uicolor.h"

#include <cstdio>
#include <cstring>

#include "platform/foundation/nsstring.h"

namespace uikit {
namespace {

struct NamedColor {
  const char* name;
  double red, green, blue, alpha;
};

// Light-appearance values of the system colours.
constexpr NamedColor kNamedColors[] = {
    {"systemGrayColor", 142 / 255.0, 142 / 255.0, 147 / 255.0, 1},
    {"labelColor", 0, 0, 0, 1},
    {"secondaryLabelColor", 60 / 255.0, 60 / 255.0, 67 / 255.0, 0.6},
    {"systemPinkColor", 1, 45 / 255.0, 85 / 255.0, 1},
    {"systemBlueColor", 0, 122 / 255.0, 1, 1},
    {"systemRedColor", 1, 59 / 255.0, 48 / 255.0, 1},
    {"systemGreenColor", 52 / 255.0, 199 / 255.0, 89 / 255.0, 1},
    {"systemBackgroundColor", 1, 1, 1, 1},
    {"systemGroupedBackgroundColor", 242 / 255.0, 242 / 255.0, 247 / 255.0, 1},
    {"secondarySystemGroupedBackgroundColor", 1, 1, 1, 1},
    {"tertiaryLabelColor", 60 / 255.0, 60 / 255.0, 67 / 255.0, 0.3},
    {"separatorColor", 60 / 255.0, 60 / 255.0, 67 / 255.0, 0.29},
    {"systemFillColor", 120 / 255.0, 120 / 255.0, 128 / 255.0, 0.2},
    {"whiteColor", 1, 1, 1, 1},
    {"blackColor", 0, 0, 0, 1},
    {"clearColor", 0, 0, 0, 0},
};
constexpr size_t kNamedColorCount = sizeof kNamedColors / sizeof kNamedColors[0];

std::string componentText(double r, double g, double b, double a) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "rgba(%.3f,%.3f,%.3f,%.3f)", r, g, b, a);
  return buf;
}

// Fills a freshly allocated colour and its CGColor.
UIColor* fill(id self, double r, double g, double b, double a, const std::string& name) {
  auto* c = static_cast<UIColor*>(self);
  c->red = r;
  c->green = g;
  c->blue = b;
  c->alpha = a;
  c->name = name;
  auto cg = adopt(static_cast<CGColor*>(class_createInstance(cgColorClass())));
  cg->red = r;
  cg->green = g;
  cg->blue = b;
  cg->alpha = a;
  cg->name = name;
  c->cgColor = cg;
  return c;
}

// The shared object of named colour `index`, made on first use.
id namedColor(size_t index) {
  static id colors[kNamedColorCount] = {};
  static const bool made = [] {
    for (size_t i = 0; i < kNamedColorCount; ++i) {
      const NamedColor& n = kNamedColors[i];
      colors[i] = fill(class_createInstance(colorClass()), n.red, n.green, n.blue, n.alpha, n.name);
      objc_makeImmortal(colors[i]);
    }
    return true;
  }();
  (void)made;
  return colors[index];
}

Class defineCGColor() {
  Class cls = objc::defineClass<CGColor>("CGColor", objc::nsobjectClass());
  addMethod(
      cls, "description"_sel,
      +[](id self, SEL) -> id { return foundation::makeString(describeColor(self)); });
  return cls;
}

Class defineColor() {
  Class cls = objc::defineClass<UIColor>("UIColor", objc::nsobjectClass());
  addMethod(
      cls, "init"_sel, +[](id self, SEL) -> id { return fill(self, 0, 0, 0, 1, std::string()); });
  addMethod(
      cls, "initWithRed:green:blue:alpha:"_sel,
      +[](id self, SEL, double r, double g, double b, double a) -> id {
        return fill(self, r, g, b, a, std::string());
      });
  addClassMethod(
      cls, "colorWithRed:green:blue:alpha:"_sel,
      +[](id self, SEL, double r, double g, double b, double a) -> id {
        id c = class_createInstance(static_cast<Class>(self));
        return objc_autorelease(fill(c, r, g, b, a, std::string()));
      });
  for (size_t i = 0; i < kNamedColorCount; ++i) {
    addClassMethod(
        cls, sel_registerName(kNamedColors[i].name), +[](id, SEL cmd) -> id {
          for (size_t j = 0; j < kNamedColorCount; ++j) {
            if (std::strcmp(sel_getName(cmd), kNamedColors[j].name) == 0) return namedColor(j);
          }
          return nullptr;  // unreachable: only the table's names are added
        });
  }
  addMethod(
      cls, "CGColor"_sel,
      +[](id self, SEL) -> id { return static_cast<UIColor*>(self)->cgColor.get(); });
  addMethod(
      cls, "isEqual:"_sel, +[](id self, SEL, id other) -> BOOL {
        if (other == self) return YES;
        if (other == nullptr || !msg<BOOL>(other, "isKindOfClass:"_sel, colorClass())) return NO;
        auto* a = static_cast<UIColor*>(self);
        auto* b = static_cast<UIColor*>(other);
        return a->name == b->name && a->red == b->red && a->green == b->green &&
               a->blue == b->blue && a->alpha == b->alpha;
      });
  addMethod(
      cls, "description"_sel,
      +[](id self, SEL) -> id { return foundation::makeString(describeColor(self)); });
  return cls;
}

}  // namespace

Class colorClass() {
  static Class cls = defineColor();
  return cls;
}

Class cgColorClass() {
  static Class cls = defineCGColor();
  return cls;
}

UIColor* namedColor(const char* name) {
  return static_cast<UIColor*>(msg<id>(colorClass(), sel_registerName(name)));
}

std::string describeColor(id color) {
  if (color == nullptr) return "nil";
  if (object_getClass(color) == cgColorClass()) {
    auto* c = static_cast<CGColor*>(color);
    return c->name.empty() ? componentText(c->red, c->green, c->blue, c->alpha) : c->name;
  }
  if (msg<BOOL>(color, "isKindOfClass:"_sel, colorClass())) {
    auto* c = static_cast<UIColor*>(color);
    return c->name.empty() ? componentText(c->red, c->green, c->blue, c->alpha) : c->name;
  }
  return foundation::stdString(msg<id>(color, "description"_sel));
}

}  // namespace uikit
