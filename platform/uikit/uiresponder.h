// UIResponder: the common base of views and view controllers. It adds no
// state of its own here.
//
// Thread safety: UIKit objects are used on the main thread only.
#pragma once

#include "platform/objc/nsobject.h"

struct UIResponder : NSObject {};

namespace uikit {
Class responderClass();
}  // namespace uikit
