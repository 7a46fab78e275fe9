// The platform declarations the test images use, written for an arm64
// phone build with no SDK: the runtime's C functions, blocks, dispatch, the
// Darwin notify center, posix_spawn and the hooking runtime.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef struct objc_class* Class;
typedef struct objc_object* id;
typedef struct objc_selector* SEL;
typedef void (*IMP)(void);
typedef struct objc_ivar* Ivar;
typedef const struct __CFString* CFStringRef;
typedef struct __CFNotificationCenter* CFNotificationCenterRef;
typedef void (*CFNotificationCallback)(CFNotificationCenterRef, void*, CFStringRef, const void*,
                                       const void*);
struct objc_super {
  id receiver;
  Class super_class;
};

extern "C" {
Class objc_getClass(const char*);
SEL sel_registerName(const char*);
void objc_msgSend(void);
void objc_msgSendSuper2(void);
id objc_retain(id);
void objc_release(id);
id objc_autorelease(id);
void* objc_autoreleasePoolPush(void);
void objc_autoreleasePoolPop(void*);
Class objc_allocateClassPair(Class, const char*, size_t);
bool class_addIvar(Class, const char*, size_t, uint8_t, const char*);
bool class_addMethod(Class, SEL, IMP, const char*);
void objc_registerClassPair(Class);
Ivar class_getInstanceVariable(Class, const char*);
ptrdiff_t ivar_getOffset(Ivar);
void MSHookMessageEx(Class, SEL, IMP, IMP*);
void* _Block_copy(const void*);
void _Block_release(const void*);
extern char _dispatch_main_q;
void dispatch_async(void* queue, void (^block)(void));
CFNotificationCenterRef CFNotificationCenterGetDarwinNotifyCenter(void);
void CFNotificationCenterAddObserver(CFNotificationCenterRef, const void*, CFNotificationCallback,
                                     CFStringRef, const void*, long);
void CFNotificationCenterPostNotification(CFNotificationCenterRef, CFStringRef, const void*,
                                          const void*, bool);
int posix_spawn(int*, const char*, const void*, const void*, char* const*, char* const*);
}

#define CFSTR(s) ((CFStringRef)__builtin___CFStringMakeConstantString(s))

// A typed message send: the cast the runtime's calling rules require.
template <typename R, typename... A>
inline R Send(id self, const char* selector, A... args) {
  return ((R(*)(id, SEL, A...))objc_msgSend)(self, sel_registerName(selector), args...);
}
