#include "tests/fuzz/fuzz_device.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "platform/foundation/device.h"

namespace fuzz_support {

const std::string& makeScratchDevice() {
  static const std::string* root = [] {
    // In memory when there is room: a file rewritten per input on a disk
    // file system waits for the disk (ext4 flushes a truncated file's blocks).
    std::error_code ec;
    std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec) &&
                                         ::access("/dev/shm", W_OK) == 0
                                     ? std::filesystem::path("/dev/shm")
                                     : std::filesystem::temp_directory_path();
    std::string pattern = (base / "velmo-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    device::setRoot(pattern);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(device::root(), ec);
    });
    return new std::string(device::root());
  }();
  return *root;
}

void putFile(const std::string& real_path, std::string_view bytes) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(real_path).parent_path(), ec);
  int fd = ::open(real_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::perror(real_path.c_str());
    std::abort();
  }
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n <= 0) {
      std::perror(real_path.c_str());
      std::abort();
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  ::close(fd);
}

}  // namespace fuzz_support
