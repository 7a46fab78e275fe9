// Velmo's package: what `make package` puts in it, and `velmo-device install`
// and `remove` on a device, with archives built here to be refused.
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "tests/support/device_fixture.h"

namespace {

namespace fs = std::filesystem;
using testing_support::builtPackage;
using testing_support::DeviceTest;
using testing_support::hooks;
using testing_support::Lines;
using testing_support::runProgram;

const char kDpkgDeb[] = "/usr/bin/dpkg-deb";
const char kInfo[] = "/var/jb/var/lib/dpkg/info/";
const char kTweak[] = "/var/jb/Library/MobileSubstrate/DynamicLibraries/Velmo.dylib";

const std::set<std::string> kVelmoEntries = {
    "./",
    "./var/",
    "./var/jb/",
    "./var/jb/Library/",
    "./var/jb/Library/MobileSubstrate/",
    "./var/jb/Library/MobileSubstrate/DynamicLibraries/",
    "./var/jb/Library/MobileSubstrate/DynamicLibraries/Velmo.dylib",
    "./var/jb/Library/MobileSubstrate/DynamicLibraries/Velmo.plist",
    "./var/jb/Library/PreferenceBundles/",
    "./var/jb/Library/PreferenceBundles/VelmoPreferences.bundle/",
    "./var/jb/Library/PreferenceBundles/VelmoPreferences.bundle/Info.plist",
    "./var/jb/Library/PreferenceBundles/VelmoPreferences.bundle/Root.plist",
    "./var/jb/Library/PreferenceBundles/VelmoPreferences.bundle/VelmoPreferences",
    "./var/jb/Library/PreferenceBundles/VelmoPreferences.bundle/icon@2x.png",
    "./var/jb/Library/PreferenceBundles/VelmoPreferences.bundle/icon@3x.png",
    "./var/jb/Library/PreferenceBundles/VelmoPreferences.bundle/velmo.png",
    "./var/jb/Library/PreferenceLoader/",
    "./var/jb/Library/PreferenceLoader/Preferences/",
    "./var/jb/Library/PreferenceLoader/Preferences/VelmoPreferences.plist",
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

Lines splitLines(const std::string& text) {
  Lines lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string run(const std::vector<std::string>& argv, int expected_status = 0) {
  std::string output;
  EXPECT_EQ(runProgram(argv, &output), expected_status) << output;
  return output;
}

// An entry of an archive built here: 'f' a file (its bytes), 'd' a folder,
// 'l' a symlink, 'h' a hard link (their targets), 'x' a script (its text).
struct Entry {
  std::string name;
  char type;
  std::string content;
};

std::string tarOf(const std::vector<Entry>& entries) {
  std::vector<char> buffer(4 << 20);
  size_t used = 0;
  archive* a = archive_write_new();
  archive_write_set_format_gnutar(a);
  archive_write_open_memory(a, buffer.data(), buffer.size(), &used);
  for (const Entry& e : entries) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, e.name.c_str());
    archive_entry_set_uname(entry, "root");
    archive_entry_set_gname(entry, "root");
    switch (e.type) {
      case 'd':
        archive_entry_set_filetype(entry, AE_IFDIR);
        archive_entry_set_perm(entry, 0755);
        break;
      case 'l':
        archive_entry_set_filetype(entry, AE_IFLNK);
        archive_entry_set_perm(entry, 0777);
        archive_entry_set_symlink(entry, e.content.c_str());
        break;
      case 'h':
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_hardlink(entry, e.content.c_str());
        break;
      default:
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, e.type == 'x' ? 0755 : 0644);
        archive_entry_set_size(entry, static_cast<la_int64_t>(e.content.size()));
    }
    EXPECT_EQ(archive_write_header(a, entry), ARCHIVE_OK) << archive_error_string(a);
    if (e.type == 'f' || e.type == 'x') archive_write_data(a, e.content.data(), e.content.size());
    archive_entry_free(entry);
  }
  archive_write_close(a);
  archive_write_free(a);
  return std::string(buffer.data(), used);
}

// A package file as dpkg-deb reads it: an ar archive of debian-binary, an
// uncompressed control.tar and data.tar. A "./control" among `scripts`
// replaces the one made of the fields.
void writeDeb(const std::string& path, const std::string& package, const std::string& version,
              const std::vector<Entry>& data, const std::vector<Entry>& scripts = {},
              const std::string& more_fields = "Architecture: all\n") {
  std::vector<Entry> control = {
      {"./", 'd', ""},
      {"./control", 'f',
       "Package: " + package + "\nVersion: " + version + "\n" + more_fields +
           "Maintainer: Tests <t@example.com>\n"
           "Description: built by a test\n"}};
  for (const Entry& e : scripts) {
    if (e.name == "./control") control.erase(control.begin() + 1);
  }
  control.insert(control.end(), scripts.begin(), scripts.end());
  const std::pair<std::string, std::string> members[] = {
      {"debian-binary", "2.0\n"}, {"control.tar", tarOf(control)}, {"data.tar", tarOf(data)}};
  archive* a = archive_write_new();
  archive_write_set_format_ar_svr4(a);
  ASSERT_EQ(archive_write_open_filename(a, path.c_str()), ARCHIVE_OK);
  for (const auto& [name, bytes] : members) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, name.c_str());
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_size(entry, static_cast<la_int64_t>(bytes.size()));
    ASSERT_EQ(archive_write_header(a, entry), ARCHIVE_OK) << archive_error_string(a);
    archive_write_data(a, bytes.data(), bytes.size());
    archive_entry_free(entry);
  }
  archive_write_close(a);
  archive_write_free(a);
}

