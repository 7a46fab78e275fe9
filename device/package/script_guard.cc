#include "device/package/script_guard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "device/package/base_packages.h"
#include "device/package/dpkg_database.h"
#include "device/package/package_paths.h"
#include "device/package/removal.h"
#include "platform/foundation/device.h"

namespace package {
namespace {

namespace fs = std::filesystem;
using device::Fd;

// Where a held folder is now, as the kernel names it.
std::string currentPath(int fd) {
  char target[4096];
  std::string link = "/proc/self/fd/" + std::to_string(fd);
  ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : "";
}

}  // namespace

std::vector<std::string> systemFiles() {
  std::vector<std::string> out;
  auto add = [&](const std::string& real, bool folder_too) {
    struct stat st;
    if (lstat(real.c_str(), &st) == 0 &&
        (S_ISREG(st.st_mode) || (folder_too && S_ISDIR(st.st_mode))))
      out.push_back(real);
  };
  for (const char* path : {kDpkgFolder, "/var/run/processes", "/var/db", "/device.plist"})
    add(device::devicePath(path), true);
  // The base packages' files; their folders (/var/jb) stay writable, as
  // packages install into them.
  for (const char* base : kBasePackages) {
    std::vector<std::string> recorded_paths;
    readFileList(base, &recorded_paths);
    for (const std::string& p : recorded_paths) {
      if (p != "/.") add(device::devicePath(p), false);
    }
  }
  return out;
}

void FolderGuard::hold(const std::vector<std::string>& folders) {
  Fd root(device::openFolder(device::root()));
  if (!root.ok()) return;
  std::vector<std::string> sorted = folders;
  std::sort(sorted.begin(), sorted.end());
  for (const std::string& f : sorted) {
    Fd fd(device::openFolderBeneath(root.get(), f));
    if (fd.ok() && !f.empty()) held_.emplace_back(f, std::move(fd));
  }
}

std::string FolderGuard::restore() {
  std::string said;
  auto say = [&](const std::string& text) { said += (said.empty() ? "" : "; ") + text; };
  const std::string prefix = device::root() + "/";
  Fd root(device::openFolder(device::root()));
  if (!root.ok()) return "cannot open the device root";
  for (auto& [path, fd] : held_) {
    const std::string now = currentPath(fd.get());
    if (now == onDevice(path)) continue;
    if (now.rfind(prefix, 0) != 0) {
      say("/" + path + " was removed or moved out of reach, and cannot be put back");
      continue;
    }
    const std::string moved_to = now.substr(prefix.size() - 1);
    Fd parent(device::openFolderBeneath(root.get(), parentOf(path)));
    if (!parent.ok()) {
      say("/" + path + " was moved to " + moved_to + ", and its folder cannot be reached");
      continue;
    }
    const std::string leaf = leafOf(path);
    struct stat st;
    if (fstatat(parent.get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      // What the script left in its place: a link or a file goes, an empty
      // folder too; anything else stays, and the folder cannot come back.
      int flags = S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0;
      if (unlinkat(parent.get(), leaf.c_str(), flags) != 0) {
        say("/" + path + " was moved to " + moved_to + ", and what stands in its place (" +
            std::strerror(errno) + ") keeps it from being put back");
        continue;
      }
    }
    if (renameat(AT_FDCWD, now.c_str(), parent.get(), leaf.c_str()) != 0) {
      say("/" + path + " was moved to " + moved_to +
          " and cannot be put back: " + std::strerror(errno));
      continue;
    }
    say("/" + path + " was moved to " + moved_to + " and was put back");
  }
  return said;
}

std::vector<std::string> clearUnsafeModes() {
  std::vector<std::string> changed;
  struct stat top;
  if (lstat(device::root().c_str(), &top) != 0) return changed;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(
           device::root(), fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::end(it); it.increment(ec)) {
    struct stat st;
    if (lstat(it->path().c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode) && st.st_dev != top.st_dev) {
      it.disable_recursion_pending();
      continue;
    }
    if (!S_ISREG(st.st_mode) || (st.st_mode & 07002) == 0) continue;
    if (chmod(it->path().c_str(), st.st_mode & 0775) == 0)
      changed.push_back(it->path().string().substr(device::root().size()));
  }
  return changed;
}

}  // namespace package
