// Installs and upgrades killed with SIGKILL at random moments: after the next
// install or remove, the device's files and its package record agree. Every
// file under the device is recorded by exactly one package, or is one the
// device had before and no install placed; the package is at one version
// with exactly that version's files, and none of the installer's temporary
// names is left. Each trial's seed is printed when it fails
// (VELMO_KILL_SEED=N starts the trials at another seed).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "tests/support/device_fixture.h"
#include "tests/support/package_archives.h"

namespace {

namespace fs = std::filesystem;
using testing_support::DeviceTest;
using testing_support::Entry;
using testing_support::runProgram;
using testing_support::writeDeb;

constexpr const char* kPackage = "com.example.killed";
constexpr const char* kInfo = "/var/jb/var/lib/dpkg/info/";
constexpr int kFiles = 120;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Version 1 has files 0..kFiles-1, version 2 files 20..kFiles+19: each keeps
// some of the other's, replaces them, and lacks some.
std::map<std::string, std::string> filesOf(int version) {
  std::map<std::string, std::string> files;
  const int first = version == 1 ? 0 : 20;
  for (int i = first; i < first + kFiles; ++i) {
    std::string path = "/var/jb/Library/Killed/" + std::string(1, static_cast<char>('a' + i % 4)) +
                       "/file" + std::to_string(i);
    files[path] = "version " + std::to_string(version) + " file " + std::to_string(i) + "\n";
  }
  return files;
}

std::vector<Entry> entriesOf(int version) {
  std::vector<Entry> entries = {{"./var/jb/Library/Killed/", 'd', ""}};
  for (char c : std::string("abcd"))
    entries.push_back({std::string("./var/jb/Library/Killed/") + c + "/", 'd', ""});
  for (const auto& [path, text] : filesOf(version)) entries.push_back({"." + path, 'f', text});
  return entries;
}

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

class KilledInstallTest : public DeviceTest {
 protected:
  void SetUp() override {
    initDevice({"--bare"});
    debs_ = testing_support::makeTempDirectory("velmo-killed-debs");
    for (int v : {1, 2}) writeDeb(deb(v), kPackage, std::to_string(v) + ".0", entriesOf(v));
    before_ = deviceFiles();
    const char* seed = std::getenv("VELMO_KILL_SEED");
    seed_ = seed != nullptr ? std::strtoul(seed, nullptr, 10) : 24001;
  }
  void TearDown() override {
    testing_support::removeTree(debs_);
    DeviceTest::TearDown();
  }
  std::string deb(int version) const { return debs_ + "/v" + std::to_string(version) + ".deb"; }

  // Every file and link under the device but the package record and the
  // device's running state.
  std::set<std::string> deviceFiles() const {
    std::set<std::string> files;
    for (auto it = fs::recursive_directory_iterator(root_); it != fs::end(it); ++it) {
      std::string path = it->path().string().substr(root_.size());
      if (path.rfind("/var/jb/var/lib/dpkg", 0) == 0 || path.rfind("/var/run", 0) == 0) {
        it.disable_recursion_pending();
        continue;
      }
      if (!it->is_directory() || it->is_symlink()) files.insert(path);
    }
    return files;
  }

  int runInstaller(const std::vector<std::string>& args, std::string* output) {
    std::vector<std::string> argv = {program(), args[0], "--root", root_};
    argv.insert(argv.end(), args.begin() + 1, args.end());
    return runProgram(argv, output);
  }

  // How long an install of `version` takes, unkilled; it is removed after.
  double installSeconds(int version) {
    std::string output;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runInstaller({"install", deb(version)}, &output), 0) << output;
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(runInstaller({"remove", kPackage}, &output), 0) << output;
    return seconds;
  }

