// The device's process registry: what it lists is really running and really
// the registered process, whatever stale or damaged entries lie beside it; a
// registry that is a link is not used; failed writes leave nothing; and only
// the very program with the very device root is vouched for as the device's.
#include "device/process_registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace program {
namespace {

namespace fs = std::filesystem;

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/velmo-registry-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    fs::create_directories(folder());
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path folder() const { return fs::path(root_) / "var/run/processes"; }
  void writeEntry(const std::string& file, const std::string& text) {
    std::ofstream(folder() / file) << text;
  }

  std::string root_;
};

TEST_F(Registry, ListsThisProcessUntilItUnregisters) {
  ASSERT_EQ(registerProcess(root_, "MobileSlideShow"), "");
  auto running = runningProcesses(root_);
  ASSERT_EQ(running.size(), 1u);
  EXPECT_EQ(running[0].pid, getpid());
  EXPECT_EQ(running[0].name, "MobileSlideShow");
  EXPECT_TRUE(stillRunning(running[0]));
  unregisterProcess(root_);
  EXPECT_TRUE(runningProcesses(root_).empty());
}

TEST_F(Registry, StaleReusedAndDamagedEntriesAreNeverListedAndAreCleared) {
  // A child that has ended (and been reaped): its pid is free.
  pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  waitpid(child, nullptr, 0);
  writeEntry(std::to_string(child), "MobileSlideShow\n1\n");
  // This test's own pid with another start time: a reused pid.
  auto start = processStartTime(getpid());
  ASSERT_TRUE(start);
  writeEntry(std::to_string(getpid()), "MobileSlideShow\n" + std::to_string(*start + 1) + "\n");
  writeEntry("not-a-pid", "MobileSlideShow\n1\n");
  writeEntry("1", "");  // unreadable entry for a live pid
  EXPECT_TRUE(runningProcesses(root_).empty());
  EXPECT_TRUE(fs::is_empty(folder()));
}

TEST_F(Registry, AnotherDeviceSeesNothingOfThisOne) {
  ASSERT_EQ(registerProcess(root_, "MobileSlideShow"), "");
  char pattern[] = "/tmp/velmo-registry-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  EXPECT_TRUE(runningProcesses(pattern).empty());
  fs::remove_all(pattern);
}

TEST_F(Registry, ARegistryThatIsALinkIsNeitherReadNorWritten) {
  // Another device's registry, with this process in it.
  char pattern[] = "/tmp/velmo-registry-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string other = pattern;
  ASSERT_EQ(registerProcess(other, "MobileSlideShow"), "");
  fs::remove_all(folder());
  fs::create_directory_symlink(fs::path(other) / "var/run/processes", folder());
  EXPECT_TRUE(runningProcesses(root_).empty());
  std::string error = registerProcess(root_, "MobileSlideShow");
  EXPECT_NE(error.find("a symbolic link"), std::string::npos) << error;
  unregisterProcess(root_);
  // The other device's entry is as it was.
  EXPECT_EQ(runningProcesses(other).size(), 1u);
  // A link further up, at var/run, is refused the same way.
  fs::remove(folder());
  fs::rename(fs::path(root_) / "var/run", fs::path(root_) / "var/run-aside");
  fs::create_directory_symlink(fs::path(other) / "var/run", fs::path(root_) / "var/run");
  EXPECT_TRUE(runningProcesses(root_).empty());
  EXPECT_NE(registerProcess(root_, "MobileSlideShow"), "");
  EXPECT_EQ(runningProcesses(other).size(), 1u);
  unregisterProcess(other);
  fs::remove_all(other);
}

