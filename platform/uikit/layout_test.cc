#include "platform/uikit/layout.h"

#include <gtest/gtest.h>

#include "platform/foundation/collections.h"
#include "platform/uikit/uiimageview.h"
#include "platform/uikit/uilabel.h"

namespace {

using uikit::newView;

id equal(id view, SEL mine, id other, SEL theirs) {
  return msg<id>(msg<id>(view, mine), "constraintEqualToAnchor:"_sel, msg<id>(other, theirs));
}

id equalConstant(id view, SEL mine, double constant) {
  return msg<id>(msg<id>(view, mine), "constraintEqualToConstant:"_sel, constant);
}

TEST(Layout, ImageCentredInHeader) {
  objc::AutoreleasePool pool;
  auto header = newView(uikit::viewClass(), CGRectMake(0, 0, 200, 150));
  auto image = newView(uikit::imageViewClass(), CGRectMake(0, 0, 200, 150));
  msg<void>(image, "setTranslatesAutoresizingMaskIntoConstraints:"_sel, NO);
  msg<void>(header, "addSubview:"_sel, image.get());
  auto list = foundation::newArray({
      equalConstant(image, "widthAnchor"_sel, 125),
      equalConstant(image, "heightAnchor"_sel, 125),
      equal(image, "centerXAnchor"_sel, header, "centerXAnchor"_sel),
      equal(image, "centerYAnchor"_sel, header, "centerYAnchor"_sel),
  });
  unsigned long before = uikit::lastActivation();
  msg<void>(objc::requireClass("NSLayoutConstraint"), "activateConstraints:"_sel, list.get());
  for (auto& item : list->items) {
    auto* c = static_cast<NSLayoutConstraint*>(item.get());
    EXPECT_TRUE(msg<BOOL>(c, "isActive"_sel));
    EXPECT_EQ(c->activation, before + 1);  // all in one activation
    EXPECT_EQ(c->firstItem, image.get());
  }
  auto* centre = static_cast<NSLayoutConstraint*>(list->items[2].get());
  EXPECT_EQ(centre->secondItem, header.get());
  EXPECT_EQ(centre->firstAttribute, NSLayoutAttributeCenterX);
  EXPECT_EQ(centre->secondAttribute, NSLayoutAttributeCenterX);
  EXPECT_EQ(msg<double>(list->items[0], "constant"_sel), 125);

  msg<void>(header, "layoutIfNeeded"_sel);
  EXPECT_EQ(image->frame, CGRectMake(37.5, 12.5, 125, 125));
  EXPECT_EQ(header->frame, CGRectMake(0, 0, 200, 150));  // placed by its frame, not moved
}

TEST(Layout, LabelFillsItsTitleView) {
  objc::AutoreleasePool pool;
  auto title_view = newView(uikit::viewClass(), CGRectMake(10, 5, 120, 44));
  auto label = newView(uikit::labelClass(), CGRectMake(0, 0, 10, 10));
  msg<void>(label, "setTranslatesAutoresizingMaskIntoConstraints:"_sel, NO);
  msg<void>(title_view, "addSubview:"_sel, label.get());
  auto list = foundation::newArray({
      equal(label, "topAnchor"_sel, title_view, "topAnchor"_sel),
      equal(label, "leadingAnchor"_sel, title_view, "leadingAnchor"_sel),
      equal(label, "trailingAnchor"_sel, title_view, "trailingAnchor"_sel),
      equal(label, "bottomAnchor"_sel, title_view, "bottomAnchor"_sel),
  });
  msg<void>(uikit::layoutConstraintClass(), "activateConstraints:"_sel, list.get());
  EXPECT_EQ(uikit::layoutSubtree(title_view), std::vector<std::string>{});
  EXPECT_EQ(label->frame, CGRectMake(0, 0, 120, 44));  // in the title view's own coordinates
}

TEST(Layout, SiblingsAndReversedConstraints) {
  objc::AutoreleasePool pool;
  auto root = newView(uikit::viewClass(), CGRectMake(0, 0, 300, 100));
  auto a = newView(uikit::viewClass(), CGRectMake(20, 10, 50, 50));  // placed by its frame
  auto b = newView(uikit::viewClass(), CGRectZero);
  msg<void>(b, "setTranslatesAutoresizingMaskIntoConstraints:"_sel, NO);
  msg<void>(root, "addSubview:"_sel, a.get());
  msg<void>(root, "addSubview:"_sel, b.get());
  // b.leading = a.trailing + 8; root.bottom = b.bottom (b named second); b.width = a.width;
  // b.height = 30.
  auto list = foundation::newArray({
      msg<id>(msg<id>(b, "leadingAnchor"_sel), "constraintEqualToAnchor:constant:"_sel,
              msg<id>(a, "trailingAnchor"_sel), 8.0),
      equal(root, "bottomAnchor"_sel, b, "bottomAnchor"_sel),
      equal(b, "widthAnchor"_sel, a, "widthAnchor"_sel),
      equalConstant(b, "heightAnchor"_sel, 30),
  });
  msg<void>(uikit::layoutConstraintClass(), "activateConstraints:"_sel, list.get());
  EXPECT_EQ(uikit::layoutSubtree(root), std::vector<std::string>{});
  EXPECT_EQ(b->frame, CGRectMake(78, 70, 50, 30));
  EXPECT_EQ(a->frame, CGRectMake(20, 10, 50, 50));
}

TEST(Layout, ConflictsAreReportedAndTheFirstKept) {
  objc::AutoreleasePool pool;
  auto root = newView(uikit::viewClass(), CGRectMake(0, 0, 300, 100));
  auto v = newView(uikit::viewClass(), CGRectZero);
  msg<void>(v, "setTranslatesAutoresizingMaskIntoConstraints:"_sel, NO);
  msg<void>(root, "addSubview:"_sel, v.get());
  msg<void>(equalConstant(v, "widthAnchor"_sel, 100), "setActive:"_sel, YES);
  msg<void>(equalConstant(v, "widthAnchor"_sel, 50), "setActive:"_sel, YES);
  auto problems = uikit::layoutSubtree(root);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("conflicting constraints on width"), std::string::npos);
  EXPECT_EQ(v->frame.width, 100);

