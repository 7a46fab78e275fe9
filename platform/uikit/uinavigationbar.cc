#include "platform/uikit/uinavigationbar.h"

#include <algorithm>

#include "platform/foundation/nsstring.h"
#include "platform/uikit/uifont.h"
#include "platform/uikit/uinavigationcontroller.h"
#include "platform/uikit/uinavigationitem.h"

namespace uikit {
namespace {

UIButton* button(id self) { return static_cast<UIButton*>(self); }

Class defineButton() {
  Class cls = objc::defineClass<UIButton>("UIButton", controlClass());
  addMethod(
      cls, "titleLabel"_sel, +[](id self, SEL) -> id { return button(self)->titleLabel.get(); });
  addMethod(
      cls, "imageView"_sel, +[](id self, SEL) -> id { return button(self)->imageView.get(); });
  addMethod(
      cls, "layoutSubviews"_sel, +[](id self, SEL) {
        UIButton* b = button(self);
        bool image = b->imageView && b->imageView->image;
        CGSize size = b->titleLabel ? labelTextSize(b->titleLabel, 1e6) : CGSizeZero;
        // The content is centred in the button.
        double x = std::max(0.0, (b->frame.width - size.width - (image ? 20 : 0)) / 2);
        if (image) {
          b->imageView->frame = CGRect{x, (b->frame.height - 22) / 2, 14, 22};
          x += 20;
        }
        if (b->titleLabel) {
          b->titleLabel->frame =
              CGRect{x, (b->frame.height - size.height) / 2, size.width, size.height};
        }
      });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        return foundation::makeString("button \"" + labelText(button(self)->titleLabel) + "\"");
      });
  return cls;
}

Class defineNavigationBar() {
  Class cls = objc::defineClass<UINavigationBar>("UINavigationBar", viewClass());
  addMethod(
      cls, "prefersLargeTitles"_sel, +[](id self, SEL) -> BOOL {
        return static_cast<UINavigationBar*>(self)->prefersLargeTitles;
      });
  addMethod(
      cls, "setPrefersLargeTitles:"_sel,
      +[](id self, SEL, BOOL on) { static_cast<UINavigationBar*>(self)->prefersLargeTitles = on; });
  return cls;
}

}  // namespace

Class buttonClass() {
  static Class cls = defineButton();
  return cls;
}

Class navigationBarClass() {
  static Class cls = defineNavigationBar();
  return cls;
}

Strong<UIButton> newButton(const std::string& title, const std::string& symbol_name) {
  auto b = Strong<UIButton>(static_cast<UIButton*>(newView(buttonClass(), CGRectZero).get()));
  b->titleLabel = newLabel(title, systemFont(17), namedColor("systemBlueColor"));
  addSubview(b, b->titleLabel);
  if (!symbol_name.empty()) {
    b->imageView = static_cast<UIImageView*>(newView(imageViewClass(), CGRectZero).get());
    b->imageView->image = static_cast<UIImage*>(
        msg<id>(imageClass(), "systemImageNamed:"_sel, foundation::makeString(symbol_name)));
    addSubview(b, b->imageView);
  }
  double width = labelTextSize(b->titleLabel, 1e6).width + (b->imageView ? 20 : 0);
  b->frame = CGRect{0, 0, width, kNavigationBarHeight};
  return b;
}

void updateNavigationBar(UINavigationBar* bar, id navigation) {
  auto old = bar->subviews;
  for (auto& view : old) removeFromSuperview(view);
  auto* nav = static_cast<UINavigationController*>(navigation);
  if (nav->children.empty()) {
    bar->frame.height = kNavigationBarHeight;
    return;
  }
  UIViewController* top = nav->children.back();
  auto* item = static_cast<UINavigationItem*>(msg<id>(top, "navigationItem"_sel));
  std::string title = foundation::stdString(item->title);
  bool large = bar->prefersLargeTitles && nav->children.size() == 1 && !item->titleView;
  double width = bar->frame.width;

  double left = 0;  // how far the leading items reach
  if (nav->children.size() > 1) {
    UIViewController* previous = nav->children[nav->children.size() - 2];
    Strong<UIButton> back = newButton(controllerName(previous), "chevron.backward");
    back->accessibilityIdentifier = "BackButton";
    back->frame.x = 8;
    back->frame.width = std::min(back->frame.width, width / 3);
    addSubview(bar, back);
    left = back->frame.x + back->frame.width;
  }
  double right = 0;  // how far in from the trailing edge the trailing items reach
  if (item->rightBarButtonItem) {
    UIBarButtonItem* right_item = item->rightBarButtonItem;
    Strong<UIView> view = right_item->customView;
    if (!view) view = newButton(foundation::stdString(right_item->title), "");
    view->frame.x = width - 16 - view->frame.width;
    view->frame.y = (kNavigationBarHeight - view->frame.height) / 2;
    addSubview(bar, view);
    right = 16 + view->frame.width;
  }
  // The title stays centred on the bar, as wide as the items beside it allow.
  double side = std::max(left, right) + 8;
  CGRect title_frame{side, 0, std::max(0.0, width - 2 * side), kNavigationBarHeight};
  if (item->titleView) {
    item->titleView->frame = title_frame;
    addSubview(bar, item->titleView);
  } else if (!large && !title.empty()) {
    Strong<UILabel> label =
        newLabel(title, systemFont(17, UIFontWeightSemibold), namedColor("labelColor"));
    label->textAlignment = NSTextAlignmentCenter;
    label->frame = title_frame;
    addSubview(bar, label);
  }
  bar->frame.height = kNavigationBarHeight;
  if (large) {
    Strong<UILabel> label =
        newLabel(title, systemFont(34, UIFontWeightBold), namedColor("labelColor"));
    label->frame = CGRect{16, kNavigationBarHeight, width - 32, kLargeTitleHeight - 8};
    addSubview(bar, label);
    bar->frame.height += kLargeTitleHeight;
  }
}

}  // namespace uikit