// Every path under a folder with what it is: a file's bytes, a link's target.
std::map<std::string, std::string> snapshot(const std::string& root) {
  std::map<std::string, std::string> tree;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    std::string path = fs::relative(e.path(), root).string();
    if (e.is_symlink()) {
      tree[path] = "link " + fs::read_symlink(e.path()).string();
    } else if (e.is_directory()) {
      tree[path] = "folder";
    } else {
      tree[path] = "file " + readFile(e.path().string());
    }
  }
  return tree;
}

class PackageTest : public DeviceTest {
 protected:
  void TearDown() override {
    for (const std::string& folder : folders_) testing_support::removeTree(folder);
    DeviceTest::TearDown();
  }
  // A folder of this test's own outside the device, removed at the end.
  std::string folder(const std::string& prefix) {
    folders_.push_back(testing_support::makeTempDirectory(prefix));
    return folders_.back();
  }
  std::vector<std::string> folders_;

  std::string device(const std::string& path) const { return root_ + path; }
  std::string install(const std::string& deb, int expected_status = 0) {
    return run({program(), "install", "--root", root_, deb}, expected_status);
  }
  std::string remove(int expected_status = 0) {
    return run({program(), "remove", "--root", root_, "com.qel.velmo"}, expected_status);
  }
  Lines list() const { return splitLines(readFile(device(kInfo) + "com.qel.velmo.list")); }
  std::string hiddenRow(testing_support::DeviceProcess& photos) {
    for (const std::string& line : testing_support::answer(photos, "albums")) {
      if (line.rfind("album Hidden:", 0) == 0) return line;
    }
    return "";
  }
};

TEST_F(PackageTest, HoldsExactlyVelmosFilesOwnedByRootWithItsFields) {
  const std::string deb = builtPackage();
  std::set<std::string> names;
  for (const std::string& line : splitLines(run({kDpkgDeb, "--contents", deb}))) {
    std::istringstream fields(line);
    std::string mode, owner, size, date, time, name;
    fields >> mode >> owner >> size >> date >> time >> name;
    EXPECT_EQ(owner, "root/root") << line;
    names.insert(name);
  }
  EXPECT_EQ(names, kVelmoEntries);

  std::map<std::string, std::string> field;
  for (const char* name : {"Package", "Name", "Version", "Architecture", "Depends", "Section",
                           "Maintainer", "Description"}) {
    std::string value = run({kDpkgDeb, "--field", deb, name});
    field[name] = value.substr(0, value.find('\n'));
  }
  EXPECT_EQ(field["Package"], "com.qel.velmo");
  EXPECT_EQ(field["Name"], "Velmo");
  EXPECT_EQ(field["Depends"], "mobilesubstrate, preferenceloader");
  EXPECT_EQ(field["Section"], "Tweaks");
  EXPECT_NE(field["Maintainer"].find('@'), std::string::npos);
  EXPECT_NE(field["Description"].find("Hidden album"), std::string::npos);
  std::string arch = run({"/usr/bin/dpkg", "--print-architecture"});
  EXPECT_EQ(field["Architecture"], arch.substr(0, arch.find('\n')));
  EXPECT_EQ(fs::path(deb).filename().string(),
            "com.qel.velmo_" + field["Version"] + "_" + field["Architecture"] + ".deb");

  // The maintainer scripts restart Photos through the device's killall.
  std::string control = testing_support::makeTempDirectory("velmo-control");
  run({kDpkgDeb, "--control", deb, control});
  for (const char* script : {"postinst", "postrm"}) {
    fs::perms perms = fs::status(control + "/" + script).permissions();
    EXPECT_NE(perms & fs::perms::owner_exec, fs::perms::none) << script;
    EXPECT_NE(readFile(control + "/" + script)
                  .find("\"$DPKG_ROOT/var/jb/usr/bin/killall\" -9 MobileSlideShow"),
              std::string::npos)
        << script;
  }
  testing_support::removeTree(control);
}

