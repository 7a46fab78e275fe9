// The Settings app as a process: opening the pane through its Settings entry,
// what it shows, and changes that reach the settings file and a running
// Photos app. The device's killall is replaced by one that records its
// argument vector (argv[0] included) and environment, so that no Photos
// process anywhere on the machine is ended.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/support/device_fixture.h"

namespace {

using testing_support::body;
using testing_support::DeviceTest;
using testing_support::vars;
using Lines = std::vector<std::string>;

const Lines kFreshPane = {
    "title Velmo (bold 18, labelColor, centred)",
    "switch off (tint rgba(1.000,0.412,0.706,1.000), onTint rgba(1.000,0.412,0.706,1.000))",
    "header 200x150: image velmo.png 125x125 at (37.5, 12.5) aspectFit, shadow labelColor offset "
    "0x0 "
    "opacity 0.3 radius 10",
    "row lockRecentlyDeleted: off",
    "row popToRoot: off",
    "row showLockIcon: off",
    "row hiddenItemCountEnabled: off",
    "row hiddenItemCount: 0",
};

class SettingsProgramTest : public DeviceTest {
 protected:
  void SetUp() override {
    initDevice();
    replaceKillall("record_spawn");
  }

  // "killall -9 MobileSlideShow" a start: argv[0] and the arguments, and no
  // " env ..." after them when the environment was empty.
  std::string killallLog() const { return root_ + "/var/jb/usr/bin/killall.log"; }
  std::string readKillallLog() const {
    std::ifstream in(killallLog());
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
};

TEST_F(SettingsProgramTest, OpensThePaneThroughItsEntryAndShowsIt) {
  auto settings = start("settings");
  EXPECT_EQ(settings->command("show"), Lines{"error: nothing is open (use open Velmo first)"});
  EXPECT_EQ(settings->command("set popToRoot on"),
            Lines{"error: nothing is open (use open Velmo first)"});
  EXPECT_EQ(settings->command("open Photos"),
            Lines{"error: no Settings entry labelled \"Photos\""});
  EXPECT_EQ(settings->command("open Velmo"), Lines{"ok"});
  EXPECT_EQ(body(settings->command("show")), kFreshPane);
  EXPECT_EQ(settings->finish(), 0);
  EXPECT_FALSE(std::filesystem::exists(settingsPath())) << "looking changes nothing";
}

TEST_F(SettingsProgramTest, BadChangesSayWhatIsWrongAndStoreNothing) {
  auto settings = start("settings");
  ASSERT_EQ(settings->command("open Velmo"), Lines{"ok"});
  EXPECT_EQ(settings->command("set popToRoot maybe"),
            Lines{"error: bad value \"maybe\" for popToRoot: use on or off (true/false, yes/no)"});
  EXPECT_EQ(settings->command("set hiddenItemCount 12abc"),
            Lines{"error: bad value \"12abc\" for hiddenItemCount: a whole number is needed"});
  EXPECT_EQ(settings->command("set hiddenItemCount 99999999999999999999"),
            Lines{"error: bad value \"99999999999999999999\" for hiddenItemCount: a whole number "
                  "is needed"});
  // A count below 0 is refused, however it is written.
  for (const char* negative : {"-5", "-0", "-9223372036854775808"}) {
    EXPECT_EQ(settings->command(std::string("set hiddenItemCount ") + negative),
              Lines{std::string("error: bad value \"") + negative +
                    "\" for hiddenItemCount: a number of 0 or more is needed"});
  }
  EXPECT_EQ(settings->command("set enabled on"),
            Lines{"error: no row with key \"enabled\" in Velmo"});
  EXPECT_EQ(settings->command("set popToRoot"), Lines{"error: usage: set <key> <value>"});
  EXPECT_EQ(settings->command("switch sideways"), Lines{"error: usage: switch on|off"});
  EXPECT_EQ(body(settings->command("show")), kFreshPane);
  EXPECT_FALSE(std::filesystem::exists(settingsPath()));
  EXPECT_EQ(settings->finish(), 0);
}

TEST_F(SettingsProgramTest, ChangesReachTheSettingsFileAndTheRunningPhotosApp) {
  writeSettings({{"enabled", "<true/>"}});
  auto photos = start("photos");
  ASSERT_EQ(vars(*photos)["showLockIcon"], "NO");  // Photos is up and observing
  auto settings = start("settings");
  ASSERT_EQ(settings->command("open Velmo"), Lines{"ok"});
  EXPECT_NE(photos->waitForLine("notified com.qel.velmopreferences/changed"), "")
      << "opening posts";

  EXPECT_EQ(settings->command("set showLockIcon YES"), Lines{"ok"});
  EXPECT_NE(photos->waitForLine("notified com.qel.velmopreferences/changed"), "");
  EXPECT_EQ(settings->command("set hiddenItemCount 3"), Lines{"ok"});
  EXPECT_NE(photos->waitForLine("notified com.qel.velmopreferences/changed"), "");
  auto v = vars(*photos);
  EXPECT_EQ(v["showLockIcon"], "YES");
  EXPECT_EQ(v["hiddenItemCount"], "3");

  Lines shown = body(settings->command("show"));
  ASSERT_EQ(shown.size(), kFreshPane.size());
  EXPECT_EQ(shown[1].substr(0, 10), "switch on ");
  EXPECT_EQ(shown[5], "row showLockIcon: on");
  EXPECT_EQ(shown[7], "row hiddenItemCount: 3");

  // The master switch restarts Photos instead of notifying it.
  Lines answer = settings->command("switch off");
  ASSERT_FALSE(answer.empty());
  EXPECT_EQ(answer.back(), "ok");
  EXPECT_EQ(readKillallLog(), "killall -9 MobileSlideShow\n");
  EXPECT_EQ(photos->drain(500), Lines{}) << "no notification for the master switch";
  EXPECT_EQ(settings->finish(), 0);
  EXPECT_EQ(photos->finish(), 0);
}

TEST_F(SettingsProgramTest, AMasterSwitchThatWasNotSavedRestartsNothing) {
  auto photos = start("photos");
  testing_support::waitReady(*photos);
  // The save fails: a folder is where the settings file goes.
  std::filesystem::create_directories(settingsPath());
  auto settings = start("settings");
  ASSERT_EQ(settings->command("open Velmo"), Lines{"ok"});
  EXPECT_EQ(settings->command("switch on"),
            Lines{"error: enabled was not saved: "
                  "/var/jb/var/mobile/Library/Preferences/com.qel.velmopreferences.plist: "
                  "not a regular file"});
  EXPECT_EQ(readKillallLog(), "") << "Photos was restarted for a value that is not on disk";
  EXPECT_EQ(body(settings->command("show"))[1].substr(0, 11), "switch off ");
  // A row that was not saved either is no failure of the switch's next save.
  EXPECT_EQ(settings->command("set popToRoot on").back().rfind("error: popToRoot was not saved", 0),
            0u);
  // Saved, the same flip restarts Photos.
  std::filesystem::remove(settingsPath());
  Lines answer = settings->command("switch on");
  ASSERT_FALSE(answer.empty());
  EXPECT_EQ(answer.back(), "ok");
  EXPECT_EQ(readKillallLog(), "killall -9 MobileSlideShow\n");
  EXPECT_EQ(settings->finish(), 0);
  EXPECT_EQ(photos->finish(), 0);
}

// Anyone who may open the domain's lock file may hold its lock: Settings
// waits for it a bounded time, then says the settings are busy and writes
// nothing; and the lock file is kept for its owner alone.
TEST_F(SettingsProgramTest, ADomainLockHeldElsewhereMakesAChangeBusyNotAHang) {
  namespace fs = std::filesystem;
  auto settings = start("settings");
  ASSERT_EQ(settings->command("open Velmo"), Lines{"ok"});
  ASSERT_EQ(settings->command("set popToRoot on"), Lines{"ok"});
  const std::string lock_path = settingsPath() + ".lock";
  // A lock file an older device left readable by all is made private again.
  ASSERT_EQ(::chmod(lock_path.c_str(), 0644), 0);
  ASSERT_EQ(settings->command("set popToRoot off"), Lines{"ok"});
  struct stat st;
  ASSERT_EQ(::stat(lock_path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  std::ifstream in(settingsPath(), std::ios::binary);
  std::string before((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Read access is all an flock needs.
  int held = ::open(lock_path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(settings->command("set showLockIcon on", 8000), Lines{"error: the settings are busy"});
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  std::ifstream again(settingsPath(), std::ios::binary);
  std::string after((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>());
  EXPECT_EQ(after, before) << "a busy change wrote the settings";
  ::close(held);
  EXPECT_EQ(settings->command("set showLockIcon on"), Lines{"ok"});
  EXPECT_EQ(settings->finish(), 0);
}

}  // namespace
