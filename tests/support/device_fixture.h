// A fresh simulated device for an end-to-end test: `velmo-device init` into a
// temporary folder, helpers to write the settings file as the settings pane
// would leave it, and to start the device's programs.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device/child_process.h"

namespace testing_support {

using program::body;
using program::DeviceProcess;
using program::makeTempDirectory;
using program::removeTree;
using program::runProgram;

// The folder holding the built programs: VELMO_BIN (set by CTest), else the
// test program's own folder.
std::string binDirectory();
// The package the build made, build/packages/com.qel.velmo_<version>_<arch>.deb.
std::string builtPackage();

class DeviceTest : public ::testing::Test {
 protected:
  void TearDown() override;

  // Creates the device; extra flags go to `velmo-device init`.
  void initDevice(const std::vector<std::string>& flags = {});
  // Like initDevice, on a memory-backed file system (/dev/shm) when there is
  // one: for tests that write the settings file thousands of times, where each
  // write's fsync to a disk takes milliseconds. A killed process leaves the
  // page cache as it was, so what such a test checks is the same.
  void initDeviceInMemory(const std::vector<std::string>& flags = {});
  // Writes the settings file as an XML property list; values are plist
  // fragments such as "<true/>", "<integer>7</integer>", "<string>x</string>".
  void writeSettings(const std::map<std::string, std::string>& values);
  void writeSettingsText(const std::string& text);
  void removeSettings();
  std::string settingsPath() const;

  std::unique_ptr<DeviceProcess> start(const std::string& program);
  // Puts the build's program `name` ("record_spawn") at the device's killall
  // and records it as the device's own, as init records its killall, so that
  // the Settings app starts it.
  void replaceKillall(const std::string& name);
  // Records whatever is at the device's killall now as the device's own.
  void recordKillall();
  // Runs `velmo-device notify --root R NAME`.
  void postChanged();
  // Runs `velmo-device clock --root R advance STEP` ("1m", "5m").
  void advanceClock(const std::string& step);

  std::string program() const { return binDirectory() + "/velmo-device"; }
  std::string root_;
};

using Lines = std::vector<std::string>;

// The settings keys' values as the settings pane stores them, "enabled" on.
std::map<std::string, std::string> enabledWith(std::map<std::string, std::string> values = {});

// Sends a command and returns its answer without the closing "ok" (an error
// answer keeps its "error: ..." line).
Lines answer(DeviceProcess& p, const std::string& command);
// Sends "help" and waits for its answer: the program has started and
// everything it does at start (loading libraries, observing notifications)
// is done.
void waitReady(DeviceProcess& p);
// The Photos app's navigation stack, "where Albums > Hidden" (other lines that
// came with the answer are joined to it with " | ").
std::string where(DeviceProcess& p);

// What `make soak` multiplies the counts of the long-running tests by: the
// environment's VELMO_SOAK_FACTOR, 1 when it is unset or not a positive number.
int soakFactor();

// Calls `done` every 10 ms until it returns true or `timeout_ms` passes.
bool waitUntil(const std::function<bool()>& done, int timeout_ms = 5000);
// The children of a process, zombies included, from /proc/<pid>/task/*/children.
std::vector<pid_t> childrenOf(pid_t pid);

// "var name value" lines as a map name -> value.
std::map<std::string, std::string> vars(DeviceProcess& p);
// Every "hook ..." line.
std::vector<std::string> hooks(DeviceProcess& p);

}  // namespace testing_support
