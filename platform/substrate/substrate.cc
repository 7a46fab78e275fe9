#include "platform/substrate/substrate.h"

#include <mutex>

namespace substrate {
namespace {

std::mutex& recordLock() {
  static std::mutex m;
  return m;
}

std::vector<HookRecord>& records() {
  static auto* r = new std::vector<HookRecord>;
  return *r;
}

}  // namespace

void hookMessage(Class cls, SEL sel, IMP hook, IMP* old, const std::type_info* types) {
  if (cls == nullptr) return;
  Method own = class_getOwnInstanceMethod(cls, sel);
  Method found = own != nullptr ? own : class_getInstanceMethod(cls, sel);
  if (found == nullptr) {
    objc_fatal("substrate: cannot hook -[%s %s]: the class has no such method", class_getName(cls),
               sel_getName(sel));
  }
  if (types == nullptr) types = &method_getTypes(found);
  objc_checkTypes(found, cls, sel, *types);
  // The slot is filled before the replacement can run, so a replacement never
  // finds it empty.
  IMP previous = method_getImplementation(found);
  if (old != nullptr) *old = previous;
  if (own != nullptr) {
    IMP replaced = class_replaceMethod(cls, sel, hook, *types);
    if (old != nullptr) *old = replaced;
  } else {
    class_addMethod(cls, sel, hook, *types);
  }
  std::lock_guard<std::mutex> g(recordLock());
  records().push_back({class_getName(cls), sel_getName(sel)});
}

std::vector<HookRecord> installedHooks() {
  std::lock_guard<std::mutex> g(recordLock());
  return records();
}

}  // namespace substrate

extern "C" void MSHookMessageEx(Class _class, SEL message, IMP hook, IMP* old) {
  substrate::hookMessage(_class, message, hook, old, nullptr);
}
