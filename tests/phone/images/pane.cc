// A plug-in bundle: at load it makes a subclass of a host class with an
// instance variable of its own and a method that calls the superclass.
#include "tests/phone/images/phone_abi.h"

static ptrdiff_t g_title_offset = -1;

static id PaneTitle(id self, SEL cmd) {
  objc_super super = {self, objc_getClass("PRBPane")};
  id base = ((id(*)(objc_super*, SEL))objc_msgSendSuper2)(&super, cmd);
  *(id*)((char*)self + g_title_offset) = base;
  return base;
}

__attribute__((constructor)) static void PaneLoad() {
  Class cls = objc_allocateClassPair(objc_getClass("PRBController"), "PRBPane", 0);
  class_addIvar(cls, "_title", sizeof(id), 3, "@");
  class_addMethod(cls, sel_registerName("title"), (IMP)PaneTitle, "@@:");
  objc_registerClassPair(cls);
  g_title_offset = ivar_getOffset(class_getInstanceVariable(cls, "_title"));
}
