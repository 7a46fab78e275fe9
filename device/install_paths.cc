#include "device/install_paths.h"

#include <filesystem>

namespace program {

std::string buildDirectory() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return exe.parent_path().parent_path().string();
}

std::string builtPackage() { return buildDirectory() + "/packages/" VELMO_PACKAGE_FILE; }

}  // namespace program
