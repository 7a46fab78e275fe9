// A throw-away device root for tests: a fresh temporary folder made the
// device's root for the test's lifetime and removed afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/foundation/device.h"

namespace testing_support {

class TempDeviceRoot {
 public:
  TempDeviceRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmo-uikit-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    device::setRoot(path_);
  }
  ~TempDeviceRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDeviceRoot(const TempDeviceRoot&) = delete;
  TempDeviceRoot& operator=(const TempDeviceRoot&) = delete;

  const std::string& path() const { return path_; }
  // The real path of a system path on this device.
  std::string real(const std::string& system_path) const { return device::devicePath(system_path); }

 private:
  std::string path_;
};

}  // namespace testing_support
