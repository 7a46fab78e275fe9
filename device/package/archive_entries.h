// The entries of a tar archive (a package's data part, as
// `dpkg-deb --fsys-tarfile` writes it, or its control part), read with
// libarchive without extracting anything, so that an archive can be judged
// before any of it reaches a disk.
//
// Thread safety: any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace package {

struct ArchiveEntry {
  enum class Type { kFile, kDirectory, kSymlink, kHardlink, kOther };
  std::string name;  // as stored: "./var/jb/Library/x"
  Type type = Type::kOther;
  std::string link;   // a symlink's target or a hard link's entry name
  uint64_t size = 0;  // a file's bytes; 0 for anything else
  unsigned mode = 0;  // its permission bits as stored, setuid, setgid and sticky included
};

// The most entries one archive part may hold.
inline constexpr size_t kMaxArchiveEntries = 100000;

// Reads every entry of the tar stream on `fd` (a pipe from dpkg-deb) into
// `entries`, stopping as soon as the files' sizes add up to more than
// `max_size`, before their bytes are read, or the entries number more than
// kMaxArchiveEntries: `*too_big` is then set and the error says so. Returns
// an error message, or "". Leaves `fd` open.
std::string readArchiveEntries(int fd, uint64_t max_size, std::vector<ArchiveEntry>* entries,
                               bool* too_big);

}  // namespace package
