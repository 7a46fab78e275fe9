// A small library that exercises each thing the phone model provides; the
// loader, emulator and model tests drive it through its exports.
#include "tests/phone/images/phone_abi.h"

extern "C" void probe_missing_function(void);

extern "C" {
int probe_loaded = 0;
double probe_scale = 0;
int probe_value = 0;
int probe_copies = 0;
int probe_destroyed = 0;
IMP probe_original_scaled = nullptr;
}

// A C++ object captured by value: its copies and destructions are counted,
// so the block's copy and dispose helpers can be seen to run.
struct Tracked {
  int value;
  explicit Tracked(int v) : value(v) {}
  Tracked(const Tracked& other) : value(other.value) { ++probe_copies; }
  ~Tracked() { ++probe_destroyed; }
};

__attribute__((constructor)) static void ProbeLoad() {
  Class host = objc_getClass("PRBHost");
  Send<void>((id)host, "startWithScale:", 1.5);
  probe_loaded = 1;
}

extern "C" int probe_bool(id object) { return Send<bool>(object, "canDo:", 2L) ? 7 : 3; }

// Reads the BOOL result as a wider type than the method returns.
extern "C" long probe_bool_as_long(id object) { return Send<long>(object, "canDo:", 2L); }

// Passes a double argument where the method takes an object.
extern "C" void probe_wrong_argument(id object) { Send<void>(object, "setName:", 2.5); }

// Passes an integer where the method takes a double.
extern "C" void probe_int_for_double(id object) { Send<void>(object, "setScale:", 3L); }

extern "C" double probe_scaled(id object, double x) { return Send<double>(object, "scaled:", x); }

extern "C" void probe_async(int v) {
  Tracked tracked(v);
  dispatch_async(&_dispatch_main_q, ^{
    probe_value = tracked.value + 1;
  });
}

// Asks the object for a reply; a YES reply sends work to the main queue.
extern "C" void probe_ask(id object) {
  Tracked tracked(40);
  Send<void>(object, "askWithReply:", ^(bool ok) {
    if (ok) {
      int v = tracked.value;
      dispatch_async(&_dispatch_main_q, ^{
        probe_value = v + 2;
      });
    }
  });
}

static void CounterIncrement(id self, SEL) {
  Ivar ivar = class_getInstanceVariable(*(Class*)self, "_count");
  *(long*)((char*)self + ivar_getOffset(ivar)) += 1;
}

static long CounterCount(id self, SEL) {
  Ivar ivar = class_getInstanceVariable(*(Class*)self, "_count");
  return *(long*)((char*)self + ivar_getOffset(ivar));
}

// A method that sends to super, for the re-entrant path C++ -> emulated -> model.
static id CounterDescription(id self, SEL cmd) {
  objc_super super = {self, objc_getClass("PRBCounter")};
  return ((id(*)(objc_super*, SEL))objc_msgSendSuper2)(&super, cmd);
}

extern "C" Class probe_make_class(void) {
  Class cls = objc_allocateClassPair(objc_getClass("PRBBase"), "PRBCounter", 0);
  if (!cls) return nullptr;
  class_addIvar(cls, "_count", sizeof(long), 3, "q");
  class_addMethod(cls, sel_registerName("increment"), (IMP)CounterIncrement, "v@:");
  class_addMethod(cls, sel_registerName("count"), (IMP)CounterCount, "q@:");
  class_addMethod(cls, sel_registerName("title"), (IMP)CounterDescription, "@@:");
  objc_registerClassPair(cls);
  return cls;
}

static double ScaledReplacement(id self, SEL cmd, double x) {
  return ((double (*)(id, SEL, double))probe_original_scaled)(self, cmd, x) * 10;
}

extern "C" void probe_hook(Class cls) {
  MSHookMessageEx(cls, sel_registerName("scaled:"), (IMP)ScaledReplacement, &probe_original_scaled);
}

static void OnNotification(CFNotificationCenterRef, void*, CFStringRef, const void*, const void*) {
  ++probe_value;
}

extern "C" void probe_observe(void) {
  CFNotificationCenterAddObserver(CFNotificationCenterGetDarwinNotifyCenter(), nullptr,
                                  OnNotification, CFSTR("com.example.probe/changed"), nullptr, 4);
}

extern "C" void probe_post(void) {
  CFNotificationCenterPostNotification(CFNotificationCenterGetDarwinNotifyCenter(),
                                       CFSTR("com.example.probe/changed"), nullptr, nullptr, true);
}

extern "C" int probe_spawn(void) {
  const char* argv[] = {"killall", "-9", "SomeApp", nullptr};
  int pid = 0;
  int error =
      posix_spawn(&pid, "/var/jb/usr/bin/killall", nullptr, nullptr, (char* const*)argv, nullptr);
  return error == 0 ? pid : -error;
}

// Makes an object, autoreleases it inside a pool of its own, and reports
// whether it was alive before the pool ended.
extern "C" int probe_pool(void) {
  void* pool = objc_autoreleasePoolPush();
  id object = Send<id>(Send<id>((id)objc_getClass("PRBBase"), "alloc"), "init");
  objc_autorelease(object);
  objc_autoreleasePoolPop(pool);
  return 1;
}

extern "C" id probe_leak(void) {
  return Send<id>(Send<id>((id)objc_getClass("PRBBase"), "alloc"), "init");
}

extern "C" void probe_over_release(id object) {
  objc_release(object);
  objc_release(object);
}

extern "C" void probe_unknown_selector(id object) { Send<void>(object, "noSuchMethod"); }

extern "C" void probe_unknown_import(void) { probe_missing_function(); }

extern "C" void probe_spin(void) {
  for (volatile int i = 0;; i = i + 1) {
  }
}

extern "C" int probe_fault(void) { return *(volatile int*)16; }

extern "C" CFStringRef probe_constant(void) { return CFSTR("Hidden \u2013 caf\u00e9"); }
