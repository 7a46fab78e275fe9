// Files that are not files: a FIFO, a socket, an endless device behind a
// symlink or a folder at a path the device's programs read, one path at a
// time. Nothing may block on them; each reads as a file that cannot be read
// (for the settings file: an empty dictionary), and each program answers as
// it does without that file. A change the Settings app could not save is
// reported as such, and what it then shows is what the domain holds.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/device_fixture.h"

namespace {

namespace fs = std::filesystem;
using testing_support::answer;
using testing_support::body;
using testing_support::DeviceTest;
using testing_support::enabledWith;
using testing_support::hooks;
using testing_support::Lines;
using testing_support::runProgram;
using testing_support::vars;

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

// A special file of `kind` at `path` while it lives; what was there is kept
// aside and put back.
class Swapped {
 public:
  Swapped(Kind kind, std::string path) : path_(std::move(path)) {
    std::error_code ec;
    kept_ = fs::exists(fs::symlink_status(path_, ec));
    if (kept_) fs::rename(path_, path_ + ".kept");
    replaceWith(kind, path_);
  }
  ~Swapped() {
    std::error_code ec;
    fs::remove_all(path_, ec);
    if (kept_) fs::rename(path_ + ".kept", path_, ec);
  }
  Swapped(const Swapped&) = delete;
  Swapped& operator=(const Swapped&) = delete;

