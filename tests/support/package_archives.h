// Package files built by tests: tar archives and the .deb files dpkg-deb
// reads, made with libarchive from a list of entries.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// An entry of an archive built here: 'f' a file (its bytes), 'd' a folder,
// 'l' a symlink, 'h' a hard link (their targets), 'x' a script (its text).
struct Entry {
  std::string name;
  char type;
  std::string content;
  unsigned mode = 0;  // its permission bits; 0 for the usual (0644, 0755 for folders and 'x')
};

// The entries as an uncompressed GNU tar archive.
std::string tarOf(const std::vector<Entry>& entries);

// A package file as dpkg-deb reads it: an ar archive of debian-binary, an
// uncompressed control.tar and data.tar. A "./control" among `scripts`
// replaces the one made of the fields.
void writeDeb(const std::string& path, const std::string& package, const std::string& version,
              const std::vector<Entry>& data, const std::vector<Entry>& scripts = {},
              const std::string& more_fields = "Architecture: all\n");

}  // namespace testing_support
