// A bounded exclusive lock on a lock file, shared by every record of the
// device that two processes may rewrite at once (the passcode record, the
// preferences domains).
//
// The lock (flock) is waited for, as a blocked flock waits (woken when it is
// released, in turn with other waiters), for at most the patience given,
// then given up: a lock held that long is held by a
// process that is stuck or stopped, or by someone else who merely opened the
// file, and the caller must not wait for it without end. The lock file is
// made, and kept, readable and writable by its owner only (0600): taking an
// flock needs no more than read access, so a file others could read would be
// a lock anyone could hold. A link at the lock file's path is not followed.
//
// Thread safety: one FileLock per thread; flock conflicts between open file
// descriptions, so two FileLocks on one file exclude each other even in one
// process.
#pragma once

#include <chrono>
#include <string>

namespace device {

class FileLock {
 public:
  // Opens (makes) the lock file at a real path and takes its lock, waiting
  // at most `patience`.
  FileLock(const std::string& real_path, std::chrono::milliseconds patience);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool held() const { return fd_ >= 0 && error_.empty() && !busy_; }
  // Another open file description held the lock all the while.
  bool busy() const { return busy_; }
  // Why the lock file could not be opened or locked ("" when held or busy).
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  bool busy_ = false;
  std::string error_;
};

}  // namespace device
