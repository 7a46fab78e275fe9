// The album lock as the device's owner meets it: taps on the album list (the
// sidebar on iPad) of a real Photos process, the prompt, the owner's answers,
// and where the app ends up.
#include <gtest/gtest.h>

#include "tests/support/device_fixture.h"

namespace {

using testing_support::answer;
using testing_support::DeviceTest;
using testing_support::enabledWith;
using testing_support::Lines;
using testing_support::vars;
using testing_support::where;

const char kPrompt[] = "prompt \"Use your passcode to view and manage hidden album.\" passcode";

class AlbumLockTest : public DeviceTest {};

TEST_F(AlbumLockTest, OnIPhoneTheHiddenAlbumOpensOnlyWithThePasscodeAndClosesInTheBackground) {
  initDevice();
  writeSettings(enabledWith({{"popToRoot", "<true/>"}}));
  auto photos = start("photos");

  // The tap raises the prompt and opens nothing yet.
  EXPECT_EQ(answer(*photos, "tap Hidden"), Lines{kPrompt});
  EXPECT_EQ(answer(*photos, "prompt"), Lines{kPrompt});
  EXPECT_EQ(where(*photos), "where Albums");
  EXPECT_EQ(answer(*photos, "answer passcode 1111"), Lines{"wrong passcode, 4 attempts left"});
  EXPECT_EQ(answer(*photos, "prompt"), Lines{kPrompt}) << "a wrong passcode keeps the prompt";
  EXPECT_EQ(where(*photos), "where Albums");
  EXPECT_EQ(vars(*photos)["accessed"], "NO");

  EXPECT_EQ(answer(*photos, "answer passcode 1234"), Lines{"passcode accepted"});
  EXPECT_EQ(answer(*photos, "prompt"), Lines{"prompt none"});
  EXPECT_EQ(where(*photos), "where Albums > Hidden");
  EXPECT_EQ(vars(*photos)["accessed"], "YES");

  // Backgrounding returns the list to its root and locks again.
  EXPECT_EQ(answer(*photos, "background"), Lines{});
  EXPECT_EQ(where(*photos), "where Albums");
  EXPECT_EQ(vars(*photos)["accessed"], "NO");
  EXPECT_EQ(answer(*photos, "foreground"), Lines{});

  // Cancel, and five wrong passcodes, leave the list where it is; the fifth
  // failure on the device also makes its owner wait a minute.
  EXPECT_EQ(answer(*photos, "tap Hidden"), Lines{kPrompt});
  EXPECT_EQ(answer(*photos, "answer cancel"), Lines{"cancelled"});
  EXPECT_EQ(answer(*photos, "prompt"), Lines{"prompt none"});
  EXPECT_EQ(where(*photos), "where Albums");
  EXPECT_EQ(answer(*photos, "tap Hidden"), Lines{kPrompt});
  Lines last;
  for (int i = 0; i < 5; ++i) last = answer(*photos, "answer passcode 999" + std::to_string(i));
  EXPECT_EQ(last, Lines{"wrong passcode, authentication failed; try again in 1 minute"});
  EXPECT_EQ(answer(*photos, "prompt"), Lines{"prompt none"});
  EXPECT_EQ(where(*photos), "where Albums");
  EXPECT_EQ(vars(*photos)["accessed"], "NO");

  // An ordinary album opens at once.
  EXPECT_EQ(answer(*photos, "tap Holidays"), Lines{});
  EXPECT_EQ(where(*photos), "where Albums > Holidays");
  EXPECT_EQ(answer(*photos, "back"), Lines{});

  // With popToRoot off the unlocked album stays open in the background.
  writeSettings(enabledWith());
  postChanged();
  ASSERT_NE(photos->waitForLine("notified com.qel.velmopreferences/changed"), "");
  EXPECT_EQ(answer(*photos, "tap Hidden"), Lines{kPrompt});
  EXPECT_EQ(answer(*photos, "answer passcode 1234"), Lines{"error: try again in 1 minute"});
  advanceClock("1m");
  EXPECT_EQ(answer(*photos, "answer passcode 1234"), Lines{"passcode accepted"});
  EXPECT_EQ(answer(*photos, "background"), Lines{});
  EXPECT_EQ(where(*photos), "where Albums > Hidden");
  EXPECT_EQ(vars(*photos)["accessed"], "YES");
  EXPECT_EQ(photos->finish(), 0);
}

TEST_F(AlbumLockTest, RecentlyDeletedIsLockedByItsOption) {
  initDevice();
  writeSettings(enabledWith());
  auto photos = start("photos");
  EXPECT_EQ(answer(*photos, "tap Recently Deleted"), Lines{})
      << "no prompt while the option is off";
  EXPECT_EQ(where(*photos), "where Albums > Recently Deleted");
  EXPECT_EQ(answer(*photos, "back"), Lines{});

  writeSettings(enabledWith({{"lockRecentlyDeleted", "<true/>"}}));
  postChanged();
  ASSERT_NE(photos->waitForLine("notified com.qel.velmopreferences/changed"), "");
  EXPECT_EQ(answer(*photos, "tap Recently Deleted"), Lines{kPrompt});
  EXPECT_EQ(where(*photos), "where Albums");
  EXPECT_EQ(answer(*photos, "answer passcode 1234"), Lines{"passcode accepted"});
  EXPECT_EQ(where(*photos), "where Albums > Recently Deleted");
  EXPECT_EQ(photos->finish(), 0);
}

TEST_F(AlbumLockTest, OnIPadTheSidebarCompletesOnlyAfterSuccess) {
  initDevice({"--model", "iPad"});
  writeSettings(enabledWith({{"popToRoot", "<true/>"}}));
  auto photos = start("photos");

  EXPECT_EQ(answer(*photos, "tap Hidden"), Lines{kPrompt});
  EXPECT_EQ(answer(*photos, "answer passcode 0000"), Lines{"wrong passcode, 4 attempts left"});
  EXPECT_EQ(answer(*photos, "answer cancel"), Lines{"cancelled"}) << "no completed line";
  EXPECT_EQ(where(*photos), "where Albums");

  EXPECT_EQ(answer(*photos, "tap Hidden"), Lines{kPrompt});
  EXPECT_EQ(answer(*photos, "answer passcode 1234"),
            (Lines{"passcode accepted", "completed Hidden"}));
  EXPECT_EQ(where(*photos), "where Albums > Hidden");
  EXPECT_EQ(vars(*photos)["accessed"], "YES");

  // The iPad never pops on backgrounding; other albums complete at once.
  EXPECT_EQ(answer(*photos, "background"), Lines{});
  EXPECT_EQ(answer(*photos, "foreground"), Lines{});
  EXPECT_EQ(where(*photos), "where Albums > Hidden");
  EXPECT_EQ(answer(*photos, "tap Recents"), Lines{"completed Recents"});
  EXPECT_EQ(answer(*photos, "tap Recently Deleted"), Lines{"completed Recently Deleted"});
  EXPECT_EQ(photos->finish(), 0);
  EXPECT_EQ(photos->drain(0), Lines{});
}

TEST_F(AlbumLockTest, WithoutAPasscodeTheHiddenAlbumNeverOpens) {
  initDevice({"--no-passcode"});
  writeSettings(enabledWith());
  auto photos = start("photos");
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(answer(*photos, "tap Hidden"), Lines{});
    EXPECT_EQ(answer(*photos, "prompt"), Lines{"prompt none"});
    EXPECT_EQ(where(*photos), "where Albums");
  }
  EXPECT_EQ(answer(*photos, "answer passcode 1234"), Lines{"error: no prompt"});
  EXPECT_EQ(vars(*photos)["accessed"], "NO");
  EXPECT_EQ(answer(*photos, "tap Family"), Lines{});
  EXPECT_EQ(where(*photos), "where Albums > Family");
  EXPECT_EQ(photos->finish(), 0);
}

}  // namespace
