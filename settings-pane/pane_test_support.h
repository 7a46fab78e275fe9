// Test support for the pane: a device root with the built bundle installed
// where the Settings app finds it, a killall that records its arguments
// instead of ending anything, a count of the change notifications this
// process receives, and the pane opened as the Settings app opens it.
//
// Thread safety: main thread only (the test's own thread).
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/dispatch/run_loop.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsbundle.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/system_programs.h"
#include "platform/foundation/test_device_root.h"
#include "platform/notify/notify.h"
#include "platform/uikit/uikit.h"
#include "settings-pane/root_list_controller.h"

namespace pane_test {

namespace fs = std::filesystem;

inline constexpr const char* kBundlePath =
    "/var/jb/Library/PreferenceBundles/VelmoPreferences.bundle";
inline constexpr const char* kSettingsPath =
    "/var/jb/var/mobile/Library/Preferences/com.qel.velmopreferences.plist";
// The recording killall logs each start beside itself: "killall -9
// MobileSlideShow" is argv[0] and the arguments as given, and no " env ..."
// follows when the environment was empty.
inline constexpr const char* kKillallLog = "/var/jb/usr/bin/killall.log";

// Deliveries of the change notification to this process. Posts made in one
// turn of the main loop arrive as one delivery.
inline int g_notifications = 0;
// Posts of the change notification with no object, no user information and
// immediate delivery, and posts of anything else; counted one by one by the
// test's stand-in for CFNotificationCenterPostNotification.
extern int g_posts;
extern int g_otherPosts;

inline void countNotification(CFNotificationCenterRef, void*, CFStringRef, const void*,
                              CFDictionaryRef) {
  ++g_notifications;
}

inline std::string readFile(const std::string& real_path) {
  std::ifstream in(real_path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Installs the bundle and the recording killall once, loads the plug-in from
// the device as the Settings app does, and starts observing the change
// notification.
inline void installDevice() {
  static const bool installed = [] {
    testing_support::testDeviceRoot();
    std::string bundle = device::devicePath(kBundlePath);
    fs::create_directories(bundle);
    for (const char* file : {"VelmoPreferences", "Info.plist", "Root.plist", "velmo.png"}) {
      fs::copy_file(std::string(VELMO_BUNDLE_DIR) + "/" + file, bundle + "/" + file,
                    fs::copy_options::overwrite_existing);
    }
    std::string plugin = bundle + "/VelmoPreferences";
    if (dlopen(plugin.c_str(), RTLD_NOW | RTLD_LOCAL) == nullptr) {
      ADD_FAILURE() << "cannot load the plug-in: " << dlerror();
    }
    fs::create_directories(device::devicePath("/var/jb/var/mobile/Library/Preferences"));
    fs::create_directories(device::devicePath("/var/jb/usr/bin"));
    std::string killall = device::devicePath("/var/jb/usr/bin/killall");
    fs::remove(killall);  // never copy through a symlink left there
    fs::copy_file(VELMO_RECORD_SPAWN, killall);
    // The device starts only the programs it recorded as its own.
    if (std::string e = device::recordSystemProgram("/var/jb/usr/bin/killall"); !e.empty())
      ADD_FAILURE() << e;
    CFNotificationCenterAddObserver(CFNotificationCenterGetDarwinNotifyCenter(), nullptr,
                                    &countNotification, "com.qel.velmopreferences/changed"_ns,
                                    nullptr, CFNotificationSuspensionBehaviorDeliverImmediately);
    return true;
  }();
  (void)installed;
}

// Runs the main queue until it and the background work are done, then serves
// the notification socket until nothing more arrives for a moment.
inline void settle() {
  auto& loop = dispatch::RunLoop::main();
  ASSERT_TRUE(loop.settle());
  while (loop.runOnce(150)) {
  }
}

// The controller's properties, read through its getters.
struct PaneProperties {
  UIView* headerView = nullptr;
  UIBarButtonItem* item = nullptr;
  UISwitch* enableSwitch = nullptr;
  UILabel* titleLabel = nullptr;
  UIImageView* headerImageView = nullptr;
};

// An open pane: the controller, and pane->property reads a property.
class Pane {
 public:
  explicit Pane(Strong<objc_object> controller) : controller_(std::move(controller)) {}
  const PaneProperties* operator->() {
    properties_.headerView = static_cast<UIView*>(msg<id>(controller_, "headerView"_sel));
    properties_.item = static_cast<UIBarButtonItem*>(msg<id>(controller_, "item"_sel));
    properties_.enableSwitch = static_cast<UISwitch*>(msg<id>(controller_, "enableSwitch"_sel));
    properties_.titleLabel = static_cast<UILabel*>(msg<id>(controller_, "titleLabel"_sel));
    properties_.headerImageView =
        static_cast<UIImageView*>(msg<id>(controller_, "headerImageView"_sel));
    return &properties_;
  }
  id get() const { return controller_.get(); }
  operator id() const { return controller_.get(); }  // NOLINT: reads like the controller

 private:
  Strong<objc_object> controller_;
  PaneProperties properties_;
};

// The pane as the Settings app opens it: alloc/init, its bundle, its view.
inline Pane openPane() {
  Pane pane(allocInit(objc_getClass("VLPRootListController")));
  msg<void>(pane, "setBundle:"_sel,
            msg<id>(foundation::bundleClass(), "bundleWithPath:"_sel,
                    static_cast<id>(foundation::makeString(kBundlePath))));
  msg<id>(pane, "view"_sel);
  return pane;
}

class PaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    installDevice();
    settle();
    std::error_code ec;
    fs::remove(device::devicePath(kSettingsPath), ec);
    fs::remove(device::devicePath(kKillallLog), ec);
    g_notifications = 0;
    g_posts = 0;
    g_otherPosts = 0;
  }
  void TearDown() override {
    EXPECT_EQ(g_otherPosts, 0) << "the pane posts nothing but the change notification";
  }

  objc::AutoreleasePool pool_;
};

}  // namespace pane_test
