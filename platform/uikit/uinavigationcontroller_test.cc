#include "platform/uikit/uinavigationcontroller.h"

#include <gtest/gtest.h>

#include "platform/foundation/collections.h"
#include "platform/foundation/nsstring.h"

namespace {

using Op = UINavigationController::Operation;

Strong<UIViewController> controller(const char* title) {
  auto vc = allocInit<UIViewController>(uikit::viewControllerClass());
  msg<void>(vc, "setTitle:"_sel, foundation::makeString(title));
  return vc;
}

Strong<UINavigationController> navigation(id root) {
  id nav = msg<id>(uikit::navigationControllerClass(), "alloc"_sel);
  return adopt(
      static_cast<UINavigationController*>(msg<id>(nav, "initWithRootViewController:"_sel, root)));
}

std::string where(UINavigationController* nav) { return uikit::describeStack(nav); }

TEST(NavigationController, PushPopAndPopToRoot) {
  objc::AutoreleasePool pool;
  auto albums = controller("Albums");
  auto nav = navigation(albums);
  EXPECT_EQ(msg<id>(albums, "navigationController"_sel), nav.get());
  EXPECT_EQ(msg<id>(nav, "navigationController"_sel), nullptr);

  auto hidden = controller("Hidden");
  auto photo = controller("Photo");
  msg<void>(nav, "pushViewController:animated:"_sel, static_cast<id>(hidden.get()), YES);
  msg<void>(nav, "pushViewController:animated:"_sel, static_cast<id>(photo.get()), YES);
  EXPECT_EQ(where(nav), "Albums > Hidden > Photo");
  EXPECT_EQ(msg<id>(nav, "topViewController"_sel), photo.get());
  EXPECT_EQ(msg<id>(hidden, "navigationController"_sel), nav.get());
  EXPECT_EQ(nav->lastOperation, Op::kPush);
  EXPECT_TRUE(nav->lastAnimated);

  // Pushing what is already on the stack changes nothing.
  msg<void>(nav, "pushViewController:animated:"_sel, static_cast<id>(hidden.get()), NO);
  EXPECT_EQ(where(nav), "Albums > Hidden > Photo");

  EXPECT_EQ(msg<id>(nav, "popViewControllerAnimated:"_sel, YES), photo.get());
  EXPECT_EQ(msg<id>(photo, "navigationController"_sel), nullptr);
  msg<void>(nav, "pushViewController:animated:"_sel, static_cast<id>(photo.get()), NO);

  id popped = msg<id>(nav, "popToRootViewControllerAnimated:"_sel, NO);
  ASSERT_EQ(msg<unsigned long>(popped, "count"_sel), 2u);
  EXPECT_EQ(msg<id>(popped, "objectAtIndex:"_sel, 0ul), hidden.get());
  EXPECT_EQ(msg<id>(popped, "objectAtIndex:"_sel, 1ul), photo.get());
  EXPECT_EQ(where(nav), "Albums");
  EXPECT_EQ(nav->lastOperation, Op::kPopToRoot);
  EXPECT_FALSE(nav->lastAnimated);  // "popped without animation"
  EXPECT_EQ(msg<id>(hidden, "navigationController"_sel), nullptr);

  // At the root nothing more comes off.
  EXPECT_EQ(msg<id>(nav, "popViewControllerAnimated:"_sel, YES), nullptr);
  EXPECT_EQ(
      msg<unsigned long>(msg<id>(nav, "popToRootViewControllerAnimated:"_sel, YES), "count"_sel),
      0u);
  EXPECT_EQ(where(nav), "Albums");
}

TEST(NavigationController, PoppedControllerOutlivesThePop) {
  auto nav = navigation(controller("Albums"));
  UIViewController* raw = nullptr;
  {
    objc::AutoreleasePool pool;
    msg<void>(nav, "pushViewController:animated:"_sel, static_cast<id>(controller("Hidden").get()),
              YES);
    id popped = msg<id>(nav, "popViewControllerAnimated:"_sel, NO);
    raw = static_cast<UIViewController*>(popped);
    // Only the pool keeps it now, and it is still whole.
    EXPECT_EQ(uikit::controllerName(raw), "Hidden");
    EXPECT_EQ(objc_retainCount(popped), 1);
  }
}

TEST(NavigationController, ChildrenOfStackedControllersFindIt) {
  objc::AutoreleasePool pool;
  auto container = controller("Library");
  auto gadget = allocInit<UIViewController>(uikit::viewControllerClass());
  msg<void>(container, "addChildViewController:"_sel, static_cast<id>(gadget.get()));
  EXPECT_EQ(msg<id>(gadget, "navigationController"_sel), nullptr);
  auto nav = navigation(container);
  EXPECT_EQ(msg<id>(gadget, "navigationController"_sel), nav.get());
  EXPECT_EQ(msg<id>(gadget, "parentViewController"_sel), container.get());
  EXPECT_EQ(uikit::controllerName(gadget), "UIViewController");

  // A navigation controller that goes away leaves no dangling parent behind.
  nav = nullptr;
  EXPECT_EQ(msg<id>(container, "parentViewController"_sel), nullptr);
  EXPECT_EQ(msg<id>(gadget, "navigationController"_sel), nullptr);
}

// A controller whose -loadView and -viewDidLoad are overridden, as a subclass would.
struct CountingController : UIViewController {
  int loads = 0;
  int didLoads = 0;
};

Class countingClass() {
  static Class cls = [] {
    Class c = objc::defineClass<CountingController>("TestCountingController",
                                                    uikit::viewControllerClass());
    addMethod(
        c, "loadView"_sel, +[](id self, SEL) {
          ++static_cast<CountingController*>(self)->loads;
          static_cast<UIViewController*>(self)->view =
              uikit::newView(uikit::viewClass(), CGRectMake(0, 0, 10, 10));
        });
    addMethod(
        c, "viewDidLoad"_sel, +[](id self, SEL) {
          msgSuper<void>(uikit::viewControllerClass(), self, "viewDidLoad"_sel);
          auto* vc = static_cast<CountingController*>(self);
          EXPECT_EQ(vc->loads, 1);  // the view exists by now
          ++vc->didLoads;
        });
    return c;
  }();
  return cls;
}

TEST(ViewController, ViewLoadsOnceOnFirstUse) {
  objc::AutoreleasePool pool;
  auto vc = allocInit<CountingController>(countingClass());
  EXPECT_FALSE(msg<BOOL>(vc, "isViewLoaded"_sel));
  id view = msg<id>(vc, "view"_sel);
  EXPECT_EQ(msg<id>(vc, "view"_sel), view);
  EXPECT_TRUE(msg<BOOL>(vc, "isViewLoaded"_sel));
  EXPECT_EQ(vc->loads, 1);
  EXPECT_EQ(vc->didLoads, 1);

  auto plain = allocInit<UIViewController>(uikit::viewControllerClass());
  EXPECT_NE(msg<id>(plain, "view"_sel), nullptr);
}

TEST(ViewController, NavigationItemFollowsTheTitle) {
  objc::AutoreleasePool pool;
  auto vc = controller("Velmo");
  id item = msg<id>(vc, "navigationItem"_sel);
  EXPECT_EQ(foundation::stdString(msg<id>(item, "title"_sel)), "Velmo");
  msg<void>(vc, "setTitle:"_sel, "Other"_ns);
  EXPECT_EQ(foundation::stdString(msg<id>(item, "title"_sel)), "Other");
  EXPECT_EQ(msg<id>(vc, "navigationItem"_sel), item);
}

}  // namespace
