// The application's life-cycle notification names, as the platform spells
// them. The device programs make NSNotifications with these names and hand
// them to the handlers that a real app would have registered.
//
// Thread safety: constants; safe from any thread.
#pragma once

#include "platform/foundation/nsstring.h"

extern NSString* const UIApplicationDidEnterBackgroundNotification;
extern NSString* const UIApplicationWillEnterForegroundNotification;
extern NSString* const UIApplicationDidBecomeActiveNotification;
extern NSString* const UIApplicationWillResignActiveNotification;
