// Test support for LocalAuthentication: a device with a passcode, an app
// bundle and the privacy daemon's allow lists, and a recorder of replies.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/run_loop.h"
#include "platform/dispatch/test_watchdog.h"
#include "platform/foundation/collections.h"
#include "platform/foundation/device.h"
#include "platform/foundation/device_clock.h"
#include "platform/foundation/nsbundle.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/plist.h"
#include "platform/foundation/test_device_root.h"
#include "platform/localauth/face_id.h"
#include "platform/localauth/lacontext.h"
#include "platform/localauth/nserror.h"
#include "platform/localauth/passcode_attempts.h"
#include "platform/localauth/prompt.h"

namespace testing_support {

inline constexpr char kAppIdentifier[] = "com.apple.mobileslideshow";
// Two app bundles of the same identifier, with and without a Face ID usage text.
inline constexpr char kAppWithUsage[] = "/Applications/WithUsage.app";
inline constexpr char kAppWithoutUsage[] = "/Applications/WithoutUsage.app";

inline Strong<NSDictionary> dictionary(std::initializer_list<std::pair<const char*, id>> entries) {
  auto d = foundation::newDictionary(/*mutable_=*/true);
  for (auto& [key, value] : entries) {
    msg<void>(d, "setObject:forKey:"_sel, value, static_cast<id>(foundation::makeString(key)));
  }
  return d;
}

inline void writePlist(const std::string& system_path, id object) {
  std::string real = device::devicePath(system_path);
  std::filesystem::create_directories(std::filesystem::path(real).parent_path());
  ASSERT_EQ(plist::writeFile(real, object), "");
}

// Writes the device's configuration: passcode ("" for none) and biometry.
inline void configure(const std::string& passcode, const std::string& biometry = "face") {
  testDeviceRoot();
  device::Config config;
  config.biometry = biometry;
  // A new passcode starts with no failures on the record and the clock as it
  // was. Tests check codes by the hundred: the lowest work factor.
  ASSERT_EQ(localauth::setDevicePasscode(config, passcode, device::kMinPasscodeIterations), "");
}

// The privacy daemon's Face ID allow list.
inline void allowFaceId(std::initializer_list<const char*> identifiers) {
  objc::AutoreleasePool pool;
  auto list = foundation::newArray({}, /*mutable_=*/true);
  for (const char* identifier : identifiers) {
    msg<void>(list, "addObject:"_sel, static_cast<id>(foundation::makeString(identifier)));
  }
  auto lists = dictionary({{localauth::kFaceIdService, list.get()},
                           {"kTCCServiceCamera", foundation::newArray().get()}});
  writePlist(localauth::kAllowListsPath, lists);
}

// Makes one of the two app bundles the main bundle.
inline void launchApp(const char* bundle_path) {
  objc::AutoreleasePool pool;
  writePlist(std::string(kAppWithUsage) + "/Info.plist",
             dictionary({{"CFBundleIdentifier", foundation::makeString(kAppIdentifier)},
                         {localauth::kFaceIdUsageKey, foundation::makeString("To unlock.")}}));
  writePlist(std::string(kAppWithoutUsage) + "/Info.plist",
             dictionary({{"CFBundleIdentifier", foundation::makeString(kAppIdentifier)}}));
  foundation::setMainBundle(bundle_path);
}

// Collects replies: success, error code, and whether they came on the main thread.
class Replies {
 public:
  struct Reply {
    BOOL success;
    long code;  // 0 without an error
    bool onMainThread;
  };

  Strong<localauth::Reply> block() {
    return makeBlock<void(BOOL, id)>([this](BOOL success, id error) {
      std::lock_guard<std::mutex> g(mu_);
      replies_.push_back(
          {success, error ? msg<long>(error, "code"_sel) : 0L, dispatch::isMainThread()});
    });
  }

  std::vector<Reply> get() {
    std::lock_guard<std::mutex> g(mu_);
    return replies_;
  }

 private:
  std::mutex mu_;
  std::vector<Reply> replies_;
};

// Runs the main thread until every reply has been handed over.
inline void settle() {
  Watchdog dog("settling authentication replies", std::chrono::seconds(20));
  ASSERT_TRUE(dispatch::RunLoop::main().settle(10000));
}

inline void evaluate(id context, const char* reason, const Strong<localauth::Reply>& reply) {
  msg<void>(context, "evaluatePolicy:localizedReason:reply:"_sel, 2L,
            static_cast<id>(foundation::makeString(reason)), static_cast<id>(reply.get()));
}

// Each test starts on the main thread with an iPhone that has the passcode
// 1234, Face ID, and the Photos app allowed Face ID, and leaves no prompt.
class AuthTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dispatch::markMainThread();
    configure("1234");
    allowFaceId({kAppIdentifier});
    launchApp(kAppWithUsage);
  }
  void TearDown() override {
    while (localauth::promptCount() > 0) localauth::answerCancel();
    settle();
  }
  objc::AutoreleasePool pool_;
};

}  // namespace testing_support
