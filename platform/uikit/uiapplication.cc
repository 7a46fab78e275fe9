#include "platform/uikit/uiapplication.h"

NSString* const UIApplicationDidEnterBackgroundNotification =
    foundation::constantString("UIApplicationDidEnterBackgroundNotification");
NSString* const UIApplicationWillEnterForegroundNotification =
    foundation::constantString("UIApplicationWillEnterForegroundNotification");
NSString* const UIApplicationDidBecomeActiveNotification =
    foundation::constantString("UIApplicationDidBecomeActiveNotification");
NSString* const UIApplicationWillResignActiveNotification =
    foundation::constantString("UIApplicationWillResignActiveNotification");
