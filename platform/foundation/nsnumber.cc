#include "platform/foundation/nsnumber.h"

#include <cmath>
#include <cstdio>

#include "platform/foundation/nsstring.h"

namespace foundation {
namespace {

long long toInteger(const NSNumber* n) {
  if (n->kind != NSNumber::Kind::kReal) return n->integer;
  double r = n->real;
  if (std::isnan(r)) return 0;
  if (r >= 9223372036854775807.0) return LLONG_MAX;
  if (r <= -9223372036854775808.0) return LLONG_MIN;
  return static_cast<long long>(r);
}

double toReal(const NSNumber* n) {
  return n->kind == NSNumber::Kind::kReal ? n->real : static_cast<double>(n->integer);
}

NSNumber* self_(id self) { return static_cast<NSNumber*>(self); }

Class defineNumber() {
  Class cls = objc::defineClass<NSNumber>("NSNumber", objc::nsobjectClass());
  addClassMethod(
      cls, "numberWithBool:"_sel, +[](id, SEL, BOOL v) -> id { return boolNumber(v); });
  addClassMethod(
      cls, "numberWithLongLong:"_sel, +[](id, SEL, long long v) -> id { return integerNumber(v); });
  addClassMethod(
      cls, "numberWithDouble:"_sel, +[](id, SEL, double v) -> id { return realNumber(v); });
  addMethod(
      cls, "boolValue"_sel, +[](id self, SEL) -> BOOL {
        return self_(self)->kind == NSNumber::Kind::kReal ? self_(self)->real != 0
                                                          : self_(self)->integer != 0;
      });
  addMethod(
      cls, "longLongValue"_sel, +[](id self, SEL) -> long long { return toInteger(self_(self)); });
  addMethod(
      cls, "integerValue"_sel, +[](id self, SEL) -> long { return toInteger(self_(self)); });
  addMethod(
      cls, "intValue"_sel,
      +[](id self, SEL) -> int { return static_cast<int>(toInteger(self_(self))); });
  addMethod(
      cls, "doubleValue"_sel, +[](id self, SEL) -> double { return toReal(self_(self)); });
  addMethod(
      cls, "floatValue"_sel,
      +[](id self, SEL) -> float { return static_cast<float>(toReal(self_(self))); });
  addMethod(
      cls, "copy"_sel, +[](id self, SEL) -> id { return objc_retain(self); });
  addMethod(
      cls, "isEqual:"_sel, +[](id self, SEL, id other) -> BOOL {
        if (!isNumber(other)) return NO;
        auto* a = self_(self);
        auto* b = self_(other);
        if (a->kind == NSNumber::Kind::kReal || b->kind == NSNumber::Kind::kReal)
          return toReal(a) == toReal(b);
        return a->integer == b->integer;
      });
  // The decimal text; a real number's shortest exact form.
  addMethod(
      cls, "stringValue"_sel, +[](id self, SEL) -> id { return msg<id>(self, "description"_sel); });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        auto* n = self_(self);
        if (n->kind == NSNumber::Kind::kReal) {
          char buf[64];
          std::snprintf(buf, sizeof buf, "%.17g", n->real);
          return makeString(buf);
        }
        return makeString(std::to_string(n->integer));
      });
  return cls;
}

NSNumber* make(NSNumber::Kind kind, long long integer, double real) {
  auto* n = static_cast<NSNumber*>(class_createInstance(numberClass()));
  n->kind = kind;
  n->integer = integer;
  n->real = real;
  return n;
}

}  // namespace

Class numberClass() {
  static Class cls = defineNumber();
  return cls;
}

BOOL isNumber(id obj) {
  return obj != nullptr && msg<BOOL>(obj, "isKindOfClass:"_sel, numberClass());
}

NSNumber* trueValue() {
  static NSNumber* n = [] {
    NSNumber* v = make(NSNumber::Kind::kBool, 1, 0);
    objc_makeImmortal(v);
    return v;
  }();
  return n;
}

NSNumber* falseValue() {
  static NSNumber* n = [] {
    NSNumber* v = make(NSNumber::Kind::kBool, 0, 0);
    objc_makeImmortal(v);
    return v;
  }();
  return n;
}

NSNumber* boolNumber(BOOL value) { return value ? trueValue() : falseValue(); }

NSNumber* integerNumber(long long value) {
  return static_cast<NSNumber*>(objc_autorelease(make(NSNumber::Kind::kInteger, value, 0)));
}

NSNumber* realNumber(double value) {
  return static_cast<NSNumber*>(objc_autorelease(make(NSNumber::Kind::kReal, 0, value)));
}

}  // namespace foundation
