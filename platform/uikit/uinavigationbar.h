// UIButton (a UIControl) and UINavigationBar (a UIView).
//
// UIButton: a tappable title, optionally led by a symbol image (the back
// button's chevron), centred in the button. -titleLabel (a UILabel, its
// subview), -imageView (a UIImageView, its subview, shown when it has an
// image). A touch sends its touch-up-inside actions. uikit::newButton makes one; its
// -layoutSubviews puts the image and the title side by side, centred vertically.
//
// UINavigationBar: the bar at the top of a navigation controller's view. It
// shows the top view controller's navigation item: a back button (a UIButton
// titled with the previous controller's title, accessibility identifier
// "BackButton") when the stack has more than one controller, the title (a
// UILabel, semibold 17, centred) or the item's titleView in its place, the
// right bar button item's custom view at the trailing edge, and, at the root
// of a stack whose bar prefers large titles, the title again as a large bold
// label below the bar's 44-point row. uikit::updateNavigationBar rebuilds the
// bar's subviews from a navigation controller's stack.
//
// Ownership: a bar keeps its subviews only; the title view and the custom
// views stay owned by their navigation items as well.
//
// Thread safety: main thread only.
#pragma once

#include <string>

#include "platform/uikit/uicontrol.h"
#include "platform/uikit/uiimageview.h"
#include "platform/uikit/uilabel.h"

struct UIButton : UIControl {
  Strong<UILabel> titleLabel;
  Strong<UIImageView> imageView;
};

struct UINavigationBar : UIView {
  bool prefersLargeTitles = false;
};

namespace uikit {

Class buttonClass();
Class navigationBarClass();

// Height of the bar's row of buttons and title, and of the large title below it.
inline constexpr double kNavigationBarHeight = 44;
inline constexpr double kLargeTitleHeight = 52;

// A new button titled `title` in the tint colour, with the symbol
// `symbol_name` before the title ("" for none); owned by the caller.
Strong<UIButton> newButton(const std::string& title, const std::string& symbol_name);

// Rebuilds `bar`'s subviews for the top of `navigation`'s stack and sets the
// bar's height (with or without the large title). Layout still has to run.
void updateNavigationBar(UINavigationBar* bar, id navigation);

}  // namespace uikit
