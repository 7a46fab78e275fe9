// The Darwin notify center: named notifications without payload, posted and
// observed across the processes of one device, with no daemon in between.
//
// Each observing process has one datagram socket; an observer registers its
// process for a name with a file under <root>/var/run/notify/. A post sends
// the name to every registered process (a process that is gone is dropped
// from the registry). Deliveries arrive through the main run loop and run on
// the main thread; posts that arrive before the main thread gets to them are
// coalesced: one delivery per name per turn. A process also receives its own
// posts.
//
// Thread safety: posting is safe from any thread; callbacks run on the main
// thread.
#pragma once

#include "platform/objc/nsobject.h"

struct NSString;
struct NSDictionary;
struct __CFNotificationCenter;
using CFNotificationCenterRef = __CFNotificationCenter*;
using CFStringRef = NSString*;
using CFDictionaryRef = NSDictionary*;
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

CFNotificationCenterRef CFNotificationCenterGetDarwinNotifyCenter();
// `object` is ignored by the Darwin center, as on the platform.
void CFNotificationCenterAddObserver(CFNotificationCenterRef center, const void* observer,
                                     CFNotificationCallback callback, CFStringRef name,
                                     const void* object,
                                     CFNotificationSuspensionBehavior suspension);
void CFNotificationCenterPostNotification(CFNotificationCenterRef center, CFStringRef name,
                                          const void* object, CFDictionaryRef userInfo,
                                          Boolean deliverImmediately);
