// What a hostile package can no longer do to the device: replace or claim the
// device's own programs, leave files that run with their owner's rights or
// that anyone may write, move the device's folders aside, remove what others
// need, or own the installer's temporary names; and what Settings does when
// killall is not the one the device installed, or its preferences folder
// leads out of the device.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/device_fixture.h"
#include "tests/support/package_archives.h"

namespace {

namespace fs = std::filesystem;
using testing_support::DeviceTest;
using testing_support::Entry;
using testing_support::Lines;
using testing_support::runProgram;
using testing_support::writeDeb;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

unsigned modeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xffff;
}

class PackageSafetyTest : public DeviceTest {
 protected:
  void SetUp() override { debs_ = testing_support::makeTempDirectory("velmo-safety-debs"); }
  void TearDown() override {
    testing_support::removeTree(debs_);
    DeviceTest::TearDown();
  }
  std::string deb(const std::string& name) const { return debs_ + "/" + name + ".deb"; }
  // Runs a command of velmo-device on the device; returns its output.
  std::string run(const std::vector<std::string>& args, int expected_status) {
    std::vector<std::string> argv = {program()};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.begin() + 2, {"--root", root_});
    std::string output;
    EXPECT_EQ(runProgram(argv, &output), expected_status) << output;
    return output;
  }
  std::string install(const std::string& path, int expected_status = 0) {
    return run({"install", path}, expected_status);
  }
  std::string remove(const std::string& name, int expected_status = 0) {
    return run({"remove", name}, expected_status);
  }
  std::string device(const std::string& path) const { return root_ + path; }
  std::string debs_;
};

const char kKillall[] = "/var/jb/usr/bin/killall";

TEST_F(PackageSafetyTest, BasePackagesAreReservedAndTheDevicesSystemFilesReadOnlyToScripts) {
  initDevice({"--bare"});
  const std::string killall = readFile(device(kKillall));
  const std::string config = readFile(device("/device.plist"));
  const std::string programs = readFile(device("/var/db/system-programs"));
  ASSERT_FALSE(programs.empty()) << "init records the device's killall";

  // A package file that claims a base package's name is refused, with or
  // without the base package's files.
  writeDeb(deb("cmds"), "shell-cmds", "2.0", {{"./var/jb/usr/bin/killall", 'f', "#!/bin/sh\n"}});
  EXPECT_EQ(install(deb("cmds"), 1),
            "error: refused " + deb("cmds") +
                ": shell-cmds is a base package of the device, which no package file may "
                "replace\n");
  writeDeb(deb("cmds2"), "mobilesubstrate", "9", {{"./var/jb/Library/Other.txt", 'f', "x"}});
  EXPECT_NE(install(deb("cmds2"), 1).find("mobilesubstrate is a base package"), std::string::npos);

  // A postinst that writes over killall, the record of the device's
  // programs and the device's configuration changes none of them.
  writeDeb(deb("writer"), "com.example.writer", "1.0", {{"./var/jb/Library/Writer.txt", 'f', "x"}},
           {{"./postinst", 'x',
             "#!/bin/sh\nr=\"$DPKG_ROOT\"\n"
             "echo evil > \"$r/var/jb/usr/bin/killall\"\n"
             "echo evil > \"$r/var/db/system-programs\"\n"
             "echo evil > \"$r/device.plist\"\n"
             "rm -f \"$r/var/jb/usr/lib/libvelmo-substrate.so\"\nexit 0\n"}});
  std::string answer = install(deb("writer"));
  const std::string installed = "installed com.example.writer 1.0 (1 files)\n";
  ASSERT_GE(answer.size(), installed.size());
  EXPECT_EQ(answer.substr(answer.size() - installed.size()), installed) << answer;
  EXPECT_NE(answer.find("killall: Read-only file system"), std::string::npos) << answer;
  EXPECT_EQ(readFile(device(kKillall)), killall);
  EXPECT_EQ(readFile(device("/var/db/system-programs")), programs);
  EXPECT_EQ(readFile(device("/device.plist")), config);
  EXPECT_TRUE(fs::exists(device("/var/jb/usr/lib/libvelmo-substrate.so")));
}

