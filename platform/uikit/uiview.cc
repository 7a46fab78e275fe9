#include "platform/uikit/uiview.h"

#include <algorithm>

#include "platform/foundation/collections.h"
#include "platform/foundation/nsstring.h"
#include "platform/uikit/layout.h"

UIView::~UIView() {
  uikit::forgetView(this);
  for (auto& c : constraints) c->active = false;
  for (auto& child : subviews) child->superview = nullptr;
}

namespace uikit {
namespace {

UIView* as(id self) { return static_cast<UIView*>(self); }

bool isInSubtree(UIView* view, UIView* root) {
  for (UIView* v = view; v != nullptr; v = v->superview) {
    if (v == root) return true;
  }
  return false;
}

// Deactivates constraints that tie a view of the subtree under `root` to a
// view outside it, as the subtree leaves its superview.
void dropOutsideConstraints(UIView* root, UIView* view) {
  std::vector<Strong<NSLayoutConstraint>> doomed;
  for (NSLayoutConstraint* c : view->referencing) {
    UIView* other = c->firstItem == view ? c->secondItem : c->firstItem;
    if (other != nullptr && !isInSubtree(other, root)) doomed.emplace_back(c);
  }
  for (auto& c : doomed) deactivate(c);
  for (auto& child : view->subviews) dropOutsideConstraints(root, child);
}

Class defineView() {
  Class cls = objc::defineClass<UIView>("UIView", responderClass());
  addMethod(
      cls, "init"_sel,
      +[](id self, SEL) -> id { return msg<id>(self, "initWithFrame:"_sel, CGRectZero); });
  addMethod(
      cls, "initWithFrame:"_sel, +[](id self, SEL, CGRect frame) -> id {
        as(self)->frame = frame;
        return self;
      });
  addMethod(
      cls, "frame"_sel, +[](id self, SEL) -> CGRect { return as(self)->frame; });
  addMethod(
      cls, "setFrame:"_sel, +[](id self, SEL, CGRect frame) { as(self)->frame = frame; });
  addMethod(
      cls, "bounds"_sel, +[](id self, SEL) -> CGRect {
        return CGRect{0, 0, as(self)->frame.width, as(self)->frame.height};
      });
  addMethod(
      cls, "addSubview:"_sel, +[](id self, SEL, id child) {
        if (child != nullptr) addSubview(as(self), as(child));
      });
  addMethod(
      cls, "removeFromSuperview"_sel, +[](id self, SEL) { removeFromSuperview(as(self)); });
  addMethod(
      cls, "subviews"_sel, +[](id self, SEL) -> id {
        auto list = foundation::newArray();
        for (auto& child : as(self)->subviews) list->items.emplace_back(child.get());
        return list.autorelease();
      });
  addMethod(
      cls, "superview"_sel, +[](id self, SEL) -> id { return as(self)->superview; });
  addMethod(
      cls, "translatesAutoresizingMaskIntoConstraints"_sel,
      +[](id self, SEL) -> BOOL { return as(self)->translatesAutoresizingMaskIntoConstraints; });
  addMethod(
      cls, "setTranslatesAutoresizingMaskIntoConstraints:"_sel,
      +[](id self, SEL, BOOL on) { as(self)->translatesAutoresizingMaskIntoConstraints = on; });
  addMethod(
      cls, "layer"_sel, +[](id self, SEL) -> id { return layerOf(as(self)); });
  addMethod(
      cls, "backgroundColor"_sel,
      +[](id self, SEL) -> id { return as(self)->backgroundColor.get(); });
  addMethod(
      cls, "setBackgroundColor:"_sel,
      +[](id self, SEL, id color) { as(self)->backgroundColor = static_cast<UIColor*>(color); });
  addMethod(
      cls, "tintColor"_sel, +[](id self, SEL) -> id {
        for (UIView* v = as(self); v != nullptr; v = v->superview) {
          if (v->tintColor) return v->tintColor.get();
        }
        return msg<id>(colorClass(), "systemBlueColor"_sel);
      });
  addMethod(
      cls, "setTintColor:"_sel,
      +[](id self, SEL, id color) { as(self)->tintColor = static_cast<UIColor*>(color); });
  addMethod(
      cls, "clipsToBounds"_sel, +[](id self, SEL) -> BOOL { return as(self)->clipsToBounds; });
  addMethod(
      cls, "setClipsToBounds:"_sel, +[](id self, SEL, BOOL on) { as(self)->clipsToBounds = on; });
  addMethod(
      cls, "isUserInteractionEnabled"_sel,
      +[](id self, SEL) -> BOOL { return as(self)->userInteractionEnabled; });
  addMethod(
      cls, "setUserInteractionEnabled:"_sel,
      +[](id self, SEL, BOOL on) { as(self)->userInteractionEnabled = on; });
  addMethod(
      cls, "accessibilityIdentifier"_sel, +[](id self, SEL) -> id {
        const std::string& name = as(self)->accessibilityIdentifier;
        return name.empty() ? nullptr : foundation::makeString(name);
      });
  addMethod(
      cls, "setAccessibilityIdentifier:"_sel, +[](id self, SEL, id name) {
        as(self)->accessibilityIdentifier = foundation::stdString(name);
      });
  addMethod(
      cls, "layoutSubviews"_sel, +[](id, SEL) {});
  addMethod(
      cls, "isHidden"_sel, +[](id self, SEL) -> BOOL { return as(self)->hidden; });
  addMethod(
      cls, "setHidden:"_sel, +[](id self, SEL, BOOL hidden) { as(self)->hidden = hidden; });

  // Layout.
  addMethod(
      cls, "topAnchor"_sel,
      +[](id self, SEL) -> id { return anchorOf(as(self), NSLayoutAttributeTop); });
  addMethod(
      cls, "bottomAnchor"_sel,
      +[](id self, SEL) -> id { return anchorOf(as(self), NSLayoutAttributeBottom); });
  addMethod(
      cls, "leadingAnchor"_sel,
      +[](id self, SEL) -> id { return anchorOf(as(self), NSLayoutAttributeLeading); });
  addMethod(
      cls, "trailingAnchor"_sel,
      +[](id self, SEL) -> id { return anchorOf(as(self), NSLayoutAttributeTrailing); });
  addMethod(
      cls, "leftAnchor"_sel,
      +[](id self, SEL) -> id { return anchorOf(as(self), NSLayoutAttributeLeft); });
  addMethod(
      cls, "rightAnchor"_sel,
      +[](id self, SEL) -> id { return anchorOf(as(self), NSLayoutAttributeRight); });
  addMethod(
      cls, "widthAnchor"_sel,
      +[](id self, SEL) -> id { return anchorOf(as(self), NSLayoutAttributeWidth); });
  addMethod(
      cls, "heightAnchor"_sel,
      +[](id self, SEL) -> id { return anchorOf(as(self), NSLayoutAttributeHeight); });
  addMethod(
      cls, "centerXAnchor"_sel,
      +[](id self, SEL) -> id { return anchorOf(as(self), NSLayoutAttributeCenterX); });
  addMethod(
      cls, "centerYAnchor"_sel,
      +[](id self, SEL) -> id { return anchorOf(as(self), NSLayoutAttributeCenterY); });
  addMethod(
      cls, "constraints"_sel, +[](id self, SEL) -> id {
        auto list = foundation::newArray();
        for (auto& c : as(self)->constraints) list->items.emplace_back(c.get());
        return list.autorelease();
      });
  addMethod(
      cls, "setNeedsLayout"_sel, +[](id, SEL) {});
  addMethod(
      cls, "layoutIfNeeded"_sel, +[](id self, SEL) { layoutSubtree(as(self)); });

  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        return foundation::makeString("view " + describeRect(as(self)->frame));
      });
  return cls;
}

}  // namespace