TEST_F(Registry, WritesThatFailLeaveNothingAndWhatGoneWritersLeftIsRemoved) {
  pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  waitpid(child, nullptr, 0);
  auto start = processStartTime(getpid());
  ASSERT_TRUE(start);
  const std::string mine = std::to_string(getpid()) + "-" + std::to_string(*start) + ".new";
  // Left by writers that are gone (either way of naming them), and one by a
  // writer that still runs (a pid of this start time runs: this process).
  writeEntry(std::to_string(child) + "-5.new", "MobileSlideShow\n5\n");
  writeEntry(std::to_string(child) + ".new", "MobileSlideShow\n5\n");
  // This pid runs, but not since that tick: its writer is gone too.
  const std::string reused = std::to_string(getpid()) + "-" + std::to_string(*start + 1) + ".new";
  writeEntry(reused, "MobileSlideShow\n1\n");
  const std::string running = std::to_string(getppid()) + "-" +
                              std::to_string(processStartTime(getppid()).value_or(0)) + ".new";
  writeEntry(running, "Preferences\n1\n");
  // This process's entry cannot be put in place: a folder with a file in it
  // is where it goes.
  fs::create_directories(folder() / std::to_string(getpid()) / "x");
  std::string error = registerProcess(root_, "MobileSlideShow");
  EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
  std::vector<std::string> left;
  for (const auto& item : fs::directory_iterator(folder())) {
    left.push_back(item.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  // Both sorted as names: which comes first depends on the two pids' digits.
  std::vector<std::string> expected{running, std::to_string(getpid())};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(left, expected);
  EXPECT_FALSE(fs::exists(folder() / mine));
  fs::remove_all(folder() / std::to_string(getpid()));
  EXPECT_EQ(registerProcess(root_, "MobileSlideShow"), "");
  EXPECT_FALSE(fs::exists(folder() / mine));
  unregisterProcess(root_);
}

// A child shell waiting on a sleep, started in `cwd` with `args` after
// "sh -c script sh": the shell's command line carries them as a program's
// would.
pid_t startShell(const std::string& cwd, std::vector<std::string> args) {
  pid_t pid = fork();
  if (pid == 0) {
    if (::chdir(cwd.c_str()) != 0) _exit(127);
    std::vector<std::string> all = {"/bin/sh", "-c", "sleep 30; :", "sh"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv("/bin/sh", argv.data());
    _exit(127);
  }
  return pid;
}

TEST_F(Registry, ADeviceProgramIsTheVeryBinaryWithThisVeryRoot) {
  char pattern[] = "/tmp/velmo-registry-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string other = pattern;
  const std::string parent = fs::path(root_).parent_path().string();
  const std::string name = fs::path(root_).filename().string();
  struct Case {
    std::vector<std::string> args;
    std::string cwd;
    bool ours;
  };
  const Case cases[] = {
      {{"--root", root_}, "/", true},
      {{"--root=" + root_}, "/", true},
      {{"--root", name}, parent, true},  // relative to the program's folder
      {{"--root", "./" + name + "/var/.."}, parent, true},
      {{"--root", name}, "/", false},
      {{"--root", other}, "/", false},
      {{"--root", root_, "--root", other}, "/", false},  // two ways to read it
      {{"--root", root_, "--root", root_}, "/", false},
      {{root_}, "/", false},
      {{}, "/", false},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    SCOPED_TRACE(shown + "in " + c.cwd);
    // The shell's argv[1] is "-c": its --root is looked for from argv[2] on,
    // as after a program's subcommand.
    pid_t pid = startShell(c.cwd, c.args);
    ASSERT_GT(pid, 0);
    std::optional<unsigned long long> start;
    // The child has run exec once its command line shows the script.
    for (int i = 0; i < 500; ++i) {
      std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline");
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (text.find("sleep 30") != std::string::npos) break;
      usleep(10 * 1000);
    }
    start = processStartTime(pid);
    ASSERT_TRUE(start);
    RegisteredProcess process{pid, "MobileSlideShow", *start};
    EXPECT_EQ(runsDeviceProgram(process, "/bin/sh", root_), c.ours);
    // Another binary is never the device's, nor another start time's process.
    EXPECT_FALSE(runsDeviceProgram(process, "/bin/true", root_));
    EXPECT_FALSE(runsDeviceProgram({pid, "MobileSlideShow", *start + 1}, "/bin/sh", root_));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    EXPECT_FALSE(runsDeviceProgram(process, "/bin/sh", root_)) << "an ended process";
  }
  fs::remove_all(other);
}

}  // namespace
}  // namespace program
