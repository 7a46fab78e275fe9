#include "platform/foundation/nsstring.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <string>
#include <unordered_map>

namespace foundation {
namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

size_t skipSpace(std::string_view t, size_t i = 0) {
  while (i < t.size() && isSpace(t[i])) ++i;
  return i;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

Class defineString() {
  Class cls = objc::defineClass<NSString>("NSString", objc::nsobjectClass());
  addClassMethod(
      cls, "stringWithUTF8String:"_sel,
      +[](id, SEL, const char* s) -> id { return s ? makeString(s) : nullptr; });
  addMethod(
      cls, "UTF8String"_sel,
      +[](id self, SEL) -> const char* { return static_cast<NSString*>(self)->text.c_str(); });
  addMethod(
      cls, "length"_sel,
      +[](id self, SEL) -> unsigned long { return static_cast<NSString*>(self)->text.size(); });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id { return self; });
  addMethod(
      cls, "copy"_sel, +[](id self, SEL) -> id { return objc_retain(self); });
  addMethod(
      cls, "isEqualToString:"_sel, +[](id self, SEL, id other) -> BOOL {
        return isString(other) &&
               static_cast<NSString*>(self)->text == static_cast<NSString*>(other)->text;
      });
  addMethod(
      cls, "isEqual:"_sel, +[](id self, SEL, id other) -> BOOL {
        return isString(other) &&
               static_cast<NSString*>(self)->text == static_cast<NSString*>(other)->text;
      });
  addMethod(
      cls, "hash"_sel, +[](id self, SEL) -> unsigned long {
        return std::hash<std::string>{}(static_cast<NSString*>(self)->text);
      });
  addMethod(
      cls, "containsString:"_sel, +[](id self, SEL, id other) -> BOOL {
        return isString(other) && static_cast<NSString*>(self)->text.find(
                                      static_cast<NSString*>(other)->text) != std::string::npos;
      });
  addMethod(
      cls, "boolValue"_sel,
      +[](id self, SEL) -> BOOL { return stringBoolValue(static_cast<NSString*>(self)->text); });
  addMethod(
      cls, "longLongValue"_sel, +[](id self, SEL) -> long long {
        return stringLongLongValue(static_cast<NSString*>(self)->text);
      });
  addMethod(
      cls, "integerValue"_sel, +[](id self, SEL) -> long {
        return static_cast<long>(stringLongLongValue(static_cast<NSString*>(self)->text));
      });
  addMethod(
      cls, "intValue"_sel, +[](id self, SEL) -> int {
        long long v = stringLongLongValue(static_cast<NSString*>(self)->text);
        return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
      });
  addMethod(
      cls, "doubleValue"_sel, +[](id self, SEL) -> double {
        return stringDoubleValue(static_cast<NSString*>(self)->text);
      });
  addMethod(
      cls, "floatValue"_sel, +[](id self, SEL) -> float {
        return static_cast<float>(stringDoubleValue(static_cast<NSString*>(self)->text));
      });
  return cls;
}

}  // namespace

Class stringClass() {
  static Class cls = defineString();
  return cls;
}

BOOL isString(id obj) {
  return obj != nullptr && msg<BOOL>(obj, "isKindOfClass:"_sel, stringClass());
}

Strong<NSString> newString(std::string_view text) {
  auto* s = static_cast<NSString*>(class_createInstance(stringClass()));
  s->text.assign(text);
  return adopt(s);
}

NSString* makeString(std::string_view text) { return newString(text).autorelease(); }

std::string stdString(id obj) {
  return isString(obj) ? static_cast<NSString*>(obj)->text : std::string();
}

NSString* constantString(const char* text) {
  static std::mutex lock;
  static auto* interned = new std::unordered_map<std::string, NSString*>;
  std::lock_guard<std::mutex> g(lock);
  NSString*& s = (*interned)[text];
  if (s == nullptr) {
    s = newString(text).autorelease();
    objc_makeImmortal(s);
  }
  return s;
}

BOOL stringBoolValue(std::string_view t) {
  size_t i = skipSpace(t);
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  while (i < t.size() && t[i] == '0') ++i;
  if (i >= t.size()) return NO;
  char c = t[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

long long stringLongLongValue(std::string_view t) {
  size_t i = skipSpace(t);
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  unsigned long long magnitude = 0;
  bool overflow = false;
  for (; i < t.size() && isDigit(t[i]); ++i) {
    unsigned digit = static_cast<unsigned>(t[i] - '0');
    if (magnitude > (static_cast<unsigned long long>(LLONG_MAX) + 1 - digit) / 10) {
      overflow = true;
      break;
    }
    magnitude = magnitude * 10 + digit;
  }
  if (negative) {
    if (overflow || magnitude > static_cast<unsigned long long>(LLONG_MAX) + 1) return LLONG_MIN;
    return magnitude == static_cast<unsigned long long>(LLONG_MAX) + 1
               ? LLONG_MIN
               : -static_cast<long long>(magnitude);
  }
  if (overflow || magnitude > static_cast<unsigned long long>(LLONG_MAX)) return LLONG_MAX;
  return static_cast<long long>(magnitude);
}

double stringDoubleValue(std::string_view t) {
  // Copy only the decimal number at the start, so that strtod never reads hex,
  // "inf" or "nan", which the platform does not accept either.
  size_t i = skipSpace(t);
  size_t start = i;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  size_t digits = 0;
  while (i < t.size() && isDigit(t[i])) ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && isDigit(t[i])) ++i, ++digits;
  }
  if (digits == 0) return 0.0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    size_t j = i + 1;
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
    if (j < t.size() && isDigit(t[j])) {
      while (j < t.size() && isDigit(t[j])) ++j;
      i = j;
    }
  }
  std::string number(t.substr(start, i - start));
  return std::strtod(number.c_str(), nullptr);
}

}  // namespace foundation