 private:
  std::string path_;
  bool kept_ = false;
};

// True when the answer came (ok or error), not a timeout.
bool answered(const Lines& answer) { return !answer.empty() && answer.back() != "timeout"; }

bool contains(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

const std::string kReason = "\"Use your passcode to view and manage hidden album.\"";
const std::string kPaneBundle = "/var/jb/Library/PreferenceBundles/VelmoPreferences.bundle";

class SpecialFilesTest : public DeviceTest {
 protected:
  // A reader of the device: a path a program reads, and what the programs
  // that read it answer while a special file of the given kind is there and
  // every other file is as init made it. Each program is asked with a time
  // limit: one blocked on the file answers nothing and fails the check.
  struct Reader {
    std::string path;
    std::function<void(Kind)> check;
    bool republish = false;  // the check published allow lists without Velmo
  };

  // A device with Velmo on, the lock glyph shown and the allow lists published.
  void initVelmoDevice() {
    initDevice();
    writeSettings(enabledWith({{"showLockIcon", "<true/>"}}));
    publishAllowLists();
  }

  void publishAllowLists() {
    auto tccd = start("tccd");
    EXPECT_NE(tccd->waitForLine("service kTCCServiceFaceID:", 5000), "");
    EXPECT_EQ(tccd->finish(5000), 0);
  }

  std::string notRegular(const std::string& path) const {
    return root_ + path + ": not a regular file";
  }

  std::vector<Reader> readers();
};

std::vector<SpecialFilesTest::Reader> SpecialFilesTest::readers() {
  auto photosBundles = [this](const std::string& expected) {
    auto photos = start("photos");
    EXPECT_EQ(hooks(*photos).size(), 4u);
    Lines bundles = answer(*photos, "bundles");
    EXPECT_TRUE(contains(bundles, expected)) << testing::PrintToString(bundles);
    EXPECT_EQ(photos->finish(5000), 0);
  };
  const std::string velmo_dylib = "/var/jb/Library/MobileSubstrate/DynamicLibraries/Velmo.dylib";
  return {
      // No passcode can be checked: the tap raises no prompt and opens nothing.
      {"/device.plist",
       [this](Kind) {
         auto photos = start("photos");
         EXPECT_EQ(photos->command("tap Hidden", 5000), Lines{"ok"});
         EXPECT_EQ(photos->command("where", 5000), (Lines{"where Albums", "ok"}));
         EXPECT_EQ(photos->finish(5000), 0);
       }},
      // An app that cannot be identified is not one the tweak's filter names.
      {"/Applications/MobileSlideShow.app/Info.plist",
       [this](Kind) {
         auto photos = start("photos");
         EXPECT_EQ(photos->command("hooks", 5000), Lines{"ok"});
         Lines bundles = answer(*photos, "bundles");
         ASSERT_FALSE(bundles.empty());
         EXPECT_EQ(bundles[0], "bundle /Applications/MobileSlideShow.app: -");
         EXPECT_EQ(photos->finish(5000), 0);
       }},
      // A framework without its identifier is named by its path.
      {"/System/Library/Frameworks/Photos.framework/Info.plist",
       [photosBundles](Kind) {
         photosBundles("bundle /System/Library/Frameworks/Photos.framework: " + kReason);
       }},
      {"/System/Library/PrivateFrameworks/PhotosUICore.framework/Info.plist",
       [photosBundles](Kind) {
         photosBundles("bundle /System/Library/PrivateFrameworks/PhotosUICore.framework: " +
                       kReason);
       }},
      {"/var/mobile/Media/PhotoData/Albums.plist",
       [this](Kind) {
         auto photos = start("photos");
         std::string said;
         ASSERT_TRUE(photos->nextLine(&said, 5000));
         EXPECT_EQ(said, "error: photo library: " +
                             notRegular("/var/mobile/Media/PhotoData/Albums.plist"));
         EXPECT_EQ(photos->command("albums", 5000), Lines{"ok"});
         EXPECT_EQ(photos->finish(5000), 0);
       }},
      // dlopen would block on a FIFO: the loader refuses the file, in Photos
      // and in the privacy daemon.
      {velmo_dylib,
       [=, this](Kind) {
         const std::string refused = "error: cannot load Velmo: " + notRegular(velmo_dylib);
         for (const char* program : {"photos", "tccd"}) {
           auto p = start(program);
           std::string said;
           ASSERT_TRUE(p->nextLine(&said, 5000)) << program;
           EXPECT_EQ(said, refused) << program;
           Lines installed = hooks(*p);
           EXPECT_TRUE(installed.empty()) << program << ": " << testing::PrintToString(installed);
           EXPECT_EQ(p->finish(5000), 0) << program;
         }
       },
       /*republish=*/true},
      // Without its filter the tweak is loaded nowhere.
      {"/var/jb/Library/MobileSubstrate/DynamicLibraries/Velmo.plist",
       [this](Kind) {
         auto photos = start("photos");
         EXPECT_EQ(photos->command("hooks", 5000), Lines{"ok"});
         EXPECT_EQ(photos->finish(5000), 0);
         auto tccd = start("tccd");
         EXPECT_EQ(tccd->waitForLine("service kTCCServiceFaceID:", 5000),
                   "service kTCCServiceFaceID: com.apple.mobilesafari,com.apple.Passbook");
         EXPECT_EQ(tccd->finish(5000), 0);
       },
       /*republish=*/true},
      // The pane's own Info.plist adds nothing its Settings entry does not say.
      {kPaneBundle + "/Info.plist",
       [this](Kind) {
         auto settings = start("settings");
         EXPECT_EQ(settings->command("open Velmo", 5000), Lines{"ok"});
         Lines shown = answer(*settings, "show");
         ASSERT_EQ(shown.size(), 8u);
         EXPECT_EQ(shown[4], "row popToRoot: off");
         EXPECT_EQ(settings->finish(5000), 0);
       }},
      // Without its specifiers the pane has its title, switch and no rows.
      {kPaneBundle + "/Root.plist",
       [this](Kind) {
         auto settings = start("settings");
         EXPECT_EQ(settings->command("open Velmo", 5000), Lines{"ok"});
         Lines shown = answer(*settings, "show");
         ASSERT_EQ(shown.size(), 3u);
         EXPECT_EQ(shown[2], "header none");
         EXPECT_EQ(settings->command("set popToRoot on", 5000),
                   Lines{"error: no row with key \"popToRoot\" in Velmo"});
         EXPECT_EQ(settings->finish(5000), 0);
       }},
      // dlopen would block on a FIFO: the Settings app refuses the plug-in.
      {kPaneBundle + "/VelmoPreferences",
       [this](Kind) {
         auto settings = start("settings");
         EXPECT_EQ(settings->command("open Velmo", 5000),
                   Lines{"error: cannot load " + kPaneBundle +
                         "/VelmoPreferences: " + notRegular(kPaneBundle + "/VelmoPreferences")});
         EXPECT_EQ(settings->finish(5000), 0);
       }},
      {kPaneBundle + "/velmo.png",
       [this](Kind) {
         auto settings = start("settings");
         EXPECT_EQ(settings->command("open Velmo", 5000), Lines{"ok"});
         Lines shown = answer(*settings, "show");
         ASSERT_EQ(shown.size(), 8u);
         EXPECT_EQ(shown[2].rfind("header 200x150: no image 125x125 ", 0), 0u) << shown[2];
         EXPECT_EQ(settings->finish(5000), 0);
       }},
      {"/var/jb/Library/PreferenceLoader/Preferences/VelmoPreferences.plist",
       [this](Kind) {
         auto settings = start("settings");
         EXPECT_EQ(settings->command("open Velmo", 5000),
                   Lines{"error: no Settings entry labelled \"Velmo\""});
         EXPECT_EQ(settings->finish(5000), 0);
       }},
      // The settings file reads as an empty dictionary: the tweak is inert.
      {"/var/jb/var/mobile/Library/Preferences/com.qel.velmopreferences.plist",
       [this](Kind) {
         auto photos = start("photos");
         EXPECT_EQ(photos->command("hooks", 5000), Lines{"ok"});
         EXPECT_EQ(vars(*photos)["showLockIcon"], "NO");
         EXPECT_EQ(photos->finish(5000), 0);
         auto settings = start("settings");
         EXPECT_EQ(settings->command("open Velmo", 5000), Lines{"ok"});
         Lines shown = answer(*settings, "show");
         ASSERT_EQ(shown.size(), 8u);
         EXPECT_EQ(shown[1].rfind("switch off ", 0), 0u) << shown[1];
         EXPECT_EQ(settings->command("set popToRoot on", 5000),
                   Lines{"error: popToRoot was not saved: "
                         "/var/jb/var/mobile/Library/Preferences/com.qel.velmopreferences.plist: "
                         "not a regular file"});
         EXPECT_EQ(settings->finish(5000), 0);
       }},
      // Without the allow lists Face ID is not offered; the daemon publishes
      // them again over whatever is there, unless it is a folder.
      {"/var/db/TCC/allowlists.plist",
       [this](Kind kind) {
         auto photos = start("photos");
         EXPECT_EQ(photos->command("tap Hidden", 5000),
                   (Lines{"prompt " + kReason + " passcode", "ok"}));
         EXPECT_EQ(photos->command("answer cancel", 5000), (Lines{"cancelled", "ok"}));
         EXPECT_EQ(photos->finish(5000), 0);
         auto tccd = start("tccd");
         if (kind == Kind::kFolder) {
           Lines said = tccd->drain(2000);
           ASSERT_FALSE(said.empty());
           EXPECT_EQ(said[0].rfind("error: ", 0), 0u) << said[0];
           EXPECT_EQ(tccd->finish(5000), 1);
         } else {
           EXPECT_NE(tccd->waitForLine("service kTCCServiceFaceID:", 5000).find("mobileslideshow"),
                     std::string::npos);
           EXPECT_EQ(tccd->finish(5000), 0);
         }
       }},
      // A registry entry that is no file is passed over, by the device's
      // killall and by the Settings app, and removed.
      {"/var/run/processes/4194304",
       [this](Kind kind) {
         auto photos = start("photos");
         testing_support::waitReady(*photos);
         std::string output;
         EXPECT_EQ(runProgram({root_ + "/var/jb/usr/bin/killall", "-9", "MobileSlideShow"}, &output,
                              5000),
                   0)
             << output;
         EXPECT_EQ(photos->waitExit(5000), -SIGKILL);
         replaceWith(kind, root_ + "/var/run/processes/4194304");
         auto settings = start("settings");
         EXPECT_EQ(settings->command("open Velmo", 5000), Lines{"ok"});
         EXPECT_EQ(settings->command("switch off", 5000), (Lines{"Photos was not running", "ok"}));
         EXPECT_EQ(settings->command("switch on", 5000), (Lines{"Photos was not running", "ok"}));
         EXPECT_EQ(settings->finish(5000), 0);
         EXPECT_FALSE(fs::exists(fs::symlink_status(root_ + "/var/run/processes/4194304")));
       }},
  };
}

// A FIFO, which blocks whoever opens it for reading, at each path in turn,
// every other file intact, so that each reader's own guard is what is tested.
TEST_F(SpecialFilesTest, AFifoAtAnyPathAProgramReadsGetsItsOwnAnswerAndBlocksNothing) {
  initVelmoDevice();
  for (const Reader& reader : readers()) {
    SCOPED_TRACE(reader.path);
    {
      Swapped fifo(Kind::kFifo, root_ + reader.path);
      reader.check(Kind::kFifo);
    }
    if (reader.republish) publishAllowLists();
  }
}

// The other special files, at the paths whose readers differ: a property
// list, the two libraries loaded with dlopen, an image, a file the daemon
// writes, the process registry.
TEST_F(SpecialFilesTest, SocketsDevicesAndFoldersGetTheSameAnswers) {
  initVelmoDevice();
  const std::set<std::string> subset = {
      "/var/mobile/Media/PhotoData/Albums.plist",
      "/var/jb/Library/MobileSubstrate/DynamicLibraries/Velmo.dylib",
      kPaneBundle + "/VelmoPreferences",
      kPaneBundle + "/velmo.png",
      "/var/db/TCC/allowlists.plist",
      "/var/run/processes/4194304",
  };
  std::vector<Reader> all = readers();
  for (Kind kind : {Kind::kSocket, Kind::kDevZero, Kind::kFolder}) {
    for (const Reader& reader : all) {
      if (subset.count(reader.path) == 0) continue;
      SCOPED_TRACE(std::string(name(kind)) + " at " + reader.path);
      {
        Swapped special(kind, root_ + reader.path);
        reader.check(kind);
      }
      if (reader.republish) publishAllowLists();
    }
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
  replaceKillall("record_spawn");
  const std::string killall = root_ + "/var/jb/usr/bin/killall";
  fs::create_directories(settingsPath());
  auto settings = start("settings");
  ASSERT_EQ(settings->command("open Velmo"), Lines{"ok"});
  const std::string reason =
      " was not saved: /var/jb/var/mobile/Library/Preferences/com.qel.velmopreferences.plist: "
      "not a regular file";
  EXPECT_EQ(settings->command("set popToRoot on"), Lines{"error: popToRoot" + reason});
  EXPECT_EQ(settings->command("set hiddenItemCount 5"), Lines{"error: hiddenItemCount" + reason});
  // Not saved: nothing is restarted, so nothing is said of Photos.
  EXPECT_EQ(settings->command("switch on"), (Lines{"error: enabled" + reason}));
  EXPECT_FALSE(fs::exists(killall + ".log")) << "killall was started";
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
