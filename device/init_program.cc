// velmo-device init: creates a device folder and installs the built Velmo and
// VelmoPreferences into it, as a package would.
#include <filesystem>
#include <string>

#include "device/console.h"
#include "device/install_paths.h"
#include "device/programs.h"
#include "platform/foundation/device.h"
#include "platform/photos/photos_app.h"

namespace program {
namespace {

namespace fs = std::filesystem;

std::string copyTree(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::create_directories(to.parent_path(), ec);
  if (fs::is_directory(from, ec)) {
    fs::create_directories(to, ec);
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
  } else {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  }
  return ec ? "cannot install " + from.string() + ": " + ec.message() : "";
}

std::string install() {
  std::string build = buildDirectory();
  struct Item {
    std::string from;
    std::string to;
  };
  const Item items[] = {
      {build + "/lib/Velmo.dylib", "/var/jb/Library/MobileSubstrate/DynamicLibraries/Velmo.dylib"},
      {build + "/share/Velmo.plist",
       "/var/jb/Library/MobileSubstrate/DynamicLibraries/Velmo.plist"},
      {build + "/share/VelmoPreferences.bundle",
       "/var/jb/Library/PreferenceBundles/VelmoPreferences.bundle"},
      {build + "/share/PreferenceLoader/VelmoPreferences.plist",
       "/var/jb/Library/PreferenceLoader/Preferences/VelmoPreferences.plist"},
  };
  for (const Item& item : items) {
    if (std::string e = copyTree(item.from, device::devicePath(item.to)); !e.empty()) return e;
  }
  std::error_code ec;
  fs::create_directories(device::devicePath("/var/jb/var/mobile/Library/Preferences"), ec);
  fs::create_directories(device::devicePath("/var/jb/usr/bin"), ec);
  // The device's own killall, which reaches only this device's processes.
  fs::path killall = device::devicePath("/var/jb/usr/bin/killall");
  fs::remove(killall, ec);
  if (std::string e = copyTree(build + "/bin/velmo-killall", killall); !e.empty()) return e;
  return photos::installApp();
}

}  // namespace

int initMain(const Options& options) {
  std::string root = options.get("--root");
  if (root.empty()) {
    print("error: --root DIR is required");
    return 2;
  }
  device::Config config;
  config.model = options.get("--model", "iPhone");
  if (config.model != "iPhone" && config.model != "iPad") {
    print("error: --model must be iPhone or iPad");
    return 2;
  }
  config.systemVersion = options.get("--system-version", "16.4.1");
  config.biometry = options.get("--biometry", "face");
  if (config.biometry != "face" && config.biometry != "none") {
    print("error: --biometry must be face or none");
    return 2;
  }
  if (options.has("--no-passcode") && options.has("--passcode")) {
    print("error: --passcode and --no-passcode exclude each other");
    return 2;
  }
  std::string passcode = options.get("--passcode", "1234");
  if (!options.has("--no-passcode")) {
    if (passcode.empty() || passcode.find_first_not_of("0123456789") != std::string::npos) {
      print("error: the passcode must be digits");
      return 2;
    }
    config.passcodeSalt = device::newSalt();
    config.passcodeHash = device::hashPasscode(config.passcodeSalt, passcode);
  }
  std::error_code ec;
  fs::create_directories(root, ec);
  if (ec) {
    print("error: cannot create " + root + ": " + ec.message());
    return 1;
  }
  device::setRoot(fs::absolute(root).string());
  if (std::string e = device::writeConfig(config); !e.empty()) {
    print("error: " + e);
    return 1;
  }
  if (std::string e = install(); !e.empty()) {
    print("error: " + e);
    return 1;
  }
  print("device " + device::root() + ": " + config.model + ", system " + config.systemVersion +
        ", " + (config.passcodeHash.empty() ? "no passcode" : "passcode set") + ", biometry " +
        config.biometry);
  return 0;
}

}  // namespace program