  // Starts installing `version` and kills the installer after `delay`.
  void killedInstall(int version, std::chrono::microseconds delay) {
    const std::string prog = program();
    pid_t pid = fork();
    if (pid == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
      execl(prog.c_str(), prog.c_str(), "install", "--root", root_.c_str(), deb(version).c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(delay);
    kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
  }

  // The next command of the installer puts right what the kill left; counts
  // the installs it found cut short.
  void recover() {
    std::string output;
    EXPECT_EQ(runInstaller({"remove", "com.example.none"}, &output), 1) << output;
    EXPECT_TRUE(endsWith(output, "error: package com.example.none is not installed\n")) << output;
    if (output.find("note: an install of ") != std::string::npos) ++cut_short_;
  }

  // Checks that the record and the files agree; returns the version
  // installed (0 for none).
  int checkAgreement() {
    std::map<std::string, int> owners;
    for (const auto& entry : fs::directory_iterator(root_ + kInfo)) {
      const std::string name = entry.path().filename().string();
      EXPECT_FALSE(endsWith(name, ".journal") || endsWith(name, ".dpkg-new")) << name;
      if (entry.path().extension() != ".list") continue;
      std::istringstream lines(readFile(entry.path().string()));
      for (std::string line; std::getline(lines, line);) ++owners[line];
    }
    for (const std::string& path : deviceFiles()) {
      EXPECT_FALSE(endsWith(path, ".dpkg-new") || endsWith(path, ".dpkg-tmp")) << path;
      auto owner = owners.find(path);
      if (owner == owners.end()) {
        EXPECT_TRUE(before_.count(path)) << path << " was placed and is recorded by no package";
      } else {
        EXPECT_EQ(owner->second, 1) << path << " is recorded by several packages";
      }
    }
    const std::string control = readFile(root_ + kInfo + kPackage + ".control");
    const bool listed = fs::exists(root_ + kInfo + kPackage + ".list");
    int version = !listed                                                 ? 0
                  : control.find("\nVersion: 1.0\n") != std::string::npos ? 1
                  : control.find("\nVersion: 2.0\n") != std::string::npos ? 2
                                                                          : -1;
    EXPECT_NE(version, -1) << "the record names no version:\n" << control;
    // Exactly the files of that version, each as that version has it.
    for (int v : {1, 2}) {
      for (const auto& [path, text] : filesOf(v)) {
        if (version == 0 || (filesOf(version).count(path) == 0)) {
          EXPECT_FALSE(fs::exists(root_ + path)) << path << " is there with version " << version;
        } else if (v == version) {
          EXPECT_EQ(readFile(root_ + path), text) << path;
        }
      }
    }
    return version;
  }

  std::string debs_;
  std::set<std::string> before_;
  unsigned long seed_ = 0;
  int cut_short_ = 0;
};

TEST_F(KilledInstallTest, AKilledInstallOrUpgradeIsAlwaysRecordedOrRolledBack) {
  constexpr int kTrials = 50;
  const double seconds = std::max(installSeconds(1), installSeconds(2));
  std::map<int, int> ended_at;  // version after recovery -> trials
  int installed = 0;            // version installed now
  for (int trial = 0; trial < 2 * kTrials; ++trial) {
    const bool upgrade = trial >= kTrials;
    const unsigned long seed = seed_ + static_cast<unsigned long>(trial);
    SCOPED_TRACE("trial " + std::to_string(trial) + (upgrade ? " (an upgrade)" : " (an install)") +
                 ", seed " + std::to_string(seed) + " (VELMO_KILL_SEED=" + std::to_string(seed) +
                 " repeats it first)");
    std::string output;
    // An install starts from no package, an upgrade from version 1.
    if (installed != (upgrade ? 1 : 0)) {
      if (installed != 0) {
        ASSERT_EQ(runInstaller({"remove", kPackage}, &output), 0) << output;
      }
      if (upgrade) {
        ASSERT_EQ(runInstaller({"install", deb(1)}, &output), 0) << output;
      }
    }
    std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
    std::uniform_real_distribution<double> moment(0, seconds * 1.1);
    killedInstall(upgrade ? 2 : 1,
                  std::chrono::microseconds(static_cast<long>(moment(random) * 1e6)));
    recover();
    installed = checkAgreement();
    if (upgrade) {
      EXPECT_NE(installed, 0) << "an upgrade that was cut short lost the package";
    } else {
      EXPECT_NE(installed, 2);
    }
    ++ended_at[installed + (upgrade ? 10 : 0)];
    if (HasFailure()) break;
  }
  std::printf(
      "[ %d installs and %d upgrades of %d files killed at random within %.0f ms; "
      "installs: %d none, %d done; upgrades: %d at 1.0, %d at 2.0; %d found cut short ]\n",
      kTrials, kTrials, kFiles, seconds * 1000, ended_at[0], ended_at[1], ended_at[11],
      ended_at[12], cut_short_);
  EXPECT_GT(cut_short_, 0) << "no kill landed while files were placed";
}

}  // namespace
