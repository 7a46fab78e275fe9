// Opening a folder inside the device without following links: a component
// at a time from a folder already open, each opened with O_NOFOLLOW, so that
// a link put on the way after the package's checks (by a maintainer script)
// can never lead a write or a removal out of where the checks saw it.
//
// Thread safety: any thread.
#pragma once

#include <string>

namespace device {

// A descriptor, closed when this goes.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd();
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// Opens the folder at `path` ("var/jb/x"; "" for `from` itself) below the
// open folder `from`, following no link. Returns the descriptor (O_PATH, for
// the *at calls), or -errno: ELOOP when a component is a link, ENOTDIR when
// it is something else than a folder, ENOENT when it is missing.
int openFolderBeneath(int from, const std::string& path);

// Removes `name` in the open folder `parent` and, when it is a folder,
// everything in it, following no link. Returns 0 or an errno (ENOENT when it
// is not there).
int removeTreeBeneath(int parent, const std::string& name);

// Opens a real folder of the machine (following links, as its name is given).
int openFolder(const std::string& real_path);

// Whether the real path lies inside the device (below device::root()).
bool inDevice(const std::string& real_path);
// Opens the folder that holds the real path `real_path`, which lies inside
// the device, from the device root through no link, and stores its last
// component in `leaf`. Returns the descriptor (O_PATH), or -errno as
// openFolderBeneath does (EXDEV when the path is not inside the device).
int openParentInDevice(const std::string& real_path, std::string* leaf);
// Opens the file at `system_path` ("/var/jb/usr/bin/killall") in the device
// with `flags`, every folder on its way and the file itself reached through
// no link. Returns the descriptor, or -errno (ELOOP for a link).
int openInDevice(const std::string& system_path, int flags);

}  // namespace device
