// UIView: a rectangle on screen with subviews, a layer, and layout anchors.
//
//   -init (a zero frame), -initWithFrame: (CGRect), -frame, -setFrame:, -bounds
//   -addSubview: (moves the view from any former superview), -removeFromSuperview,
//   -subviews (NSArray), -superview
//   -translatesAutoresizingMaskIntoConstraints, -setTranslatesAutoresizingMaskIntoConstraints:
//   -layer (CALayer), -backgroundColor, -tintColor (inherited from the superview,
//   systemBlueColor at the top), -isHidden/-setHidden:, -clipsToBounds,
//   -isUserInteractionEnabled (NO for labels and image views, as on the
//   platform), -accessibilityIdentifier
//   -layoutSubviews (places subviews; the base does nothing), -drawRect:
//   (CGRect; paints the view's own content in its own coordinates with the
//   painter of render.h; the base paints its background colour)
//   -topAnchor ... -centerYAnchor, -layoutIfNeeded, -constraints (layout.h)
//
// A view describes itself as "view (0,0,200,150)"; subclasses say what they
// show. uikit::describeTree prints a view and everything under it.
//
// Ownership: a view keeps its subviews, layer, colours and the active
// constraints whose first item it is. It does not keep its superview (the
// superview keeps it). Constraints name their views without keeping them;
// when a view goes away, constraints that name it forget it (see layout.h).
// A view's frame changes when its owner sets it or when layout runs over a
// view whose translatesAutoresizingMaskIntoConstraints is NO, never by itself.
//
// Thread safety: main thread only.
#pragma once

#include <string>
#include <vector>

#include "platform/objc/nsobject.h"
#include "platform/uikit/calayer.h"
#include "platform/uikit/geometry.h"
#include "platform/uikit/uicolor.h"
#include "platform/uikit/uiresponder.h"

struct NSLayoutConstraint;

struct UIView : UIResponder {
  CGRect frame;
  UIView* superview = nullptr;
  std::vector<Strong<UIView>> subviews;
  bool translatesAutoresizingMaskIntoConstraints = true;
  bool hidden = false;
  bool clipsToBounds = false;
  bool userInteractionEnabled = true;
  std::string accessibilityIdentifier;
  Strong<UIColor> backgroundColor;
  Strong<UIColor> tintColor;  // this view's own; nil means inherited
  Strong<CALayer> layer;      // made on first use
  // Active constraints whose first item is this view.
  std::vector<Strong<NSLayoutConstraint>> constraints;
  // Every live constraint that names this view, active or not; not retained.
  std::vector<NSLayoutConstraint*> referencing;

  ~UIView();
};

namespace uikit {

Class viewClass();

// A new view of class `cls` (UIView or a subclass) with `frame`, owned by the caller.
Strong<UIView> newView(Class cls, const CGRect& frame);

// Adds `child` to `parent`'s subviews, removing it from a former superview first.
void addSubview(UIView* parent, UIView* child);
void removeFromSuperview(UIView* view);

// The view's layer, made on first use.
CALayer* layerOf(UIView* view);

// `view`'s description, then each subview's, one per line, indented by two
// spaces per level.
std::string describeTree(id view);

// What an object describes itself as, through -description; "nil" for nil.
std::string describe(id object);

}  // namespace uikit
