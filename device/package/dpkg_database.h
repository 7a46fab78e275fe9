// The device's record of installed packages, kept as dpkg keeps it, in
// /var/jb/var/lib/dpkg/info/:
//   <package>.list      every path the package installed, folders included,
//                       "/." first, one a line
//   <package>.control   the control file it came with
//   <package>.postinst, <package>.postrm   its maintainer scripts
// Paths here are the system's ("/var/jb/..."); the functions that touch files
// place them under the device root (device::devicePath).
//
// Thread safety: any thread; two programs changing one device's record are
// kept apart by DatabaseLock.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace package {

inline constexpr const char* kDpkgFolder = "/var/jb/var/lib/dpkg";
inline constexpr const char* kInfoFolder = "/var/jb/var/lib/dpkg/info";

// What a maintainer script or record file of a package is called, "list",
// "control", "postinst", "postrm": the real path of <info>/<package>.<kind>.
std::string infoFile(const std::string& package, const std::string& kind);

// dpkg's rule for package names: lower-case letters, digits, '+', '-' and
// '.', at least two, beginning with a letter or digit.
bool validPackageName(const std::string& name);

// The fields of a control file, "Package" -> "com.qel.velmo". A continuation
// line (one starting with a space) is added to its field after a '\n'.
// Lenient, for the device's own records: a later field of a name replaces an
// earlier one.
std::map<std::string, std::string> parseControl(const std::string& text);

// Reads a package's control file as dpkg does, into `fields`: a field named
// twice (names compare without regard to case, "Package" and "package") is
// refused with dpkg's words, "duplicate value for 'Package' field", as is a
// second paragraph, a line that is no field, or a continuation line before
// any field. Returns an error message, or "".
std::string readControl(const std::string& text, std::map<std::string, std::string>* fields);

// The paths <package>.list records. Returns false when the package is not
// installed (no list).
bool readFileList(const std::string& package, std::vector<std::string>* paths);

// Records a package the device comes with, which no archive brought: its
// control file and the paths ("/var/jb/...") it owns. Returns an error
// message, or "".
std::string recordPackage(const std::string& package, const std::string& control,
                          const std::vector<std::string>& paths);

// The installed packages (those with a file list), sorted by name.
std::vector<std::string> installedPackages();

// A Depends field ("a, b (>= 1) | c") as its entries, each the names of its
// alternatives: {{"a"}, {"b", "c"}}. Versions and architectures are dropped.
std::vector<std::vector<std::string>> dependsEntries(const std::string& depends);

// Every path recorded by an installed package other than `except`, mapped to
// that package.
std::map<std::string, std::string> filesOfOtherPackages(const std::string& except);

// Holds the device's lock on its package record (dpkg's "lock" file) for its
// lifetime, so that two installs or removals never interleave.
class DatabaseLock {
 public:
  DatabaseLock() = default;
  ~DatabaseLock();
  DatabaseLock(const DatabaseLock&) = delete;
  DatabaseLock& operator=(const DatabaseLock&) = delete;

  // Creates the record's folders if needed and takes the lock. Returns an
  // error message (another program holds it, or the folder cannot be made),
  // or "".
  std::string acquire();

 private:
  int fd_ = -1;
};

}  // namespace package
