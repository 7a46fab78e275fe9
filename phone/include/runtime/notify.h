// CoreFoundation's Darwin notify center: post and observe named
// notifications across processes. An NSString and a CFString are the same
// object (toll-free bridged); toCFString says so to the compiler.
#pragma once

#include "runtime/objc.h"

struct __CFNotificationCenter;
struct __CFString;
struct __CFDictionary;
using CFNotificationCenterRef = __CFNotificationCenter*;
using CFStringRef = const __CFString*;
using CFDictionaryRef = const __CFDictionary*;
using Boolean = unsigned char;

using CFNotificationCallback = void (*)(CFNotificationCenterRef center, void* observer,
                                        CFStringRef name, const void* object,
                                        CFDictionaryRef userInfo);

enum CFNotificationSuspensionBehavior : long {
  CFNotificationSuspensionBehaviorDrop = 1,
  CFNotificationSuspensionBehaviorCoalesce = 2,
  CFNotificationSuspensionBehaviorHold = 3,
  CFNotificationSuspensionBehaviorDeliverImmediately = 4,
};

extern "C" {
CFNotificationCenterRef CFNotificationCenterGetDarwinNotifyCenter(void);
void CFNotificationCenterAddObserver(CFNotificationCenterRef center, const void* observer,
                                     CFNotificationCallback callback, CFStringRef name,
                                     const void* object,
                                     CFNotificationSuspensionBehavior suspension);
void CFNotificationCenterPostNotification(CFNotificationCenterRef center, CFStringRef name,
                                          const void* object, CFDictionaryRef userInfo,
                                          Boolean deliverImmediately);
}

inline CFStringRef toCFString(NSString* string) { return reinterpret_cast<CFStringRef>(string); }
