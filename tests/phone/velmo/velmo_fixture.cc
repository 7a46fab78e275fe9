#include "tests/phone/velmo/velmo_fixture.h"

#include "tests/phone/phone_package.h"

namespace velmo::phone {

const std::string& PackageRoot() {
  static UnpackedPackage package(VELMO_PHONE_PACKAGE);
  return package.root();
}

void VelmoTest::SetUp() {
  phone.SetArchitecture(GetParam());
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

uint64_t VelmoTest::SlotValue(uint64_t slot) const {
  uint64_t value = phone.emu.Read64(slot);
  if (value == 0) return 0;
  return phone.objc.pac.Authenticate(value, kFunctionPointerScheme, 0,
                                     "the original implementation in the slot");
}

uint64_t VelmoTest::Imp(const std::string& cls, const std::string& selector) {
  return phone.objc.Lookup(&phone.objc.Class(cls), phone.objc.Sel(selector));
}

}  // namespace velmo::phone
