// The screen, windows, and the view tree of what a window shows.
//
// uikit::mainScreen(): the device's screen in points, from its model: an
// iPhone 390 by 844 at scale 3 with a 47-point status bar, an iPad 820 by
// 1180 at scale 2 with a 24-point one. Light appearance only.
//
// UIWindow (a UIView): the root of a screen's view tree. -rootViewController
// /-setRootViewController:. Its view tree is built and placed by
// uikit::layoutWindow as the platform's layout pass does it: the status bar
// (UIStatusBar, a UIView drawn with the time and the battery) on top, the
// root controller's view filling the screen, navigation controllers showing
// their bar over their top controller's view, split view controllers their
// primary column beside the secondary one; then every view's
// -layoutSubviews, top down; then the layout constraints (layout.h).
//
// UISplitViewController (a UIViewController): -viewControllers/
// -setViewControllers: (primary, secondary); the primary column is 320
// points wide.
//
// Hit-testing (uikit::hitTest): the deepest view under a point that is not
// hidden and takes touches, later subviews before earlier ones (the one on
// top wins), as the platform's -hitTest:withEvent: does; a view that does not
// take touches is passed through to what lies under it, and its subviews are
// not searched; nor are they for a point outside the view, even where a
// subview is drawn beyond the view's bounds.
//
// Ownership: a window keeps its root controller and its status bar; the
// controllers keep their views.
//
// Thread safety: main thread only.
#pragma once

#include <string>
#include <vector>

#include "platform/uikit/uiview.h"
#include "platform/uikit/uiviewcontroller.h"

struct UIWindow : UIView {
  Strong<UIViewController> rootViewController;
  Strong<UIView> statusBar;
};

struct UISplitViewController : UIViewController {};

namespace uikit {

struct Screen {
  CGSize size;       // points
  double scale = 1;  // pixels per point
  double statusBarHeight = 0;
  bool pad = false;
};

// The screen of the device the process runs on (read from its configuration once).
const Screen& mainScreen();
// The screen of a model: "iPad..." is an iPad, anything else an iPhone.
Screen screenForModel(const std::string& model);

Class windowClass();
Class statusBarClass();
Class splitViewControllerClass();

inline constexpr double kSidebarWidth = 320;

// A new window the size of `screen`, showing `root`; owned by the caller.
Strong<UIWindow> newWindow(UIViewController* root, const Screen& screen);

// Builds and places the window's view tree (see above).
void layoutWindow(UIWindow* window);

// The view's frame in the coordinates of the root of its tree.
CGRect frameInRoot(UIView* view);

// The view that a touch at `point` (in `root`'s coordinates) reaches, or
// nullptr when it reaches none.
UIView* hitTest(UIView* root, CGPoint point);

// One line per view of the tree under `root` (itself first), indented two
// spaces per level: class name, frame in root coordinates "(x, y, w, h)",
// the text a label or button shows in double quotes (a backslash, quote,
// newline, carriage return or tab in it escaped as \\, \", \n, \r, \t), "hidden"
// when hidden.
std::vector<std::string> viewTreeLines(UIView* root);

}  // namespace uikit
