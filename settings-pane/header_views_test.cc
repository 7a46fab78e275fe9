#include "settings-pane/header_views.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/preferences/ps_list_controller.h"
#include "platform/uikit/uikit.h"
#include "settings-pane/pane_test_support.h"

namespace {

using namespace pane_test;

// Replaces a method for the life of the object and puts the old one back.
class Replacement {
 public:
  Replacement(Class cls, SEL sel, IMP imp, const std::type_info& types)
      : cls_(cls), sel_(sel), types_(types), old_(class_replaceMethod(cls, sel, imp, types)) {}
  ~Replacement() { class_replaceMethod(cls_, sel_, old_, types_); }
  IMP old() const { return old_; }

 private:
  Class cls_;
  SEL sel_;
  const std::type_info& types_;
  IMP old_;
};

// Every +[NSLayoutConstraint activateConstraints:] call while one lives.
struct ActivationRecorder {
  static inline std::vector<std::vector<NSLayoutConstraint*>> calls;
  static inline IMP original = nullptr;

  ActivationRecorder()
      : replacement(object_getClass(uikit::layoutConstraintClass()), "activateConstraints:"_sel,
                    reinterpret_cast<IMP>(+[](id self, SEL sel, id list) {
                      std::vector<NSLayoutConstraint*> call;
                      for (const auto& c : static_cast<NSArray*>(list)->items) {
                        call.push_back(static_cast<NSLayoutConstraint*>(c.get()));
                      }
                      calls.push_back(call);
                      reinterpret_cast<void (*)(id, SEL, id)>(original)(self, sel, list);
                    }),
                    objc::signature<void, id>()) {
    calls.clear();
    original = replacement.old();
  }
  Replacement replacement;
};

using HeaderViewsTest = PaneTest;

TEST_F(HeaderViewsTest, TheNavigationBarCarriesTheAccentSwitchAndTheBoldTitle) {
  auto pane = openPane();
  id navigationItem = msg<id>(pane, "navigationItem"_sel);
  UIBarButtonItem* item = pane->item;
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(msg<id>(navigationItem, "rightBarButtonItem"_sel), static_cast<id>(item));
  EXPECT_EQ(item->customView.get(), static_cast<UIView*>(pane->enableSwitch));

  const std::string accent = "rgba(1.000,0.412,0.706,1.000)";
  EXPECT_EQ(uikit::describeColor(pane->enableSwitch->tintColor), accent);
  EXPECT_EQ(uikit::describeColor(pane->enableSwitch->onTintColor), accent);
  ASSERT_EQ(pane->enableSwitch->targets.size(), 1u);
  EXPECT_EQ(pane->enableSwitch->targets[0].target, pane.get());
  EXPECT_EQ(pane->enableSwitch->targets[0].action, "enableSwitchChanged"_sel);
  EXPECT_EQ(pane->enableSwitch->targets[0].events, 4096ul);

  UILabel* title = pane->titleLabel;
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(uikit::labelText(title), "Velmo");
  EXPECT_EQ(uikit::describe(title->font), "bold 18");
  EXPECT_EQ(uikit::describeColor(title->textColor), "labelColor");
  EXPECT_EQ(title->textAlignment, NSTextAlignmentCenter);
  EXPECT_FALSE(title->translatesAutoresizingMaskIntoConstraints);
  id titleView = msg<id>(navigationItem, "titleView"_sel);
  EXPECT_EQ(static_cast<UIView*>(title)->superview, titleView);
}

TEST_F(HeaderViewsTest, TheHeaderShowsTheImageAspectFitWithASoftShadowCentred) {
  auto pane = openPane();
  UIView* header = pane->headerView;
  UIImageView* image = pane->headerImageView;
  ASSERT_NE(header, nullptr);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(header->frame, CGRectMake(0, 0, 200, 150));
  EXPECT_EQ(static_cast<UIView*>(image)->superview, header);
  ASSERT_NE(image->image.get(), nullptr);
  EXPECT_EQ(image->image->fileName, "velmo.png");
  EXPECT_EQ(image->contentMode, UIViewContentModeScaleAspectFit);
  EXPECT_FALSE(image->translatesAutoresizingMaskIntoConstraints);
  EXPECT_EQ(uikit::describeLayer(msg<id>(image, "layer"_sel)),
            "layer shadow labelColor offset 0x0 opacity 0.3 radius 10");

  msg<void>(header, "layoutIfNeeded"_sel);
  EXPECT_EQ(image->frame, CGRectMake(37.5, 12.5, 125, 125));
}

TEST_F(HeaderViewsTest, AMissingImageLeavesAnEmptyAreaCentredInTheHeader) {
  std::string png = device::devicePath(std::string(kBundlePath) + "/velmo.png");
  fs::rename(png, png + ".away");
  auto pane = openPane();
  fs::rename(png + ".away", png);

  UIImageView* image = pane->headerImageView;
  EXPECT_EQ(image->image.get(), nullptr);
  msg<void>(pane->headerView, "layoutIfNeeded"_sel);
  EXPECT_EQ(image->frame, CGRectMake(37.5, 12.5, 125, 125));
  EXPECT_EQ(pane->headerView->frame, CGRectMake(0, 0, 200, 150));
}

TEST_F(HeaderViewsTest, TheEightConstraintsAreActivatedInOrderInOneCall) {
  ActivationRecorder recorder;
  auto pane = openPane();
  ASSERT_EQ(ActivationRecorder::calls.size(), 1u);
  const auto& made = ActivationRecorder::calls[0];
  ASSERT_EQ(made.size(), 8u);

  UIView* title = pane->titleLabel;
  UIView* titleView =
      static_cast<UIView*>(msg<id>(msg<id>(pane, "navigationItem"_sel), "titleView"_sel));
  UIView* image = pane->headerImageView;
  UIView* header = pane->headerView;
  struct Expected {
    UIView* first;
    long firstAttribute;
    UIView* second;
    long secondAttribute;
    double constant;
  };
  const Expected expected[] = {
      {title, NSLayoutAttributeTop, titleView, NSLayoutAttributeTop, 0},
      {title, NSLayoutAttributeLeading, titleView, NSLayoutAttributeLeading, 0},
      {title, NSLayoutAttributeTrailing, titleView, NSLayoutAttributeTrailing, 0},
      {title, NSLayoutAttributeBottom, titleView, NSLayoutAttributeBottom, 0},
      {image, NSLayoutAttributeWidth, nullptr, NSLayoutAttributeNotAnAttribute, 125},
      {image, NSLayoutAttributeHeight, nullptr, NSLayoutAttributeNotAnAttribute, 125},
      {image, NSLayoutAttributeCenterX, header, NSLayoutAttributeCenterX, 0},
      {image, NSLayoutAttributeCenterY, header, NSLayoutAttributeCenterY, 0},
  };
  for (size_t i = 0; i < 8; ++i) {
    SCOPED_TRACE("constraint " + std::to_string(i + 1));
    EXPECT_EQ(made[i]->firstItem, expected[i].first);
    EXPECT_EQ(made[i]->firstAttribute, expected[i].firstAttribute);
    EXPECT_EQ(made[i]->secondItem, expected[i].second);
    EXPECT_EQ(made[i]->secondAttribute, expected[i].secondAttribute);
    EXPECT_EQ(made[i]->constant, expected[i].constant);
    EXPECT_EQ(made[i]->multiplier, 1);
    EXPECT_TRUE(made[i]->active);
    EXPECT_EQ(made[i]->activation, made[0]->activation);
  }
}

// A base class that fails to initialise: -[PSListController init] releases
// the new object and answers nil, as a failing init does.
id failingInit(id self, SEL) {
  objc_release(self);
  return nullptr;
}

TEST_F(HeaderViewsTest, WhenTheBaseClassInitAnswersNilNoViewIsBuilt) {
  static int viewsMade = 0;
  static IMP viewInit = nullptr;
  viewsMade = 0;
  Replacement countViews(uikit::viewClass(), "initWithFrame:"_sel,
                         reinterpret_cast<IMP>(+[](id self, SEL sel, CGRect frame) -> id {
                           ++viewsMade;
                           return reinterpret_cast<id (*)(id, SEL, CGRect)>(viewInit)(self, sel,
                                                                                      frame);
                         }),
                         objc::signature<id, CGRect>());
  viewInit = countViews.old();
  unsigned long activations = uikit::lastActivation();
  {
    Replacement failing(preferences::listControllerClass(), "init"_sel,
                        reinterpret_cast<IMP>(&failingInit), objc::signature<id>());
    Strong<objc_object> pane = allocInit(objc_getClass("VLPRootListController"));
    EXPECT_EQ(pane.get(), nullptr);
  }
  EXPECT_EQ(viewsMade, 0);
  EXPECT_EQ(uikit::lastActivation(), activations);

  // The count is real: a pane that initialises makes its views.
  auto pane = openPane();
  EXPECT_GE(viewsMade, 5);
}

}  // namespace
