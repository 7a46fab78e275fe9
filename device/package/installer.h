// Installs and removes packages on the simulated device, as a package manager
// does on a rootless phone. The device root must be set (device::setRoot).
//
// install: dpkg-deb unpacks the package's control part and lists its data
// part into a staging folder inside the device, from one copy of the package
// file taken there; the package must be built
// for the device's architecture (or "all") and its Depends must be installed
// (versions are not compared); every entry is checked (it
// stays in /var/jb, never climbs with "..", is not reached through a link,
// no link leads out of the device, no file of another package is
// overwritten) before dpkg-deb extracts it; the
// files are then moved into place, the package's file list, control file and
// maintainer scripts are recorded in /var/jb/var/lib/dpkg/info/, files of a
// previously installed version that the new one lacks are removed, and the
// postinst runs with the device's paths ($DPKG_ROOT is the device root). A
// refused or unreadable package leaves the device as it was. Old files that
// could not be removed stay in the file list and make the install an error.
//
// remove: deletes exactly the files the package's list records (folders
// only once empty and no other package's), runs its postrm, and drops its
// record. Files the package did not install, such as the user's settings
// file, stay. When a file cannot be deleted the package stays installed, its
// list naming what is left, its postrm not run, and the error names the file.
//
// Thread safety: one install or remove per device at a time, enforced across
// processes by the record's lock.
#pragma once

#include <string>

namespace package {

struct Outcome {
  std::string package;  // "com.qel.velmo"
  std::string version;  // "1.0.0"
  size_t files = 0;     // files and links installed or removed, folders not counted
};

// Returns an error message, or "" with `outcome` filled in.
std::string installPackage(const std::string& deb_path, Outcome* outcome);
std::string removePackage(const std::string& name, Outcome* outcome);

}  // namespace package
