#include "platform/uikit/nsattributedstring.h"

#include <gtest/gtest.h>

#include "platform/foundation/nsstring.h"
#include "platform/uikit/uicolor.h"
#include "platform/uikit/uifont.h"
#include "platform/uikit/uiimage.h"
#include "platform/uikit/uilabel.h"

namespace {

using foundation::makeString;
using foundation::stdString;

std::string describe(id obj) { return stdString(msg<id>(obj, "description"_sel)); }

Strong<NSAttributedString> plain(const char* text) {
  id s = msg<id>(uikit::attributedStringClass(), "alloc"_sel);
  return adopt(
      static_cast<NSAttributedString*>(msg<id>(s, "initWithString:"_sel, makeString(text))));
}

// The lock badge, built the way the album list's decoration builds it.
id lockBadge() {
  id symbol = msg<id>(uikit::imageClass(), "systemImageNamed:"_sel, "lock.fill"_ns);
  id gray = msg<id>(uikit::colorClass(), "systemGrayColor"_sel);
  id tinted = msg<id>(symbol, "imageWithTintColor:"_sel, gray);
  Strong<objc_object> attachment = allocInit(uikit::textAttachmentClass());
  msg<void>(attachment, "setImage:"_sel, tinted);
  return msg<id>(uikit::attributedStringClass(), "attributedStringWithAttachment:"_sel,
                 attachment.get());
}

TEST(AttributedString, PlainTextDescribesAsItsText) {
  objc::AutoreleasePool pool;
  for (const char* text : {"7", "-3", "0", "Velmo"}) {
    auto s = plain(text);
    EXPECT_EQ(describe(s), text);
    EXPECT_EQ(stdString(msg<id>(s, "string"_sel)), text);
    EXPECT_EQ(msg<unsigned long>(s, "length"_sel), std::string(text).size());
  }
  EXPECT_EQ(msg<unsigned long>(plain("\xC3\xA9t\xC3\xA9"), "length"_sel), 3u);  // "été"
}

TEST(AttributedString, NilTextGivesNil) {
  id s = msg<id>(uikit::attributedStringClass(), "alloc"_sel);
  EXPECT_EQ(msg<id>(s, "initWithString:"_sel, static_cast<id>(nullptr)), nullptr);
}

TEST(AttributedString, AttachmentShowsAsItsTintedSymbol) {
  Strong<objc_object> badge;
  {
    objc::AutoreleasePool pool;  // everything but the badge goes away here
    badge = lockBadge();
  }
  EXPECT_EQ(describe(badge), "[lock.fill systemGrayColor]");
  EXPECT_EQ(stdString(msg<id>(badge, "string"_sel)), "\xEF\xBF\xBC");
  EXPECT_EQ(msg<unsigned long>(badge, "length"_sel), 1u);
}

TEST(AttributedString, UntintedSymbolAndEmptyAttachment) {
  objc::AutoreleasePool pool;
  id symbol = msg<id>(uikit::imageClass(), "systemImageNamed:"_sel, "lock.fill"_ns);
  id attachment = msg<id>(uikit::textAttachmentClass(), "textAttachmentWithImage:"_sel, symbol);
  EXPECT_EQ(describe(msg<id>(uikit::attributedStringClass(), "attributedStringWithAttachment:"_sel,
                             attachment)),
            "[lock.fill]");
  Strong<objc_object> empty = allocInit(uikit::textAttachmentClass());
  EXPECT_EQ(describe(msg<id>(uikit::attributedStringClass(), "attributedStringWithAttachment:"_sel,
                             empty.get())),
            "[attachment]");
  EXPECT_EQ(msg<id>(uikit::imageClass(), "systemImageNamed:"_sel, static_cast<id>(nullptr)),
            nullptr);
}

TEST(AttributedString, LabelShowsBadgeAndKeepsTextInStep) {
  objc::AutoreleasePool pool;
  Strong<objc_object> label = allocInit(uikit::labelClass());
  msg<void>(label, "setAttributedText:"_sel, lockBadge());
  EXPECT_EQ(uikit::labelText(static_cast<UILabel*>(label.get())), "[lock.fill systemGrayColor]");
  msg<void>(label, "setText:"_sel, "Velmo"_ns);
  EXPECT_EQ(stdString(msg<id>(msg<id>(label, "attributedText"_sel), "string"_sel)), "Velmo");
  msg<void>(label, "setFont:"_sel, msg<id>(uikit::fontClass(), "boldSystemFontOfSize:"_sel, 18.0));
  msg<void>(label, "setTextAlignment:"_sel, 1L);
  EXPECT_EQ(describe(label), "label \"Velmo\" bold 18 labelColor center");
  msg<void>(label, "setText:"_sel, static_cast<id>(nullptr));
  EXPECT_EQ(msg<id>(label, "text"_sel), nullptr);
}

TEST(Color, NamedAndComponentColours) {
  objc::AutoreleasePool pool;
  id gray = msg<id>(uikit::colorClass(), "systemGrayColor"_sel);
  EXPECT_EQ(gray, msg<id>(uikit::colorClass(), "systemGrayColor"_sel));
  EXPECT_EQ(describe(gray), "systemGrayColor");
  id accent = msg<id>(uikit::colorClass(), "colorWithRed:green:blue:alpha:"_sel, 1.0, 105 / 255.0,
                      180 / 255.0, 1.0);
  EXPECT_EQ(describe(accent), "rgba(1.000,0.412,0.706,1.000)");
  auto* cg = static_cast<CGColor*>(msg<id>(accent, "CGColor"_sel));
  EXPECT_DOUBLE_EQ(cg->green, 105 / 255.0);
  EXPECT_EQ(cg, msg<id>(accent, "CGColor"_sel));  // the colour keeps one
  EXPECT_EQ(describe(msg<id>(msg<id>(uikit::colorClass(), "labelColor"_sel), "CGColor"_sel)),
            "labelColor");
  EXPECT_FALSE(msg<BOOL>(gray, "isEqual:"_sel, accent));
}

TEST(Font, DescribesWeightAndSize) {
  objc::AutoreleasePool pool;
  EXPECT_EQ(describe(msg<id>(uikit::fontClass(), "boldSystemFontOfSize:"_sel, 18.0)), "bold 18");
  id regular = msg<id>(uikit::fontClass(), "systemFontOfSize:"_sel, 17.5);
  EXPECT_EQ(describe(regular), "regular 17.5");
  EXPECT_DOUBLE_EQ(msg<double>(regular, "pointSize"_sel), 17.5);
  // A weight between two the screen has is drawn, and described, as the lighter.
  EXPECT_EQ(describe(uikit::systemFont(17, UIFontWeightSemibold)), "semibold 17");
  EXPECT_EQ(describe(uikit::systemFont(17, 0.35)), "semibold 17");
  EXPECT_EQ(describe(uikit::systemFont(17, 0.2)), "regular 17");
}

}  // namespace
