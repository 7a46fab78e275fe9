// Row decoration and the count override of the phone build: after the
// host has configured a row, the Hidden album's badge shows the lock glyph
// (a text attachment of the system symbol "lock.fill" tinted system grey)
// or the fixed count, Recently Deleted the glyph when it is locked; before
// 15.0 the Hidden album's list item is made with the fixed count.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/phone/velmo/velmo_fixture.h"

namespace velmo::phone {
namespace {

using Album = PhotosApp::Album;

class TweakDecorationTest : public VelmoTest {
 protected:
  void Start(const DeviceFiles::PlistEntries& options, const std::string& version = "15.0") {
    StartPhotos("iPhone", version);
    DeviceFiles::PlistEntries settings = options;
    settings.emplace_back("enabled", true);
    WriteSettings(settings);
    LoadVelmo();
  }
  // Configures a new cell for an album's row; returns the badge's text.
  uint64_t Configure(Album album) {
    uint64_t cell = photos_->Cell();
    uint64_t gadget = photos_->NewObject("PXNavigationListGadget");
    uint64_t item = photos_->ListItem(album);
    uint64_t color = phone.uikit.SystemColor("labelColor");
    size_t before = photos_->configured_cells().size();
    phone.objc.Send(gadget, "_configureCell:forListItem:textColor:", {cell, item, color});
    EXPECT_EQ(photos_->configured_cells().size(), before + 1) << "the host configures first";
    const PhotosApp::Call& c = photos_->configured_cells().back();
    EXPECT_EQ(c.receiver, gadget);
    EXPECT_EQ(c.a, cell);
    EXPECT_EQ(c.b, item);
    EXPECT_EQ(c.c, color);
    return phone.objc.Field(photos_->BadgeLabel(cell), "attributedText");
  }
  std::string Text(uint64_t attributed) {
    return phone.objc.StringValue(phone.objc.Field(attributed, "string"));
  }
  void ExpectLockGlyph(uint64_t text) {
    ASSERT_NE(text, 0u);
    uint64_t attachment = phone.objc.Field(text, "attachment");
    ASSERT_TRUE(phone.objc.IsKindOf(attachment, "NSTextAttachment"));
    uint64_t image = phone.objc.Field(attachment, "image");
    ASSERT_NE(image, 0u);
    EXPECT_EQ(phone.objc.StringValue(phone.objc.Field(image, "symbolName")), "lock.fill");
    EXPECT_EQ(phone.objc.Field(image, "tintColor"), phone.uikit.SystemColor("systemGrayColor"));
  }
};

TEST_P(TweakDecorationTest, TheLockGlyphWinsOverTheCountOnTheHiddenAlbum) {
  Start(
      {{"showLockIcon", true}, {"hiddenItemCountEnabled", true}, {"hiddenItemCount", int64_t{5}}});
  ExpectLockGlyph(Configure(Album::kHidden));
}

TEST_P(TweakDecorationTest, AFixedCountShowsInDecimal) {
  Start({{"hiddenItemCountEnabled", true}, {"hiddenItemCount", int64_t{-3}}});
  uint64_t text = Configure(Album::kHidden);
  EXPECT_EQ(Text(text), "-3");
  EXPECT_EQ(phone.objc.Field(text, "attachment"), 0u);
  WriteSettings({{"enabled", true}, {"hiddenItemCountEnabled", true}});
  phone.notify.Deliver(kChanged);
  EXPECT_EQ(Text(Configure(Album::kHidden)), "0");
}

TEST_P(TweakDecorationTest, OrdinaryAlbumsAndUnlockedRecentlyDeletedKeepTheHostsCount) {
  Start({{"showLockIcon", true}, {"hiddenItemCountEnabled", true}});
  EXPECT_EQ(Text(Configure(Album::kOrdinary)), "12");
  EXPECT_EQ(Text(Configure(Album::kRecentlyDeleted)), "12");
}

TEST_P(TweakDecorationTest, LockedRecentlyDeletedShowsTheGlyphButNeverACount) {
  Start({{"showLockIcon", true}, {"lockRecentlyDeleted", true}});
  ExpectLockGlyph(Configure(Album::kRecentlyDeleted));
  WriteSettings({{"enabled", true},
                 {"lockRecentlyDeleted", true},
                 {"hiddenItemCountEnabled", true},
                 {"hiddenItemCount", int64_t{4}}});
  phone.notify.Deliver(kChanged);
  EXPECT_EQ(Text(Configure(Album::kRecentlyDeleted)), "12");
}

TEST_P(TweakDecorationTest, BeforeVersion15TheHiddenItemIsMadeWithTheFixedCount) {
  Start({{"hiddenItemCountEnabled", true}, {"hiddenItemCount", int64_t{7}}}, "14.8");
  ObjcClass& cls = phone.objc.Class("PXNavigationListAssetCollectionItem");
  for (Album album : {Album::kHidden, Album::kOrdinary}) {
    uint64_t item = phone.objc.Send(cls.address, "alloc").u;
    uint64_t made =
        phone.objc
            .Send(item,
                  "initWithAssetCollection:itemCount:", {photos_->Collection(album), int64_t{3}})
            .u;
    EXPECT_EQ(made, item);
    phone.objc.Release(item);
  }
  ASSERT_EQ(photos_->item_inits().size(), 2u);
  EXPECT_EQ(photos_->item_inits()[0].n, 7);
  EXPECT_EQ(photos_->item_inits()[1].n, 3);
}

VELMO_ON_EACH_SLICE(TweakDecorationTest);

}  // namespace
}  // namespace velmo::phone
