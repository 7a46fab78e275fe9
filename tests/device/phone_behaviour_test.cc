// The simulated phone where a lock is judged, through its programs: the
// authentication prompt is modal, it does not outlive the app on screen,
// failed passcodes lock the device out on its own clock, a killall reaches
// only its own device, and a switch set to its state changes nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tests/support/device_fixture.h"

namespace {

using testing_support::answer;
using testing_support::DeviceTest;
using testing_support::enabledWith;
using testing_support::hooks;
using testing_support::Lines;
using testing_support::makeTempDirectory;
using testing_support::removeTree;
using testing_support::runProgram;
using testing_support::vars;
using testing_support::where;

const char kPrompt[] = "prompt \"Use your passcode to view and manage hidden album.\" passcode";
const char kRefused[] = "error: the authentication prompt is on screen: answer or cancel it first";

class PhoneBehaviourTest : public DeviceTest {};

TEST_F(PhoneBehaviourTest, ThePromptIsModalOnIPhone) {
  initDevice();
  writeSettings(enabledWith());
  auto photos = start("photos");
  ASSERT_EQ(answer(*photos, "tap Hidden"), Lines{kPrompt});
  // Nothing under the prompt can be touched...
  EXPECT_EQ(answer(*photos, "tap Recents"), Lines{kRefused});
  EXPECT_EQ(answer(*photos, "tap Hidden"), Lines{kRefused});
  EXPECT_EQ(answer(*photos, "back"), Lines{kRefused});
  // ...while what only looks keeps answering.
  EXPECT_EQ(where(*photos), "where Albums");
  EXPECT_EQ(answer(*photos, "albums").size(), 6u);
  EXPECT_EQ(answer(*photos, "prompt"), Lines{kPrompt});
  EXPECT_EQ(hooks(*photos).size(), 4u);
  EXPECT_EQ(vars(*photos)["accessed"], "NO");
  EXPECT_FALSE(answer(*photos, "bundles").empty());
  // One answer opens the one album that asked, once.
  EXPECT_EQ(answer(*photos, "answer passcode 1234"), Lines{"passcode accepted"});
  EXPECT_EQ(where(*photos), "where Albums > Hidden");
  EXPECT_EQ(answer(*photos, "prompt"), Lines{"prompt none"});
  EXPECT_EQ(answer(*photos, "back"), Lines{});
  EXPECT_EQ(where(*photos), "where Albums");
  EXPECT_EQ(photos->finish(), 0);
}

TEST_F(PhoneBehaviourTest, ThePromptIsModalOnIPad) {
  initDevice({"--model", "iPad"});
  writeSettings(enabledWith());
  auto photos = start("photos");
  ASSERT_EQ(answer(*photos, "tap Hidden"), Lines{kPrompt});
  EXPECT_EQ(answer(*photos, "tap Recents"), Lines{kRefused});
  EXPECT_EQ(answer(*photos, "tap Hidden"), Lines{kRefused});
  EXPECT_EQ(where(*photos), "where Albums");
  EXPECT_EQ(answer(*photos, "answer passcode 1234"),
            (Lines{"passcode accepted", "completed Hidden"}));
  EXPECT_EQ(where(*photos), "where Albums > Hidden");
  EXPECT_EQ(photos->finish(), 0);
}

TEST_F(PhoneBehaviourTest, LeavingTheScreenCancelsThePromptAndTheAlbumStaysClosed) {
  for (const char* model : {"iPhone", "iPad"}) {
    SCOPED_TRACE(model);
    initDevice({"--model", model});
    writeSettings(enabledWith({{"popToRoot", "<true/>"}}));
    auto photos = start("photos");
    ASSERT_EQ(answer(*photos, "tap Hidden"), Lines{kPrompt});
    EXPECT_EQ(answer(*photos, "background"), Lines{});
    EXPECT_EQ(answer(*photos, "answer passcode 1234"),
              Lines{"error: the app is in the background (no prompt)"});
    EXPECT_EQ(answer(*photos, "foreground"), Lines{});
    EXPECT_EQ(answer(*photos, "prompt"), Lines{"prompt none"});
    EXPECT_EQ(answer(*photos, "answer passcode 1234"), Lines{"error: no prompt"});
    EXPECT_EQ(where(*photos), "where Albums");
    EXPECT_EQ(vars(*photos)["accessed"], "NO");
    // The next tap asks again.
    EXPECT_EQ(answer(*photos, "tap Hidden"), Lines{kPrompt});
    EXPECT_EQ(photos->finish(), 0);
    removeTree(root_);
  }
}

TEST_F(PhoneBehaviourTest, FailedPasscodesLockTheDeviceOutAcrossARestartUntilItsClockMoves) {
  initDevice();
  writeSettings(enabledWith());
  auto photos = start("photos");
  ASSERT_EQ(answer(*photos, "tap Hidden"), Lines{kPrompt});
  EXPECT_EQ(answer(*photos, "answer passcode 1111"), Lines{"wrong passcode, 4 attempts left"});
  // The same code again is the same mistake: it counts once.
  EXPECT_EQ(answer(*photos, "answer passcode 1111"), Lines{"wrong passcode, 4 attempts left"});
  EXPECT_EQ(answer(*photos, "answer cancel"), Lines{"cancelled"});
  // A new prompt does not start the device's count afresh.
  ASSERT_EQ(answer(*photos, "tap Hidden"), Lines{kPrompt});
  EXPECT_EQ(answer(*photos, "answer passcode 2222"), Lines{"wrong passcode, 4 attempts left"});
  EXPECT_EQ(answer(*photos, "answer passcode 3333"), Lines{"wrong passcode, 3 attempts left"});
  EXPECT_EQ(answer(*photos, "answer passcode 4444"), Lines{"wrong passcode, 2 attempts left"});
  EXPECT_EQ(answer(*photos, "answer passcode 5555"),
            Lines{"wrong passcode, 1 attempt left; try again in 1 minute"});
  // Locked out: even the right code is refused, and the prompt stays to be cancelled.
  EXPECT_EQ(answer(*photos, "answer passcode 1234"), Lines{"error: try again in 1 minute"});
  EXPECT_EQ(answer(*photos, "prompt"), Lines{kPrompt});
  EXPECT_EQ(where(*photos), "where Albums");

  // A restart of Photos keeps the wait.
  EXPECT_EQ(photos->finish(), 0);
  photos = start("photos");
  ASSERT_EQ(answer(*photos, "tap Hidden"), Lines{kPrompt});
  EXPECT_EQ(answer(*photos, "answer passcode 1234"), Lines{"error: try again in 1 minute"});
  advanceClock("30s");
  EXPECT_EQ(answer(*photos, "answer passcode 1234"), Lines{"error: try again in 1 minute"});
  advanceClock("30s");
  // The sixth failure makes the wait five minutes.
  EXPECT_EQ(answer(*photos, "answer passcode 6666"),
            Lines{"wrong passcode, 4 attempts left; try again in 5 minutes"});
  advanceClock("5m");
  EXPECT_EQ(answer(*photos, "answer passcode 1234"), Lines{"passcode accepted"});
  EXPECT_EQ(where(*photos), "where Albums > Hidden");
  // The right code cleared the device's count.
  EXPECT_EQ(answer(*photos, "back"), Lines{});
  ASSERT_EQ(answer(*photos, "tap Hidden"), Lines{kPrompt});
  EXPECT_EQ(answer(*photos, "answer passcode 7777"), Lines{"wrong passcode, 4 attempts left"});
  EXPECT_EQ(photos->finish(), 0);
}

TEST_F(PhoneBehaviourTest, TheMasterSwitchEndsOnlyItsOwnDevicesPhotos) {
  initDevice();
  const std::string other = makeTempDirectory("velmo-other-device");
  std::string output;
  ASSERT_EQ(runProgram({program(), "init", "--root", other}, &output), 0) << output;
  testing_support::DeviceProcess theirs({program(), "photos", "--root", other});
  testing_support::waitReady(theirs);
  auto photos = start("photos");
  testing_support::waitReady(*photos);

  auto settings = start("settings");
  ASSERT_EQ(answer(*settings, "open Velmo"), Lines{});
  EXPECT_EQ(answer(*settings, "switch on"),
            Lines{"Photos (pid " + std::to_string(photos->pid()) + ") was ended by killall"});
  EXPECT_EQ(photos->waitExit(5000), -9);
  // The other device's Photos never noticed.
  EXPECT_EQ(where(theirs), "where Albums");
  EXPECT_EQ(theirs.finish(), 0);
  removeTree(other);
}

TEST_F(PhoneBehaviourTest, TheDevicesKillallSaysWhenItFoundNothing) {
  initDevice();
  std::string killall = root_ + "/var/jb/usr/bin/killall";
  std::string output;
  EXPECT_EQ(runProgram({killall, "-9", "MobileSlideShow"}, &output), 1);
  EXPECT_EQ(output, "MobileSlideShow: no process found\n");
  EXPECT_EQ(runProgram({killall, "-NOSUCH", "MobileSlideShow"}, &output), 2);
  EXPECT_EQ(runProgram({killall}, &output), 2);
  // Started from anywhere but a device, it refuses rather than guess.
  EXPECT_EQ(runProgram({testing_support::binDirectory() + "/velmo-killall", "-9", "x"}, &output),
            2);

  auto photos = start("photos");
  testing_support::waitReady(*photos);
  std::string both;
  // A program the device cannot register would be out of killall's reach:
  // it does not start.
  {
    std::string processes = root_ + "/var/run/processes";
    std::string moved = processes + ".aside";
    ASSERT_EQ(::rename(processes.c_str(), moved.c_str()), 0);
    std::ofstream(processes) << "not a folder";
    EXPECT_EQ(runProgram({program(), "tccd", "--root", root_}, &output), 2);
    EXPECT_NE(output.find("error: cannot create"), std::string::npos) << output;
    ::unlink(processes.c_str());
    ASSERT_EQ(::rename(moved.c_str(), processes.c_str()), 0);
  }
  EXPECT_EQ(runProgram({killall, "-TERM", "Preferences", "MobileSlideShow"}, &both), 0);
  EXPECT_EQ(both, "Preferences: no process found\n");
  EXPECT_EQ(photos->waitExit(5000), -15);
}

TEST_F(PhoneBehaviourTest, ASwitchSetToItsStateWritesNothingAndRestartsNothing) {
  initDevice();
  writeSettings(enabledWith({{"popToRoot", "<true/>"}}));
  auto photos = start("photos");
  testing_support::waitReady(*photos);
  struct stat before {};
  ASSERT_EQ(stat(settingsPath().c_str(), &before), 0);

  auto settings = start("settings");
  ASSERT_EQ(answer(*settings, "open Velmo"), Lines{});
  ASSERT_NE(photos->waitForLine("notified com.qel.velmopreferences/changed"), "");
  EXPECT_EQ(answer(*settings, "switch on"), Lines{"switch already on"});
  EXPECT_EQ(answer(*settings, "set popToRoot on"), Lines{"popToRoot already on"});
  EXPECT_EQ(photos->drain(300), Lines{}) << "no notification, no restart";
  EXPECT_EQ(where(*photos), "where Albums") << "Photos still runs";
  struct stat after {};
  ASSERT_EQ(stat(settingsPath().c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino) << "the settings file was not rewritten";
  EXPECT_EQ(photos->finish(), 0);
}

}  // namespace
