#include "platform/foundation/spawn.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/foundation/device.h"
#include "platform/foundation/system_programs.h"
#include "platform/foundation/test_device_root.h"

namespace {

namespace fs = std::filesystem;

// A folder of this test's own under the test program's device root, spelled
// as the system spells it.
std::string systemFolder() {
  static const std::string folder = [] {
    testing_support::testDeviceRoot();
    std::string f = "/spawn-test";
    fs::create_directories(device::devicePath(f));
    return f;
  }();
  return folder;
}

// Installs an executable script at `system_path` on the device.
void installScript(const std::string& system_path, const std::string& body) {
  std::string real = device::devicePath(system_path);
  std::ofstream(real) << "#!/bin/sh\n" << body;
  chmod(real.c_str(), 0755);
}

std::string readFile(const std::string& real_path) {
  std::ifstream in(real_path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int reap(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Spawn, StartsTheDevicesProgramWithItsArgumentsAndAnEmptyEnvironment) {
  const std::string tool = systemFolder() + "/tool";
  const std::string out = device::devicePath(systemFolder() + "/out");
  installScript(tool, "echo \"$0|$*|${VELMO_SPAWN_PROBE-unset}\" > \"" + out + "\"\nexit 3\n");
  setenv("VELMO_SPAWN_PROBE", "inherited", 1);
  ASSERT_EQ(device::recordSystemProgram(tool), "");

  pid_t pid = 0;
  char* const argv[] = {const_cast<char*>("tool"), const_cast<char*>("-9"),
                        const_cast<char*>("MobileSlideShow"), nullptr};
  ASSERT_EQ(libsystem::posix_spawn(&pid, tool.c_str(), nullptr, nullptr, argv, nullptr), 0);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(reap(pid), 3);
  // The checked file itself runs, through its descriptor.
  std::string line = readFile(out);
  EXPECT_EQ(line.substr(line.find('|')), "|-9 MobileSlideShow|unset\n") << line;
  EXPECT_EQ(line.rfind("/dev/fd/", 0) == 0 || line.rfind("/proc/self/fd/", 0) == 0, true) << line;
  unsetenv("VELMO_SPAWN_PROBE");
}

TEST(Spawn, StartsOnlyTheProgramsTheDeviceRecordedUnchanged) {
  const std::string tool = systemFolder() + "/recorded";
  const std::string out = device::devicePath(systemFolder() + "/recorded-out");
  installScript(tool, "echo ran > \"" + out + "\"\n");
  char* const argv[] = {const_cast<char*>("recorded"), nullptr};
  pid_t pid = 0;
  EXPECT_EQ(libsystem::posix_spawn(&pid, tool.c_str(), nullptr, nullptr, argv, nullptr), EACCES)
      << "never recorded";
  EXPECT_NE(libsystem::takeSpawnRefusal().find("is not a program the device installed"),
            std::string::npos);
  ASSERT_EQ(device::recordSystemProgram(tool), "");
  installScript(tool, "echo changed > \"" + out + "\"\n");
  EXPECT_EQ(libsystem::posix_spawn(&pid, tool.c_str(), nullptr, nullptr, argv, nullptr), EACCES);
  EXPECT_NE(libsystem::takeSpawnRefusal().find("differ from what init recorded"),
            std::string::npos);
  EXPECT_EQ(libsystem::takeSpawnRefusal(), "") << "said once";
  // A link in its place, even to the recorded contents, is refused.
  const std::string real = device::devicePath(tool);
  fs::rename(real, real + ".moved");
  fs::create_symlink(real + ".moved", real);
  EXPECT_EQ(libsystem::posix_spawn(&pid, tool.c_str(), nullptr, nullptr, argv, nullptr), EACCES);
  EXPECT_NE(libsystem::takeSpawnRefusal().find("is a link"), std::string::npos);
  EXPECT_FALSE(fs::exists(out)) << "nothing ran";
}

TEST(Spawn, AProgramMissingOnTheDeviceIsAnErrorEvenWhenTheMachineHasIt) {
  pid_t pid = 0;
  char* const argv[] = {const_cast<char*>("true"), nullptr};
  ASSERT_TRUE(fs::exists("/bin/true"));
  EXPECT_EQ(libsystem::posix_spawn(&pid, "/bin/true", nullptr, nullptr, argv, nullptr), ENOENT);
  EXPECT_EQ(libsystem::posix_spawn(&pid, nullptr, nullptr, nullptr, argv, nullptr), EINVAL);
  // Nothing was started, so nothing is left to reap.
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

}  // namespace
