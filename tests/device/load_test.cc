// The library's set-up, each case in a fresh Photos or privacy-daemon process
// started by the real loader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/device_fixture.h"

namespace {

using testing_support::DeviceTest;
using testing_support::hooks;
using testing_support::vars;
using Lines = std::vector<std::string>;

const char kInfo[] = "hook NSBundle infoDictionary";
const char kAllow[] = "hook TCCDService setDefaultAllowedIdentifiersList:";
const char kSidebar[] =
    "hook PUSidebarViewController _navigateToDestinationForItem:sameItem:completionHandler:";
const char kList[] = "hook PXNavigationListGadget _navigateTolistItem:animated:";
const char kBackground[] = "hook PUAlbumsGadgetViewController _applicationDidEnterBackground:";
const char kConfigure[] = "hook PXNavigationListGadget _configureCell:forListItem:textColor:";
const char kCount[] = "hook PXNavigationListAssetCollectionItem initWithAssetCollection:itemCount:";

class LoadTest : public DeviceTest {};

TEST_F(LoadTest, InertWithoutSettingsFileOrWithTheMasterSwitchOff) {
  initDevice();
  const std::vector<std::map<std::string, std::string>> settings = {
      {},  // no file at all
      {{"showLockIcon", "<true/>"},
       {"hiddenItemCount", "<integer>9</integer>"}},  // "enabled" missing
      {{"enabled", "<false/>"}, {"showLockIcon", "<true/>"}},
      {{"enabled", "<string>NO</string>"}, {"popToRoot", "<true/>"}},
      {{"enabled", "<dict><key>x</key><true/></dict>"}, {"popToRoot", "<true/>"}},  // no boolValue
      {{"enabled", "<array><true/></array>"}, {"popToRoot", "<true/>"}},
      {{"enabled", "<data>AQ==</data>"}, {"popToRoot", "<true/>"}},
      {{"enabled", "<date>2026-01-01T00:00:00Z</date>"}, {"popToRoot", "<true/>"}},
  };
  for (size_t i = 0; i < settings.size(); ++i) {
    if (i == 0) {
      removeSettings();
    } else {
      writeSettings(settings[i]);
    }
    auto photos = start("photos");
    EXPECT_EQ(hooks(*photos), Lines{}) << "case " << i;
    auto v = vars(*photos);
    EXPECT_EQ(v["lockRecentlyDeleted"], "NO") << "case " << i;
    EXPECT_EQ(v["popToRoot"], "NO") << "case " << i;
    EXPECT_EQ(v["hiddenItemCountEnabled"], "NO") << "case " << i;
    EXPECT_EQ(v["showLockIcon"], "NO") << "case " << i;
    EXPECT_EQ(v["hiddenItemCount"], "0") << "case " << i;
    EXPECT_EQ(v["reason"], "\"Use your passcode to view and manage hidden album.\"");
    EXPECT_EQ(photos->finish(), 0);
  }
}

TEST_F(LoadTest, BadSettingsFilesReadAsEmptyAndNeverCrashTheApp) {
  initDevice();
  const std::string big(2 << 20, ' ');
  for (const std::string& text :
       {std::string("not a property list"),
        std::string("<?xml version=\"1.0\"?><plist><dict><key>enabled</key><tr"),
        std::string("bplist00\xd1\x01\x02", 10),
        std::string("<plist><array><true/></array></plist>"),
        "<plist><dict><key>enabled</key><true/></dict>" + big + "</plist>", std::string()}) {
    writeSettingsText(text);
    auto photos = start("photos");
    EXPECT_EQ(hooks(*photos), Lines{});
    EXPECT_EQ(photos->finish(), 0);
  }
}

TEST_F(LoadTest, EnabledInstallsTheRowsOfTheDeviceAndVersion) {
  struct Case {
    std::vector<std::string> flags;
    Lines expected;
  };
  const Case cases[] = {
      {{"--system-version", "16.4.1"}, {kInfo, kList, kBackground, kConfigure}},
      {{"--system-version", "15.0"}, {kInfo, kList, kBackground, kConfigure}},
      {{"--system-version", "14.8"}, {kInfo, kList, kBackground, kCount}},
      {{"--system-version", "beta"}, {kInfo, kList, kBackground, kCount}},
      {{"--model", "iPad", "--system-version", "16.4.1"}, {kInfo, kSidebar}},
      {{"--model", "iPad", "--system-version", "14.8"}, {kInfo, kSidebar}},
  };
  for (const Case& c : cases) {
    initDevice(c.flags);
    writeSettings({{"enabled", "<string>YES</string>"}, {"popToRoot", "<true/>"}});
    auto photos = start("photos");
    EXPECT_EQ(hooks(*photos), c.expected) << c.flags.back();
    EXPECT_EQ(vars(*photos)["popToRoot"], "YES");
    EXPECT_EQ(photos->finish(), 0);
    TearDown();
  }
}

TEST_F(LoadTest, InThePrivacyDaemonOnlyTheAllowListIsHookedAndOptionsStillLoad) {
  initDevice();
  writeSettings({{"enabled", "<true/>"}, {"lockRecentlyDeleted", "<true/>"}});
  auto tccd = start("tccd");
  EXPECT_EQ(hooks(*tccd), Lines{kAllow});
  EXPECT_EQ(vars(*tccd)["lockRecentlyDeleted"], "YES");
  // Its observer is registered too: a change reaches the daemon.
  writeSettings({{"enabled", "<true/>"}, {"showLockIcon", "<true/>"}});
  postChanged();
  bool changed = false;
  for (int i = 0; i < 100 && !changed; ++i) {
    changed = vars(*tccd)["showLockIcon"] == "YES";
    if (!changed) usleep(20000);
  }
  EXPECT_TRUE(changed);
  EXPECT_EQ(tccd->finish(), 0);
}

// The loader loads a library only where every kind its filter lists matches,
// unless the filter says Mode "Any": Velmo's filter, which names Photos'
// bundle and the privacy daemon's executable, needs it to load anywhere.
TEST_F(LoadTest, FilterLoadsWhereEveryKindMatchesUnlessItsModeIsAny) {
  initDevice();
  writeSettings({{"enabled", "<true/>"}});
  const std::string bundles =
      "<key>Bundles</key><array><string>com.apple.mobileslideshow</string></array>";
  const std::string executables = "<key>Executables</key><array><string>tccd</string></array>";
  struct Case {
    std::string filter;
    bool photos, tccd;
  };
  const Case cases[] = {
      {bundles + executables, false, false},
      {bundles + executables + "<key>Mode</key><string>All</string>", false, false},
      {bundles + executables + "<key>Mode</key><integer>1</integer>", false, false},
      {bundles + executables + "<key>Mode</key><string>Any</string>", true, true},
      {bundles, true, false},
      {executables, false, true},
      {"<key>Mode</key><string>Any</string>", false, false},
  };
  std::string path = root_ + "/var/jb/Library/MobileSubstrate/DynamicLibraries/Velmo.plist";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filter);
    std::filesystem::remove(path);
    std::ofstream(path) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">"
                        << "<dict><key>Filter</key><dict>" << c.filter << "</dict></dict></plist>";
    auto photos = start("photos");
    EXPECT_EQ(hooks(*photos).empty(), !c.photos);
    EXPECT_EQ(photos->finish(), 0);
    auto tccd = start("tccd");
    EXPECT_EQ(hooks(*tccd), c.tccd ? Lines{kAllow} : Lines{});
    EXPECT_EQ(tccd->finish(), 0);
  }
}