TEST_F(PackageSafetyTest, SettingsStartsOnlyTheKillallTheDeviceInstalled) {
  initDevice();
  // Anything else at killall's path, even a program of the build, is refused
  // before it runs, and the master switch says so.
  fs::remove(device(kKillall));
  fs::copy_file(testing_support::binDirectory() + "/record_spawn", device(kKillall));
  auto settings = start("settings");
  ASSERT_EQ(settings->command("open Velmo"), Lines{"ok"});
  EXPECT_EQ(settings->command("switch on"),
            Lines{"error: /var/jb/usr/bin/killall was not started: it is not the program the "
                  "device installed (its contents differ from what init recorded); Photos was "
                  "not restarted"});
  EXPECT_FALSE(fs::exists(device(kKillall) + ".log")) << "the replaced killall ran";

  // Recorded as the device's own, it runs.
  replaceKillall("record_spawn");
  EXPECT_EQ(settings->command("switch off").back(), "ok");
  EXPECT_EQ(readFile(device(kKillall) + ".log"), "killall -9 MobileSlideShow\n");
  EXPECT_EQ(settings->finish(), 0);
}

TEST_F(PackageSafetyTest, NoFileOfAPackageRunsWithItsOwnersRightsOrIsWritableByEveryone) {
  initDevice({"--bare"});
  writeDeb(deb("modes"), "com.example.modes", "1.0",
           {{"./var/jb/bin/", 'd', ""},
            {"./var/jb/bin/id", 'f', "#!/bin/sh\nid\n", 04755},
            {"./var/jb/bin/group", 'f', "#!/bin/sh\n", 02755},
            {"./var/jb/bin/sticky", 'f', "x", 01644},
            {"./var/jb/bin/tools/", 'd', "", 03755}},
           {{"./postinst", 'x',
             "#!/bin/sh\ncp /bin/sh \"$DPKG_ROOT/var/jb/bin/shell\"\n"
             "chmod 4755 \"$DPKG_ROOT/var/jb/bin/shell\"\n"
             "chmod 0666 \"$DPKG_ROOT/var/jb/bin/sticky\"\n"}});
  std::string answer = install(deb("modes"), 1);
  EXPECT_EQ(answer,
            "error: the postinst of com.example.modes left files that run with their owner's "
            "rights or that every user may write (/var/jb/bin/shell, /var/jb/bin/sticky); those "
            "modes were taken off; its files are installed\n");
  EXPECT_EQ(modeOf(device("/var/jb/bin/id")), 0755u);
  EXPECT_EQ(modeOf(device("/var/jb/bin/group")), 0755u);
  EXPECT_EQ(modeOf(device("/var/jb/bin/shell")), 0755u);
  EXPECT_EQ(modeOf(device("/var/jb/bin/sticky")) & 07002, 0u);

  for (const Entry& open : {Entry{"./var/jb/Library/Open.txt", 'f', "x", 0666},
                            Entry{"./var/jb/Library/Open/", 'd', "", 0777}}) {
    writeDeb(deb("open"), "com.example.open", "1.0", {open});
    EXPECT_EQ(install(deb("open"), 1), "error: refused " + deb("open") + ": " + open.name +
                                           " is writable by every user (mode 0" +
                                           (open.type == 'd' ? "777" : "666") +
                                           "), which no file of a package may be\n");
    EXPECT_FALSE(fs::exists(device(open.name.substr(1))));
  }
}

TEST_F(PackageSafetyTest, WhatAScriptMovesAsideIsPutBack) {
  initDevice({"--bare"});
  // The preinst moves the whole tree aside and leaves a link in its place:
  // the install is refused and /var/jb is the folder it was.
  writeDeb(deb("mover"), "com.example.mover", "1.0", {{"./var/jb/Library/Mover.txt", 'f', "x"}},
           {{"./preinst", 'x',
             "#!/bin/sh\ncd \"$DPKG_ROOT/var\" && mv jb jb.away && ln -s jb.away jb\n"}});
  std::string answer = install(deb("mover"), 1);
  EXPECT_NE(answer.find("/var/jb was moved to /var/jb.away and was put back"), std::string::npos)
      << answer;
  EXPECT_NE(answer.find("nothing was installed"), std::string::npos) << answer;
  EXPECT_TRUE(fs::is_directory(fs::symlink_status(device("/var/jb"))));
  EXPECT_FALSE(fs::exists(fs::symlink_status(device("/var/jb.away"))));
  EXPECT_TRUE(fs::is_regular_file(device(kKillall)));
  EXPECT_FALSE(fs::exists(device("/var/jb/Library/Mover.txt")));
  EXPECT_FALSE(fs::exists(device("/var/jb/var/lib/dpkg/info/com.example.mover.list")));
}

