// What the Settings app does to a running Photos app: the master switch ends
// it through the system's real killall (a fresh launch then loads Velmo), an
// option reaches it through the change notification, and the settings file
// the pane writes is one the phone's tools read.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/device_fixture.h"

namespace {

using testing_support::answer;
using testing_support::childrenOf;
using testing_support::DeviceTest;
using testing_support::enabledWith;
using testing_support::hooks;
using testing_support::Lines;
using testing_support::runProgram;
using testing_support::waitReady;
using testing_support::waitUntil;

const char kNotified[] = "notified com.qel.velmopreferences/changed";

// The Hidden album's row as the app draws it now.
std::string hiddenRow(testing_support::DeviceProcess& photos) {
  for (const std::string& line : answer(photos, "albums")) {
    if (line.rfind("album Hidden:", 0) == 0) return line;
  }
  return "no Hidden row";
}

class SettingsToPhotosTest : public DeviceTest {};

TEST_F(SettingsToPhotosTest, TheMasterSwitchEndsPhotosWhoseNextLaunchLoadsVelmo) {
  initDevice();
  auto settings = start("settings");
  ASSERT_EQ(answer(*settings, "open Velmo"), Lines{});
  // Already off: nothing is written and nothing restarted.
  EXPECT_EQ(answer(*settings, "switch off"), Lines{"switch already off"});
  EXPECT_FALSE(std::filesystem::exists(settingsPath()));

  auto photos = start("photos");
  EXPECT_EQ(hooks(*photos), Lines{}) << "the master switch is off: inert";
  EXPECT_EQ(answer(*settings, "switch on"),
            Lines{"Photos (pid " + std::to_string(photos->pid()) + ") was ended by killall"});
  EXPECT_EQ(photos->waitExit(5000), -9) << "ended by SIGKILL";
  // killall was started and reaped: nothing, not even a zombie, stays behind.
  EXPECT_TRUE(waitUntil([&] { return childrenOf(settings->pid()).empty(); }, 5000))
      << childrenOf(settings->pid()).size() << " child(ren) left under Settings";

  photos = start("photos");
  EXPECT_EQ(hooks(*photos).size(), 4u) << "the next launch loads Velmo";
  EXPECT_EQ(answer(*photos, "tap Hidden").size(), 1u) << "and the album is locked";

  // The file the pane wrote is a binary property list that both the
  // phone's tools and Python read.
  std::ifstream in(settingsPath(), std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  EXPECT_EQ(bytes.str().substr(0, 8), "bplist00");
  std::string output;
  EXPECT_EQ(runProgram({"/usr/bin/python3", "-c",
                        "import plistlib, sys\n"
                        "d = plistlib.load(open(sys.argv[1], 'rb'), fmt=plistlib.FMT_BINARY)\n"
                        "print(repr(d['enabled']))",
                        settingsPath()},
                       &output),
            0)
      << output;
  EXPECT_EQ(output, "True\n");
  output.clear();
  EXPECT_EQ(runProgram({"/usr/bin/plistutil", "-i", settingsPath()}, &output), 0) << output;
  EXPECT_NE(output.find("<key>enabled</key>\n\t<true/>"), std::string::npos) << output;

  EXPECT_EQ(settings->finish(), 0);
  EXPECT_EQ(photos->finish(), 0);
}

TEST_F(SettingsToPhotosTest, AnOptionReachesTheRunningAppAtOnce) {
  initDevice();
  writeSettings(enabledWith());
  auto photos = start("photos");
  waitReady(*photos);
  EXPECT_EQ(hiddenRow(*photos), "album Hidden: 12");

  auto settings = start("settings");
  ASSERT_EQ(answer(*settings, "open Velmo"), Lines{});
  EXPECT_NE(photos->waitForLine(kNotified, 5000), "") << "opening the pane notifies";
  ASSERT_EQ(answer(*settings, "set showLockIcon true"), Lines{});
  EXPECT_NE(photos->waitForLine(kNotified, 5000), "");
  EXPECT_EQ(hiddenRow(*photos), "album Hidden: [lock.fill systemGrayColor]");
  ASSERT_EQ(answer(*settings, "set showLockIcon false"), Lines{});
  ASSERT_EQ(answer(*settings, "set hiddenItemCountEnabled on"), Lines{});
  ASSERT_EQ(answer(*settings, "set hiddenItemCount 3"), Lines{});
  EXPECT_TRUE(waitUntil([&] { return hiddenRow(*photos) == "album Hidden: 3"; }))
      << "the last of several quick changes wins";

  EXPECT_EQ(settings->finish(), 0);
  EXPECT_EQ(photos->finish(), 0);
}

}  // namespace
