// UINavigationController (a UIViewController): a stack of view controllers,
// the root at the bottom and the one on screen at the top. The stack is the
// controller's children, so each pushed controller's -navigationController
// answers it.
//
//   -initWithRootViewController:, -viewControllers (NSArray, root first),
//   -setViewControllers:animated:, -topViewController, -visibleViewController
//   -pushViewController:animated: (a controller already in the stack, or nil,
//   is ignored)
//   -popViewControllerAnimated: (the popped controller, nil at the root)
//   -popToRootViewControllerAnimated: (NSArray of the popped ones, bottom
//   first; empty at the root)
//
// Each of these calls is recorded in lastOperation and lastAnimated, so a
// test can tell "popped to the root without animation".
// It describes itself as the titles of its stack joined by " > ":
// "Albums > Hidden".
//
// -navigationBar answers the controller's bar (uinavigationbar.h), made on
// first use.
//
// Ownership: the stack's controllers are kept until popped; popped ones are
// handed back autoreleased.
//
// Thread safety: main thread only.
#pragma once

#include <string>

#include "platform/uikit/uinavigationbar.h"
#include "platform/uikit/uiviewcontroller.h"

struct UINavigationController : UIViewController {
  enum class Operation { kNone, kSetStack, kPush, kPop, kPopToRoot };
  Operation lastOperation = Operation::kNone;
  bool lastAnimated = false;
  Strong<UINavigationBar> navigationBar;  // made on first use
};

namespace uikit {

Class navigationControllerClass();
// "Albums > Hidden"
std::string describeStack(UINavigationController* controller);

}  // namespace uikit