TEST_F(PackageSafetyTest, SettingsWritesNothingThroughAPreferencesFolderThatLeadsOut) {
  initDevice();
  const std::string outside = testing_support::makeTempDirectory("velmo-outside-prefs");
  const std::string prefs = device("/var/jb/var/mobile/Library/Preferences");
  fs::remove_all(prefs);
  fs::create_directory_symlink(outside, prefs);
  auto settings = start("settings");
  ASSERT_EQ(settings->command("open Velmo"), Lines{"ok"});
  Lines answer = settings->command("set popToRoot on");
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_EQ(
      answer[0].rfind("error: popToRoot was not saved: cannot write "
                      "/var/jb/var/mobile/Library/Preferences/com.qel.velmopreferences.plist: "
                      "a link is on its way",
                      0),
      0u)
      << answer[0];
  EXPECT_EQ(settings->finish(), 0);
  EXPECT_TRUE(fs::is_empty(outside)) << "nothing, not even a lock, is made outside";
  testing_support::removeTree(outside);
}

TEST_F(PackageSafetyTest, RemoveKeepsBasePackagesAndWhatOthersDependOn) {
  initDevice();
  EXPECT_EQ(remove("mobilesubstrate", 1),
            "error: refused to remove mobilesubstrate: it is an essential package of the device - "
            "it should not be removed\n");
  EXPECT_TRUE(fs::exists(device("/var/jb/usr/lib/libvelmo-substrate.so")));
  EXPECT_NE(remove("shell-cmds", 1).find("essential package"), std::string::npos);
  EXPECT_TRUE(fs::exists(device(kKillall)));

  writeDeb(deb("lib"), "com.example.lib", "1.0", {{"./var/jb/Library/Lib.txt", 'f', "x"}});
  writeDeb(deb("other"), "com.example.other", "1.0", {{"./var/jb/Library/Other.txt", 'f', "x"}});
  writeDeb(deb("app"), "com.example.app", "1.0", {{"./var/jb/Library/App.txt", 'f', "x"}}, {},
           "Architecture: all\nDepends: mobilesubstrate, com.example.lib (>= 1.0)\n");
  writeDeb(deb("either"), "com.example.either", "1.0", {{"./var/jb/Library/Either.txt", 'f', "x"}},
           {}, "Architecture: all\nDepends: com.example.lib | com.example.other\n");
  for (const char* name : {"lib", "other", "app", "either"}) install(deb(name));
  EXPECT_EQ(remove("com.example.lib", 1),
            "error: dependency problems prevent removal of com.example.lib: com.example.app "
            "depends on com.example.lib; nothing was removed\n");
  EXPECT_TRUE(fs::exists(device("/var/jb/Library/Lib.txt")));
  // With its dependent gone it goes: the other one is content with the
  // alternative that stays.
  remove("com.example.app");
  EXPECT_EQ(remove("com.example.lib"), "removed com.example.lib 1.0 (1 files)\n");
  EXPECT_EQ(remove("com.example.other", 1),
            "error: dependency problems prevent removal of com.example.other: com.example.either "
            "depends on com.example.other; nothing was removed\n");
}

TEST_F(PackageSafetyTest, NoPackageShipsTheInstallersTemporaryNames) {
  initDevice({"--bare"});
  for (const char* suffix : {".dpkg-new", ".dpkg-old", ".dpkg-tmp"}) {
    const std::string name = std::string("./var/jb/usr/bin/killall") + suffix;
    writeDeb(deb("temp"), "com.example.temp", "1.0", {{name, 'f', "x"}});
    EXPECT_EQ(install(deb("temp"), 1),
              "error: refused " + deb("temp") + ": " + name + " ends in " + suffix +
                  ", a name the installer keeps for its own temporary files\n");
    EXPECT_FALSE(fs::exists(device(name.substr(1))));
  }
}

}  // namespace