TEST_F(PackageTest, InstalledFilesReachTheDevicesHookingRuntimeAndNameNoBuildFolder) {
  initDevice();
  const std::string build = fs::canonical(testing_support::binDirectory() + "/..").string();
  // Velmo's files, then the hooking runtime the phone keeps for them.
  std::map<std::string, std::string> runpaths;  // path -> the run-path it must have ("" none)
  for (const std::string& path : list()) {
    if (fs::is_regular_file(fs::symlink_status(device(path)))) runpaths[path] = "";
  }
  EXPECT_EQ(runpaths.size(), 9u);
  runpaths[kTweak] = "$ORIGIN/../../Frameworks:$ORIGIN/../../../usr/lib";
  for (const auto& lib : fs::directory_iterator(device("/var/jb/usr/lib")))
    runpaths["/var/jb/usr/lib/" + lib.path().filename().string()] = "$ORIGIN";
  EXPECT_EQ(runpaths.size(), 12u);

  for (const auto& [path, runpath] : runpaths) {
    std::string bytes = readFile(device(path));
    EXPECT_EQ(bytes.find(build), std::string::npos) << path << " names " << build;
    if (bytes.rfind("\x7f"
                    "ELF",
                    0) != 0)
      continue;
    std::string dynamic = run({"/usr/bin/readelf", "--dynamic", device(path)});
    if (runpath.empty()) {
      EXPECT_EQ(dynamic.find("runpath"), std::string::npos) << path << "\n" << dynamic;
    } else {
      EXPECT_NE(dynamic.find("Library runpath: [" + runpath + "]"), std::string::npos)
          << path << "\n"
          << dynamic;
    }
  }

  // The run-path leads to the device's own hooking runtime.
  std::string resolved;
  std::string ldd;
  runProgram({"/usr/bin/ldd", device(kTweak)}, &ldd);  // fails on the frameworks Photos brings
  for (const std::string& line : splitLines(ldd)) {
    size_t arrow = line.find("libvelmo-substrate.so => ");
    if (arrow != std::string::npos) resolved = line.substr(line.find("=> ") + 3);
  }
  resolved = resolved.substr(0, resolved.find(" ("));
  ASSERT_FALSE(resolved.empty());
  EXPECT_EQ(fs::canonical(resolved),
            fs::canonical(device("/var/jb/usr/lib/libvelmo-substrate.so")));
}

TEST_F(PackageTest, InstallLoadsVelmoIntoPhotosAndRemoveTakesItAwayKeepingTheSettings) {
  initDevice();
  EXPECT_NE(
      run({program(), "init", "--root", root_, "--bare"}).find(", com.qel.velmo 1.0.0 removed"),
      std::string::npos)
      << "init --bare on a phone with Velmo leaves it without";
  writeSettings(testing_support::enabledWith({{"showLockIcon", "<true/>"}}));
  const std::string settings = readFile(settingsPath());
  auto photos = start("photos");
  EXPECT_EQ(hooks(*photos), Lines{});
  EXPECT_EQ(hiddenRow(*photos), "album Hidden: 12");

  EXPECT_EQ(install(builtPackage()), "installed com.qel.velmo 1.0.0 (9 files)\n");
  EXPECT_EQ(photos->waitExit(5000), -9) << "the postinst ends the running Photos app";
  std::vector<std::string> installed;
  for (const std::string& path : list()) {
    if (!fs::is_directory(device(path))) installed.push_back(path);
  }
  EXPECT_EQ(installed.size(), 9u);

  photos = start("photos");
  EXPECT_FALSE(hooks(*photos).empty()) << "Velmo loads into Photos";
  EXPECT_EQ(hiddenRow(*photos), "album Hidden: [lock.fill systemGrayColor]");

  EXPECT_EQ(remove(), "removed com.qel.velmo 1.0.0 (9 files)\n");
  EXPECT_EQ(photos->waitExit(5000), -9) << "the postrm ends the running Photos app";
  for (const std::string& path : installed) EXPECT_FALSE(fs::exists(device(path))) << path;
  for (const char* kind : {"list", "control", "postinst", "postrm"})
    EXPECT_FALSE(fs::exists(device(kInfo) + "com.qel.velmo." + kind)) << kind;
  EXPECT_TRUE(fs::is_directory(device("/var/jb/Library/MobileSubstrate/DynamicLibraries")))
      << "the hooking runtime's folder stays";
  EXPECT_EQ(readFile(settingsPath()), settings) << "the user's settings stay";

  photos = start("photos");
  EXPECT_EQ(hooks(*photos), Lines{});
  EXPECT_EQ(hiddenRow(*photos), "album Hidden: 12");
  EXPECT_EQ(photos->finish(), 0);
  EXPECT_EQ(remove(1), "error: package com.qel.velmo is not installed\n");
}

