// Velmo.dylib's constructor on the phone build: inert without a settings
// file or with the master switch off, otherwise the options, the observer
// and exactly the hook table's rows for the process, the device family and
// the system version, each slot holding the implementation it replaced.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/phone/velmo/velmo_fixture.h"

namespace velmo::phone {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Row = std::pair<std::string, std::string>;

const Row kUsageText{"NSBundle", "infoDictionary"};
const Row kListGuard{"PXNavigationListGadget", "_navigateTolistItem:animated:"};
const Row kBackground{"PUAlbumsGadgetViewController", "_applicationDidEnterBackground:"};
const Row kConfigureCell{"PXNavigationListGadget", "_configureCell:forListItem:textColor:"};
const Row kCountOverride{"PXNavigationListAssetCollectionItem",
                         "initWithAssetCollection:itemCount:"};
const Row kSidebar{"PUSidebarViewController",
                   "_navigateToDestinationForItem:sameItem:completionHandler:"};
const char* kAllowList = "setDefaultAllowedIdentifiersList:";

class TweakLoadTest : public VelmoTest {
 protected:
  // Loads into Photos on `model` with `version`, the master switch on, and
  // returns the installed rows, after checking each one's slot.
  std::vector<Row> LoadActive(const std::string& model, const std::string& version) {
    StartPhotos(model, version);
    WriteSettings({{"enabled", true}, {"showLockIcon", true}, {"hiddenItemCount", int64_t{9}}});
    std::map<Row, uint64_t> before;
    for (const Row& r :
         {kUsageText, kListGuard, kBackground, kConfigureCell, kCountOverride, kSidebar})
      before[r] = Imp(r.first, r.second);
    LoadVelmo();
    std::vector<Row> rows;
    for (const HookRecord& h : phone.objc.hooks()) {
      Row r{h.cls, h.selector};
      rows.push_back(r);
      EXPECT_NE(before[r], 0u) << h.selector;
      EXPECT_EQ(h.previous, before[r]) << h.selector;
      EXPECT_NE(h.result_slot, 0u) << h.selector;
      EXPECT_EQ(SlotValue(h.result_slot), before[r]) << "the slot of " << h.selector;
      EXPECT_TRUE(velmo_->Contains(h.replacement)) << h.selector;
      EXPECT_EQ(Imp(r.first, r.second), h.replacement) << h.selector;
    }
    // Each row has a slot of its own.
    for (size_t i = 0; i < phone.objc.hooks().size(); ++i)
      for (size_t j = i + 1; j < phone.objc.hooks().size(); ++j)
        EXPECT_NE(phone.objc.hooks()[i].result_slot, phone.objc.hooks()[j].result_slot);
    return rows;
  }

  void ExpectInert() {
    EXPECT_THAT(phone.objc.hooks(), IsEmpty());
    EXPECT_THAT(phone.objc.nil_class_hooks(), IsEmpty());
    EXPECT_THAT(phone.notify.observers(), IsEmpty());
    EXPECT_FALSE(Option("showLockIcon"));
    // The category is attached whatever the settings say.
    EXPECT_NE(Imp("UIViewController", "authenticateWithCompletion:"), 0u);
  }
};

TEST_P(TweakLoadTest, NoSettingsFileLeavesTheLibraryInert) {
  StartPhotos();
  LoadVelmo();
  ExpectInert();
  EXPECT_EQ(Reason(), kReason);
}

TEST_P(TweakLoadTest, TheMasterSwitchOffLeavesTheLibraryInert) {
  StartPhotos();
  WriteSettings({{"enabled", false}, {"showLockIcon", true}});
  LoadVelmo();
  ExpectInert();
}

TEST_P(TweakLoadTest, ASettingsFileThatIsNoPropertyListLeavesTheLibraryInert) {
  StartPhotos();
  phone.files.WriteBytes(kSettingsFile, "enabled = YES");
  LoadVelmo();
  ExpectInert();
}

TEST_P(TweakLoadTest, ActiveOnAnIPhoneWithVersion15) {
  EXPECT_THAT(LoadActive("iPhone", "15.0"),
              ElementsAre(kUsageText, kListGuard, kBackground, kConfigureCell));
  // The Photos app has no TCCDService: row 2 went to the hooking runtime
  // with a nil class.
  EXPECT_THAT(phone.objc.nil_class_hooks(), ElementsAre(kAllowList));
  ASSERT_EQ(phone.notify.observers().size(), 1u);
  const NotifyCenter::Observer& o = phone.notify.observers()[0];
  EXPECT_EQ(o.name, kChanged);
  EXPECT_EQ(o.observer, 0u);
  EXPECT_EQ(o.object, 0u);
  EXPECT_EQ(o.suspension_behavior, 2);
  EXPECT_EQ(o.callback,
            velmo_->Symbol("__Z14reloadSettingsP22__CFNotificationCenterPvPK10__CFStringPKvPK14__"
                           "CFDictionary"));
  // The options were loaded once.
  EXPECT_TRUE(Option("showLockIcon"));
  EXPECT_FALSE(Option("popToRoot"));
  EXPECT_EQ(HiddenItemCount(), 9);
}

TEST_P(TweakLoadTest, VersionsOnEachSideOfTheBoundChooseTheDecorationRow) {
  EXPECT_THAT(LoadActive("iPhone", "14.8"),
              ElementsAre(kUsageText, kListGuard, kBackground, kCountOverride));
}

TEST_P(TweakLoadTest, AVersionWithAThirdPartReadsAsItsFirstTwo) {
  EXPECT_THAT(LoadActive("iPod touch", "16.4.1"),
              ElementsAre(kUsageText, kListGuard, kBackground, kConfigureCell));
}

TEST_P(TweakLoadTest, AnIPadGetsOnlyTheSidebarGuard) {
  EXPECT_THAT(LoadActive("iPad", "15.0"), ElementsAre(kUsageText, kSidebar));
  EXPECT_THAT(phone.objc.nil_class_hooks(), ElementsAre(kAllowList));
}

TEST_P(TweakLoadTest, InThePrivacyDaemonOnlyTheAllowListIsHooked) {
  StartPrivacyDaemon();
  uint64_t before = Imp("TCCDService", kAllowList);
  WriteSettings({{"enabled", true}, {"popToRoot", true}});
  LoadVelmo();
  ASSERT_EQ(phone.objc.hooks().size(), 1u);
  const HookRecord& h = phone.objc.hooks()[0];
  EXPECT_EQ(h.cls, "TCCDService");
  EXPECT_EQ(h.selector, kAllowList);
  EXPECT_EQ(SlotValue(h.result_slot), before);
  // No UIKit: no device model (not an iPad), version 0 (row 7); the rows
  // for the Photos classes changed nothing.
  EXPECT_THAT(phone.objc.nil_class_hooks(),
              ElementsAre("_navigateTolistItem:animated:", "_applicationDidEnterBackground:",
                          "initWithAssetCollection:itemCount:"));
  EXPECT_EQ(phone.notify.observers().size(), 1u);
  EXPECT_TRUE(Option("popToRoot"));
}

VELMO_ON_EACH_SLICE(TweakLoadTest);

}  // namespace
}  // namespace velmo::phone