  // A constraint to a view outside the hierarchy is reported, not used.
  auto stranger = newView(uikit::viewClass(), CGRectMake(5, 5, 5, 5));
  msg<void>(equal(v, "topAnchor"_sel, stranger, "topAnchor"_sel), "setActive:"_sel, YES);
  problems = uikit::layoutSubtree(root);
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_NE(problems[1].find("outside its view hierarchy"), std::string::npos);
  EXPECT_EQ(v->frame.y, 0);
}

TEST(Layout, ConstraintsForgetViewsThatGoAway) {
  Strong<objc_object> kept;
  auto root = newView(uikit::viewClass(), CGRectMake(0, 0, 100, 100));
  {
    objc::AutoreleasePool pool;
    auto child = newView(uikit::viewClass(), CGRectZero);
    msg<void>(root, "addSubview:"_sel, child.get());
    kept = equal(root, "topAnchor"_sel, child, "topAnchor"_sel);
    msg<void>(kept, "setActive:"_sel, YES);
    EXPECT_EQ(msg<id>(kept, "secondItem"_sel), child.get());
    msg<void>(child, "removeFromSuperview"_sel);  // drops the constraint to the old superview
    EXPECT_FALSE(msg<BOOL>(kept, "isActive"_sel));
  }
  // The child is gone; the constraint no longer names it.
  EXPECT_EQ(msg<id>(kept, "secondItem"_sel), nullptr);
  EXPECT_EQ(msg<id>(kept, "firstItem"_sel), root.get());
  root = nullptr;
  EXPECT_EQ(msg<id>(kept, "firstItem"_sel), nullptr);
}

TEST(Layout, ViewsKeepTheirActiveConstraintsAndFreeThem) {
  objc::AutoreleasePool pool;
  auto v = newView(uikit::viewClass(), CGRectZero);
  NSLayoutConstraint* raw = nullptr;
  {
    objc::AutoreleasePool inner;
    id c = equalConstant(v, "widthAnchor"_sel, 10);
    msg<void>(c, "setActive:"_sel, YES);
    raw = static_cast<NSLayoutConstraint*>(c);
  }
  ASSERT_EQ(v->constraints.size(), 1u);
  EXPECT_EQ(v->constraints[0].get(), raw);  // alive: the view keeps it
  msg<void>(raw, "setActive:"_sel, NO);
  EXPECT_TRUE(v->constraints.empty());
  EXPECT_TRUE(v->referencing.empty());  // freed with its last reference
}

TEST(LayoutDeathTest, AnchorsOfDifferentAxesAbort) {
  objc::AutoreleasePool pool;
  auto v = newView(uikit::viewClass(), CGRectZero);
  EXPECT_DEATH(equal(v, "topAnchor"_sel, v, "leadingAnchor"_sel), "different axes");
}

}  // namespace