TEST_F(PackageTest, RefusesBadArchivesAndLeavesTheDeviceAsItWas) {
  initDevice();
  const std::string folder = testing_support::makeTempDirectory("velmo-debs");
  std::string damaged = folder + "/damaged.deb";
  std::string whole = readFile(builtPackage());
  std::ofstream(damaged, std::ios::binary) << whole.substr(0, whole.size() / 2);

  const std::string lib = "./var/jb/Library/";
  const Entry good = {lib + "Good.dylib", 'f', "fine"};
  // Links another package put on the device, which no package may write through.
  const std::string links = folder + "/links.deb";
  writeDeb(links, "com.example.links", "1.0",
           {{lib + "x", 'l', "../usr/lib"}, {"./var/jb/db", 'l', "var/lib/dpkg"}});
  install(links);
  struct Case {
    std::string label;
    std::vector<Entry> data;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"absolute path", {good, {"/var/jb/Library/Evil.dylib", 'f', "x"}}, "is an absolute path"},
      {"climbing path", {good, {lib + "../../../../etc/evil", 'f', "x"}}, "climbs out with .."},
      {"path outside /var/jb", {good, {"./etc/evil", 'f', "x"}}, "is outside /var/jb"},
      {"link out of the device",
       {good, {lib + "out", 'l', "../../../../../etc"}},
       "leads out of the device"},
      {"absolute link", {good, {lib + "passwd", 'l', "/etc/passwd"}}, "leads out of the device"},
      {"links climbing together",
       {good, {lib + "here", 'l', "."}, {lib + "up", 'l', "here/../../.."}},
       "leads out of /var/jb"},
      {"file through a link out",
       {{lib + "etc", 'l', "../../.."}, {lib + "etc/evil", 'f', "x"}},
       "leads out of /var/jb"},
      {"hard link out", {good, {lib + "shadow", 'h', "/etc/shadow"}}, "is an absolute path"},
      {"another package's file",
       {good, {"./var/jb/usr/lib/libvelmo-substrate.so", 'f', "x"}},
       "belongs to the installed package mobilesubstrate"},
      {"Velmo's file",
       {good, {"." + std::string(kTweak), 'f', "x"}},
       "belongs to the installed package com.qel.velmo"},
      {"a line break that would forge the file list",
       {good, {lib + "a\n/var/jb/usr/lib/libvelmo-substrate.so", 'f', "x"}},
       "holds a line break"},
      {"the package database",
       {good, {"./var/jb/var/lib/dpkg/info/mobilesubstrate.list", 'f', ""}},
       "is inside the package database"},
      {"another package's file through a link on the device",
       {good, {lib + "x/libvelmo-substrate.so", 'f', "x"}},
       "is reached through a link: /var/jb/Library/x leads to /var/jb/usr/lib"},
      {"the device's killall, a file of its command-line tools",
       {good, {"./var/jb/usr/bin/killall", 'f', "x"}},
       "belongs to the installed package shell-cmds"},
      {"the user's settings file",
       {good, {"./var/jb/var/mobile/Library/Preferences/com.qel.velmo.plist", 'f', "x"}},
       "is in the user's preferences folder /var/jb/var/mobile/Library/Preferences"},
      {"a link in place of the user's preferences folder",
       {good, {"./var/jb/var/mobile/Library/Preferences", 'l', "../../../../tmp"}},
       "is in the user's preferences folder"},
      {"the package database through a link on the device",
       {good, {"./var/jb/db/info/mobilesubstrate.list", 'f', ""}},
       "is reached through a link: /var/jb/db/info leads to /var/jb/var/lib/dpkg/info"},
  };
  const auto before = snapshot(root_);
  std::string answer = install(damaged, 1);
  EXPECT_EQ(answer.rfind("error: " + damaged + " is not a usable package: ", 0), 0u) << answer;
  EXPECT_EQ(snapshot(root_), before) << "damaged archive";
  for (const Case& c : cases) {
    std::string deb = folder + "/bad.deb";
    writeDeb(deb, "com.example.other", "1.0", c.data);
    answer = install(deb, 1);
    EXPECT_EQ(answer.rfind("error: refused " + deb + ": ", 0), 0u) << c.label << ": " << answer;
    EXPECT_NE(answer.find(c.reason), std::string::npos) << c.label << ": " << answer;
    EXPECT_EQ(snapshot(root_), before) << c.label << " left something behind";
  }
  // What a package manager checks of the control file.
  const std::pair<std::string, std::string> fields[] = {
      {"Architecture: toaster\n", "it is built for toaster, the device is "},
      {"Architecture: all\nDepends: mobilesubstrate (>= 0.9), not-there | nor-this\n",
       "it depends on not-there, which is not installed"},
      // A second name would make this an upgrade of the hooking runtime.
      {"Architecture: all\nPackage: mobilesubstrate\n",
       "its control file: duplicate value for 'Package' field"},
      {"Architecture: all\nversion: 2.0\n",
       "its control file: duplicate value for 'Version' field"},
  };
  for (const auto& [more, reason] : fields) {
    std::string deb = folder + "/control.deb";
    writeDeb(deb, "com.example.other", "1.0", {good}, {}, more);
    answer = install(deb, 1);
    EXPECT_NE(answer.find(reason), std::string::npos) << answer;
    EXPECT_EQ(snapshot(root_), before) << reason;
  }
  // The control part holds regular files only: a link would have the
  // machine's file read as the control file, recorded and run.
  const std::pair<Entry, std::string> members[] = {
      {{"./postinst", 'l', "/etc/passwd"}, "its control part's ./postinst is a link"},
      {{"./control", 'l', "/etc/passwd"}, "its control part's ./control is a link"},
      {{"./preinst", 'h', "./control"}, "its control part's ./preinst is a hard link"},
      {{"./scripts/", 'd', ""}, "its control part's ./scripts/ is a folder"},
  };
  for (const auto& [member, reason] : members) {
    std::string deb = folder + "/members.deb";
    writeDeb(deb, "com.example.other", "1.0", {good}, {member});
    answer = install(deb, 1);
    EXPECT_EQ(answer.rfind("error: refused " + deb + ": " + reason, 0), 0u) << answer;
    EXPECT_EQ(snapshot(root_), before) << reason;
  }
  testing_support::removeTree(folder);
}

