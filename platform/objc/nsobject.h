// NSObject, the root class, and the helper that defines a class backed by a
// C++ struct.
//
// A class's instances are C++ objects of one struct type that derives from
// its superclass's struct (ivars are members, Strong<T> for objects). The
// runtime makes them in a zeroed allocation of the class's instance size
// (room for the ivars that subclasses made at run time add after the
// struct) and frees them when their count reaches zero. Methods are added
// with addMethod (message.h).
#pragma once

#include <cstring>
#include <new>

#include "platform/objc/message.h"
#include "platform/objc/runtime.h"
#include "platform/objc/strong.h"

struct NSObject : objc_object {};

namespace objc {

Class nsobjectClass();

// Defines and registers class `name`, a subclass of `superclass`, whose
// instances are C++ objects of type T.
template <class T>
Class defineClass(const char* name, Class superclass) {
  Class cls = objc_allocateClassPair(superclass, name);
  class_setInstanceFunctions(
      cls,
      [](size_t size) -> id {
        void* memory = ::operator new(size);
        std::memset(memory, 0, size);
        return new (memory) T();
      },
      [](id obj) {
        static_cast<T*>(obj)->~T();
        ::operator delete(static_cast<void*>(obj));
      },
      sizeof(T));
  objc_registerClassPair(cls);
  return cls;
}

// Looks up a class that must exist; aborts naming it otherwise.
Class requireClass(const char* name);

}  // namespace objc

// [[cls alloc] init], owned by the caller.
template <class T = objc_object>
Strong<T> allocInit(Class cls) {
  id obj = msg<id>(cls, "alloc"_sel);
  return adopt(static_cast<T*>(msg<id>(obj, "init"_sel)));
}
