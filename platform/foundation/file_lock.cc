#include "platform/foundation/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace device {
namespace {

// A blocking wait for the lock, run on a thread of its own so that the
// caller can give up at its deadline. A blocked flock is woken as soon as
// the lock is released, so a waiter gets its turn among other waiters; a
// caller that retried without blocking would find the lock free only by
// chance while others take it in turn, and could be refused for as long as
// they keep writing. When the caller has given up, the waiter owns the
// descriptor: it closes it, releasing the lock if it got it at last.
struct Wait {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool abandoned = false;
  int error = 0;  // errno of a flock that failed
};

void waitForLock(std::shared_ptr<Wait> wait, int fd) {
  int result;
  do {
    result = ::flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  int error = result == 0 ? 0 : errno;
  std::lock_guard<std::mutex> guard(wait->mutex);
  if (wait->abandoned) {
    ::close(fd);
    return;
  }
  wait->finished = true;
  wait->error = error;
  wait->done.notify_one();
}

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
  int result;
  do {
    result = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return;
  if (errno != EWOULDBLOCK) {
    error_ = "cannot lock " + real_path + ": " + std::strerror(errno);
    return;
  }
  auto wait = std::make_shared<Wait>();
  std::thread(waitForLock, wait, fd_).detach();
  std::unique_lock<std::mutex> guard(wait->mutex);
  if (!wait->done.wait_for(guard, patience, [&] { return wait->finished; })) {
    wait->abandoned = true;  // the waiter closes the descriptor
    fd_ = -1;
    busy_ = true;
    return;
  }
  if (wait->error != 0) error_ = "cannot lock " + real_path + ": " + std::strerror(wait->error);
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the last descriptor releases the lock
}

}  // namespace device
