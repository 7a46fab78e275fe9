#include "platform/foundation/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace device {
namespace {

constexpr auto kRetry = std::chrono::milliseconds(10);

}  // namespace

FileLock::FileLock(const std::string& real_path, std::chrono::milliseconds patience) {
  fd_ = ::open(real_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd_ < 0) {
    error_ = "cannot lock " + real_path + ": " + std::strerror(errno);
    return;
  }
  struct stat st;
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    error_ = "cannot lock " + real_path + ": not a regular file";
    return;
  }
  // A lock file made before it was kept private (0644) is made private now;
  // one this process may not change is used as it is.
  if ((st.st_mode & 0077) != 0) ::fchmod(fd_, 0600);
  auto deadline = std::chrono::steady_clock::now() + patience;
  while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      error_ = "cannot lock " + real_path + ": " + std::strerror(errno);
      return;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      busy_ = true;
      return;
    }
    std::this_thread::sleep_for(kRetry);
  }
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the last descriptor releases the lock
}

}  // namespace device
