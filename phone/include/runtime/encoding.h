// The runtime's type encodings of C++ signatures, made at compile time, for
// class_addMethod and block signatures: encoding<R, A...>() is the method
// type "R@:A..." ("v@:", "@@:", "v@:@", "B@:", ...).
#pragma once

#include "runtime/geometry.h"
#include "runtime/objc.h"

template <class Sig>
struct Block;

namespace objc {

template <class T>
struct TypeCode {
  // Any other pointer: an object when it points to one, else a plain pointer.
  static constexpr const char* value = "?";
};
template <class T>
struct TypeCode<T*> {
  static constexpr const char* value = __is_base_of(objc_object, T) ? "@" : "^v";
};
template <class Sig>
struct TypeCode<Block<Sig>*> {
  static constexpr const char* value = "@?";
};
template <>
struct TypeCode<void> {
  static constexpr const char* value = "v";
};
template <>
struct TypeCode<bool> {
  static constexpr const char* value = "B";
};
template <>
struct TypeCode<char> {
  static constexpr const char* value = "c";
};
template <>
struct TypeCode<int> {
  static constexpr const char* value = "i";
};
template <>
struct TypeCode<long> {
  static constexpr const char* value = "q";
};
template <>
struct TypeCode<long long> {
  static constexpr const char* value = "q";
};
template <>
struct TypeCode<unsigned long> {
  static constexpr const char* value = "Q";
};
template <>
struct TypeCode<unsigned long long> {
  static constexpr const char* value = "Q";
};
template <>
struct TypeCode<float> {
  static constexpr const char* value = "f";
};
template <>
struct TypeCode<double> {
  static constexpr const char* value = "d";
};
template <>
struct TypeCode<SEL> {
  static constexpr const char* value = ":";
};
template <>
struct TypeCode<Class> {
  static constexpr const char* value = "#";
};
template <>
struct TypeCode<CGSize> {
  static constexpr const char* value = "{CGSize=dd}";
};
template <>
struct TypeCode<CGPoint> {
  static constexpr const char* value = "{CGPoint=dd}";
};
template <>
struct TypeCode<CGRect> {
  static constexpr const char* value = "{CGRect={CGPoint=dd}{CGSize=dd}}";
};

constexpr size_t textLength(const char* s) {
  size_t n = 0;
  while (s[n] != '\0') ++n;
  return n;
}

template <size_t N>
struct EncodingText {
  char text[N + 1];
};

// `self` is the receiver's code ("@" for a method, "@?" for a block); a
// method also takes its selector.
template <bool kMethod, class R, class... A>
constexpr auto makeEncoding() {
  constexpr size_t n =
      textLength(TypeCode<R>::value) + 2 + (0 + ... + textLength(TypeCode<A>::value));
  EncodingText<n> e{};
  size_t i = 0;
  auto put = [&](const char* s) {
    while (*s != '\0') e.text[i++] = *s++;
  };
  put(TypeCode<R>::value);
  put(kMethod ? "@:" : "@?");
  (put(TypeCode<A>::value), ...);
  e.text[i] = '\0';
  return e;
}

template <class R, class... A>
inline constexpr auto kMethodEncoding = makeEncoding<true, R, A...>();
template <class R, class... A>
inline constexpr auto kBlockEncoding = makeEncoding<false, R, A...>();

template <class R, class... A>
const char* encoding() {
  return kMethodEncoding<R, A...>.text;
}
template <class R, class... A>
const char* blockEncoding() {
  return kBlockEncoding<R, A...>.text;
}

}  // namespace objc
