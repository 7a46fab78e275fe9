#include "platform/foundation/device.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "platform/foundation/device_clock.h"
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
  // Normal paths are used as they are; every other one is normalised, so
  // each of these lands where lexical normalisation puts it.
  for (const char* path : {"/a", "/a/b", "/a//b", "/a/./b", "/a/../b", "/a/b/", "/a/b/.", "/a/b/..",
                           "//a", "/.", "/..", "/...", "/.a/..b/c.", "/a/.../b"}) {
    std::string normal = std::filesystem::path(path).lexically_normal().string();
    EXPECT_EQ(device::devicePath(path), root + normal) << path;
  }
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

TEST(DeviceClock, OnlyEverMovesForward) {
  testDeviceRoot();
  EXPECT_EQ(device::clockOffset(), 0);
  int64_t day = 86400, century = 100 * 366 * day;
  EXPECT_NE(device::advanceClock(-1), "");
  EXPECT_NE(device::advanceClock(century + 1), "");
  for (int i = 0; i < 10; ++i) ASSERT_EQ(device::advanceClock(century), "") << i;
  // Past the most it may run ahead, a step is refused, not wrapped to zero.
  EXPECT_NE(device::advanceClock(day), "");
  EXPECT_EQ(device::clockOffset(), 10 * century);
  // A clock file saying more than that reads as the most, never as nothing.
  std::ofstream(device::devicePath(device::kClockPath))
      << "<plist><dict><key>offsetSeconds</key><integer>99999999999999</integer></dict></plist>";
  EXPECT_EQ(device::clockOffset(), 10 * century);
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

// A path that would block or never end a read: a FIFO nobody writes, a
// socket, an endless device behind a symlink, a folder. Each reads as "not a
// regular file" at once, through every reader of the platform.
TEST(Files, SpecialFilesAreRefusedWithoutBlocking) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
  int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::string sock_path = dir / "socket";
  ASSERT_LT(sock_path.size(), sizeof addr.sun_path);
  std::strcpy(addr.sun_path, sock_path.c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  std::filesystem::create_symlink("/dev/zero", dir / "zero");
  std::filesystem::create_directory(dir / "folder");
  std::filesystem::create_symlink(dir / "fifo", dir / "link-to-fifo");

  // A blocked open would hang the test: a watchdog ends it with a message.
  std::atomic<bool> done{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 1000 && !done; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!done) {
      std::fprintf(stderr, "FAILED: a special file blocked its reader\n");
      std::_Exit(1);
    }
  });
  for (const char* name : {"fifo", "socket", "zero", "folder", "link-to-fifo"}) {
    std::string out = "left over";
    EXPECT_EQ(device::readWholeFile(dir / name, 1 << 20, &out),
              (dir / name) + ": not a regular file")
        << name;
    EXPECT_EQ(out, "") << name;
    EXPECT_EQ(device::regularFileError(dir / name), (dir / name) + ": not a regular file") << name;
  }
  done = true;
  watchdog.join();
  close(sock);

  // A symlink to a regular file is followed.
  std::ofstream(dir / "real") << "contents";
  std::filesystem::create_symlink(dir / "real", dir / "link");
  std::string out;
  EXPECT_EQ(device::readWholeFile(dir / "link", 100, &out), "");
  EXPECT_EQ(out, "contents");
  EXPECT_EQ(device::regularFileError(dir / "link"), "");
  // Files of /proc report no size and are read whole all the same.
  ASSERT_EQ(device::readWholeFile("/proc/self/stat", 4096, &out), "");
  EXPECT_EQ(out.rfind(std::to_string(getpid()) + " (", 0), 0u) << out;
}

// A writer killed between creating its temporary file and the rename leaves
// the file behind; its name tells who wrote it, so a later cleaner can tell
// a dead writer's leftovers from a live writer's work in progress.
TEST(Files, TemporaryFilesNameTheirWriterAndOnlyDeadWritersFilesAreRemoved) {
  TempDir dir;
  std::string target = dir / "domain.plist";
  ASSERT_EQ(device::writeFileAtomically(target, "one"), "");

  auto start = device::processStartTime(getpid());
  ASSERT_TRUE(start.has_value());
  const std::string mine =
      ".domain.plist." + std::to_string(getpid()) + "-" + std::to_string(*start) + ".AbC123";
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(0);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  EXPECT_FALSE(device::processStartTime(child).has_value()) << "a reaped child is gone";
  const std::string dead = ".domain.plist." + std::to_string(child) + "-1.XyZ789";
  // Our own id with another start time: a process that had our id before us.
  const std::string reused =
      ".domain.plist." + std::to_string(getpid()) + "-" + std::to_string(*start + 1) + ".Qq0000";
  const std::vector<std::string> others = {
      ".domain.plist.Ab12Cd",      // no writer named: not ours to judge
      ".other.plist.1-1.Ab12Cd",   // another file's
      "domain.plist.damaged",      // a kept damaged file
      ".domain.plist.x-1.Ab12Cd",  // not a process id
  };
  for (const std::string& name : others) std::ofstream(dir / name) << "x";
  for (const std::string& name : {mine, dead, reused}) std::ofstream(dir / name) << "x";

  EXPECT_EQ(device::removeAbandonedTemporaries(target), 2);
  EXPECT_TRUE(std::filesystem::exists(dir / mine)) << "a live writer's file stays";
  EXPECT_FALSE(std::filesystem::exists(dir / dead));
  EXPECT_FALSE(std::filesystem::exists(dir / reused));
  for (const std::string& name : others) EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
  std::string out;
  ASSERT_EQ(device::readWholeFile(target, 100, &out), "");
  EXPECT_EQ(out, "one");
}

}  // namespace
