#include "platform/uikit/uiwindow.h"

#include "platform/foundation/collections.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsstring.h"
#include "platform/uikit/layout.h"
#include "platform/uikit/uilabel.h"
#include "platform/uikit/uinavigationbar.h"
#include "platform/uikit/uinavigationcontroller.h"

namespace uikit {
namespace {

UIWindow* window(id self) { return static_cast<UIWindow*>(self); }

Class defineWindow() {
  Class cls = objc::defineClass<UIWindow>("UIWindow", viewClass());
  addMethod(
      cls, "rootViewController"_sel,
      +[](id self, SEL) -> id { return window(self)->rootViewController.get(); });
  addMethod(
      cls, "setRootViewController:"_sel, +[](id self, SEL, id root) {
        window(self)->rootViewController = static_cast<UIViewController*>(root);
      });
  return cls;
}

Class defineSplitViewController() {
  Class cls =
      objc::defineClass<UISplitViewController>("UISplitViewController", viewControllerClass());
  addMethod(
      cls, "viewControllers"_sel,
      +[](id self, SEL) -> id { return msg<id>(self, "childViewControllers"_sel); });
  addMethod(
      cls, "setViewControllers:"_sel, +[](id self, SEL, id list) {
        auto* split = static_cast<UISplitViewController*>(self);
        while (!split->children.empty()) removeFromParent(split->children.back());
        if (!foundation::isArray(list)) return;
        for (auto& vc : static_cast<NSArray*>(list)->items) {
          addChild(split, static_cast<UIViewController*>(vc.get()));
        }
      });
  return cls;
}

bool isKind(id object, Class cls) { return msg<BOOL>(object, "isKindOfClass:"_sel, cls); }

// Places `vc`'s view in `parent` at `frame`, and the views of the controllers
// it contains inside it. `safe_top` is how much of the frame's top the status
// bar covers.
void layoutController(UIViewController* vc, UIView* parent, const CGRect& frame, double safe_top) {
  auto* view = static_cast<UIView*>(msg<id>(vc, "view"_sel));
  if (view->superview != parent) addSubview(parent, view);
  view->frame = frame;
  if (isKind(vc, navigationControllerClass())) {
    auto* nav = static_cast<UINavigationController*>(vc);
    auto* bar = static_cast<UINavigationBar*>(msg<id>(nav, "navigationBar"_sel));
    bar->frame = CGRect{0, safe_top, frame.width, kNavigationBarHeight};
    updateNavigationBar(bar, nav);
    UIViewController* top = nav->children.empty() ? nullptr : nav->children.back().get();
    // Only the bar and the top controller's view are on screen.
    auto shown = view->subviews;
    for (auto& child : shown) {
      if (child.get() != bar && (top == nullptr || child.get() != top->view.get())) {
        removeFromSuperview(child);
      }
    }
    double content_top = bar->frame.y + bar->frame.height;
    if (top != nullptr) {
      layoutController(top, view, CGRect{0, content_top, frame.width, frame.height - content_top},
                       0);
      view->backgroundColor = top->view->backgroundColor;
    }
    addSubview(view, bar);  // the bar stays in front
    return;
  }
  if (isKind(vc, splitViewControllerClass()) && vc->children.size() >= 2) {
    view->backgroundColor = namedColor("separatorColor");
    layoutController(vc->children[0], view, CGRect{0, 0, kSidebarWidth, frame.height}, safe_top);
    layoutController(
        vc->children[1], view,
        CGRect{kSidebarWidth + 0.5, 0, frame.width - kSidebarWidth - 0.5, frame.height}, safe_top);
  }
}

void layoutViews(UIView* view) {
  msg<void>(view, "layoutSubviews"_sel);
  auto children = view->subviews;  // kept alive while the loop runs
  for (auto& child : children) layoutViews(child);
}

std::string fmt(double v) { return formatNumber(v); }

// A label's text in double quotes, escaped so that it stays on its line and
// its end is the closing quote: \\, \", \n, \r and \t.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  return out + "\"";
}

void linesOf(UIView* view, const CGPoint& origin, int depth, std::vector<std::string>* out) {
  CGPoint at{origin.x + view->frame.x, origin.y + view->frame.y};
  std::string line(static_cast<size_t>(depth) * 2, ' ');
  line += class_getName(object_getClass(view));
  line += " (" + fmt(at.x) + ", " + fmt(at.y) + ", " + fmt(view->frame.width) + ", " +
          fmt(view->frame.height) + ")";
  if (isKind(view, labelClass())) {
    line += " " + quoted(labelText(static_cast<UILabel*>(view)));
  }
  if (view->hidden) line += " hidden";
  out->push_back(line);
  for (auto& child : view->subviews) linesOf(child, at, depth + 1, out);
}

UIView* hit(UIView* view, CGPoint point) {
  if (view->hidden || !view->userInteractionEnabled) return nullptr;
  const CGRect& f = view->frame;
  CGPoint local{point.x - f.x, point.y - f.y};
  bool inside = local.x >= 0 && local.y >= 0 && local.x < f.width && local.y < f.height;
  // As on the platform, a point outside a view reaches none of its subviews,
  // even those drawn beyond its bounds because it does not clip them.
  if (!inside) return nullptr;
  for (auto it = view->subviews.rbegin(); it != view->subviews.rend(); ++it) {
    if (UIView* found = hit(*it, local)) return found;
  }
  return view;
}

}  // namespace

Screen screenForModel(const std::string& model) {
  if (model.find("iPad") != std::string::npos) return Screen{{820, 1180}, 2, 24, true};
  return Screen{{390, 844}, 3, 47, false};
}

const Screen& mainScreen() {
  static const Screen screen = screenForModel(device::readConfig().model);
  return screen;
}

Class windowClass() {
  static Class cls = defineWindow();
  return cls;
}

Class statusBarClass() {
  static Class cls = objc::defineClass<UIView>("UIStatusBar", viewClass());
  return cls;
}

Class splitViewControllerClass() {
  static Class cls = defineSplitViewController();
  return cls;
}

Strong<UIWindow> newWindow(UIViewController* root, const Screen& screen) {
  auto w = Strong<UIWindow>(static_cast<UIWindow*>(
      newView(windowClass(), CGRect{0, 0, screen.size.width, screen.size.height}).get()));
  w->rootViewController = root;
  w->backgroundColor = namedColor("whiteColor");
  w->statusBar = newView(statusBarClass(), CGRect{0, 0, screen.size.width, screen.statusBarHeight});
  w->statusBar->userInteractionEnabled = false;
  return w;
}

void layoutWindow(UIWindow* w) {
  double status = w->statusBar ? w->statusBar->frame.height : 0;
  if (w->rootViewController) {
    layoutController(w->rootViewController, w, CGRect{0, 0, w->frame.width, w->frame.height},
                     status);
  }
  if (w->statusBar) addSubview(w, w->statusBar);  // on top of everything
  layoutViews(w);
  layoutSubtree(w);
}

CGRect frameInRoot(UIView* view) {
  CGRect f = view->frame;
  for (UIView* v = view->superview; v != nullptr && v->superview != nullptr; v = v->superview) {
    f.x += v->frame.x;
    f.y += v->frame.y;
  }
  return f;
}

UIView* hitTest(UIView* root, CGPoint point) {
  // The root's own origin is the coordinate origin.
  return hit(root, CGPoint{point.x + root->frame.x, point.y + root->frame.y});
}

std::vector<std::string> viewTreeLines(UIView* root) {
  std::vector<std::string> lines;
  linesOf(root, CGPoint{-root->frame.x, -root->frame.y}, 0, &lines);
  return lines;
}

}  // namespace uikit