TEST_F(LoadTest, ReloadFollowsTheFileButNeverTheMasterSwitch) {
  initDevice();
  writeSettings({{"enabled", "<true/>"},
                 {"hiddenItemCountEnabled", "<true/>"},
                 {"hiddenItemCount", "<integer>42</integer>"},
                 {"popToRoot", "<true/>"}});
  auto photos = start("photos");
  auto v = vars(*photos);
  EXPECT_EQ(v["hiddenItemCount"], "42");

  auto reloadAndWait = [&](const std::string& key, const std::string& want) {
    postChanged();
    ASSERT_NE(photos->waitForLine("notified com.qel.velmopreferences/changed"), "");
    EXPECT_EQ(vars(*photos)[key], want);
  };
  // A missing count resets it to 0; numbers in strings convert as the platform does.
  writeSettings({{"enabled", "<true/>"}, {"popToRoot", "<string> 12abc</string>"}});
  reloadAndWait("hiddenItemCount", "0");
  EXPECT_EQ(vars(*photos)["popToRoot"], "YES");
  // "enabled" off changes nothing in a running library: hooks stay.
  writeSettings({{"enabled", "<false/>"},
                 {"popToRoot", "<true/>"},
                 {"hiddenItemCount", "<string>-5</string>"}});
  reloadAndWait("hiddenItemCount", "-5");
  EXPECT_EQ(hooks(*photos).size(), 4u);
  // A deleted file keeps the last values.
  removeSettings();
  reloadAndWait("hiddenItemCount", "-5");
  EXPECT_EQ(vars(*photos)["popToRoot"], "YES");
  // A file that does not parse reads as empty: all five values off, each of
  // them set before.
  writeSettings({{"enabled", "<true/>"},
                 {"lockRecentlyDeleted", "<true/>"},
                 {"popToRoot", "<true/>"},
                 {"hiddenItemCountEnabled", "<true/>"},
                 {"showLockIcon", "<true/>"},
                 {"hiddenItemCount", "<integer>9</integer>"}});
  reloadAndWait("hiddenItemCount", "9");
  auto before = vars(*photos);
  for (const char* key :
       {"lockRecentlyDeleted", "popToRoot", "hiddenItemCountEnabled", "showLockIcon"}) {
    ASSERT_EQ(before[key], "YES") << key;
  }
  writeSettingsText("garbage");
  reloadAndWait("popToRoot", "NO");
  auto after = vars(*photos);
  EXPECT_EQ(after["lockRecentlyDeleted"], "NO");
  EXPECT_EQ(after["hiddenItemCountEnabled"], "NO");
  EXPECT_EQ(after["showLockIcon"], "NO");
  EXPECT_EQ(after["hiddenItemCount"], "0");
  EXPECT_EQ(photos->finish(), 0);
}

}  // namespace
