// VelmoTest: the phone's own Velmo.dylib and VelmoPreferences, taken from
// the iphoneos-arm64 package that `make phone` builds, run in an emulated
// phone process. The package is unpacked once per test program with
// dpkg-deb, and each test installs its files into the model's device folder
// and loads the binary from there, as the phone's loader would.
//
// Every case runs on each slice of the package's fat binaries: the fixture
// takes the slice's architecture as its parameter, and the process is of
// that architecture (arm64e with pointer authentication on). A suite is
// instantiated with VELMO_ON_EACH_SLICE(Suite); its cases are named
// .../arm64 and .../arm64e.
//
// A test sets the scene first (the process's main bundle, the device, the
// host classes, the settings file), then loads; the fixture's leak check
// (PhoneTest) runs at the end of every test.
#pragma once

#include <memory>
#include <string>

#include "tests/phone/host_apps.h"
#include "tests/phone/phone_fixture.h"

namespace velmo::phone {

inline constexpr const char* kSettingsFile =
    "/var/jb/var/mobile/Library/Preferences/com.qel.velmopreferences.plist";
inline constexpr const char* kChanged = "com.qel.velmopreferences/changed";
inline constexpr const char* kReason = "Use your passcode to view and manage hidden album.";
inline constexpr const char* kVelmoPath =
    "/var/jb/Library/MobileSubstrate/DynamicLibraries/Velmo.dylib";
inline constexpr const char* kBundlePath =
    "/var/jb/Library/PreferenceBundles/VelmoPreferences.bundle";

// The package's files, unpacked (a folder of this machine's).
const std::string& PackageRoot();

class VelmoTest : public PhoneTest, public ::testing::WithParamInterface<Architecture> {
 protected:
  void SetUp() override;

  // The Photos app on a device: its main bundle, the device facts and the
  // Photos classes.
  void StartPhotos(const std::string& model = "iPhone", const std::string& version = "15.0");
  // The privacy daemon: its bundle identifier, its TCCDService and no UIKit.
  void StartPrivacyDaemon();
  void WriteSettings(const DeviceFiles::PlistEntries& entries);
  // Loads Velmo.dylib from the device; its initializers run.
  LoadedImage& LoadVelmo();

  // Velmo's exported variables.
  bool Option(const std::string& name) const;
  int64_t HiddenItemCount() const;
  std::string Reason() const;

  // The original implementation MSHookMessageEx left in a slot, checked to
  // be signed as a plain function pointer where the process signs.
  uint64_t SlotValue(uint64_t slot) const;

  // The IMP a class has for a selector now (0 when none).
  uint64_t Imp(const std::string& cls, const std::string& selector);

  std::unique_ptr<PhotosApp> photos_;
  std::unique_ptr<PrivacyDaemon> daemon_;
  LoadedImage* velmo_ = nullptr;
};

// The name of a case's slice: "arm64" or "arm64e".
inline std::string SliceName(const ::testing::TestParamInfo<Architecture>& slice) {
  return ArchitectureName(slice.param);
}

#define VELMO_ON_EACH_SLICE(suite) \
  INSTANTIATE_TEST_SUITE_P(        \
      Slice, suite, ::testing::Values(Architecture::kArm64, Architecture::kArm64e), SliceName)

}  // namespace velmo::phone
