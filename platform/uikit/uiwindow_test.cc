#include "platform/uikit/uiwindow.h"

#include <gtest/gtest.h>

#include "platform/foundation/nsstring.h"
#include "platform/uikit/uikit.h"

namespace {

const uikit::Screen kPhone = uikit::screenForModel("iPhone");

Strong<UIViewController> titled(const char* title) {
  auto vc = allocInit<UIViewController>(uikit::viewControllerClass());
  msg<void>(vc, "setTitle:"_sel, static_cast<id>(foundation::makeString(title)));
  return vc;
}

Strong<UINavigationController> navigationWith(UIViewController* root) {
  return adopt(static_cast<UINavigationController*>(
      msg<id>(msg<id>(uikit::navigationControllerClass(), "alloc"_sel),
              "initWithRootViewController:"_sel, static_cast<id>(root))));
}

TEST(Window, NavigationBarShowsTheStacksTopAndTheBackButtonNamesTheOneBelow) {
  objc::AutoreleasePool pool;
  auto albums = titled("Albums");
  auto nav = navigationWith(albums);
  msg<void>(msg<id>(nav, "navigationBar"_sel), "setPrefersLargeTitles:"_sel, YES);
  Strong<UIWindow> window = uikit::newWindow(nav, kPhone);
  uikit::layoutWindow(window);
  std::vector<std::string> lines = uikit::viewTreeLines(window);
  // At the root: a large title below the bar's row, and no back button.
  EXPECT_EQ(lines[0], "UIWindow (0, 0, 390, 844)");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "      UILabel (16, 91, 358, 44) \"Albums\""),
            lines.end());
  EXPECT_EQ(lines.back(), "  UIStatusBar (0, 0, 390, 47)") << "the status bar is on top";
  UIView* content = albums->view;
  EXPECT_EQ(uikit::frameInRoot(content), CGRectMake(0, 47 + 44 + 52, 390, 844 - 143));

  auto hidden = titled("Hidden");
  msg<void>(nav, "pushViewController:animated:"_sel, static_cast<id>(hidden.get()), NO);
  uikit::layoutWindow(window);
  lines = uikit::viewTreeLines(window);
  std::string all;
  for (const auto& line : lines) all += line + "\n";
  EXPECT_NE(all.find("      UIButton (8, 47, "), std::string::npos) << all;
  EXPECT_NE(all.find("\"Albums\""), std::string::npos) << "the back button names the list";
  EXPECT_NE(all.find("\"Hidden\""), std::string::npos);
  EXPECT_EQ(content->superview, nullptr) << "the list's view left the screen";
  EXPECT_EQ(uikit::frameInRoot(hidden->view), CGRectMake(0, 91, 390, 844 - 91));

  // A touch on the back button reaches the button, not the label in it.
  UIView* hit = uikit::hitTest(window, CGPoint{40, 69});
  ASSERT_NE(hit, nullptr);
  EXPECT_EQ(hit->accessibilityIdentifier, "BackButton");
  EXPECT_EQ(uikit::hitTest(window, CGPoint{200, 20}), static_cast<UIView*>(nav->view.get()))
      << "the status bar takes no touches: they reach what lies under it";
}

TEST(Window, ViewLinesIndentByDepthAndGiveScreenFrames) {
  objc::AutoreleasePool pool;
  Strong<UIView> root = uikit::newView(uikit::viewClass(), CGRect{0, 0, 100, 100});
  Strong<UIView> box = uikit::newView(uikit::viewClass(), CGRect{10, 20, 50, 50});
  Strong<UILabel> label = uikit::newLabel("hi \"there\"\nC:\\", nullptr, nullptr);
  label->frame = CGRect{5, 5, 30, 10.5};
  label->hidden = true;
  uikit::addSubview(root, box);
  uikit::addSubview(box, label);
  EXPECT_EQ(
      uikit::viewTreeLines(root),
      (std::vector<std::string>{"UIView (0, 0, 100, 100)", "  UIView (10, 20, 50, 50)",
                                "    UILabel (15, 25, 30, 10.5) \"hi \\\"there\\\"\\nC:\\\\\" "
                                "hidden"}))
      << "a label's text stays on its line and ends at the closing quote";
}

}  // namespace