TEST_F(PackageTest, ReinstallingReplacesTheFilesAndLeavesNoneOfTheOld) {
  initDevice();
  const Lines built_list = list();
  const std::string folder = testing_support::makeTempDirectory("velmo-debs");
  const std::string next = folder + "/next.deb";
  const std::string filter = "/var/jb/Library/MobileSubstrate/DynamicLibraries/Velmo.plist";
  writeDeb(next, "com.qel.velmo", "2.0",
           {{"./", 'd', ""},
            {"." + filter, 'f', "new filter"},
            {"./var/jb/Library/VelmoNext/", 'd', ""},
            {"./var/jb/Library/VelmoNext/notes.txt", 'f', "new"},
            {"./var/jb/Library/VelmoNext/latest", 'l', "notes.txt"}},
           {{"./postinst", 'x', "#!/bin/sh\necho \"$@\" > \"$DPKG_ROOT/postinst.log\"\n"}});
  EXPECT_EQ(install(next), "installed com.qel.velmo 2.0 (3 files)\n");
  EXPECT_EQ(fs::read_symlink(device("/var/jb/Library/VelmoNext/latest")), "notes.txt");
  EXPECT_EQ(readFile(device(filter)), "new filter");
  EXPECT_EQ(readFile(device("/var/jb/Library/VelmoNext/notes.txt")), "new");
  EXPECT_EQ(readFile(device("/postinst.log")), "configure 1.0.0\n") << "told the old version";
  for (const std::string& entry : kVelmoEntries) {
    std::string path = entry.substr(1);
    if (path.back() != '/' && path != filter) {
      EXPECT_FALSE(fs::exists(device(path))) << path << " of the old version is left";
    }
  }
  EXPECT_FALSE(fs::exists(device("/var/jb/Library/PreferenceBundles/VelmoPreferences.bundle")));
  EXPECT_TRUE(fs::is_directory(device("/var/jb/Library/PreferenceLoader/Preferences")))
      << "the Settings loader's folder stays";
  EXPECT_FALSE(fs::exists(device(kInfo) + "com.qel.velmo.postrm")) << "the old postrm is gone";
  EXPECT_NE(readFile(device(kInfo) + "com.qel.velmo.control").find("Version: 2.0"),
            std::string::npos);

  EXPECT_EQ(install(builtPackage()), "installed com.qel.velmo 1.0.0 (9 files)\n");
  EXPECT_FALSE(fs::exists(device("/var/jb/Library/VelmoNext"))) << "2.0's folder is left";
  EXPECT_TRUE(fs::is_regular_file(device(kTweak)));
  EXPECT_NE(readFile(device(filter)), "new filter");
  EXPECT_EQ(list(), built_list);
  EXPECT_FALSE(fs::exists(device(kInfo) + "com.qel.velmo.preinst"));
  testing_support::removeTree(folder);
}

TEST_F(PackageTest, FilesThatCannotBeDeletedAreReportedAndStayInTheRecord) {
  // A folder without write permission keeps its files; root ignores that
  // unless it runs without the capabilities that override permissions.
  std::vector<std::string> limited;
  if (geteuid() == 0) {
    const std::string caps = "-dac_override,-dac_read_search,-fowner";
    limited = {"/usr/bin/setpriv", "--bounding-set=" + caps, "--inh-caps=" + caps, "--"};
    std::string output;
    if (runProgram({limited[0], limited[1], limited[2], "--", "/bin/true"}, &output) != 0)
      GTEST_SKIP() << "cannot run without root's permission override: " << output;
  }
  auto limitedRun = [&](std::vector<std::string> argv) {
    argv.insert(argv.begin(), limited.begin(), limited.end());
    return run(argv, 1);
  };
  initDevice();
  const std::string dylibs = device("/var/jb/Library/MobileSubstrate/DynamicLibraries");
  const std::string filter = "/var/jb/Library/MobileSubstrate/DynamicLibraries/Velmo.plist";
  const std::string folder = testing_support::makeTempDirectory("velmo-debs");
  const std::string next = folder + "/next.deb";
  writeDeb(next, "com.qel.velmo", "2.0", {{"./var/jb/Library/VelmoNext/notes.txt", 'f', "new"}});
  fs::permissions(dylibs, fs::perms(0555));

  EXPECT_EQ(limitedRun({program(), "install", "--root", root_, next}),
            "error: cannot remove " + std::string(kTweak) + " (Permission denied), " + filter +
                " (Permission denied) of com.qel.velmo 1.0.0; 2.0 is installed and its record "
                "keeps them\n");
  EXPECT_EQ(readFile(device("/var/jb/Library/VelmoNext/notes.txt")), "new");
  EXPECT_FALSE(fs::exists(device("/var/jb/Library/PreferenceBundles/VelmoPreferences.bundle")));
  EXPECT_EQ(list(), (Lines{"/.", "/var/jb/Library/VelmoNext/notes.txt", kTweak, filter}));

  EXPECT_EQ(limitedRun({program(), "remove", "--root", root_, "com.qel.velmo"}),
            "error: cannot remove " + std::string(kTweak) + " (Permission denied), " + filter +
                " (Permission denied); com.qel.velmo stays installed, its record lists what is "
                "left\n");
  EXPECT_FALSE(fs::exists(device("/var/jb/Library/VelmoNext/notes.txt")));
  EXPECT_EQ(list(), (Lines{"/.", kTweak, filter}));
  EXPECT_TRUE(fs::exists(device(kInfo) + "com.qel.velmo.control"));

  fs::permissions(dylibs, fs::perms(0755));
  EXPECT_EQ(remove(), "removed com.qel.velmo 2.0 (2 files)\n");
  EXPECT_FALSE(fs::exists(device(kTweak)));
  EXPECT_FALSE(fs::exists(device(kInfo) + "com.qel.velmo.list"));
  testing_support::removeTree(folder);
}