Class viewClass() {
  static Class cls = defineView();
  return cls;
}

Strong<UIView> newView(Class cls, const CGRect& frame) {
  id view = msg<id>(cls, "alloc"_sel);
  return adopt(static_cast<UIView*>(msg<id>(view, "initWithFrame:"_sel, frame)));
}

void addSubview(UIView* parent, UIView* child) {
  if (child == parent || isInSubtree(parent, child)) {
    objc_fatal("uikit: cannot add a view to itself or to a view inside it");
  }
  Strong<UIView> keep(child);
  if (child->superview == parent) {
    // Already there: it moves to the front, as the platform does.
    auto& list = parent->subviews;
    list.erase(std::find_if(list.begin(), list.end(),
                            [child](const auto& v) { return v.get() == child; }));
    list.push_back(keep);
    return;
  }
  removeFromSuperview(child);
  child->superview = parent;
  parent->subviews.push_back(keep);
}

void removeFromSuperview(UIView* view) {
  UIView* parent = view->superview;
  if (parent == nullptr) return;
  Strong<UIView> keep(view);
  dropOutsideConstraints(view, view);
  view->superview = nullptr;
  auto& list = parent->subviews;
  list.erase(
      std::find_if(list.begin(), list.end(), [view](const auto& v) { return v.get() == view; }));
}

CALayer* layerOf(UIView* view) {
  if (!view->layer) view->layer = allocInit<CALayer>(layerClass());
  return view->layer.get();
}

std::string describe(id object) {
  if (object == nullptr) return "nil";
  return foundation::stdString(msg<id>(object, "description"_sel));
}

namespace {
void describeInto(id view, int depth, std::string* out) {
  out->append(static_cast<size_t>(depth) * 2, ' ');
  out->append(describe(view));
  out->push_back('\n');
  if (view == nullptr || !msg<BOOL>(view, "isKindOfClass:"_sel, viewClass())) return;
  for (auto& child : as(view)->subviews) describeInto(child, depth + 1, out);
}
}  // namespace

std::string describeTree(id view) {
  std::string out;
  describeInto(view, 0, &out);
  if (!out.empty()) out.pop_back();
  return out;
}

}  // namespace uikit
