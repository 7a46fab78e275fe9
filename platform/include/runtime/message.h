// Typed message sending on the simulated device: msg and addMethod check the
// C++ signature against the method's (platform/objc/message.h); msgSuper2 is
// a send to the superclass of the class whose method is running, as
// objc_msgSendSuper2 makes it.
#pragma once

#include "platform/objc/message.h"

template <class R = id, class S, class... A>
R msgSuper2(Class current, id self, S sel, A... args) {
  return msgSuper<R>(class_getSuperclass(current), self, static_cast<SEL>(sel), args...);
}
