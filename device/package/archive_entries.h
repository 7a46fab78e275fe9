// The entries of a package's data archive (the tar that
// `dpkg-deb --fsys-tarfile` writes), read with libarchive without extracting
// anything, so that an archive can be judged before any of it reaches a disk.
//
// Thread safety: any thread.
#pragma once

#include <string>
#include <vector>

namespace package {

struct ArchiveEntry {
  enum class Type { kFile, kDirectory, kSymlink, kHardlink, kOther };
  std::string name;  // as stored: "./var/jb/Library/x"
  Type type = Type::kOther;
  std::string link;  // a symlink's target or a hard link's entry name
};

// Reads every entry of the tar file at `tar_path` into `entries`. Returns an
// error message for an unreadable or damaged archive, or "".
std::string readArchiveEntries(const std::string& tar_path, std::vector<ArchiveEntry>* entries);

}  // namespace package
