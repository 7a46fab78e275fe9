// Layout anchors, constraints, and a small solver that turns active
// constraints into frames.
//
// Anchors: a view's -topAnchor, -leadingAnchor, -trailingAnchor,
// -bottomAnchor, -centerXAnchor, -centerYAnchor (NSLayoutXAxisAnchor or
// NSLayoutYAxisAnchor) and -widthAnchor, -heightAnchor (NSLayoutDimension).
// -constraintEqualToAnchor: and -constraintEqualToAnchor:constant: (id,
// double) relate two anchors of one axis; a dimension also has
// -constraintEqualToConstant: (double). Relating anchors of different axes
// is a programming error and aborts, naming both.
//
// NSLayoutConstraint: first item and attribute = second item and attribute
// x multiplier + constant; -firstItem, -secondItem, -firstAttribute,
// -secondAttribute, -constant, -setConstant:, -multiplier, -isActive,
// -setActive:, +activateConstraints:, +deactivateConstraints: (NSArrays).
// Each activation (one +activateConstraints: call, or one -setActive:YES) gets
// a serial number, kept in the constraints it activated, so that a test can
// see which constraints were activated together.
//
// Solving: -layoutIfNeeded on a view, or uikit::layoutSubtree, visits the
// view and then its subviews, depth first, and gives each view whose
// translatesAutoresizingMaskIntoConstraints is NO a frame from its active
// constraints, one axis at a time: a size (width/height constant or another
// view's size) with one of leading, trailing or centre, or two positions.
// An attribute left open keeps the frame's current value. Other views'
// frames are read as they are at that moment, so constraints between
// siblings see the earlier sibling already laid out. Conflicts and
// constraints the solver cannot use are reported, not fatal.
//
// Ownership: an anchor keeps its view. A constraint does not keep its items;
// the first item keeps its active constraints, and a view that goes away
// sets its pointer in every constraint naming it to nullptr.
//
// Thread safety: main thread only.
#pragma once

#include <string>
#include <vector>

#include "platform/objc/nsobject.h"
#include "platform/uikit/uiview.h"

enum NSLayoutAttribute : long {
  NSLayoutAttributeNotAnAttribute = 0,
  NSLayoutAttributeLeft = 1,
  NSLayoutAttributeRight = 2,
  NSLayoutAttributeTop = 3,
  NSLayoutAttributeBottom = 4,
  NSLayoutAttributeLeading = 5,
  NSLayoutAttributeTrailing = 6,
  NSLayoutAttributeWidth = 7,
  NSLayoutAttributeHeight = 8,
  NSLayoutAttributeCenterX = 9,
  NSLayoutAttributeCenterY = 10,
};

struct NSLayoutAnchor : NSObject {
  Strong<UIView> view;
  long attribute = NSLayoutAttributeNotAnAttribute;
};

struct NSLayoutConstraint : NSObject {
  UIView* firstItem = nullptr;
  long firstAttribute = NSLayoutAttributeNotAnAttribute;
  UIView* secondItem = nullptr;  // nullptr for a constant size
  long secondAttribute = NSLayoutAttributeNotAnAttribute;
  double multiplier = 1;
  double constant = 0;
  bool active = false;
  unsigned long activation = 0;  // serial number of the activation that activated it

  ~NSLayoutConstraint();
};

namespace uikit {

Class layoutAnchorClass();
Class layoutXAxisAnchorClass();
Class layoutYAxisAnchorClass();
Class layoutDimensionClass();
Class layoutConstraintClass();

// A new anchor for `attribute` of `view`, autoreleased.
NSLayoutAnchor* anchorOf(UIView* view, NSLayoutAttribute attribute);
// A new inactive constraint, owned by the caller.
Strong<NSLayoutConstraint> newConstraint(UIView* first, long first_attribute, UIView* second,
                                         long second_attribute, double constant);

void activate(NSLayoutConstraint* constraint, unsigned long activation);
void deactivate(NSLayoutConstraint* constraint);
// The serial number of the latest activation, 0 before any.
unsigned long lastActivation();

// Lays out `view` and its subtree; returns a line for each conflict or
// constraint that could not be used.
std::vector<std::string> layoutSubtree(UIView* view);

// Called by a view that is going away: forgets it in every constraint naming it.
void forgetView(UIView* view);

// "top", "centerX", ...
const char* attributeName(long attribute);

}  // namespace uikit
