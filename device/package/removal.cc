#include "device/package/removal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>

#include "device/package/dpkg_database.h"
#include "device/package/package_paths.h"
#include "platform/foundation/device.h"
#include "platform/foundation/folder_beneath.h"

namespace package {

namespace fs = std::filesystem;
using device::Fd;
using device::openFolder;
using device::openFolderBeneath;

namespace {
std::string errnoText(int e) { return std::strerror(e); }
}  // namespace

bool inPreferences(const std::string& path) {
  return path == kPreferences || path.rfind(std::string(kPreferences) + "/", 0) == 0;
}

std::string onDevice(const std::string& path) { return device::root() + "/" + path; }
std::string recorded(const std::string& path) { return path.empty() ? "/." : "/" + path; }

std::string planRemoval(const std::vector<std::string>& paths, const std::set<std::string>& keep,
                        const std::string& package, Removal* removal) {
  std::map<std::string, std::string> owners = filesOfOtherPackages(package);
  for (const std::string& line : paths) {
    if (keep.count(line) || owners.count(line)) continue;
    std::string path, where;
    if (line.empty() || line[0] != '/')
      return "the file list of " + package + " names " + line + ", not a path";
    if (std::string err = normalizeEntryName(line.substr(1), &path); !err.empty())
      return "the file list of " + package + " names " + line + ": " + err;
    // The user's settings are never a package's to remove, whatever an older
    // record says.
    if (abovePackageTree(path) || path == "var/jb" || inPreferences(path)) continue;
    if (!insidePackageTree(path))
      return "the file list of " + package + " names " + line + ", outside /var/jb";
    std::error_code ec;
    std::string err = resolveInDevice(device::root(), parentOf(path), {}, &where);
    if (!err.empty() || !insidePackageTree(where))
      return "the file list of " + package + " names " + line + ", which leads out of /var/jb";
    if (where != parentOf(path))
      return "the file list of " + package + " names " + line +
             ", which is reached through a link to /" + where;
    fs::file_status st = fs::symlink_status(onDevice(path), ec);
    (fs::is_directory(st) ? removal->folders : removal->files).push_back(path);
  }
  return "";
}

std::string leafOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Why a folder on a path's way could not be opened.
std::string wayError(int e) {
  return e == ELOOP ? "a link is on its way (the device changed after the checks)" : errnoText(e);
}

std::string deleteRecorded(const Removal& removal, size_t* removed, std::set<std::string>* left) {
  std::string failed;
  std::set<std::string> failed_paths;
  auto fail = [&](const std::string& path, const std::string& why) {
    failed += (failed.empty() ? "" : ", ") + recorded(path) + " (" + why + ")";
    failed_paths.insert(path);
  };
  Fd root(openFolder(device::root()));
  // Opens the folder holding `path`: false when the path is not there (a
  // file under a file, a missing folder) or cannot be reached (noted).
  auto parentOfPath = [&](const std::string& path, Fd* parent) {
    *parent = Fd(root.ok() ? openFolderBeneath(root.get(), parentOf(path)) : root.get());
    int e = -parent->get();
    if (parent->ok() || e == ENOENT || e == ENOTDIR) return parent->ok();
    fail(path, wayError(e));
    return false;
  };
  for (const std::string& f : removal.files) {
    Fd parent;
    if (!parentOfPath(f, &parent)) continue;
    if (unlinkat(parent.get(), leafOf(f).c_str(), 0) == 0) {
      ++*removed;
    } else if (errno != ENOENT && errno != ENOTDIR) {
      fail(f, errnoText(errno));
    }
  }
  std::vector<std::string> folders = removal.folders;
  std::sort(folders.rbegin(), folders.rend());  // a child before its parent
  for (const std::string& d : folders) {
    Fd parent;
    if (!parentOfPath(d, &parent)) continue;
    // A folder that is not empty (or no longer a folder) stays.
    if (unlinkat(parent.get(), leafOf(d).c_str(), AT_REMOVEDIR) != 0 && errno != ENOTEMPTY &&
        errno != EEXIST && errno != ENOENT && errno != ENOTDIR)
      fail(d, errnoText(errno));
  }
  const std::set<std::string> recorded_folders(folders.begin(), folders.end());
  for (const std::string& path : failed_paths) {
    left->insert(path);
    for (std::string f = parentOf(path); !f.empty(); f = parentOf(f)) {
      if (recorded_folders.count(f)) left->insert(f);
    }
  }
  return failed.empty() ? "" : "cannot remove " + failed;
}

std::string writeRecord(const std::string& package, const std::string& kind,
                        const std::string& text, bool executable) {
  std::string path = infoFile(package, kind);
  if (std::string err = device::writeFileAtomically(path, text); !err.empty()) return err;
  std::error_code ec;
  fs::permissions(path, executable ? fs::perms(0755) : fs::perms(0644), ec);
  return ec ? "cannot set the mode of " + path + ": " + ec.message() : "";
}

}  // namespace package
