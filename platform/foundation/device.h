// The simulated device a process runs on: its root folder and its
// configuration.
//
// The system spells paths as the phone has them ("/var/jb/...",
// "/Applications/..."); every file operation of the platform passes them
// through devicePath(), which places them under the device's root folder, so
// two devices on one machine never see each other's files.
//
// The configuration lives in <root>/device.plist (model, system version, the
// passcode's salted hash, biometry). It is written by `velmo-device init` and
// read by UIKit and LocalAuthentication.
//
// Thread safety: setRoot is called once at start, before any other thread
// runs; everything else may be called from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace device {

// Sets the device's root folder (made absolute). Must be called before any
// file operation of the platform.
void setRoot(std::string_view root);
const std::string& root();

// "/var/jb/x" -> "<root>/var/jb/x". Every absolute path is placed under the
// root; a relative path is returned unchanged.
std::string devicePath(std::string_view system_path);

struct Config {
  std::string model = "iPhone";           // "iPhone" or "iPad"
  std::string systemVersion = "16.4.1";
  std::string passcodeSalt;               // hex; empty with passcodeHash when no passcode is set
  std::string passcodeHash;               // hex SHA-256 of salt + passcode
  std::string biometry = "face";          // "face" or "none"
};

// Reads <root>/device.plist; defaults for anything missing.
Config readConfig();
// Writes <root>/device.plist atomically. Returns an error message, or "".
std::string writeConfig(const Config& config);

}  // namespace device
