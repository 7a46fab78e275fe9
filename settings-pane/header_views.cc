#include "settings-pane/header_views.h"

#include "runtime/geometry.h"
#include "runtime/literal.h"
#include "runtime/message.h"
#include "runtime/strong.h"

namespace vlp {
namespace {

// UIKit's values for the controls' settings.
constexpr unsigned long UIControlEventValueChanged = 1 << 12;
constexpr long NSTextAlignmentCenter = 1;
constexpr long UIViewContentModeScaleAspectFit = 1;

NSString* headerImagePath() {
  return "/var/jb/Library/PreferenceBundles/VelmoPreferences.bundle/velmo.png"_ns;
}

Strong<objc_object> allocInit(const char* className) {
  return adopt(msg<id>(msg<id>(objc_getClass(className), "alloc"_sel), "init"_sel));
}

Strong<objc_object> makeView(const char* className, CGRect frame) {
  return adopt(
      msg<id>(msg<id>(objc_getClass(className), "alloc"_sel), "initWithFrame:"_sel, frame));
}

id labelColor() { return msg<id>(objc_getClass("UIColor"), "labelColor"_sel); }

id anchor(id view, SEL which) { return msg<id>(view, which); }

id equal(id view, SEL which, id other, SEL other_which) {
  return msg<id>(anchor(view, which), "constraintEqualToAnchor:"_sel, anchor(other, other_which));
}

id equalConstant(id view, SEL which, double constant) {
  return msg<id>(anchor(view, which), "constraintEqualToConstant:"_sel, constant);
}

}  // namespace

id accentColor() {
  return msg<id>(objc_getClass("UIColor"), "colorWithRed:green:blue:alpha:"_sel, 1.0, 105.0 / 255.0,
                 180.0 / 255.0, 1.0);
}

void buildHeaderViews(id self) {
  id navigationItem = msg<id>(self, "navigationItem"_sel);

  // The navigation bar's title view, empty until the title label joins it.
  Strong<objc_object> titleView = allocInit("UIView");
  msg<void>(navigationItem, "setTitleView:"_sel, static_cast<id>(titleView));

  // The master switch, in the accent colour.
  msg<void>(self, "setEnableSwitch:"_sel, static_cast<id>(allocInit("UISwitch")));
  id enableSwitch = msg<id>(self, "enableSwitch"_sel);
  msg<void>(enableSwitch, "addTarget:action:forControlEvents:"_sel, self, "enableSwitchChanged"_sel,
            UIControlEventValueChanged);
  msg<void>(enableSwitch, "setTintColor:"_sel, accentColor());
  msg<void>(enableSwitch, "setOnTintColor:"_sel, accentColor());

  // The bar item that carries the switch.
  Strong<objc_object> item = adopt(msg<id>(msg<id>(objc_getClass("UIBarButtonItem"), "alloc"_sel),
                                           "initWithCustomView:"_sel, enableSwitch));
  msg<void>(self, "setItem:"_sel, static_cast<id>(item));
  msg<void>(navigationItem, "setRightBarButtonItem:"_sel, msg<id>(self, "item"_sel));

  // The title.
  msg<void>(self, "setTitleLabel:"_sel,
            static_cast<id>(makeView("UILabel", CGRectMake(0, 0, 10, 10))));
  id titleLabel = msg<id>(self, "titleLabel"_sel);
  msg<void>(titleLabel, "setTextColor:"_sel, labelColor());
  msg<void>(titleLabel, "setFont:"_sel,
            msg<id>(objc_getClass("UIFont"), "boldSystemFontOfSize:"_sel, 18.0));
  msg<void>(titleLabel, "setTranslatesAutoresizingMaskIntoConstraints:"_sel, NO);
  msg<void>(titleLabel, "setText:"_sel, static_cast<id>("Velmo"_ns));
  msg<void>(titleLabel, "setTextAlignment:"_sel, NSTextAlignmentCenter);
  msg<void>(msg<id>(navigationItem, "titleView"_sel), "addSubview:"_sel, titleLabel);

  // The header and its image, shadowed in the label colour.
  msg<void>(self, "setHeaderView:"_sel,
            static_cast<id>(makeView("UIView", CGRectMake(0, 0, 200, 150))));
  msg<void>(self, "setHeaderImageView:"_sel,
            static_cast<id>(makeView("UIImageView", CGRectMake(0, 0, 200, 150))));
  id headerView = msg<id>(self, "headerView"_sel);
  id headerImageView = msg<id>(self, "headerImageView"_sel);
  id image = msg<id>(objc_getClass("UIImage"), "imageWithContentsOfFile:"_sel,
                     static_cast<id>(headerImagePath()));
  msg<void>(headerImageView, "setImage:"_sel, image);
  msg<void>(headerImageView, "setTranslatesAutoresizingMaskIntoConstraints:"_sel, NO);
  msg<void>(headerImageView, "setContentMode:"_sel, UIViewContentModeScaleAspectFit);
  id layer = msg<id>(headerImageView, "layer"_sel);
  msg<void>(layer, "setShadowColor:"_sel, msg<id>(labelColor(), "CGColor"_sel));
  msg<void>(layer, "setShadowOffset:"_sel, CGSizeMake(0, 0));
  msg<void>(layer, "setShadowOpacity:"_sel, 0.3f);
  msg<void>(layer, "setShadowRadius:"_sel, 10.0);
  msg<void>(headerView, "addSubview:"_sel, headerImageView);

  // The title fills its title view; the image is 125x125, centred in the header.
  id titleViewNow = msg<id>(navigationItem, "titleView"_sel);
  id constraints[] = {
      equal(titleLabel, "topAnchor"_sel, titleViewNow, "topAnchor"_sel),
      equal(titleLabel, "leadingAnchor"_sel, titleViewNow, "leadingAnchor"_sel),
      equal(titleLabel, "trailingAnchor"_sel, titleViewNow, "trailingAnchor"_sel),
      equal(titleLabel, "bottomAnchor"_sel, titleViewNow, "bottomAnchor"_sel),
      equalConstant(headerImageView, "widthAnchor"_sel, 125),
      equalConstant(headerImageView, "heightAnchor"_sel, 125),
      equal(headerImageView, "centerXAnchor"_sel, headerView, "centerXAnchor"_sel),
      equal(headerImageView, "centerYAnchor"_sel, headerView, "centerYAnchor"_sel),
  };
  id list =
      msg<id>(objc_getClass("NSArray"), "arrayWithObjects:count:"_sel,
              static_cast<const id*>(constraints), sizeof constraints / sizeof constraints[0]);
  msg<void>(objc_getClass("NSLayoutConstraint"), "activateConstraints:"_sel, list);
}

}  // namespace vlp
