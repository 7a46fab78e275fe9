#include "platform/uikit/render.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>

#include "platform/foundation/collections.h"
#include "platform/uikit/uikit.h"

namespace {

using uikit::Bitmap;
using uikit::newView;

constexpr double kScale = 3;
const uikit::Screen kScreen{{300, 200}, kScale, 0, false};

int red(uint32_t p) { return static_cast<int>(p >> 16 & 0xFF); }
int green(uint32_t p) { return static_cast<int>(p >> 8 & 0xFF); }
int blue(uint32_t p) { return static_cast<int>(p & 0xFF); }
bool isWhite(uint32_t p) { return (p & 0xFFFFFF) == 0xFFFFFF; }

// A white screen-sized root to draw views on.
Strong<UIView> newRoot() {
  Strong<UIView> root = newView(uikit::viewClass(), CGRect{0, 0, 300, 200});
  root->backgroundColor = uikit::namedColor("whiteColor");
  return root;
}

Bitmap draw(UIView* root) { return uikit::renderScreen({root}, kScreen); }

// The pixel at a point, in points.
uint32_t at(const Bitmap& b, double x, double y) {
  return b.at(static_cast<int>(x * kScale), static_cast<int>(y * kScale));
}

struct Box {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // pixels, inclusive
  bool empty() const { return right < 0; }
};

template <class Pred>
Box boxOf(const Bitmap& b, Pred pred) {
  Box box;
  for (int y = 0; y < b.height; ++y) {
    for (int x = 0; x < b.width; ++x) {
      if (!pred(b.at(x, y))) continue;
      box.left = std::min(box.left, x);
      box.right = std::max(box.right, x);
      box.top = std::min(box.top, y);
      box.bottom = std::max(box.bottom, y);
    }
  }
  return box;
}

// An opaque square picture of one colour.
Strong<UIImage> solidImage(int side, uint8_t r, uint8_t g, uint8_t b) {
  auto image = allocInit<UIImage>(uikit::imageClass());
  image->fileName = "solid.png";
  image->size = CGSize{static_cast<double>(side), static_cast<double>(side)};
  auto pixels = std::make_shared<std::vector<uint8_t>>();
  for (int i = 0; i < side * side; ++i) pixels->insert(pixels->end(), {r, g, b, 255});
  image->rgba = pixels;
  return image;
}

id equal(id view, SEL mine, id other, SEL theirs) {
  return msg<id>(msg<id>(view, mine), "constraintEqualToAnchor:"_sel, msg<id>(other, theirs));
}
id equalConstant(id view, SEL mine, double constant) {
  return msg<id>(msg<id>(view, mine), "constraintEqualToConstant:"_sel, constant);
}

// The pane's header: a 125-point image view centred by constraints in a
// 200 by 150 header at (50, 25), its layer casting the pane's shadow.
class HeaderDrawing : public ::testing::Test {
 protected:
  void build(UIImage* image) {
    header_ = newView(uikit::viewClass(), CGRect{50, 25, 200, 150});
    auto view = newView(uikit::imageViewClass(), CGRect{0, 0, 200, 150});
    auto* image_view = static_cast<UIImageView*>(view.get());
    image_view->image = image;
    image_view->contentMode = UIViewContentModeScaleAspectFit;
    image_view->translatesAutoresizingMaskIntoConstraints = false;
    CALayer* layer = uikit::layerOf(image_view);
    layer->shadowColor =
        static_cast<CGColor*>(msg<id>(uikit::namedColor("labelColor"), "CGColor"_sel));
    layer->shadowOffset = CGSizeZero;
    layer->shadowOpacity = 0.3f;
    layer->shadowRadius = 10;
    uikit::addSubview(header_, view);
    auto list = foundation::newArray({
        equalConstant(view, "widthAnchor"_sel, 125),
        equalConstant(view, "heightAnchor"_sel, 125),
        equal(view, "centerXAnchor"_sel, header_, "centerXAnchor"_sel),
        equal(view, "centerYAnchor"_sel, header_, "centerYAnchor"_sel),
    });
    msg<void>(objc::requireClass("NSLayoutConstraint"), "activateConstraints:"_sel, list.get());
    root_ = newRoot();
    uikit::addSubview(root_, header_);
    uikit::layoutSubtree(root_);
  }