// The processes whose ids a script wrote into the device, still running
// as `sleep`.
bool sleeping(const std::string& pid_file) {
  std::string pid = readFile(pid_file);
  while (!pid.empty() && pid.back() == '\n') pid.pop_back();
  if (pid.empty()) return false;
  return readFile("/proc/" + pid + "/cmdline").rfind("sleep", 0) == 0;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST_F(PackageTest, MaintainerScriptsReachNothingOutsideTheirDeviceAndSeeOnlyDpkgsVariables) {
  initDevice();
  const std::string debs = folder("velmo-debs");
  const std::string outside = folder("velmo-outside");
  std::ofstream(outside + "/kept") << "the machine's own";
  const auto outside_before = snapshot(outside);
  // Beside the device root, reached by climbing from it.
  const std::string beside = root_ + "-beside";
  fs::create_directory(beside);
  folders_.push_back(beside);
  const std::string escapes = "echo x >" + outside + "/x; env >" + outside + "/env\n" +
                              "echo x >\"$DPKG_ROOT/../" + fs::path(beside).filename().string() +
                              "/x\"\n" + "touch \"$DPKG_ADMINDIR/info/forged.list\"\n";
  const std::string deb = debs + "/scripts.deb";
  writeDeb(deb, "com.example.scripts", "1.0", {{"./var/jb/Library/Scripts.txt", 'f', "x"}},
           {{"./postinst", 'x',
             "#!/bin/sh\n" + escapes +
                 // Left running: ended with the script, not holding the install.
                 "sleep 300 >/dev/null 2>&1 & echo $! >\"$DPKG_ROOT/sleep.pid\"\n"
                 "env >\"$DPKG_ROOT/postinst.env\"; pwd >\"$DPKG_ROOT/postinst.pwd\"\n"},
            {"./postrm", 'x', "#!/bin/sh\n" + escapes + "env >\"$DPKG_ROOT/postrm.env\"\n"}});

  // The script's own complaints come first: each way out it tried was shut.
  const auto endsWith = [](const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
  };
  const auto started = std::chrono::steady_clock::now();
  std::string answer = install(deb);
  EXPECT_TRUE(endsWith(answer, "\ninstalled com.example.scripts 1.0 (1 files)\n")) << answer;
  EXPECT_NE(answer.find("forged.list': Read-only file system"), std::string::npos) << answer;
  EXPECT_LT(secondsSince(started), 20);
  EXPECT_FALSE(sleeping(device("/sleep.pid"))) << "what the postinst left running is ended";
  const auto environment = [&](const std::string& kind) {
    return Lines{"DPKG_ADMINDIR=" + root_ + "/var/jb/var/lib/dpkg",
                 "DPKG_MAINTSCRIPT_ARCH=all",
                 "DPKG_MAINTSCRIPT_NAME=" + kind,
                 "DPKG_MAINTSCRIPT_PACKAGE=com.example.scripts",
                 "DPKG_ROOT=" + root_,
                 "PATH=/usr/sbin:/usr/bin:/sbin:/bin",
                 "PWD=" + root_};
  };
  Lines seen = splitLines(readFile(device("/postinst.env")));
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, environment("postinst"));
  EXPECT_EQ(readFile(device("/postinst.pwd")), root_ + "\n") << "run in the device root";

  answer = run({program(), "remove", "--root", root_, "com.example.scripts"});
  EXPECT_TRUE(endsWith(answer, "\nremoved com.example.scripts 1.0 (1 files)\n")) << answer;
  seen = splitLines(readFile(device("/postrm.env")));
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, environment("postrm"));

  EXPECT_EQ(snapshot(outside), outside_before) << "a folder outside the device is unchanged";
  EXPECT_TRUE(fs::is_empty(beside)) << "the folder beside the device is unchanged";
  EXPECT_FALSE(fs::exists(device(kInfo) + "forged.list")) << "the package record is read-only";
}

TEST_F(PackageTest, AScriptRunningLongerThanItsLimitIsEndedWithAllItStarted) {
  initDevice();
  const std::string debs = folder("velmo-debs");
  const std::string deb = debs + "/hangs.deb";
  writeDeb(deb, "com.example.hangs", "1.0", {{"./var/jb/Library/Hangs.txt", 'f', "x"}},
           {{"./preinst", 'x',
             "#!/bin/sh\ntrap '' TERM INT HUP\n"
             "sleep 300 >/dev/null 2>&1 & echo $! >\"$DPKG_ROOT/sleep.pid\"\nwait\n"}});
  auto before = snapshot(root_);
  const auto installWithin = [&](const std::string& limit, int status) {
    std::string output;
    EXPECT_EQ(runProgram({"/usr/bin/env", "VELMO_SCRIPT_TIMEOUT=" + limit, program(), "install",
                          "--root", root_, deb},
                         &output),
              status)
        << output;
    return output;
  };
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(installWithin("1", 1),
            "error: the preinst of com.example.hangs ran longer than 1 second and was ended; "
            "nothing was installed\n");
  EXPECT_LT(secondsSince(started), 15);
  EXPECT_FALSE(sleeping(device("/sleep.pid")));
  auto after = snapshot(root_);
  after.erase("sleep.pid");  // the script's own doing, in its device
  EXPECT_EQ(after, before) << "a package whose preinst was ended leaves the device as it was";

  EXPECT_EQ(installWithin("soon", 1),
            "error: VELMO_SCRIPT_TIMEOUT must be a number of seconds above 0, not \"soon\"; "
            "nothing was installed\n");
  EXPECT_EQ(installWithin("0", 1).find("error: VELMO_SCRIPT_TIMEOUT"), 0u);
}

