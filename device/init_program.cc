// velmo-device init: creates a device folder with what a rootless phone has
// before any add-on (the Photos app, the hooking runtime, killall), recording
// the jailbreak's files in base packages as its bootstrap does, so that no
// add-on may overwrite or remove them, then installs the built Velmo package
// into it as a package manager would. With
// --bare the phone is left without Velmo: a Velmo already installed in the
// folder is removed.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "device/console.h"
#include "device/install_paths.h"
#include "device/package/dpkg_database.h"
#include "device/package/installer.h"
#include "device/programs.h"
#include "platform/foundation/device.h"
#include "platform/foundation/system_programs.h"
#include "platform/localauth/passcode_attempts.h"
#include "platform/photos/photos_app.h"

namespace program {
namespace {

namespace fs = std::filesystem;

constexpr const char* kVelmoPackage = "com.qel.velmo";

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

// A package the phone comes with, as its jailbreak's bootstrap lays it down:
// its control file and the paths it owns, folders made and files copied.
// Recording them keeps their folders when an add-on that also lists them is
// removed, and keeps any add-on from overwriting or removing their files.
struct BasePackage {
  const char* name;
  const char* description;
  std::vector<std::string> folders;
  std::vector<std::pair<std::string, std::string>> files;  // device path, built file
};

std::string installBasePackage(const BasePackage& base) {
  std::error_code ec;
  std::vector<std::string> paths;
  for (const std::string& folder : base.folders) {
    fs::create_directories(device::devicePath(folder), ec);
    if (ec) return "cannot make " + folder + ": " + ec.message();
    paths.push_back(folder);
  }
  for (const auto& [to, from] : base.files) {
    // Whatever is there goes first: a link would be written through.
    fs::remove(device::devicePath(to), ec);
    if (std::string e = copyTree(from, device::devicePath(to)); !e.empty()) return e;
    paths.push_back(to);
  }
  std::string control = std::string("Package: ") + base.name +
                        "\nVersion: 1.0\nDescription: " + base.description + "\n";
  return package::recordPackage(base.name, control, paths);
}

// The hooking runtime (its library and the frameworks it needs, where a
// rootless phone keeps them and where Velmo's run-path finds them), the
// Settings app's loader of preference bundles, and the phone's command-line
// tools: its own killall, which reaches only this device's processes.
std::string installBasePackages() {
  const std::string runtime = buildDirectory() + "/device-runtime/var/jb/usr/lib/";
  std::vector<std::pair<std::string, std::string>> libraries;
  for (const char* lib : {"libvelmo-substrate.so", "libvelmo-foundation.so", "libvelmo-objc.so"})
    libraries.emplace_back(std::string("/var/jb/usr/lib/") + lib, runtime + lib);
  const BasePackage packages[] = {
      {"mobilesubstrate",
       "the hooking runtime",
       {"/var/jb", "/var/jb/Library", "/var/jb/Library/Frameworks",
        "/var/jb/Library/MobileSubstrate", "/var/jb/Library/MobileSubstrate/DynamicLibraries",
        "/var/jb/usr", "/var/jb/usr/lib"},
       libraries},
      {"preferenceloader",
       "the Settings app's loader of preference bundles",
       {"/var/jb", "/var/jb/Library", "/var/jb/Library/PreferenceBundles",
        "/var/jb/Library/PreferenceLoader", "/var/jb/Library/PreferenceLoader/Preferences"},
       {}},
      {"shell-cmds",
       "the phone's command-line tools",
       {"/var/jb", "/var/jb/usr", "/var/jb/usr/bin"},
       {{"/var/jb/usr/bin/killall", buildDirectory() + "/bin/velmo-killall"}}},
  };
  for (const BasePackage& base : packages) {
    if (std::string e = installBasePackage(base); !e.empty()) return e;
  }
  // The device starts killall only while it is this very file.
  return device::recordSystemProgram("/var/jb/usr/bin/killall");
}

std::string install() {
  if (std::string e = installBasePackages(); !e.empty()) return e;
  std::error_code ec;
  fs::create_directories(device::devicePath("/var/jb/var/mobile/Library/Preferences"), ec);
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
  } else {
    passcode.clear();
  }
  std::error_code ec;
  fs::create_directories(root, ec);
  if (ec) {
    print("error: cannot create " + root + ": " + ec.message());
    return 1;
  }
  device::setRoot(fs::absolute(root).string());
  // The passcode's verifier (readable by the device's owner only) and the
  // record of failed answers are made with it: from now on a record that goes
  // missing is one that was tampered with.
  if (std::string e = localauth::setDevicePasscode(config, passcode); !e.empty()) {
    print("error: " + e);
    return 1;
  }
  config.passcode = !passcode.empty();
  if (std::string e = install(); !e.empty()) {
    print("error: " + e);
    return 1;
  }
  std::string with = "";
  if (options.has("--bare")) {
    std::vector<std::string> ignored;
    if (package::readFileList(kVelmoPackage, &ignored)) {
      package::Outcome removed;
      if (std::string e = package::removePackage(kVelmoPackage, &removed); !e.empty()) {
        print("error: " + e);
        return 1;
      }
      with = ", " + removed.package + " " + removed.version + " removed";
    }
  } else {
    package::Outcome installed;
    if (std::string e = package::installPackage(builtPackage(), &installed); !e.empty()) {
      print("error: " + e);
      return 1;
    }
    with = ", with " + installed.package + " " + installed.version;
  }
  print("device " + device::root() + ": " + config.model + ", system " + config.systemVersion +
        ", " + (config.passcode ? "passcode set" : "no passcode") + ", biometry " +
        config.biometry + with);
  return 0;
}

}  // namespace program
