// What a maintainer script may not change on the device, and the putting
// right of what it changed anyway.
//
// A script runs with the device root writable (script_sandbox.h). The
// device's system files are bound read-only over it (systemFiles), but a
// folder holding them can still be renamed, and a script can set any mode
// on what it made. So, around each script:
//   - FolderGuard holds the folders that must stay where they are (an open
//     descriptor each); a folder the script moved is put back, the link or
//     file it left in its place removed;
//   - clearUnsafeModes takes the setuid, setgid and sticky bits, and other
//     users' write permission, off every regular file of the device.
//
// Thread safety: one object per script run, on one thread.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/folder_beneath.h"

namespace package {

// The device's system files and folders, as real paths, that scripts see
// read-only: the package record, the base packages' files (killall among
// them), the process registry, the device's configuration and its own
// records in /var/db. Only those that exist, as real files or folders.
std::vector<std::string> systemFiles();

class FolderGuard {
 public:
  // Holds those of `folders` ("var/jb") that are folders now, reached from
  // the device root through no link.
  void hold(const std::vector<std::string>& folders);
  // Puts back every held folder that is no longer at its path. Returns what
  // was put back ("/var/jb was moved to /var/jb.away and was put back"), or
  // could not be, "" when nothing moved.
  std::string restore();

 private:
  std::vector<std::pair<std::string, device::Fd>> held_;  // sorted: a parent first
};

// Takes the setuid, setgid and sticky bits and others' write permission off
// every regular file under the device root (links not followed, other file
// systems not entered). Returns the recorded paths changed ("/var/jb/x").
std::vector<std::string> clearUnsafeModes();

}  // namespace package
