#include "tests/phone/phone_package.h"

#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>

#include "tests/phone/emulator.h"

extern char** environ;

namespace velmo::phone {
namespace fs = std::filesystem;

UnpackedPackage::UnpackedPackage(const std::string& deb) {
  if (!fs::exists(deb))
    throw EmulationError("no phone package at " + deb + ": build it with `make phone`");
  std::string folder = (fs::temp_directory_path() / "velmo-phone-package-XXXXXX").string();
  if (!mkdtemp(folder.data())) throw EmulationError("cannot make a folder for " + deb);
  root_ = folder;
  const char* argv[] = {"dpkg-deb", "-x", deb.c_str(), root_.c_str(), nullptr};
  pid_t pid = 0;
  int status = 0;
  if (posix_spawnp(&pid, "dpkg-deb", nullptr, nullptr, const_cast<char**>(argv), environ) != 0 ||
      waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fs::remove_all(root_);
    throw EmulationError("dpkg-deb could not unpack " + deb);
  }
}

UnpackedPackage::~UnpackedPackage() {
  std::error_code ec;
  fs::remove_all(root_, ec);
}

}  // namespace velmo::phone
