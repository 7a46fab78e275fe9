// The Objective-C runtime's C interface on the phone (libobjc), declared here
// because the build has no SDK: the types every message send passes, and the
// functions the deliverables call to look classes up, make a class at load,
// reach its instance variables and count references.
//
// The phone's runtime is thread-safe in every function used here.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct objc_object {
  void* isa;
};
// A class is an object too (its isa is its metaclass); its layout is the
// runtime's own.
struct objc_class : objc_object {};
struct objc_selector;
struct objc_ivar;

using id = objc_object*;
using Class = objc_class*;
using SEL = const objc_selector*;
using Ivar = objc_ivar*;
using IMP = void (*)();
// BOOL on arm64 is C++ bool (type encoding "B").
using BOOL = bool;
inline constexpr BOOL YES = true;
inline constexpr BOOL NO = false;

// The object types that appear in the deliverables' signatures. Only their
// pointers are used; every one is an object.
struct NSString : objc_object {};

extern "C" {
Class objc_getClass(const char* name);
SEL sel_registerName(const char* name);
Class object_getClass(id obj);
Class class_getSuperclass(Class cls);

Class objc_allocateClassPair(Class superclass, const char* name, size_t extraBytes);
void objc_registerClassPair(Class cls);
BOOL class_addIvar(Class cls, const char* name, size_t size, uint8_t alignment, const char* types);
BOOL class_addMethod(Class cls, SEL name, IMP imp, const char* types);
Ivar class_getInstanceVariable(Class cls, const char* name);
ptrdiff_t ivar_getOffset(Ivar ivar);

id objc_retain(id obj);
void objc_release(id obj);
id objc_autorelease(id obj);
void* objc_autoreleasePoolPush(void);
void objc_autoreleasePoolPop(void* token);
}

// Placement new, which the compiler needs for objects built in place (block
// captures); the build has no C++ library to declare it.
inline void* operator new(size_t, void* where) noexcept { return where; }

namespace objc {

// An autorelease pool for the enclosing scope.
class AutoreleasePool {
 public:
  AutoreleasePool() : token_(objc_autoreleasePoolPush()) {}
  ~AutoreleasePool() { objc_autoreleasePoolPop(token_); }
  AutoreleasePool(const AutoreleasePool&) = delete;
  AutoreleasePool& operator=(const AutoreleasePool&) = delete;

 private:
  void* token_;
};

// The few type traits the headers need; the build has no <type_traits>.
template <class A, class B>
inline constexpr bool isSame = false;
template <class A>
inline constexpr bool isSame<A, A> = true;

template <class T>
struct RemoveReference {
  using type = T;
};
template <class T>
struct RemoveReference<T&> {
  using type = T;
};
template <class T>
struct RemoveReference<T&&> {
  using type = T;
};

template <class T>
constexpr T&& forward(typename RemoveReference<T>::type& value) noexcept {
  return static_cast<T&&>(value);
}

}  // namespace objc
