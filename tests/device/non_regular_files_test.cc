// Files that are not files: a FIFO, a socket, an endless device behind a
// symlink or a folder at every path the device's programs read. Nothing may
// block on them; each reads as a file that cannot be read (for the settings
// file: an empty dictionary). A change the Settings app could not save is
// reported as such, and what it then shows is what the domain holds.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/device_fixture.h"

namespace {

namespace fs = std::filesystem;
using testing_support::body;
using testing_support::DeviceTest;
using testing_support::Lines;
using testing_support::runProgram;
using testing_support::vars;

// Every file a program of the device reads, as the phone spells it.
const std::vector<std::string> kReadPaths = {
    "/device.plist",
    "/Applications/MobileSlideShow.app/Info.plist",
    "/System/Library/Frameworks/Photos.framework/Info.plist",
    "/System/Library/PrivateFrameworks/PhotosUICore.framework/Info.plist",
    "/var/mobile/Media/PhotoData/Albums.plist",
    "/var/jb/Library/MobileSubstrate/DynamicLibraries/Velmo.dylib",
    "/var/jb/Library/MobileSubstrate/DynamicLibraries/Velmo.plist",
    "/var/jb/Library/PreferenceBundles/VelmoPreferences.bundle/Info.plist",
    "/var/jb/Library/PreferenceBundles/VelmoPreferences.bundle/Root.plist",
    "/var/jb/Library/PreferenceBundles/VelmoPreferences.bundle/VelmoPreferences",
    "/var/jb/Library/PreferenceBundles/VelmoPreferences.bundle/velmo.png",
    "/var/jb/Library/PreferenceLoader/Preferences/VelmoPreferences.plist",
    "/var/jb/var/mobile/Library/Preferences/com.qel.velmopreferences.plist",
    "/var/db/TCC/allowlists.plist",
    "/var/run/MobileSlideShow.pid",
};

enum class Kind { kFifo, kSocket, kDevZero, kFolder };

const char* name(Kind kind) {
  switch (kind) {
    case Kind::kFifo:
      return "FIFO";
    case Kind::kSocket:
      return "socket";
    case Kind::kDevZero:
      return "symlink to /dev/zero";
    case Kind::kFolder:
      return "folder";
  }
  return "?";
}

void replaceWith(Kind kind, const std::string& path) {
  std::error_code ec;
  fs::remove(path, ec);
  fs::create_directories(fs::path(path).parent_path());
  switch (kind) {
    case Kind::kFifo:
      ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << path;
      break;
    case Kind::kSocket:
      ASSERT_EQ(mknod(path.c_str(), S_IFSOCK | 0644, 0), 0) << path;
      break;
    case Kind::kDevZero:
      fs::create_symlink("/dev/zero", path);
      break;
    case Kind::kFolder:
      fs::create_directory(path);
      break;
  }
}

// True when the answer came (ok or error), not a timeout.
bool answered(const Lines& answer) { return !answer.empty() && answer.back() != "timeout"; }

class SpecialFilesTest : public DeviceTest {};

TEST_F(SpecialFilesTest, NoProgramBlocksOnASpecialFileAtAnyPathItReads) {
  for (Kind kind : {Kind::kFifo, Kind::kSocket, Kind::kDevZero, Kind::kFolder}) {
    SCOPED_TRACE(name(kind));
    initDevice();
    for (const std::string& path : kReadPaths) replaceWith(kind, root_ + path);

    auto photos = start("photos");
    EXPECT_TRUE(answered(photos->command("albums", 5000)));
    EXPECT_EQ(vars(*photos), (std::map<std::string, std::string>{}))
        << "Velmo.dylib is no library: nothing is loaded";
    auto settings = start("settings");
    Lines opened = settings->command("open Velmo", 5000);
    EXPECT_EQ(opened, Lines{"error: no Settings entry labelled \"Velmo\""});
    auto tccd = start("tccd");
    EXPECT_TRUE(answered(tccd->command("help", 5000)));
    std::string output;
    EXPECT_EQ(runProgram({program(), "notify", "--root", root_, "com.qel.velmopreferences/changed"},
                         &output, 5000),
              0)
        << output;
    EXPECT_EQ(photos->finish(5000), 0);
    EXPECT_EQ(settings->finish(5000), 0);
    // With a folder where the allow lists go the daemon cannot publish them
    // and says so on its way out; it never hangs.
    int tccd_exit = tccd->finish(5000);
    EXPECT_TRUE(tccd_exit == 0 || (kind == Kind::kFolder && tccd_exit == 1)) << tccd_exit;
    TearDown();
  }
}

// Only the settings file is special: the library is inert at start, and a
// running app that meets one at the next notification reads it as an empty
// dictionary, every option off, and keeps answering.
TEST_F(SpecialFilesTest, ASpecialSettingsFileReadsAsEmptyAtStartAndWhileRunning) {
  for (Kind kind : {Kind::kFifo, Kind::kSocket, Kind::kDevZero, Kind::kFolder}) {
    SCOPED_TRACE(name(kind));
    initDevice();
    replaceWith(kind, settingsPath());
    auto inert = start("photos");
    EXPECT_EQ(testing_support::hooks(*inert), Lines{});
    EXPECT_EQ(inert->finish(5000), 0);

    removeSettings();
    writeSettings(testing_support::enabledWith({{"popToRoot", "<true/>"},
                                                {"showLockIcon", "<true/>"},
                                                {"hiddenItemCount", "<integer>7</integer>"}}));
    auto photos = start("photos");
    ASSERT_EQ(vars(*photos)["popToRoot"], "YES");
    replaceWith(kind, settingsPath());
    postChanged();
    ASSERT_NE(photos->waitForLine("notified com.qel.velmopreferences/changed", 5000), "");
    auto v = vars(*photos);
    EXPECT_EQ(v["popToRoot"], "NO");
    EXPECT_EQ(v["showLockIcon"], "NO");
    EXPECT_EQ(v["hiddenItemCount"], "0");
    EXPECT_EQ(testing_support::hooks(*photos).size(), 4u) << "the hooks stay";
    EXPECT_EQ(photos->finish(5000), 0);
    TearDown();
  }
}

TEST_F(SpecialFilesTest, AChangeThatWasNotSavedIsAnErrorAndShowReadsTheDomain) {
  initDevice();
  // A killall that ends nothing: the master switch is flipped below.
  std::string killall = root_ + "/var/jb/usr/bin/killall";
  fs::remove(killall);
  fs::copy_file(testing_support::binDirectory() + "/record_spawn", killall);
  fs::create_directories(settingsPath());
  auto settings = start("settings");
  ASSERT_EQ(settings->command("open Velmo"), Lines{"ok"});
  const std::string reason =
      " was not saved: /var/jb/var/mobile/Library/Preferences/com.qel.velmopreferences.plist: "
      "not a regular file";
  EXPECT_EQ(settings->command("set popToRoot on"), Lines{"error: popToRoot" + reason});
  EXPECT_EQ(settings->command("set hiddenItemCount 5"), Lines{"error: hiddenItemCount" + reason});
  EXPECT_EQ(settings->command("switch on"),
            (Lines{"Photos was not running", "error: enabled" + reason}));
  Lines shown = body(settings->command("show"));
  ASSERT_EQ(shown.size(), 8u);
  EXPECT_EQ(shown[1].substr(0, 11), "switch off ") << "the switch shows the domain, not the tap";
  EXPECT_EQ(shown[4], "row popToRoot: off");
  EXPECT_EQ(shown[7], "row hiddenItemCount: 0");
  EXPECT_TRUE(fs::is_directory(settingsPath())) << "what was there is left alone";

  // Once the path is free the same changes are saved.
  fs::remove(settingsPath());
  EXPECT_EQ(settings->command("set popToRoot on"), Lines{"ok"});
  EXPECT_EQ(settings->command("switch on"), (Lines{"Photos was not running", "ok"}));
  shown = body(settings->command("show"));
  ASSERT_EQ(shown.size(), 8u);
  EXPECT_EQ(shown[1].substr(0, 10), "switch on ");
  EXPECT_EQ(shown[4], "row popToRoot: on");
  EXPECT_EQ(settings->finish(), 0);
}

TEST_F(SpecialFilesTest, ANotificationNameTooLongIsRefusedByPosterAndWatcher) {
  initDevice();
  const std::string longest(255, 'n');
  const std::string too_long(256, 'n');
  std::string output;
  EXPECT_EQ(runProgram({program(), "notify", "--root", root_, longest}, &output), 0) << output;
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{too_long}, std::vector<std::string>{"--watch", too_long}}) {
    std::vector<std::string> argv = {program(), "notify", "--root", root_};
    argv.insert(argv.end(), extra.begin(), extra.end());
    output.clear();
    EXPECT_EQ(runProgram(argv, &output, 5000), 2);
    EXPECT_EQ(output.rfind("error: notification name too long: 256 bytes", 0), 0u) << output;
  }
  // The longest name that fits goes through.
  testing_support::DeviceProcess watch({program(), "notify", "--root", root_, "--watch", longest});
  ASSERT_TRUE(answered(watch.command("help")));
  output.clear();
  EXPECT_EQ(runProgram({program(), "notify", "--root", root_, longest}, &output), 0) << output;
  EXPECT_EQ(watch.waitForLine("notified " + longest, 5000), "notified " + longest);
  EXPECT_EQ(watch.finish(), 0);
}

}  // namespace
