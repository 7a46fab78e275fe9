#include "platform/objc/nsobject.h"

#include "platform/objc/block.h"

namespace {

Class defineRoot() {
  Class cls = objc::defineClass<NSObject>("NSObject", nullptr);
  addClassMethod(
      cls, "alloc"_sel,
      +[](id self, SEL) -> id { return class_createInstance(static_cast<Class>(self)); });
  addClassMethod(
      cls, "new"_sel,
      +[](id self, SEL) -> id { return msg<id>(msg<id>(self, "alloc"_sel), "init"_sel); });
  addClassMethod(
      cls, "class"_sel, +[](id self, SEL) -> id { return self; });
  addMethod(
      cls, "init"_sel, +[](id self, SEL) -> id { return self; });
  addMethod(
      cls, "class"_sel, +[](id self, SEL) -> id { return object_getClass(self); });
  addMethod(
      cls, "retain"_sel, +[](id self, SEL) -> id { return objc_retain(self); });
  addMethod(
      cls, "release"_sel, +[](id self, SEL) { objc_release(self); });
  addMethod(
      cls, "dealloc"_sel, +[](id self, SEL) { objc_destroyInstance(self); });
  addMethod(
      cls, "autorelease"_sel, +[](id self, SEL) -> id { return objc_autorelease(self); });
  addMethod(
      cls, "respondsToSelector:"_sel, +[](id self, SEL, SEL sel) -> BOOL {
        return class_respondsToSelector(object_getClass(self), sel);
      });
  addMethod(
      cls, "isKindOfClass:"_sel, +[](id self, SEL, id other) -> BOOL {
        for (Class c = object_getClass(self); c != nullptr; c = class_getSuperclass(c)) {
          if (c == other) return YES;
        }
        return NO;
      });
  addMethod(
      cls, "isMemberOfClass:"_sel,
      +[](id self, SEL, id other) -> BOOL { return object_getClass(self) == other; });
  addMethod(
      cls, "isEqual:"_sel, +[](id self, SEL, id other) -> BOOL { return self == other; });
  addMethod(
      cls, "hash"_sel, +[](id self, SEL) -> unsigned long {
        return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(self));
      });
  return cls;
}

Class defineBlock(Class root) {
  Class cls = objc_allocateClassPair(root, "NSBlock");
  class_setInstanceFunctions(
      cls, [](size_t) -> id { objc_fatal("objc: blocks are made with makeBlock"); },
      [](id obj) {
        auto* b = static_cast<BlockBase*>(obj);
        b->dispose(b);
      },
      sizeof(BlockBase));
  objc_registerClassPair(cls);
  // Copying a block keeps the same closure alive a little longer.
  addMethod(
      cls, "copy"_sel, +[](id self, SEL) -> id { return objc_retain(self); });
  return cls;
}

}  // namespace

namespace objc {

Class nsobjectClass() {
  static Class cls = defineRoot();
  return cls;
}

Class blockClass() {
  static Class cls = defineBlock(nsobjectClass());
  return cls;
}

Class requireClass(const char* name) {
  Class cls = objc_getClass(name);
  if (cls == nullptr) objc_fatal("objc: no class named %s", name);
  return cls;
}

}  // namespace objc

namespace {
// The root classes exist as soon as the runtime is loaded.
[[maybe_unused]] const bool kRegistered = (objc::blockClass(), true);
}  // namespace
