// UnpackedPackage: a Debian package unpacked with dpkg-deb into a folder of
// its own, removed with the object; the phone build's package is read this
// way by the tests and the benchmark, so that they run the binaries the
// package carries. Throws EmulationError when the package is missing or
// cannot be unpacked.
#pragma once

#include <string>

namespace velmo::phone {

class UnpackedPackage {
 public:
  explicit UnpackedPackage(const std::string& deb);
  ~UnpackedPackage();
  UnpackedPackage(const UnpackedPackage&) = delete;
  UnpackedPackage& operator=(const UnpackedPackage&) = delete;
  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

}  // namespace velmo::phone
