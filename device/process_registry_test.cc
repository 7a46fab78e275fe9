// The device's process registry: what it lists is really running and really
// the registered process, whatever stale or damaged entries lie beside it.
#include "device/process_registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

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

}  // namespace
}  // namespace program
