#include "platform/foundation/device.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "platform/foundation/test_device_root.h"

namespace {

using testing_support::TempDir;
using testing_support::testDeviceRoot;

TEST(DevicePath, SystemPathsLandUnderTheRootAndCannotClimbOut) {
  const std::string& root = testDeviceRoot();
  EXPECT_EQ(device::root(), root);
  EXPECT_EQ(device::devicePath("/var/jb/usr/bin/killall"), root + "/var/jb/usr/bin/killall");
  EXPECT_EQ(device::devicePath("/var/jb/../../../etc/passwd"), root + "/etc/passwd");
  EXPECT_EQ(device::devicePath("/"), root + "/");
  EXPECT_EQ(device::devicePath("relative/file"), "relative/file");
}

TEST(DeviceConfig, RoundTripsAndFallsBackToDefaults) {
  const std::string& root = testDeviceRoot();
  std::filesystem::remove(root + "/device.plist");
  device::Config defaults = device::readConfig();
  EXPECT_EQ(defaults.model, "iPhone");
  EXPECT_EQ(defaults.systemVersion, "16.4.1");
  EXPECT_EQ(defaults.biometry, "face");
  EXPECT_TRUE(defaults.passcodeHash.empty());

  device::Config config;
  config.model = "iPad";
  config.systemVersion = "14.8";
  config.passcodeSalt = device::newSalt();
  config.passcodeHash = device::hashPasscode(config.passcodeSalt, "0000");
  config.biometry = "none";
  ASSERT_EQ(device::writeConfig(config), "");
  device::Config back = device::readConfig();
  EXPECT_EQ(back.model, "iPad");
  EXPECT_EQ(back.systemVersion, "14.8");
  EXPECT_EQ(back.passcodeSalt, config.passcodeSalt);
  EXPECT_EQ(back.passcodeHash, config.passcodeHash);
  EXPECT_EQ(back.biometry, "none");

  // A damaged configuration reads as the defaults instead of failing.
  std::ofstream(root + "/device.plist") << "<plist><dict><key>model</key>";
  EXPECT_EQ(device::readConfig().model, "iPhone");
  std::filesystem::remove(root + "/device.plist");
}

TEST(Passcode, HashIsSaltedSha256AndNeverTheCode) {
  // SHA-256 of the bytes 00 ff 10 a0 followed by "1234".
  EXPECT_EQ(device::hashPasscode("00ff10A0", "1234"),
            "ec02894f5bbee1a40252323134c7c7fbc922cd102fa3a3112877e802b47db9ad");
  EXPECT_EQ(device::hashPasscode("", ""),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(device::hashPasscode("0g", "1234"), "");
  EXPECT_EQ(device::hashPasscode("abc", "1234"), "");

  std::set<std::string> salts;
  for (int i = 0; i < 20; ++i) {
    std::string salt = device::newSalt();
    EXPECT_EQ(salt.size(), 32u);
    EXPECT_EQ(salt.find_first_not_of("0123456789abcdef"), std::string::npos);
    salts.insert(salt);
  }
  EXPECT_EQ(salts.size(), 20u);

  device::Config config;
  EXPECT_FALSE(device::passcodeMatches(config, ""));  // no passcode set
  config.passcodeSalt = device::newSalt();
  config.passcodeHash = device::hashPasscode(config.passcodeSalt, "1234");
  EXPECT_TRUE(device::passcodeMatches(config, "1234"));
  EXPECT_FALSE(device::passcodeMatches(config, "1235"));
  EXPECT_FALSE(device::passcodeMatches(config, "12345"));
}

TEST(Files, ReadsAreBoundedAndWritesAreAtomic) {
  TempDir dir;
  std::string out;
  EXPECT_NE(device::readWholeFile(dir / "missing", 100, &out).find("no such file"),
            std::string::npos);
  EXPECT_NE(device::readWholeFile(dir.path(), 100, &out).find("not a regular file"),
            std::string::npos);

  ASSERT_EQ(device::writeFileAtomically(dir / "f", std::string(101, 'x')), "");
  EXPECT_NE(device::readWholeFile(dir / "f", 100, &out).find("larger than 100"), std::string::npos);
  EXPECT_TRUE(out.empty());
  ASSERT_EQ(device::readWholeFile(dir / "f", 101, &out), "");
  EXPECT_EQ(out, std::string(101, 'x'));

  ASSERT_EQ(device::writeFileAtomically(dir / "f", "new"), "");
  ASSERT_EQ(device::readWholeFile(dir / "f", 100, &out), "");
  EXPECT_EQ(out, "new");
  struct stat st;
  ASSERT_EQ(stat((dir / "f").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  // Nothing but the file itself is left in the folder.
  int entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);

  EXPECT_NE(device::writeFileAtomically(dir / "no/such/folder/f", "x"), "");
}

}  // namespace