  objc::AutoreleasePool pool_;
  Strong<UIView> root_;
  Strong<UIView> header_;
};

TEST_F(HeaderDrawing, ImageIs125PointsCentredWithASoftShadowAroundIt) {
  build(solidImage(64, 255, 0, 0));
  Bitmap b = draw(root_);
  Box image = boxOf(b, [](uint32_t p) { return red(p) > 200 && green(p) < 60 && blue(p) < 60; });
  ASSERT_FALSE(image.empty());
  // 125 points at scale 3 is 375 pixels, centred in the header (centre 150, 100).
  // Its edges fall on half pixels, which blend with the shadow.
  EXPECT_NEAR(image.right - image.left + 1, 375, 3);
  EXPECT_NEAR(image.bottom - image.top + 1, 375, 3);
  EXPECT_NEAR((image.left + image.right + 1) / 2.0, 150 * kScale, 1);
  EXPECT_NEAR((image.top + image.bottom + 1) / 2.0, 100 * kScale, 1);

  // Just outside the image the shadow darkens the white ground, fading outward.
  double edge = 150 + 62.5;
  uint32_t near = at(b, edge + 2, 100), farther = at(b, edge + 8, 100);
  EXPECT_LT(red(near), 245);
  EXPECT_LT(red(near), red(farther));
  EXPECT_EQ(red(near), green(near));  // grey: the label colour, not the image's red
  // Beyond 1.5 radius and a margin, nothing of it is left.
  EXPECT_TRUE(isWhite(at(b, edge + 18, 100)));
  EXPECT_TRUE(isWhite(at(b, 150, 100 - 62.5 - 18)));
  // Below the image as much as above it: the offset is zero.
  EXPECT_NEAR(red(at(b, 150, 100 + 62.5 + 3)), red(at(b, 150, 100 - 62.5 - 3)), 2);
}

TEST_F(HeaderDrawing, MissingImageLeavesTheAreaEmptyAndCastsNoShadow) {
  build(nullptr);
  Bitmap b = draw(root_);
  Box drawn = boxOf(b, [](uint32_t p) { return !isWhite(p); });
  EXPECT_TRUE(drawn.empty());
  // The area stays laid out: the image view still has its 125-point frame.
  auto* image_view = static_cast<UIImageView*>(header_->subviews[0].get());
  EXPECT_EQ(image_view->frame, CGRectMake(37.5, 12.5, 125, 125));
}

TEST(ImageDrawing, EachDecodedImageDrawsItsOwnPixelsAndItsSurfaceGoesWithIt) {
  objc::AutoreleasePool pool;
  auto drawn = [](UIImage* image) {
    Strong<UIView> root = newRoot();
    auto view = newView(uikit::imageViewClass(), CGRect{10, 10, 20, 20});
    static_cast<UIImageView*>(view.get())->image = image;
    uikit::addSubview(root, view);
    return at(draw(root), 20, 20);
  };
  Strong<UIImage> kept = solidImage(8, 0, 0, 255);
  EXPECT_EQ(drawn(kept) & 0xFFFFFF, 0x0000FFu);
  size_t before = uikit::imageSurfacesKept();
  // Pictures loaded afresh again and again (a pane opened over and over), each
  // freed before the next; a new one may take a freed one's memory, and must
  // still draw its own colour.
  for (int i = 0; i < 50; ++i) {
    bool red_one = i % 2 == 0;
    uint32_t colour = drawn(solidImage(8, red_one ? 255 : 0, red_one ? 0 : 255, 0));
    ASSERT_EQ(colour & 0xFFFFFF, red_one ? 0xFF0000u : 0x00FF00u) << "image " << i;
  }
  EXPECT_LE(uikit::imageSurfacesKept(), before + 1) << "surfaces of freed images are kept";
  EXPECT_EQ(drawn(kept) & 0xFFFFFF, 0x0000FFu) << "a live image keeps its surface";
}

TEST(PngEncoding, APictureThatCannotBeEncodedIsAnErrorAndWritesNothing) {
  uikit::Bitmap good{2, 1, {0xFF0000, 0x00FF00}};
  std::string bytes;
  EXPECT_EQ(uikit::encodePng(good, &bytes), "");
  EXPECT_EQ(bytes.substr(0, 4), "\x89PNG");

  uikit::Bitmap too_wide{40000, 1, std::vector<uint32_t>(40000)};  // beyond Cairo's limit
  uikit::Bitmap short_of_pixels{4, 4, std::vector<uint32_t>(3)};
  uikit::Bitmap empty;
  std::string path = ::testing::TempDir() + "/velmo-render-test-bad.png";
  std::filesystem::remove(path);
  for (const uikit::Bitmap* bad : {&too_wide, &short_of_pixels, &empty}) {
    bytes = "old";
    EXPECT_NE(uikit::encodePng(*bad, &bytes), "") << bad->width << "x" << bad->height;
    EXPECT_EQ(bytes, "");
    std::string error = uikit::writePng(*bad, path);
    EXPECT_NE(error.find("cannot encode"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(path));
  }
}

TEST(SwitchDrawing, TrackIsTheOnTintWhenOnAndThePlatformGreyWhenOff) {
  objc::AutoreleasePool pool;
  Strong<UIView> root = newRoot();
  auto control = allocInit<UISwitch>(uikit::switchClass());
  control->frame.x = 100;
  control->frame.y = 50;
  control->onTintColor =
      static_cast<UIColor*>(msg<id>(uikit::colorClass(), "colorWithRed:green:blue:alpha:"_sel, 1.0,
                                    105 / 255.0, 180 / 255.0, 1.0));
  uikit::addSubview(root, control);
  EXPECT_EQ(control->frame.width, 51);
  EXPECT_EQ(control->frame.height, 31);

  control->on = true;
  // The track shows left of the thumb when on.
  uint32_t track = at(draw(root), 100 + 8, 50 + 15.5);
  EXPECT_NEAR(red(track), 255, 2);
  EXPECT_NEAR(green(track), 105, 2);
  EXPECT_NEAR(blue(track), 180, 2);

  control->on = false;
  Bitmap off = draw(root);
  track = at(off, 100 + 43, 50 + 15.5);
  EXPECT_NEAR(red(track), 233, 3);
  EXPECT_NEAR(blue(track), 235, 3);
  // The thumb moved to the left end: white there.
  EXPECT_TRUE(isWhite(at(off, 100 + 15.5, 50 + 15.5)));
}

// Ink of a label's text drawn alone: the dark pixels and where they lie.
Box inkOf(UILabel* label, int* count) {
  Strong<UIView> root = newRoot();
  uikit::addSubview(root, label);
  Bitmap b = draw(root);
  *count = 0;
  for (uint32_t p : b.pixels) *count += red(p) < 128;
  return boxOf(b, [](uint32_t p) { return red(p) < 128; });
}

TEST(LabelDrawing, BoldTitleIsHeavierAndCentredAlignmentCentresIt) {
  objc::AutoreleasePool pool;
  auto make = [](bool bold) {
    id font = msg<id>(uikit::fontClass(),
                      bold ? "boldSystemFontOfSize:"_sel : "systemFontOfSize:"_sel, 18.0);
    Strong<UILabel> label = uikit::newLabel("Velmo", font, uikit::namedColor("labelColor"));
    label->frame = CGRect{20, 80, 260, 44};
    label->textAlignment = NSTextAlignmentCenter;
    return label;
  };
  int bold_ink = 0, regular_ink = 0, semibold_ink = 0;
  Box bold = inkOf(make(true), &bold_ink);
  inkOf(make(false), &regular_ink);
  ASSERT_FALSE(bold.empty());
  EXPECT_GT(bold_ink, regular_ink * 5 / 4) << "bold strokes cover more than regular ones";
  // A navigation bar's semibold title has a face of its own, between the two.
  Strong<UILabel> semibold = make(false);
  semibold->font = static_cast<UIFont*>(uikit::systemFont(18, UIFontWeightSemibold));
  inkOf(semibold, &semibold_ink);
  EXPECT_GT(semibold_ink, regular_ink * 21 / 20);
  EXPECT_LT(semibold_ink, bold_ink * 20 / 21);
  EXPECT_NEAR((bold.left + bold.right + 1) / 2.0, 150 * kScale, 1.5 * kScale);
  EXPECT_NEAR((bold.top + bold.bottom + 1) / 2.0, 102 * kScale, 3 * kScale);
  // 18-point capitals are about 13 points tall.
  EXPECT_NEAR((bold.bottom - bold.top + 1) / kScale, 13, 2.5);

  Strong<UILabel> left = make(true);
  left->textAlignment = NSTextAlignmentLeft;
  int ink = 0;
  EXPECT_NEAR(inkOf(left, &ink).left / kScale, 20, 2);
}

TEST(LabelDrawing, TintedSymbolAttachmentIsDrawnInItsTint) {
  objc::AutoreleasePool pool;
  id symbol =
      msg<id>(uikit::imageClass(), "systemImageNamed:"_sel, static_cast<id>("lock.fill"_ns));
  id grey = msg<id>(symbol, "imageWithTintColor:"_sel, uikit::namedColor("systemGrayColor"));
  id attachment = msg<id>(uikit::textAttachmentClass(), "textAttachmentWithImage:"_sel, grey);
  id text =
      msg<id>(uikit::attributedStringClass(), "attributedStringWithAttachment:"_sel, attachment);
  Strong<UILabel> label = uikit::newLabel("", nullptr, nullptr);
  label->attributedText = static_cast<NSAttributedString*>(text);
  label->frame = CGRect{100, 80, 40, 30};
  Strong<UIView> root = newRoot();
  uikit::addSubview(root, label);
  Bitmap b = draw(root);
  // systemGrayColor is (142, 142, 147).
  Box glyph = boxOf(b, [](uint32_t p) {
    return std::abs(red(p) - 142) < 6 && std::abs(blue(p) - 147) < 6 && red(p) < blue(p);
  });
  ASSERT_FALSE(glyph.empty());
  EXPECT_GE(glyph.left / kScale, 99);
  EXPECT_LE(glyph.right / kScale, 140);
  Box black = boxOf(b, [](uint32_t p) { return red(p) < 60; });
  EXPECT_TRUE(black.empty()) << "the label's own text colour is not used for a tinted image";
}

TEST(HitTest, DeepestTouchableViewOnTopWins) {
  objc::AutoreleasePool pool;
  Strong<UIView> root = newRoot();
  Strong<UIView> under = newView(uikit::viewClass(), CGRect{0, 0, 100, 100});
  Strong<UIView> over = newView(uikit::viewClass(), CGRect{50, 50, 100, 100});
  Strong<UIView> inner = newView(uikit::viewClass(), CGRect{10, 10, 20, 20});
  Strong<UIView> label = uikit::newLabel("text", nullptr, nullptr);
  label->frame = CGRect{40, 40, 30, 20};
  uikit::addSubview(root, under);
  uikit::addSubview(root, over);
  uikit::addSubview(over, inner);
  uikit::addSubview(over, label);

  EXPECT_EQ(uikit::hitTest(root, CGPoint{20, 20}), under.get());
  EXPECT_EQ(uikit::hitTest(root, CGPoint{90, 60}), over.get()) << "the later sibling is on top";
  EXPECT_EQ(uikit::hitTest(root, CGPoint{65, 65}), inner.get());
  // A label takes no touches: they reach the view under it.
  EXPECT_EQ(uikit::hitTest(root, CGPoint{95, 95}), over.get());

  over->hidden = true;
  EXPECT_EQ(uikit::hitTest(root, CGPoint{90, 60}), under.get()) << "a hidden view is passed over";
  EXPECT_EQ(uikit::hitTest(root, CGPoint{65, 65}), under.get()) << "and so are its subviews";
  over->hidden = false;
  over->userInteractionEnabled = false;
  EXPECT_EQ(uikit::hitTest(root, CGPoint{65, 65}), under.get());
  EXPECT_EQ(uikit::hitTest(root, CGPoint{299, 199}), root.get());
  EXPECT_EQ(uikit::hitTest(root, CGPoint{300, 10}), nullptr);

  // A subview drawn beyond its superview's bounds is reached only inside them.
  Strong<UIView> sticking_out = newView(uikit::viewClass(), CGRect{80, 10, 60, 20});
  uikit::addSubview(under, sticking_out);
  EXPECT_EQ(uikit::hitTest(root, CGPoint{90, 20}), sticking_out.get());
  EXPECT_EQ(uikit::hitTest(root, CGPoint{120, 20}), root.get());
}

}  // namespace
