// The Darwin notify center: named notifications without payload, posted and
// observed across the processes of one device, with no daemon in between.
//
// Each observing process has one datagram socket in the abstract namespace,
// named after a hash of the device root and the process id, so that two
// devices on one machine never meet. An observer registers its process for a
// name with the entry <root>/var/run/notify/<escaped name>/<pid>, a hard link
// to the empty file "observer" beside it (or an empty file where links cannot
// be made). A post
// sends the name to every registered process without waiting (a process that
// is gone is dropped from the registry; a process whose queue is full already
// has notifications waiting and is skipped). Deliveries arrive through the
// main run loop and run on the main thread; posts that arrive before the main
// thread gets to them are coalesced: one delivery per name per turn, to each
// observer of the name in registration order, with the center, the observer,
// the name, and nil object and user info. A process also receives its own
// posts. Posting needs no observer in the posting process.
//
// A name must be non-empty and fit one folder name once escaped (see
// nameError); the center ignores posts and observers of any other name, as it
// reports nothing, so a program that takes a name from a person checks it
// first.
//
// Registrations last until the process ends (the same observer, callback and
// name registered twice count once). A forked child starts with none. The
// device root must not change once the process observes.
//
// Thread safety: posting and adding observers are safe from any thread;
// callbacks run on the main thread.
#pragma once

#include <sys/types.h>

#include <string>

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

namespace notify {

// The name as a single folder name: letters, digits, '-', '_' and '.' (not
// first) stay, every other byte becomes %XX.
std::string escapeName(const std::string& name);
// "" when the center can post and observe `name`; else why not: empty, or
// longer than 255 bytes once escaped.
std::string nameError(const std::string& name);
// The real folder that holds the registrations for `name` on this device.
std::string registrationFolder(const std::string& name);
// The abstract socket name of process `pid` on this device.
std::string socketName(pid_t pid);

}  // namespace notify
