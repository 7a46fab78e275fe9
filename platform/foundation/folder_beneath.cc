#include "platform/foundation/folder_beneath.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/foundation/device.h"

namespace device {

Fd::~Fd() {
  if (fd_ >= 0) close(fd_);
}

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

int openFolderBeneath(int from, const std::string& path) {
  Fd here(fcntl(from, F_DUPFD_CLOEXEC, 0));
  if (!here.ok()) return -errno;
  size_t start = 0;
  while (start < path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    std::string name = path.substr(start, slash - start);
    start = slash + 1;
    if (name.empty() || name == ".") continue;
    if (name == "..") return -EXDEV;  // paths here are normalized; never climb
    // O_PATH with O_NOFOLLOW opens a link itself rather than failing: told
    // apart below.
    Fd next(openat(here.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!next.ok()) return -errno;
    struct stat st;
    if (fstat(next.get(), &st) != 0) return -errno;
    if (S_ISLNK(st.st_mode)) return -ELOOP;
    if (!S_ISDIR(st.st_mode)) return -ENOTDIR;
    here = std::move(next);
  }
  return here.release();
}

int removeTreeBeneath(int parent, const std::string& name) {
  if (unlinkat(parent, name.c_str(), 0) == 0) return 0;
  if (errno != EISDIR && errno != EPERM) return errno;  // EPERM: what unlink says of a folder
  int fd = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno;
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    int e = errno;
    close(fd);
    return e;
  }
  int failed = 0;
  while (dirent* d = readdir(dir)) {
    std::string child = d->d_name;
    if (child == "." || child == "..") continue;
    if (int e = removeTreeBeneath(dirfd(dir), child); e != 0 && e != ENOENT) failed = e;
  }
  closedir(dir);
  if (unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0) return failed != 0 ? failed : errno;
  return 0;
}

int openFolder(const std::string& real_path) {
  int fd = open(real_path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  return fd >= 0 ? fd : -errno;
}

bool inDevice(const std::string& real_path) {
  const std::string& root = device::root();
  return !root.empty() && root != "/" && real_path.size() > root.size() + 1 &&
         real_path.compare(0, root.size(), root) == 0 && real_path[root.size()] == '/';
}

int openParentInDevice(const std::string& real_path, std::string* leaf) {
  if (!inDevice(real_path)) return -EXDEV;
  std::string rest = real_path.substr(device::root().size() + 1);
  size_t slash = rest.rfind('/');
  *leaf = slash == std::string::npos ? rest : rest.substr(slash + 1);
  if (leaf->empty() || *leaf == "." || *leaf == "..") return -EINVAL;
  Fd root(openFolder(device::root()));
  if (!root.ok()) return root.get();
  return openFolderBeneath(root.get(), slash == std::string::npos ? "" : rest.substr(0, slash));
}

int openInDevice(const std::string& system_path, int flags) {
  std::string leaf;
  Fd parent(openParentInDevice(device::devicePath(system_path), &leaf));
  if (!parent.ok()) return parent.get();
  int fd = openat(parent.get(), leaf.c_str(), flags | O_NOFOLLOW | O_CLOEXEC);
  return fd >= 0 ? fd : -errno;
}

}  // namespace device
