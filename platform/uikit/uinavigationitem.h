// UINavigationItem: what a view controller shows in the navigation bar.
// -title/-setTitle:, -titleView/-setTitleView:,
// -rightBarButtonItem/-setRightBarButtonItem:,
// -leftBarButtonItem/-setLeftBarButtonItem:, -initWithTitle:.
// It describes itself as `title "<title>"`, then "titleView <view>" and
// "right <item>" when set (the view and item described as themselves).
//
// Ownership: an item keeps its title view and bar button items.
//
// Thread safety: main thread only.
#pragma once

#include "platform/foundation/nsstring.h"
#include "platform/objc/nsobject.h"
#include "platform/uikit/uibarbuttonitem.h"
#include "platform/uikit/uiview.h"

struct UINavigationItem : NSObject {
  Strong<NSString> title;
  Strong<UIView> titleView;
  Strong<UIBarButtonItem> rightBarButtonItem;
  Strong<UIBarButtonItem> leftBarButtonItem;
};

namespace uikit {
Class navigationItemClass();
}  // namespace uikit
