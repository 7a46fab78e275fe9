#include "platform/uikit/layout.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <optional>

#include "platform/foundation/collections.h"
#include "platform/foundation/nsstring.h"

NSLayoutConstraint::~NSLayoutConstraint() {
  for (UIView* item : {firstItem, secondItem}) {
    if (item == nullptr) continue;
    auto& list = item->referencing;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

namespace uikit {
namespace {

std::atomic<unsigned long> g_activations{0};

enum class Axis { kX, kY, kSize };

Axis axisOf(long attribute) {
  switch (attribute) {
    case NSLayoutAttributeTop:
    case NSLayoutAttributeBottom:
    case NSLayoutAttributeCenterY:
      return Axis::kY;
    case NSLayoutAttributeWidth:
    case NSLayoutAttributeHeight:
      return Axis::kSize;
    default:
      return Axis::kX;
  }
}

// Left and right are leading and trailing: the device lays out left to right.
long canonical(long attribute) {
  if (attribute == NSLayoutAttributeLeft) return NSLayoutAttributeLeading;
  if (attribute == NSLayoutAttributeRight) return NSLayoutAttributeTrailing;
  return attribute;
}

NSLayoutAnchor* anchor(id self) { return static_cast<NSLayoutAnchor*>(self); }
NSLayoutConstraint* constraint(id self) { return static_cast<NSLayoutConstraint*>(self); }

std::string itemName(UIView* view) {
  return view == nullptr ? std::string("nil") : class_getName(object_getClass(view));
}

id relate(id self, id other, double constant) {
  NSLayoutAnchor* a = anchor(self);
  if (other == nullptr || !msg<BOOL>(other, "isKindOfClass:"_sel, layoutAnchorClass())) {
    objc_fatal("uikit: %s.%s constrained to something that is no anchor", itemName(a->view).c_str(),
               attributeName(a->attribute));
  }
  NSLayoutAnchor* b = anchor(other);
  if (axisOf(a->attribute) != axisOf(b->attribute)) {
    objc_fatal("uikit: %s.%s and %s.%s are anchors of different axes", itemName(a->view).c_str(),
               attributeName(a->attribute), itemName(b->view).c_str(), attributeName(b->attribute));
  }
  return newConstraint(a->view, a->attribute, b->view, b->attribute, constant).autorelease();
}

Class defineAnchor() {
  Class cls = objc::defineClass<NSLayoutAnchor>("NSLayoutAnchor", objc::nsobjectClass());
  addMethod(
      cls, "constraintEqualToAnchor:"_sel,
      +[](id self, SEL, id other) -> id { return relate(self, other, 0); });
  addMethod(
      cls, "constraintEqualToAnchor:constant:"_sel,
      +[](id self, SEL, id other, double constant) -> id { return relate(self, other, constant); });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        return foundation::makeString(itemName(anchor(self)->view) + "." +
                                      attributeName(anchor(self)->attribute));
      });
  return cls;
}

Class defineDimension() {
  Class cls = objc::defineClass<NSLayoutAnchor>("NSLayoutDimension", layoutAnchorClass());
  addMethod(
      cls, "constraintEqualToConstant:"_sel, +[](id self, SEL, double constant) -> id {
        NSLayoutAnchor* a = anchor(self);
        return newConstraint(a->view, a->attribute, nullptr, NSLayoutAttributeNotAnAttribute,
                             constant)
            .autorelease();
      });
  return cls;
}

// Runs `fn` on each constraint of an NSArray.
template <class F>
void forEachConstraint(id array, F fn) {
  if (!foundation::isArray(array)) return;
  auto items = static_cast<NSArray*>(array)->items;  // a copy: fn may change what holds them
  for (auto& item : items) {
    if (msg<BOOL>(item, "isKindOfClass:"_sel, layoutConstraintClass())) fn(constraint(item));
  }
}

Class defineConstraint() {
  Class cls = objc::defineClass<NSLayoutConstraint>("NSLayoutConstraint", objc::nsobjectClass());
  addClassMethod(
      cls, "activateConstraints:"_sel, +[](id, SEL, id array) {
        unsigned long serial = ++g_activations;
        forEachConstraint(array, [serial](NSLayoutConstraint* c) { activate(c, serial); });
      });
  addClassMethod(
      cls, "deactivateConstraints:"_sel, +[](id, SEL, id array) {
        forEachConstraint(array, [](NSLayoutConstraint* c) { deactivate(c); });
      });
  addMethod(
      cls, "firstItem"_sel, +[](id self, SEL) -> id { return constraint(self)->firstItem; });
  addMethod(
      cls, "secondItem"_sel, +[](id self, SEL) -> id { return constraint(self)->secondItem; });
  addMethod(
      cls, "firstAttribute"_sel,
      +[](id self, SEL) -> long { return constraint(self)->firstAttribute; });
  addMethod(
      cls, "secondAttribute"_sel,
      +[](id self, SEL) -> long { return constraint(self)->secondAttribute; });
  addMethod(
      cls, "multiplier"_sel, +[](id self, SEL) -> double { return constraint(self)->multiplier; });
  addMethod(
      cls, "constant"_sel, +[](id self, SEL) -> double { return constraint(self)->constant; });
  addMethod(
      cls, "setConstant:"_sel,
      +[](id self, SEL, double constant) { constraint(self)->constant = constant; });
  addMethod(
      cls, "isActive"_sel, +[](id self, SEL) -> BOOL { return constraint(self)->active; });
  addMethod(
      cls, "setActive:"_sel, +[](id self, SEL, BOOL on) {
        if (on) {
          activate(constraint(self), ++g_activations);
        } else {
          deactivate(constraint(self));
        }
      });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        NSLayoutConstraint* c = constraint(self);
        std::string text = itemName(c->firstItem) + "." + attributeName(c->firstAttribute) + " = ";
        if (c->secondAttribute == NSLayoutAttributeNotAnAttribute) {
          text += formatNumber(c->constant);
        } else {
          text += itemName(c->secondItem) + "." + attributeName(c->secondAttribute);
          if (c->constant != 0)
            text += (c->constant < 0 ? " - " : " + ") + formatNumber(std::fabs(c->constant));
        }
        return foundation::makeString(text);
      });
  return cls;
}