TEST_F(PackageTest, APreinstThatPutsALinkOnThePackagesWayGetsNothingWrittenThrough) {
  initDevice();
  const std::string debs = folder("velmo-debs");
  const std::string outside = folder("velmo-outside");
  std::ofstream(outside + "/kept") << "the machine's own";
  const auto outside_before = snapshot(outside);
  const std::string deb = debs + "/swap.deb";
  writeDeb(deb, "com.example.swap", "1.0",
           {{"./var/jb/Library/PreferenceLoader/Preferences/Swap.plist", 'f', "x"}},
           {{"./preinst", 'x',
             "#!/bin/sh\nd=\"$DPKG_ROOT/var/jb/Library/PreferenceLoader\"\n"
             "mv \"$d\" \"$d.moved\" && ln -s " +
                 outside + " \"$d\"\n"}});
  std::string answer = install(deb, 1);
  EXPECT_EQ(answer.rfind("error: refused " + deb + " after its preinst ran: ", 0), 0u) << answer;
  EXPECT_NE(answer.find("; nothing was installed\n"), std::string::npos) << answer;
  EXPECT_EQ(snapshot(outside), outside_before);
  EXPECT_FALSE(fs::exists(device("/var/jb/Library/PreferenceLoader.moved/Preferences/Swap.plist")));
  EXPECT_FALSE(fs::exists(device(kInfo) + "com.example.swap.list"));

  // A preinst that moves the package record away and links its old place
  // to the moved one fails the install before anything is placed.
  const std::string moves = debs + "/moves.deb";
  writeDeb(moves, "com.example.moves", "1.0", {{"./var/jb/Library/Moves.txt", 'f', "x"}},
           {{"./preinst", 'x',
             "#!/bin/sh\nv=\"$DPKG_ROOT/var/jb/var\"\n"
             "mv \"$v/lib\" \"$v/lib.moved\" && ln -s lib.moved \"$v/lib\"\n"}});
  answer = install(moves, 1);
  EXPECT_NE(answer.find("the preinst of com.example.moves moved the package record"),
            std::string::npos)
      << answer;
  EXPECT_FALSE(fs::exists(device("/var/jb/Library/Moves.txt")));
  EXPECT_EQ(snapshot(outside), outside_before);
}

TEST_F(PackageTest, ScriptsAreNeverRunUnconfined) {
  initDevice();
  const std::string debs = folder("velmo-debs");
  const std::string outside = folder("velmo-outside");
  const std::string deb = debs + "/scripts.deb";
  writeDeb(deb, "com.example.scripts", "1.0", {{"./var/jb/Library/Scripts.txt", 'f', "x"}},
           {{"./postinst", 'x', "#!/bin/sh\necho x >" + outside + "/x\n"}});
  // A bwrap that cannot make its sandbox, as where user namespaces are off.
  const std::string failing = folder("velmo-path");
  std::ofstream(failing + "/bwrap")
      << "#!/bin/sh\necho 'bwrap: setting up uid map: Permission denied' >&2\nexit 1\n";
  fs::permissions(failing + "/bwrap", fs::perms(0755));
  // No bwrap at all: only what dpkg-deb needs.
  const std::string missing = folder("velmo-path");
  for (const char* tool : {"dpkg-deb", "tar"})
    fs::create_symlink(std::string("/usr/bin/") + tool, missing + "/" + tool);
  const auto before = snapshot(root_);
  const auto installWithPath = [&](const std::string& path, const std::string& package,
                                   int status) {
    std::string output;
    EXPECT_EQ(
        runProgram({"/usr/bin/env", "PATH=" + path, program(), "install", "--root", root_, package},
                   &output),
        status)
        << output;
    return output;
  };
  EXPECT_EQ(installWithPath(failing + ":/usr/bin:/bin", deb, 1),
            "error: the maintainer scripts of com.example.scripts cannot be confined to the device "
            "(bwrap cannot make a sandbox here: bwrap: setting up uid map: Permission denied), and "
            "they are never run unconfined; nothing was installed\n");
  EXPECT_EQ(installWithPath(missing, deb, 1),
            "error: the maintainer scripts of com.example.scripts cannot be confined to the device "
            "(bwrap (Debian's bubblewrap) is not installed), and they are never run unconfined; "
            "nothing was installed\n");
  EXPECT_EQ(snapshot(root_), before);
  EXPECT_TRUE(fs::is_empty(outside));
  // A package without scripts needs no sandbox.
  const std::string plain = debs + "/plain.deb";
  writeDeb(plain, "com.example.plain", "1.0", {{"./var/jb/Library/Plain.txt", 'f', "x"}});
  EXPECT_EQ(installWithPath(missing, plain, 0), "installed com.example.plain 1.0 (1 files)\n");

  const std::string help = run({program(), "install", "--help"});
  EXPECT_NE(help.find("bwrap"), std::string::npos) << help;
  EXPECT_NE(help.find("VELMO_SCRIPT_TIMEOUT"), std::string::npos) << help;
  EXPECT_NE(help.find("at most 128 MiB"), std::string::npos) << help;
}

