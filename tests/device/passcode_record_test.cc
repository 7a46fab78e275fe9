// The passcode on disk, through the device's programs: what init keeps of it
// (a slow verifier only the device's owner may read, nothing of the code in
// device.plist), an old device's salted hash replaced on the right answer, and
// a lock-out that deleting the record does not end: answers are refused until
// `velmo-device reset-passcode-record` makes the record anew.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/foundation/collections.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsnumber.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/plist.h"
#include "tests/support/device_fixture.h"

namespace {

namespace fs = std::filesystem;

using testing_support::answer;
using testing_support::DeviceProcess;
using testing_support::DeviceTest;
using testing_support::enabledWith;
using testing_support::Lines;
using testing_support::runProgram;
using testing_support::where;

const char kPrompt[] = "prompt \"Use your passcode to view and manage hidden album.\" passcode";

// A property-list dictionary's value under `key` as text: "" when absent,
// "-" when the file is no dictionary.
std::string valueOf(const std::string& path, const char* key) {
  objc::AutoreleasePool pool;
  plist::Result read = plist::readFile(path);
  if (!foundation::isDictionary(read.value)) return "-";
  id value = static_cast<NSDictionary*>(read.value.get())->find(foundation::makeString(key));
  if (value == nullptr) return "";
  return foundation::stdString(msg<id>(value, "description"_sel));
}

unsigned modeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

class PasscodeRecordTest : public DeviceTest {
 protected:
  std::string config() const { return root_ + "/device.plist"; }
  std::string verifier() const { return root_ + "/var/db/passcode-verifier.plist"; }
  std::string record() const { return root_ + "/var/db/passcode.plist"; }
  // Runs `velmo-device reset-passcode-record`; returns its exit code.
  int reset(const std::string& code, std::string* output) {
    output->clear();
    return runProgram({program(), "reset-passcode-record", "--root", root_, "--passcode", code},
                      output);
  }
};

TEST_F(PasscodeRecordTest, InitKeepsASlowVerifierForTheOwnerAloneAndNoHashInDevicePlist) {
  initDevice();
  // device.plist, readable by all, says only that a passcode is set.
  EXPECT_EQ(valueOf(config(), "passcode"), "1");
  EXPECT_EQ(valueOf(config(), "passcodeHash"), "");
  EXPECT_EQ(valueOf(config(), "passcodeSalt"), "");
  // The verifier: PBKDF2 at the device's work factor, 0600; so is the record,
  // made with it.
  EXPECT_EQ(modeOf(verifier()), 0600u);
  EXPECT_EQ(modeOf(record()), 0600u);
  EXPECT_EQ(valueOf(verifier(), "algorithm"), "PBKDF2-HMAC-SHA256");
  EXPECT_EQ(valueOf(verifier(), "iterations"), std::to_string(device::kPasscodeIterations));
  device::PasscodeVerifier stored;
  stored.salt = valueOf(verifier(), "salt");
  stored.iterations = device::kPasscodeIterations;
  EXPECT_EQ(stored.salt.size(), 32u);
  EXPECT_EQ(device::verifierKey(stored, "1234"), valueOf(verifier(), "key"));
  EXPECT_EQ(valueOf(record(), "failures"), "0");

  writeSettings(enabledWith());
  auto photos = start("photos");
  ASSERT_EQ(answer(*photos, "tap Hidden"), Lines{kPrompt});
  EXPECT_EQ(answer(*photos, "answer passcode 1235"), Lines{"wrong passcode, 4 attempts left"});
  EXPECT_EQ(answer(*photos, "answer passcode 1234"), Lines{"passcode accepted"});
  EXPECT_EQ(photos->finish(), 0);
}

TEST_F(PasscodeRecordTest, AnOldDevicesSaltedHashOpensOnceAndIsReplacedByAVerifier) {
  initDevice();
  {
    // device.plist as devices made before verifiers kept it, and no record.
    objc::AutoreleasePool pool;
    plist::Result read = plist::readFile(config());
    ASSERT_TRUE(foundation::isDictionary(read.value));
    id old = msg<id>(read.value, "mutableCopy"_sel);
    std::string salt = device::newSalt();
    msg<void>(old, "removeObjectForKey:"_sel, foundation::makeString("passcode"));
    msg<void>(old, "setObject:forKey:"_sel, foundation::makeString(salt),
              foundation::makeString("passcodeSalt"));
    msg<void>(old, "setObject:forKey:"_sel,
              foundation::makeString(device::hashPasscode(salt, "1234")),
              foundation::makeString("passcodeHash"));
    ASSERT_EQ(plist::writeFile(config(), old), "");
    msg<void>(old, "release"_sel);
    fs::remove(verifier());
    fs::remove(record());
  }
  writeSettings(enabledWith());
  auto photos = start("photos");
  ASSERT_EQ(answer(*photos, "tap Hidden"), Lines{kPrompt});
  EXPECT_EQ(answer(*photos, "answer passcode 1111"), Lines{"wrong passcode, 4 attempts left"});
  EXPECT_EQ(answer(*photos, "answer passcode 1234"), Lines{"passcode accepted"});
  // Upgraded: the old hash is gone from device.plist, a verifier replaces it.
  EXPECT_EQ(valueOf(config(), "passcodeHash"), "");
  EXPECT_EQ(valueOf(config(), "passcodeSalt"), "");
  EXPECT_EQ(valueOf(config(), "passcode"), "1");
  EXPECT_EQ(modeOf(verifier()), 0600u);
  EXPECT_EQ(valueOf(verifier(), "iterations"), std::to_string(device::kPasscodeIterations));
  EXPECT_EQ(valueOf(record(), "failures"), "0");
  // The verifier now checks the code, and counts as before.
  EXPECT_EQ(answer(*photos, "back"), Lines{});
  ASSERT_EQ(answer(*photos, "tap Hidden"), Lines{kPrompt});
  EXPECT_EQ(answer(*photos, "answer passcode 2222"), Lines{"wrong passcode, 4 attempts left"});
  EXPECT_EQ(answer(*photos, "answer passcode 1234"), Lines{"passcode accepted"});
  EXPECT_EQ(photos->finish(), 0);
}

TEST_F(PasscodeRecordTest, ALockOutOutlivesADeletedRecordUntilTheOwnerResetsIt) {
  initDevice();
  writeSettings(enabledWith());
  auto photos = start("photos");
  ASSERT_EQ(answer(*photos, "tap Hidden"), Lines{kPrompt});
  for (const char* code : {"1111", "2222", "3333", "4444"}) {
    ASSERT_EQ(answer(*photos, std::string("answer passcode ") + code).size(), 1u);
  }
  // The fifth failure, on a new prompt that stays up, locks the device out.
  EXPECT_EQ(answer(*photos, "answer cancel"), Lines{"cancelled"});
  ASSERT_EQ(answer(*photos, "tap Hidden"), Lines{kPrompt});
  EXPECT_EQ(answer(*photos, "answer passcode 5555"),
            Lines{"wrong passcode, 4 attempts left; try again in 1 minute"});
  // Deleting the record ends nothing: the right code is refused, the prompt stays.
  ASSERT_TRUE(fs::remove(record()));
  EXPECT_EQ(answer(*photos, "answer passcode 1234"),
            Lines{"error: the passcode record is missing"});
  EXPECT_EQ(answer(*photos, "prompt"), Lines{kPrompt});
  EXPECT_EQ(where(*photos), "where Albums");

  // A reset with a wrong code makes a record that waits the longest.
  std::string output;
  EXPECT_EQ(reset("9999", &output), 1);
  EXPECT_EQ(output, "error: wrong passcode; the new record makes the device wait 60 minutes\n");
  EXPECT_EQ(modeOf(record()), 0600u);
  EXPECT_EQ(answer(*photos, "answer passcode 1234"), Lines{"error: try again in 60 minutes"});
  // A record in order is not reset, whatever the code: its wait stands.
  EXPECT_EQ(reset("1234", &output), 1);
  EXPECT_EQ(output, "error: the passcode record is in order: nothing to reset\n");
  EXPECT_EQ(answer(*photos, "answer passcode 1234"), Lines{"error: try again in 60 minutes"});

  // Deleted again and reset with the right code, the device takes answers.
  ASSERT_TRUE(fs::remove(record()));
  EXPECT_EQ(reset("1234", &output), 0);
  EXPECT_EQ(output, "passcode record reset\n");
  EXPECT_EQ(valueOf(record(), "failures"), "0");
  EXPECT_EQ(answer(*photos, "answer passcode 1234"), Lines{"passcode accepted"});
  EXPECT_EQ(where(*photos), "where Albums > Hidden");
  EXPECT_EQ(photos->finish(), 0);

  // The command is in the program's help.
  output.clear();
  EXPECT_EQ(runProgram({program(), "help"}, &output), 0);
  EXPECT_NE(output.find("velmo-device reset-passcode-record --root DIR --passcode CODE"),
            std::string::npos)
      << output;
  EXPECT_EQ(reset("12a4", &output), 2);
}

// A Photos app that may grow no file (its file-size limit lowered to 0
// once it runs, as a full disk would refuse its writes): every answer is
// refused, nine wrong guesses and the right code alike, and the prompt stays.
TEST_F(PasscodeRecordTest, AnAnswerThatCannotBeCountedIsNotJudged) {
  initDevice();
  writeSettings(enabledWith());
  // The shell leaves SIGXFSZ ignored for the program it becomes, so that a
  // refused write is an error, not the end of the process.
  DeviceProcess photos(
      {"/bin/sh", "-c", "trap '' XFSZ; exec \"$0\" photos --root \"$1\"", program(), root_});
  ASSERT_EQ(answer(photos, "tap Hidden"), Lines{kPrompt});
  struct rlimit none = {0, RLIM_INFINITY};
  ASSERT_EQ(::prlimit(photos.pid(), RLIMIT_FSIZE, &none, nullptr), 0);
  for (int i = 0; i < 10; ++i) {
    std::string code = i < 9 ? std::to_string(9000 + i) : "1234";
    SCOPED_TRACE(code);
    Lines refused = answer(photos, "answer passcode " + code);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].rfind("error: the passcode record cannot be used: cannot ", 0), 0u)
        << refused[0];
  }
  EXPECT_EQ(answer(photos, "prompt"), Lines{kPrompt});
  EXPECT_EQ(where(photos), "where Albums");
  EXPECT_EQ(valueOf(record(), "failures"), "0");
  EXPECT_EQ(answer(photos, "answer cancel"), Lines{"cancelled"});
}

}  // namespace
