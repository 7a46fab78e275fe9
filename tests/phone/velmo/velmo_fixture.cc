#include "tests/phone/velmo/velmo_fixture.h"

#include <stdlib.h>

#include <filesystem>

namespace velmo::phone {
namespace fs = std::filesystem;
namespace {

// The unpacked package, removed when the program ends.
struct Unpacked {
  std::string root;
  ~Unpacked() {
    std::error_code ec;
    if (!root.empty()) fs::remove_all(root, ec);
  }
};

}  // namespace

const std::string& PackageRoot() {
  static Unpacked unpacked = [] {
    std::string deb = VELMO_PHONE_PACKAGE;
    if (!fs::exists(deb))
      throw EmulationError("no phone package at " + deb + ": build it with `make phone`");
    std::string pattern = (fs::temp_directory_path() / "velmo-phone-package-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw EmulationError("cannot make a folder for the package");
    std::string command = "dpkg-deb -x '" + deb + "' '" + pattern + "'";
    if (system(command.c_str()) != 0) throw EmulationError("dpkg-deb could not unpack " + deb);
    return Unpacked{pattern};
  }();
  return unpacked.root;
}

void VelmoTest::SetUp() {
  PhoneTest::SetUp();
  phone.files.Install(PackageRoot());
}

void VelmoTest::StartPhotos(const std::string& model, const std::string& version) {
  phone.foundation.SetMainBundle("com.apple.mobileslideshow");
  phone.uikit.SetDevice(model, version);
  photos_ = std::make_unique<PhotosApp>(phone);
}

void VelmoTest::StartPrivacyDaemon() {
  phone.foundation.SetMainBundle("com.apple.tccd");
  // The daemon has no UIKit: the library finds neither the device nor the
  // view controllers there.
  for (const char* cls : {"UIDevice", "UIViewController"}) phone.objc.Class(cls).registered = false;
  daemon_ = std::make_unique<PrivacyDaemon>(phone);
}

void VelmoTest::WriteSettings(const DeviceFiles::PlistEntries& entries) {
  phone.files.WritePlist(kSettingsFile, entries);
}

LoadedImage& VelmoTest::LoadVelmo() {
  velmo_ = &phone.Load(phone.files.HostPath(kVelmoPath));
  return *velmo_;
}

bool VelmoTest::Option(const std::string& name) const {
  uint8_t value = phone.emu.Read8(velmo_->Symbol("_" + name));
  if (value > 1) throw ModelError(name + " holds " + std::to_string(value) + ", not a BOOL");
  return value != 0;
}

int64_t VelmoTest::HiddenItemCount() const {
  return static_cast<int64_t>(phone.emu.Read64(velmo_->Symbol("_hiddenItemCount")));
}

std::string VelmoTest::Reason() const {
  return phone.objc.StringValue(phone.emu.Read64(velmo_->Symbol("_reason")));
}

uint64_t VelmoTest::Imp(const std::string& cls, const std::string& selector) {
  return phone.objc.Lookup(&phone.objc.Class(cls), phone.objc.Sel(selector));
}

}  // namespace velmo::phone
