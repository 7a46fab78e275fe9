#include "tests/tweak/tweak_device.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "platform/dispatch/run_loop.h"
#include "platform/foundation/collections.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsnumber.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/plist.h"
#include "platform/foundation/test_device_root.h"
#include "platform/localauth/passcode_attempts.h"
#include "platform/localauth/prompt.h"
#include "platform/notify/notify.h"
#include "platform/photos/list_gadget.h"
#include "platform/substrate/loader.h"
#include "platform/tcc/tcc_service.h"

namespace tweak_test {
namespace {

constexpr char kSettingsPath[] =
    "/var/jb/var/mobile/Library/Preferences/com.qel.velmopreferences.plist";
constexpr char kChanged[] = "com.qel.velmopreferences/changed";
constexpr char kTweakFolder[] = "/var/jb/Library/MobileSubstrate/DynamicLibraries";
constexpr auto kDeliveryLimit = std::chrono::seconds(5);
constexpr int kSettleLimitMs = 5000;

Configuration g_configuration;
device::Config g_device;
LibraryVariables g_library;
testing_support::TempDir* g_root = nullptr;
// Deliveries of the change notification to this program's own observer.
long g_deliveries = 0;

void countDelivery(CFNotificationCenterRef, void*, CFStringRef, const void*, CFDictionaryRef) {
  ++g_deliveries;
}

std::string copyInto(const std::string& from, const std::string& folder) {
  std::error_code ec;
  std::filesystem::copy_file(from, folder + "/" + std::filesystem::path(from).filename().string(),
                             std::filesystem::copy_options::overwrite_existing, ec);
  return ec ? "cannot copy " + from + ": " + ec.message() : "";
}

std::string writeSettings(const Options& options) {
  objc::AutoreleasePool pool;
  Strong<NSDictionary> settings = foundation::newDictionary(/*mutable_=*/true);
  auto set = [&](const char* key, id value) {
    msg<void>(settings, "setObject:forKey:"_sel, value,
              static_cast<id>(foundation::makeString(key)));
  };
  set("enabled", foundation::boolNumber(YES));
  set("lockRecentlyDeleted", foundation::boolNumber(options.lockRecentlyDeleted));
  set("popToRoot", foundation::boolNumber(options.popToRoot));
  set("hiddenItemCountEnabled", foundation::boolNumber(options.hiddenItemCountEnabled));
  set("showLockIcon", foundation::boolNumber(options.showLockIcon));
  set("hiddenItemCount", foundation::integerNumber(options.hiddenItemCount));
  std::string path = device::devicePath(kSettingsPath);
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  if (ec) return "cannot create the preferences folder: " + ec.message();
  return plist::writeFile(path, settings);
}

// The Photos framework describes Face ID itself, so that its own text can be
// seen to give way to the prompt's.
std::string giveFrameworkAUsageText() {
  objc::AutoreleasePool pool;
  std::string path = device::devicePath(std::string(photos::kPhotosPath) + "/Info.plist");
  plist::Result read = plist::readFile(path);
  if (!foundation::isDictionary(read.value)) return "no Info.plist in Photos.framework";
  Strong<objc_object> info = adopt(msg<id>(read.value, "mutableCopy"_sel));
  msg<void>(info, "setObject:forKey:"_sel,
            static_cast<id>(foundation::makeString(kFrameworkUsageText)),
            "NSFaceIDUsageDescription"_ns);
  return plist::writeFile(path, info);
}

template <class T>
std::string findVariable(void* handle, const char* name, T** out) {
  *out = static_cast<T*>(dlsym(handle, name));
  return *out != nullptr ? "" : std::string("the library exports no ") + name;
}

std::string findLibraryVariables() {
  void* handle = nullptr;
  for (const auto& loaded : substrate::loadedLibraries()) {
    if (loaded.name == "Velmo") handle = loaded.handle;
  }
  if (handle == nullptr) return "the loader did not load Velmo";
  for (std::string error :
       {findVariable(handle, "lockRecentlyDeleted", &g_library.lockRecentlyDeleted),
        findVariable(handle, "popToRoot", &g_library.popToRoot),
        findVariable(handle, "hiddenItemCountEnabled", &g_library.hiddenItemCountEnabled),
        findVariable(handle, "showLockIcon", &g_library.showLockIcon),
        findVariable(handle, "hiddenItemCount", &g_library.hiddenItemCount),
        findVariable(handle, "accessed", &g_library.accessed),
        findVariable(handle, "reason", &g_library.reason)}) {
    if (!error.empty()) return error;
  }
  return "";
}

}  // namespace

std::string parseConfiguration(int argc, char** argv, Configuration* out) {
  for (int i = 1; i < argc; ++i) {
    std::string_view flag = argv[i];
    if ((flag == "--model" || flag == "--system-version") && i + 1 < argc) {
      (flag == "--model" ? out->model : out->systemVersion) = argv[++i];
    } else {
      return "unknown argument " + std::string(flag) +
             " (expected --model iPhone|iPad and --system-version V)";
    }
  }
  return "";
}

std::string bootDevice(const Configuration& configuration) {
  dispatch::markMainThread();
  g_configuration = configuration;
  const char* lib = std::getenv("VELMO_LIB");
  if (lib == nullptr || *lib == '\0') return "VELMO_LIB (the folder of Velmo.dylib) is not set";

  g_root = new testing_support::TempDir();
  device::setRoot(g_root->path());
  g_device.model = configuration.model;
  g_device.systemVersion = configuration.systemVersion;
  g_device.biometry = "face";
  // Checked thousands of times: the verifier takes the lowest work factor.
  if (std::string e =
          localauth::setDevicePasscode(g_device, kPasscode, device::kMinPasscodeIterations);
      !e.empty()) {
    return e;
  }
  g_device.passcode = true;
  if (std::string e = photos::installApp(); !e.empty()) return e;
  if (std::string e = giveFrameworkAUsageText(); !e.empty()) return e;

  std::string tweaks = device::devicePath(kTweakFolder);
  std::error_code ec;
  std::filesystem::create_directories(tweaks, ec);
  if (ec) return "cannot create " + tweaks + ": " + ec.message();
  if (std::string e = copyInto(std::string(lib) + "/Velmo.dylib", tweaks); !e.empty()) return e;
  if (std::string e = copyInto(std::string(lib) + "/../share/Velmo.plist", tweaks); !e.empty()) {
    return e;
  }
  if (std::string e = writeSettings(Options{}); !e.empty()) return e;

  photos::registerClasses();
  tcc::registerClasses();
  photos::bootBundles();
  substrate::LoadResult load = substrate::loadDynamicLibraries("MobileSlideShow");
  if (!load.errors.empty()) return "loader: " + load.errors.front();
  if (std::string e = findLibraryVariables(); !e.empty()) return e;

  CFNotificationCenterAddObserver(CFNotificationCenterGetDarwinNotifyCenter(), nullptr,
                                  &countDelivery, foundation::makeString(kChanged), nullptr,
                                  CFNotificationSuspensionBehaviorCoalesce);
  return "";
}

void shutDownDevice() {
  delete g_root;
  g_root = nullptr;
}

const Configuration& configuration() { return g_configuration; }

bool isPad() { return g_configuration.model.find("iPad") != std::string::npos; }

bool hasCellConfiguration() { return photos::hasCellConfiguration(g_configuration.systemVersion); }

const LibraryVariables& library() { return g_library; }

::testing::AssertionResult changeOptions(const Options& options) {
  if (std::string e = writeSettings(options); !e.empty()) {
    return ::testing::AssertionFailure() << "settings file: " << e;
  }
  long before = g_deliveries;
  CFNotificationCenterPostNotification(CFNotificationCenterGetDarwinNotifyCenter(),
                                       foundation::makeString(kChanged), nullptr, nullptr, true);
  auto deadline = std::chrono::steady_clock::now() + kDeliveryLimit;
  while (g_deliveries == before) {
    if (std::chrono::steady_clock::now() > deadline) {
      return ::testing::AssertionFailure() << "the change notification was not delivered";
    }
    dispatch::RunLoop::main().runOnce(20);
  }
  const LibraryVariables& v = g_library;
  if (*v.lockRecentlyDeleted != options.lockRecentlyDeleted || *v.popToRoot != options.popToRoot ||
      *v.hiddenItemCountEnabled != options.hiddenItemCountEnabled ||
      *v.showLockIcon != options.showLockIcon || *v.hiddenItemCount != options.hiddenItemCount) {
    return ::testing::AssertionFailure() << "the library did not take the changed options";
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult setPasscode(bool with_passcode) {
  if (std::string e = localauth::setDevicePasscode(g_device, with_passcode ? kPasscode : "",
                                                   device::kMinPasscodeIterations);
      !e.empty()) {
    return ::testing::AssertionFailure() << "the passcode: " << e;
  }
  return ::testing::AssertionSuccess();
}

void forgetFailedPasscodes() {
  // A fresh record comes with the passcode, set again.
  if (device::hasPasscode(device::readConfig())) {
    localauth::setDevicePasscode(g_device, kPasscode, device::kMinPasscodeIterations);
  }
}

::testing::AssertionResult settle() {
  if (!dispatch::RunLoop::main().settle(kSettleLimitMs)) {
    return ::testing::AssertionFailure() << "the main queue did not settle";
  }
  return ::testing::AssertionSuccess();
}

void dismissPrompts() {
  while (localauth::promptCount() > 0) localauth::answerCancel();
  EXPECT_TRUE(settle());
}

void TweakTest::SetUp() {
  watchdog_ = std::make_unique<testing_support::Watchdog>(
      ::testing::UnitTest::GetInstance()->current_test_info()->name(), limit_);
  pool_ = std::make_unique<objc::AutoreleasePool>();
  ASSERT_TRUE(setPasscode(true));
  ASSERT_TRUE(changeOptions(Options{}));
  // Like a fresh launch: the flag is process-wide and a test before may have
  // unlocked.
  *g_library.accessed = NO;
  relaunch();
}

void TweakTest::TearDown() {
  dismissPrompts();
  app_.reset();
  EXPECT_TRUE(settle());
  pool_.reset();
  watchdog_.reset();
}

void TweakTest::relaunch() {
  app_.reset();
  events_.clear();
  app_ = std::make_unique<photos::PhotosApp>(
      [this](const std::string& line) { events_.push_back(line); });
  ASSERT_EQ(app_->libraryError(), "");
}

std::string TweakTest::badge(const std::string& title) {
  const std::string prefix = "album " + title + ": ";
  for (const std::string& line : app_->albums()) {
    if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
  }
  return "";
}

}  // namespace tweak_test
