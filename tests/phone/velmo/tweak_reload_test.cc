// The change notification on the phone build: each delivery rereads the
// settings file (a real property list), key by key, with the platform's
// conversions; no file keeps the last values; "enabled" changes nothing in
// a running library.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/phone/velmo/velmo_fixture.h"

namespace velmo::phone {
namespace {

class TweakReloadTest : public VelmoTest {
 protected:
  void SetUp() override {
    VelmoTest::SetUp();
    StartPhotos();
    WriteSettings({{"enabled", true}, {"popToRoot", true}, {"hiddenItemCount", int64_t{3}}});
    LoadVelmo();
    hooks_ = phone.objc.hooks().size();
  }
  void Change(const DeviceFiles::PlistEntries& entries) {
    WriteSettings(entries);
    EXPECT_EQ(phone.notify.Deliver(kChanged), 1u);
  }
  size_t hooks_ = 0;
};

TEST_P(TweakReloadTest, TheNotificationRereadsTheFile) {
  EXPECT_TRUE(Option("popToRoot"));
  EXPECT_EQ(HiddenItemCount(), 3);
  Change({{"enabled", false},
          {"lockRecentlyDeleted", true},
          {"hiddenItemCountEnabled", true},
          {"showLockIcon", true},
          {"hiddenItemCount", int64_t{-12345678901}}});
  EXPECT_TRUE(Option("lockRecentlyDeleted"));
  EXPECT_FALSE(Option("popToRoot"));
  EXPECT_TRUE(Option("hiddenItemCountEnabled"));
  EXPECT_TRUE(Option("showLockIcon"));
  EXPECT_EQ(HiddenItemCount(), -12345678901);
  // The master switch is read only at load.
  EXPECT_EQ(phone.objc.hooks().size(), hooks_);
  EXPECT_EQ(phone.notify.observers().size(), 1u);
}

TEST_P(TweakReloadTest, AMissingCountReadsAsZeroAndOtherTypesConvertAsThePlatformDoes) {
  Change({{"popToRoot", std::string("YES")}, {"showLockIcon", int64_t{2}}});
  EXPECT_EQ(HiddenItemCount(), 0);
  EXPECT_TRUE(Option("popToRoot"));
  EXPECT_TRUE(Option("showLockIcon"));
  Change({{"popToRoot", std::string("no")}, {"hiddenItemCount", std::string("42abc")}});
  EXPECT_FALSE(Option("popToRoot"));
  EXPECT_EQ(HiddenItemCount(), 42);
}

TEST_P(TweakReloadTest, NoFileKeepsTheLastValuesAndABrokenFileReadsAsEmpty) {
  phone.files.Remove(kSettingsFile);
  EXPECT_EQ(phone.notify.Deliver(kChanged), 1u);
  EXPECT_TRUE(Option("popToRoot"));
  EXPECT_EQ(HiddenItemCount(), 3);
  phone.files.WriteBytes(kSettingsFile, "not a property list");
  EXPECT_EQ(phone.notify.Deliver(kChanged), 1u);
  EXPECT_FALSE(Option("popToRoot"));
  EXPECT_EQ(HiddenItemCount(), 0);
}

VELMO_ON_EACH_SLICE(TweakReloadTest);

}  // namespace
}  // namespace velmo::phone