TEST_F(PackageTest, StagingLeftByAKilledInstallIsRemovedByTheNextInstallOrRemove) {
  initDevice();
  const std::string debs = folder("velmo-debs");
  const std::string deb = debs + "/slow.deb";
  writeDeb(deb, "com.example.slow", "1.0", {{"./var/jb/Library/Slow.txt", 'f', "x"}},
           {{"./preinst", 'x',
             "#!/bin/sh\nsleep 300 >/dev/null 2>&1 & echo $! >\"$DPKG_ROOT/sleep.pid.new\"\n"
             "mv \"$DPKG_ROOT/sleep.pid.new\" \"$DPKG_ROOT/sleep.pid\"\nwait\n"}});
  const std::string dpkg = device("/var/jb/var/lib/dpkg");
  const auto staging = [&] {
    Lines found;
    for (const auto& e : fs::directory_iterator(dpkg)) {
      if (e.path().filename().string().rfind("tmp.", 0) == 0) found.push_back(e.path());
    }
    return found;
  };
  {
    testing_support::DeviceProcess installing({program(), "install", "--root", root_, deb});
    ASSERT_TRUE(
        testing_support::waitUntil([&] { return fs::exists(device("/sleep.pid")); }, 15000));
    kill(installing.pid(), SIGKILL);
    EXPECT_EQ(installing.waitExit(5000), -SIGKILL);
  }
  EXPECT_EQ(staging().size(), 1u) << "the killed install's staging is left";
  EXPECT_TRUE(testing_support::waitUntil([&] { return !sleeping(device("/sleep.pid")); }))
      << "the script is ended with its installer";

  const std::string plain = debs + "/plain.deb";
  writeDeb(plain, "com.example.plain", "1.0", {{"./var/jb/Library/Plain.txt", 'f', "x"}});
  EXPECT_EQ(install(plain), "installed com.example.plain 1.0 (1 files)\n");
  EXPECT_EQ(staging(), Lines{});
  fs::create_directories(dpkg + "/tmp.Kil1ed/data/var/jb");
  std::ofstream(dpkg + "/tmp.Kil1ed/data/var/jb/x") << "left";
  EXPECT_EQ(run({program(), "remove", "--root", root_, "com.example.plain"}),
            "removed com.example.plain 1.0 (1 files)\n");
  EXPECT_EQ(staging(), Lines{});
}

TEST_F(PackageTest, APackageThatUnpacksToMoreThanTheLimitIsRefusedBeforeUnpacking) {
  initDevice();
  const std::string debs = folder("velmo-debs");
  // Two files of 70 MiB of zeros, which compress to little: each under the
  // limit, together over it.
  std::vector<char> buffer(8 << 20);
  size_t used = 0;
  archive* a = archive_write_new();
  archive_write_set_format_gnutar(a);
  archive_write_add_filter_gzip(a);
  archive_write_open_memory(a, buffer.data(), buffer.size(), &used);
  const std::string zeros(1 << 20, '\0');
  for (const char* name : {"./var/jb/Library/Big1", "./var/jb/Library/Big2"}) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, name);
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_size(entry, la_int64_t{70} << 20);
    ASSERT_EQ(archive_write_header(a, entry), ARCHIVE_OK);
    for (int i = 0; i < 70; ++i) archive_write_data(a, zeros.data(), zeros.size());
    archive_entry_free(entry);
  }
  archive_write_close(a);
  archive_write_free(a);
  const std::string data(buffer.data(), used);
  const std::string control =
      tarOf({{"./", 'd', ""},
             {"./control", 'f',
              "Package: com.example.big\nVersion: 1.0\nArchitecture: all\n"
              "Maintainer: Tests <t@example.com>\nDescription: built by a test\n"}});
  const std::string deb = debs + "/big.deb";
  a = archive_write_new();
  archive_write_set_format_ar_svr4(a);
  ASSERT_EQ(archive_write_open_filename(a, deb.c_str()), ARCHIVE_OK);
  for (const auto& [name, bytes] : {std::pair<std::string, std::string>{"debian-binary", "2.0\n"},
                                    {"control.tar", control},
                                    {"data.tar.gz", data}}) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, name.c_str());
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_size(entry, static_cast<la_int64_t>(bytes.size()));
    ASSERT_EQ(archive_write_header(a, entry), ARCHIVE_OK);
    archive_write_data(a, bytes.data(), bytes.size());
    archive_entry_free(entry);
  }
  archive_write_close(a);
  archive_write_free(a);

  const auto before = snapshot(root_);
  EXPECT_EQ(install(deb, 1), "error: refused " + deb +
                                 ": its files add up to more than 134217728 bytes, more than the "
                                 "128 MiB a package may unpack to\n");
  EXPECT_EQ(snapshot(root_), before);
}

TEST_F(PackageTest, RemovingNeverTouchesTheUsersPreferencesWhateverARecordSays) {
  initDevice();
  writeSettings(testing_support::enabledWith());
  const std::string settings = readFile(settingsPath());
  // A record written before such files were refused.
  std::ofstream(device(kInfo) + "com.example.old.list")
      << "/.\n/var/jb/var/mobile/Library/Preferences\n"
      << settingsPath().substr(root_.size()) << "\n";
  std::ofstream(device(kInfo) + "com.example.old.control")
      << "Package: com.example.old\nVersion: 1.0\n";
  EXPECT_EQ(run({program(), "remove", "--root", root_, "com.example.old"}),
            "removed com.example.old 1.0 (0 files)\n");
  EXPECT_EQ(readFile(settingsPath()), settings);
}

}  // namespace
