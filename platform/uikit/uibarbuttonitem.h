// UIBarButtonItem: an item of a navigation bar. -initWithCustomView: makes
// one that shows a view (a switch, say); -initWithTitle:style:target:action:
// (id, long, id, SEL) one with a title. -customView, -title, -target,
// -action. It describes itself as its custom view, or as `button "<title>"`.
//
// Ownership: an item keeps its custom view; the target is not retained.
//
// Thread safety: main thread only.
#pragma once

#include "platform/foundation/nsstring.h"
#include "platform/objc/nsobject.h"
#include "platform/uikit/uiview.h"

struct UIBarButtonItem : NSObject {
  Strong<UIView> customView;
  Strong<NSString> title;
  id target = nullptr;  // not retained
  SEL action = nullptr;
};

namespace uikit {
Class barButtonItemClass();
}  // namespace uikit
