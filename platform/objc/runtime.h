// The Objective-C runtime of the simulated device.
//
// An object is a C++ struct that derives from objc_object; its first word is
// `isa`, the class it belongs to. A class (objc_class) is itself an object
// whose isa is its metaclass, so class methods are instance methods of the
// metaclass. Each class owns a table of methods (selector -> implementation
// plus the C++ signature it was defined with) and a cache that makes a send
// a couple of probes instead of a table walk. A cache is never changed in a
// way that alters an entry already in it: adding or replacing a method gives
// every class a new cache, so the pair (class, cache) names one generation of
// what the class answers, and a call site may keep an entry for as long as
// the class still has the cache the entry belongs to (see message.h).
//
// Instance variables: a class backed by a C++ struct has the struct's size
// (its members are its ivars, and it may name some with objc::declareIvar);
// a class made at run time may add ivars with class_addIvar before it is
// registered. They follow the superclass's in the same allocation, zeroed,
// and are reached through class_getInstanceVariable and ivar_getOffset.
//
// Ownership: objects are reference counted. An object starts with a count of
// one (owned by whoever called alloc/new/copy); when objc_release takes the
// count to zero it sends the object -dealloc, and NSObject's -dealloc frees it
// through its class's destroy function (a class without -dealloc is freed
// directly). Class objects and selectors are never freed.
//
// Thread safety: every function here may be called from any thread. Sends
// read the caches without locking; adding or replacing a method takes the
// runtime lock and flushes the caches in the same step.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <typeinfo>

struct objc_class;
struct objc_selector;
struct objc_method;
struct objc_ivar;
struct objc_cache;  // private to the runtime

// The root of every object's layout.
struct objc_object {
  objc_class* isa = nullptr;
  std::atomic<intptr_t> retain_count{1};

  constexpr objc_object() = default;
  objc_object(const objc_object&) = delete;
  objc_object& operator=(const objc_object&) = delete;
};

// A class: an object whose isa is its metaclass. Its current cache sits
// beside the isa so that a send reaches it in one load; its other tables live
// in `data`, private to the runtime.
struct objc_class_data;
struct objc_class : objc_object {
  std::atomic<const objc_cache*> cache{nullptr};
  objc_class_data* data = nullptr;
};

using id = objc_object*;
using Class = objc_class*;
using SEL = const objc_selector*;
using Method = objc_method*;
using Ivar = objc_ivar*;
using IMP = void (*)();  // erased; called only after its signature was checked

// One entry of a class's cache: what a send of `sel` to an instance of the
// class runs, with the signature the method was defined with. Written once
// before it is published and never changed or freed afterwards (retired
// caches are kept until exit), so a call site may hold a pointer to it; the
// entry is current while `cache` is still its class's cache.
struct objc_cache_entry {
  const objc_cache* cache = nullptr;
  SEL sel = nullptr;
  IMP imp = nullptr;
  const std::type_info* types = nullptr;
};
using BOOL = bool;
inline constexpr BOOL YES = true;
inline constexpr BOOL NO = false;

// Makes the C++ object behind an instance of a class in `size` bytes (at
// least its struct's size; the rest is the ivars of run-time subclasses,
// zeroed), and frees it.
using InstanceCreate = id (*)(size_t size);
using InstanceDestroy = void (*)(id);

extern "C" {
// Selectors: one interned SEL per name.
SEL sel_registerName(const char* name);
const char* sel_getName(SEL sel);

// Classes.
Class objc_getClass(const char* name);  // nullptr when the process has no such class
// `extraBytes` is the room for indexed ivars of the class objects, which this
// runtime does not offer: it must be 0.
Class objc_allocateClassPair(Class superclass, const char* name, size_t extraBytes = 0);
void objc_registerClassPair(Class cls);
const char* class_getName(Class cls);
Class class_getSuperclass(Class cls);
BOOL class_isMetaClass(Class cls);
Class object_getClass(id obj);
// `instanceSize` is the size of the C++ struct `create` makes.
void class_setInstanceFunctions(Class cls, InstanceCreate create, InstanceDestroy destroy,
                                size_t instanceSize);
id class_createInstance(Class cls);
size_t class_getInstanceSize(Class cls);

// Instance variables. class_addIvar takes the size, the log2 of the
// alignment and the type encoding; it answers NO for a registered class, a
// metaclass or a name the class already has.
BOOL class_addIvar(Class cls, const char* name, size_t size, uint8_t alignment, const char* types);
Ivar class_getInstanceVariable(Class cls, const char* name);  // walks superclasses
ptrdiff_t ivar_getOffset(Ivar ivar);
const char* ivar_getName(Ivar ivar);

// Methods. `types` is the typeid of the method's normalized C++ signature
// (see message.h); a send or hook with another signature fails loudly.
BOOL class_addMethod(Class cls, SEL sel, IMP imp, const std::type_info& types);
// Replaces the class's own method (adding it when the class has none) and
// returns the implementation it had before, or nullptr. Flushes the caches.
IMP class_replaceMethod(Class cls, SEL sel, IMP imp, const std::type_info& types);
Method class_getInstanceMethod(Class cls, SEL sel);     // walks superclasses
Method class_getOwnInstanceMethod(Class cls, SEL sel);  // this class only
BOOL class_respondsToSelector(Class cls, SEL sel);
IMP method_getImplementation(Method m);

// Reference counting and autorelease pools.
id objc_retain(id obj);
void objc_release(id obj);
id objc_autorelease(id obj);
// Frees an object through its class's destroy function: what NSObject's
// -dealloc does last.
void objc_destroyInstance(id obj);
intptr_t objc_retainCount(id obj);
void objc_makeImmortal(id obj);  // for constant objects: retain and release do nothing
void* objc_autoreleasePoolPush();
void objc_autoreleasePoolPop(void* token);

// A broken invariant: prints the message and aborts.
[[noreturn]] void objc_fatal(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
}

// The C++ signature a method was defined with. A C++ type, so not part of the
// C interface above.
const std::type_info& method_getTypes(Method m);
// Aborts, naming class and selector, when `m` was defined with another
// signature than `types`.
void objc_checkTypes(Method m, Class cls, SEL sel, const std::type_info& types);

namespace objc {

// The look-up behind every send: the entry of `cls`'s cache for `sel`,
// filled from the method tables on a miss. Aborts naming class and selector
// when nothing answers, or when the method was defined with another signature
// than `types`.
const objc_cache_entry* lookUp(Class cls, SEL sel, id receiver, const std::type_info& types);

// Names a member of a class's C++ struct as an ivar at `offset`, so that a
// subclass made at run time can reach it as on the platform.
void declareIvar(Class cls, const char* name, ptrdiff_t offset, size_t size, const char* types);

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

}  // namespace objc
