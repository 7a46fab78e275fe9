// Test support: a scratch folder that is removed with everything in it when
// the object goes, and a device root shared by all tests of one program (the
// root is process-wide state, so it is set once, to a folder of its own).
//
// Thread safety: make and destroy a TempDir on one thread; testDeviceRoot()
// is safe from any thread after its first call.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/foundation/device.h"

namespace testing_support {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmo-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The device root of this test program, made and set on first use.
inline const std::string& testDeviceRoot() {
  static TempDir* dir = [] {
    auto* d = new TempDir();
    device::setRoot(d->path());
    std::atexit([] { delete dir; });
    return d;
  }();
  return dir->path();
}

}  // namespace testing_support