// ---- Solving ----

struct Origin {
  double x = 0, y = 0;
  UIView* top = nullptr;  // the view at the top of the hierarchy
};

Origin absoluteOrigin(UIView* view) {
  Origin o;
  for (UIView* v = view; v != nullptr; v = v->superview) {
    o.x += v->frame.x;
    o.y += v->frame.y;
    o.top = v;
  }
  return o;
}

// The value of `attribute` of `item`, in the coordinates of `view`'s
// superview; nullopt (with a line in `problems`) when they share no hierarchy.
std::optional<double> valueOf(UIView* item, long attribute, UIView* view,
                              std::vector<std::string>* problems) {
  attribute = canonical(attribute);
  const CGRect& f = item->frame;
  if (attribute == NSLayoutAttributeWidth) return f.width;
  if (attribute == NSLayoutAttributeHeight) return f.height;
  Origin of_item = absoluteOrigin(item);
  Origin of_space = absoluteOrigin(view->superview);
  if (view->superview == nullptr || of_item.top != of_space.top) {
    problems->push_back(itemName(view) + ": constraint to " + itemName(item) +
                        " outside its view hierarchy ignored");
    return std::nullopt;
  }
  double x = of_item.x - of_space.x;
  double y = of_item.y - of_space.y;
  switch (attribute) {
    case NSLayoutAttributeLeading:
      return x;
    case NSLayoutAttributeTrailing:
      return x + f.width;
    case NSLayoutAttributeCenterX:
      return x + f.width / 2;
    case NSLayoutAttributeTop:
      return y;
    case NSLayoutAttributeBottom:
      return y + f.height;
    case NSLayoutAttributeCenterY:
      return y + f.height / 2;
    default:
      return std::nullopt;
  }
}

// What the active constraints say about each attribute of one view.
struct Facts {
  std::optional<double> value[NSLayoutAttributeCenterY + 1];

  void set(UIView* view, long attribute, double v, std::vector<std::string>* problems) {
    auto& slot = value[canonical(attribute)];
    if (slot && std::fabs(*slot - v) > 1e-9) {
      problems->push_back(itemName(view) + ": conflicting constraints on " +
                          attributeName(attribute) + " (" + formatNumber(*slot) + " and " +
                          formatNumber(v) + "), the first kept");
      return;
    }
    slot = v;
  }
};

void solveAxis(const std::optional<double>& lead, const std::optional<double>& trail,
               const std::optional<double>& center, const std::optional<double>& size,
               double* origin, double* length) {
  if (size) {
    *length = *size;
  } else if (lead && trail) {
    *length = *trail - *lead;
  } else if (lead && center) {
    *length = 2 * (*center - *lead);
  } else if (trail && center) {
    *length = 2 * (*trail - *center);
  }
  if (lead) {
    *origin = *lead;
  } else if (trail) {
    *origin = *trail - *length;
  } else if (center) {
    *origin = *center - *length / 2;
  }
}

