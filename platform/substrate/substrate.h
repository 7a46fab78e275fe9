// The method-hooking runtime: MSHookMessageEx replaces an instance method of
// a class and hands back the implementation it replaced.
//
// Contract the tweak relies on:
//  - a nil class does nothing and leaves the slot as it was (empty);
//  - a method the class itself defines is replaced there, and the slot gets
//    the implementation it had;
//  - a method the class only inherits is added to the class (so the
//    superclass and its other subclasses keep theirs), and the slot gets the
//    inherited implementation;
//  - every later send of the selector to an instance of the class, or of a
//    subclass that does not override it, runs the replacement.
// Hooking a selector the class does not answer at all, or with a replacement
// of another signature than the method's, is a broken invariant and aborts.
//
// Every installed hook is recorded (class and selector, in order) for the
// device programs to print.
//
// Thread safety: hooks are installed at load on the main thread; the record
// may be read from any thread afterwards.
#pragma once

#include <string>
#include <typeinfo>
#include <vector>

#include "platform/objc/message.h"

extern "C" void MSHookMessageEx(Class _class, SEL message, IMP hook, IMP* old);

namespace substrate {

// The typed form of MSHookMessageEx: checks the replacement's signature
// against the method's before installing it.
void hookMessage(Class cls, SEL sel, IMP hook, IMP* old, const std::type_info* types);

struct HookRecord {
  std::string className;
  std::string selector;
};
std::vector<HookRecord> installedHooks();

}  // namespace substrate

template <class R, class... A>
void MSHookMessageEx(Class _class, SEL message, R (*hook)(id, SEL, A...),
                     R (**old)(id, SEL, A...)) {
  static_assert(std::is_same_v<objc::Imp<R, A...>, R (*)(id, SEL, A...)>,
                "replacements take id for every object argument and result");
  substrate::hookMessage(_class, message, reinterpret_cast<IMP>(hook), reinterpret_cast<IMP*>(old),
                         &objc::signature<R, A...>());
}
