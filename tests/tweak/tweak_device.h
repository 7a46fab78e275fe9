// The simulated device these tests run on, set up in this process the way the
// Photos program sets itself up: a device root of its own, the Photos app
// installed, Velmo installed where the hooking runtime's loader finds it, the
// settings file with the master switch on, and the loader run for
// MobileSlideShow, which loads the built library and runs its constructor.
// The privacy daemon's classes are registered in this process as well, before
// the library loads, so that its allow-list hook is installed here too.
//
// The device's model and system version come from the program's command line
// (--model iPhone|iPad, --system-version V), so one program covers each
// configuration; tests that do not apply to the running one skip.
//
// Options are changed as the user changes them: the settings file is
// rewritten and the change notification posted, and the main run loop runs
// until the library has been told.
//
// Thread safety: main thread only, like the app.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/dispatch/test_watchdog.h"
#include "platform/objc/runtime.h"
#include "platform/photos/photos_app.h"

namespace tweak_test {

inline constexpr char kPasscode[] = "1234";
inline constexpr char kWrongPasscode[] = "0000";
// The n-th of a run of wrong passcodes, each different: the device counts a
// repeat of the last wrong code only once.
inline std::string wrongPasscode(int n) { return "9" + std::to_string(1000 + n); }
inline constexpr char kReasonText[] = "Use your passcode to view and manage hidden album.";
// A framework of the app whose Info.plist carries a Face ID usage text of its own.
inline constexpr char kFrameworkUsageText[] = "Photos.framework describes Face ID itself.";

struct Configuration {
  std::string model = "iPhone";
  std::string systemVersion = "16.4.1";
};

// Reads --model and --system-version out of the arguments gtest left.
// Returns "" or what is wrong.
std::string parseConfiguration(int argc, char** argv, Configuration* out);

// Sets the device up and loads the library. Returns "" or what failed.
std::string bootDevice(const Configuration& configuration);
// Removes the device's folder.
void shutDownDevice();

const Configuration& configuration();
bool isPad();
// System version 15.0 or later: the list configures its cells itself.
bool hasCellConfiguration();

// The library's exported variables, found by their symbol names.
struct LibraryVariables {
  BOOL* lockRecentlyDeleted = nullptr;
  BOOL* popToRoot = nullptr;
  BOOL* hiddenItemCountEnabled = nullptr;
  BOOL* showLockIcon = nullptr;
  long long* hiddenItemCount = nullptr;
  BOOL* accessed = nullptr;
  id* reason = nullptr;
};
const LibraryVariables& library();

// The options of the settings file ("enabled" is always YES).
struct Options {
  bool lockRecentlyDeleted = false;
  bool popToRoot = false;
  bool hiddenItemCountEnabled = false;
  bool showLockIcon = false;
  long long hiddenItemCount = 0;
};

// Rewrites the settings file, posts the change notification and runs the
// main run loop until it has been delivered (the library observes it before
// this program does). Fails after a few seconds without a delivery, or when
// the library's variables do not then hold the options.
::testing::AssertionResult changeOptions(const Options& options);

// Rewrites the device's configuration with or without the passcode, with no
// failed passcodes on the device's record.
::testing::AssertionResult setPasscode(bool with_passcode);
// Clears the device's record of failed passcodes (and so any lock-out).
void forgetFailedPasscodes();

// Runs the main thread until the posted tasks and the authentication replies
// in flight have run. Fails after a few seconds.
::testing::AssertionResult settle();

// Cancels every prompt still waiting and settles.
void dismissPrompts();

// Each test gets a freshly launched app on the running configuration, with
// every option off and nothing unlocked, a watchdog that ends the program if
// the test hangs, and the app's events (iPad: `completed <title>`).
class TweakTest : public ::testing::Test {
 protected:
  explicit TweakTest(std::chrono::milliseconds limit = std::chrono::seconds(60)) : limit_(limit) {}
  void SetUp() override;
  void TearDown() override;

  photos::PhotosApp& app() { return *app_; }
  // A new app on the same device, as after a relaunch of the program.
  void relaunch();
  // The badge of `title`'s row as the list draws it now ("" when absent).
  std::string badge(const std::string& title);

  std::vector<std::string> events_;
  std::unique_ptr<photos::PhotosApp> app_;

 private:
  std::chrono::milliseconds limit_;
  std::unique_ptr<testing_support::Watchdog> watchdog_;
  std::unique_ptr<objc::AutoreleasePool> pool_;
};

}  // namespace tweak_test