void solveView(UIView* view, std::vector<std::string>* problems) {
  if (view->translatesAutoresizingMaskIntoConstraints) return;
  Facts facts;
  auto referencing = view->referencing;  // copied: the loop reads other views only
  for (NSLayoutConstraint* c : referencing) {
    if (!c->active) continue;
    if (c->firstItem == view && c->secondItem == view) {
      problems->push_back(itemName(view) + ": constraint between its own attributes ignored");
      continue;
    }
    if (c->firstItem == view) {
      if (c->secondAttribute == NSLayoutAttributeNotAnAttribute) {
        facts.set(view, c->firstAttribute, c->constant, problems);
        continue;
      }
      if (c->secondItem == nullptr) continue;  // its other view is gone
      auto other = valueOf(c->secondItem, c->secondAttribute, view, problems);
      if (other) facts.set(view, c->firstAttribute, *other * c->multiplier + c->constant, problems);
    } else if (c->secondItem == view) {
      if (c->firstItem == nullptr) continue;
      if (c->multiplier == 0) continue;
      auto other = valueOf(c->firstItem, c->firstAttribute, view, problems);
      if (other) {
        facts.set(view, c->secondAttribute, (*other - c->constant) / c->multiplier, problems);
      }
    }
  }
  CGRect f = view->frame;
  const auto& v = facts.value;
  solveAxis(v[NSLayoutAttributeLeading], v[NSLayoutAttributeTrailing], v[NSLayoutAttributeCenterX],
            v[NSLayoutAttributeWidth], &f.x, &f.width);
  solveAxis(v[NSLayoutAttributeTop], v[NSLayoutAttributeBottom], v[NSLayoutAttributeCenterY],
            v[NSLayoutAttributeHeight], &f.y, &f.height);
  view->frame = f;
}

void solveTree(UIView* view, std::vector<std::string>* problems) {
  solveView(view, problems);
  auto children = view->subviews;  // kept alive while the loop runs
  for (auto& child : children) solveTree(child, problems);
}

}  // namespace

Class layoutAnchorClass() {
  static Class cls = defineAnchor();
  return cls;
}
Class layoutXAxisAnchorClass() {
  static Class cls = objc::defineClass<NSLayoutAnchor>("NSLayoutXAxisAnchor", layoutAnchorClass());
  return cls;
}
Class layoutYAxisAnchorClass() {
  static Class cls = objc::defineClass<NSLayoutAnchor>("NSLayoutYAxisAnchor", layoutAnchorClass());
  return cls;
}
Class layoutDimensionClass() {
  static Class cls = defineDimension();
  return cls;
}
Class layoutConstraintClass() {
  static Class cls = defineConstraint();
  return cls;
}

NSLayoutAnchor* anchorOf(UIView* view, NSLayoutAttribute attribute) {
  Class cls = axisOf(attribute) == Axis::kSize ? layoutDimensionClass()
              : axisOf(attribute) == Axis::kY  ? layoutYAxisAnchorClass()
                                               : layoutXAxisAnchorClass();
  auto* a = static_cast<NSLayoutAnchor*>(class_createInstance(cls));
  a->view = view;
  a->attribute = attribute;
  return static_cast<NSLayoutAnchor*>(objc_autorelease(a));
}

Strong<NSLayoutConstraint> newConstraint(UIView* first, long first_attribute, UIView* second,
                                         long second_attribute, double constant) {
  auto c = adopt(constraint(class_createInstance(layoutConstraintClass())));
  c->firstItem = first;
  c->firstAttribute = first_attribute;
  c->secondItem = second;
  c->secondAttribute = second_attribute;
  c->constant = constant;
  if (first != nullptr) first->referencing.push_back(c.get());
  if (second != nullptr && second != first) second->referencing.push_back(c.get());
  return c;
}

void activate(NSLayoutConstraint* c, unsigned long activation) {
  if (c->active || c->firstItem == nullptr) return;
  c->active = true;
  c->activation = activation;
  c->firstItem->constraints.emplace_back(c);
}

void deactivate(NSLayoutConstraint* c) {
  if (!c->active) return;
  c->active = false;
  if (c->firstItem == nullptr) return;
  Strong<NSLayoutConstraint> keep(c);  // the list may hold the last reference
  auto& list = c->firstItem->constraints;
  list.erase(std::remove_if(list.begin(), list.end(), [c](const auto& s) { return s.get() == c; }),
             list.end());
}

unsigned long lastActivation() { return g_activations.load(); }

std::vector<std::string> layoutSubtree(UIView* view) {
  std::vector<std::string> problems;
  if (view != nullptr) solveTree(view, &problems);
  return problems;
}

void forgetView(UIView* view) {
  for (NSLayoutConstraint* c : view->referencing) {
    if (c->firstItem == view) c->firstItem = nullptr;
    if (c->secondItem == view) c->secondItem = nullptr;
  }
  view->referencing.clear();
}

const char* attributeName(long attribute) {
  switch (attribute) {
    case NSLayoutAttributeLeft:
      return "left";
    case NSLayoutAttributeRight:
      return "right";
    case NSLayoutAttributeTop:
      return "top";
    case NSLayoutAttributeBottom:
      return "bottom";
    case NSLayoutAttributeLeading:
      return "leading";
    case NSLayoutAttributeTrailing:
      return "trailing";
    case NSLayoutAttributeWidth:
      return "width";
    case NSLayoutAttributeHeight:
      return "height";
    case NSLayoutAttributeCenterX:
      return "centerX";
    case NSLayoutAttributeCenterY:
      return "centerY";
    default:
      return "notAnAttribute";
  }
}

}  // namespace uikit
