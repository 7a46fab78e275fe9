// UIViewController (a UIResponder): owns a view, made on first use, and the
// navigation item that the navigation bar shows for it.
//
//   -init; -view (on first access sends -loadView, which makes a plain
//   UIView, then -viewDidLoad, which does nothing here: subclasses and
//   categories override both through the runtime); -isViewLoaded; -setView:
//   -title/-setTitle: (also the navigation item's title), -navigationItem
//   (made on first use, titled with the controller's title)
//   -addChildViewController:, -removeFromParentViewController,
//   -childViewControllers, -parentViewController
//   -navigationController: the nearest UINavigationController among the
//   controller's parents, or nil
//
// A controller describes itself as its title, or its class name when untitled.
//
// Ownership: a controller keeps its view, navigation item and children; a
// child does not keep its parent, and a parent that goes away clears its
// children's parent.
//
// Thread safety: main thread only.
#pragma once

#include <string>
#include <vector>

#include "platform/foundation/nsstring.h"
#include "platform/uikit/uinavigationitem.h"
#include "platform/uikit/uiresponder.h"
#include "platform/uikit/uiview.h"

struct UIViewController : UIResponder {
  Strong<UIView> view;  // nil until loaded
  Strong<NSString> title;
  Strong<UINavigationItem> navigationItem;  // made on first use
  UIViewController* parent = nullptr;       // not retained
  std::vector<Strong<UIViewController>> children;

  ~UIViewController();
};

namespace uikit {

Class viewControllerClass();

// Makes `child` a child of `parent`, taking it from a former parent first.
void addChild(UIViewController* parent, UIViewController* child);
void removeFromParent(UIViewController* child);

// The controller's title, or its class name when it has none.
std::string controllerName(UIViewController* controller);

}  // namespace uikit
