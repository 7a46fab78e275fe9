// The hooking runtime's MSHookMessageEx: replaces a class's instance method
// and stores the implementation it replaced in `old`. A nil class does
// nothing. The typed form takes the replacement and its slot as the method's
// own function types.
#pragma once

#include "runtime/objc.h"

extern "C" void MSHookMessageEx(Class _class, SEL message, IMP hook, IMP* old);

template <class R, class... A>
void MSHookMessageEx(Class _class, SEL message, R (*hook)(id, SEL, A...),
                     R (**old)(id, SEL, A...)) {
  MSHookMessageEx(_class, message, reinterpret_cast<IMP>(hook), reinterpret_cast<IMP*>(old));
}
