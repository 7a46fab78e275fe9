// NSNotification: a named message with an optional object, as handed to a
// notification's observer. +notificationWithName:object: (autoreleased),
// -name, -object. It describes itself as "notification <name>".
//
// Ownership: a notification keeps its name and object.
//
// Thread safety: immutable; safe from any thread.
#pragma once

#include "platform/foundation/nsstring.h"
#include "platform/objc/nsobject.h"

struct NSNotification : NSObject {
  Strong<NSString> name;
  Strong<objc_object> object;
};

namespace uikit {
Class notificationClass();
}  // namespace uikit
