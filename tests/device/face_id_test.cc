// The Face ID grant across processes: the privacy daemon, with the library
// loaded, publishes its allow lists; the Photos app then offers Face ID in its
// prompt. With the library inert nothing of this happens, and the album opens
// as it would without Velmo.
#include <gtest/gtest.h>

#include "tests/support/device_fixture.h"

namespace {

using testing_support::answer;
using testing_support::DeviceTest;
using testing_support::enabledWith;
using testing_support::Lines;
using testing_support::where;

const char kReason[] = "\"Use your passcode to view and manage hidden album.\"";

const Lines kDefaultServices = {
    "service kTCCServiceFaceID: com.apple.mobilesafari,com.apple.Passbook",
    "service kTCCServiceCamera: com.apple.camera",
    "service kTCCServicePhotos: com.apple.camera,com.apple.mobileslideshow",
    "service kTCCServiceMicrophone: com.apple.VoiceMemos",
};

class FaceIdTest : public DeviceTest {
 protected:
  // Runs the privacy daemon once, as the phone does at boot; its lines.
  Lines runTccd() {
    std::string output;
    EXPECT_EQ(testing_support::runProgram({program(), "tccd", "--root", root_}, &output), 0);
    Lines lines;
    for (size_t begin = 0, end; (end = output.find('\n', begin)) != std::string::npos;
         begin = end + 1) {
      lines.push_back(output.substr(begin, end - begin));
    }
    return lines;
  }
};

TEST_F(FaceIdTest, WithVelmoOnTheDaemonAllowsPhotosAndThePromptOffersFaceId) {
  initDevice();
  writeSettings(enabledWith());
  Lines expected = kDefaultServices;
  expected[0] += ",com.apple.mobileslideshow,com.apple.PhotosUICore";
  EXPECT_EQ(runTccd(), expected);
  // The lists were published to the device: a later start publishes the same.
  EXPECT_EQ(runTccd(), expected);

  auto photos = start("photos");
  Lines bundles = answer(*photos, "bundles");
  ASSERT_GE(bundles.size(), 2u);
  EXPECT_EQ(bundles[0], std::string("bundle com.apple.mobileslideshow: ") + kReason);
  EXPECT_EQ(bundles[1], std::string("bundle com.apple.PhotosUICore: ") + kReason);

  const Lines prompt = {std::string("prompt ") + kReason + " face+passcode"};
  EXPECT_EQ(answer(*photos, "tap Hidden"), prompt);
  EXPECT_EQ(answer(*photos, "answer face"), Lines{"Face ID matched"});
  EXPECT_EQ(where(*photos), "where Albums > Hidden");
  // The passcode is still accepted instead.
  EXPECT_EQ(answer(*photos, "back"), Lines{});
  EXPECT_EQ(answer(*photos, "tap Hidden"), prompt);
  EXPECT_EQ(answer(*photos, "answer passcode 1234"), Lines{"passcode accepted"});
  EXPECT_EQ(where(*photos), "where Albums > Hidden");
  EXPECT_EQ(photos->finish(), 0);
}

TEST_F(FaceIdTest, WithoutFaceIdHardwareThePromptAsksForThePasscodeOnly) {
  initDevice({"--biometry", "none"});
  writeSettings(enabledWith());
  runTccd();
  auto photos = start("photos");
  EXPECT_EQ(answer(*photos, "tap Hidden"), Lines{std::string("prompt ") + kReason + " passcode"});
  EXPECT_EQ(answer(*photos, "answer face"), Lines{"error: Face ID is not offered"});
  EXPECT_EQ(where(*photos), "where Albums");
  EXPECT_EQ(photos->finish(), 0);
}

TEST_F(FaceIdTest, AnInertLibraryGrantsNothingAndLocksNothing) {
  // No settings file, then the master switch off with every option on.
  for (bool file : {false, true}) {
    SCOPED_TRACE(file ? "enabled off" : "no settings file");
    initDevice();
    if (file) {
      writeSettings({{"enabled", "<false/>"},
                     {"showLockIcon", "<true/>"},
                     {"lockRecentlyDeleted", "<true/>"},
                     {"popToRoot", "<true/>"}});
    }
    EXPECT_EQ(runTccd(), kDefaultServices);
    auto photos = start("photos");
    for (const std::string& line : answer(*photos, "bundles")) {
      EXPECT_EQ(line.substr(line.size() - 3), ": -") << line;
    }
    EXPECT_EQ(answer(*photos, "albums").at(4), "album Hidden: 12");
    EXPECT_EQ(answer(*photos, "tap Hidden"), Lines{}) << "no prompt";
    EXPECT_EQ(where(*photos), "where Albums > Hidden");
    EXPECT_EQ(answer(*photos, "background"), Lines{});
    EXPECT_EQ(where(*photos), "where Albums > Hidden");
    EXPECT_EQ(photos->finish(), 0);
    TearDown();
  }
}

}  // namespace
