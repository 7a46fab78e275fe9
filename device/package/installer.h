// Installs and removes packages on the simulated device, as a package manager
// does on a rootless phone. The device root must be set (device::setRoot).
//
// install: the package file (at most kMaxUnpackedSize bytes) is copied once
// into a staging folder inside the device's package record, and dpkg-deb
// reads only that copy. The members of its control part must be regular
// files (a link named ./postinst is refused before anything is unpacked).
// The control file is read as dpkg reads it (a field named twice is
// refused); the package must be built for the device's architecture (or
// "all") and its Depends must be installed (versions are not compared). Its
// data part is listed as dpkg-deb streams it, and refused as soon as its
// files add up to more than kMaxUnpackedSize bytes, before anything is
// unpacked. Every entry is checked (it stays in /var/jb, never climbs with
// "..", is not reached through a link, no link leads out of the device, no
// file of another package is overwritten, nothing lands in the user's
// preferences folder /var/jb/var/mobile/Library/Preferences) before
// dpkg-deb extracts it. The preinst runs; the checks are made again on the
// device as it left it; the files are then moved into place through folders
// opened from the device root without following links, the package's file
// list, control file and maintainer scripts are recorded in
// /var/jb/var/lib/dpkg/info/, files of a previously installed version that
// the new one lacks are removed, and the postinst runs. A refused or
// unreadable package leaves the device as it was. Old files that could not
// be removed stay in the file list and make the install an error.
//
// Maintainer scripts run confined to the device, with a fixed environment
// and a time limit (maintainer_scripts.h, script_sandbox.h); where they
// cannot be confined, a package that has scripts is refused rather than have
// them run unconfined.
//
// remove: deletes exactly the files the package's list records (folders
// only once empty and no other package's, nothing in the user's preferences
// folder), after its prerm and before its postrm, and drops its record.
// Files the package did not install, such as the user's settings file,
// stay. When a file cannot be deleted the package stays installed, its list
// naming what is left, its postrm not run, and the error names the file.
//
// Both first remove the staging folders that installs killed on their way
// left behind.
//
// Thread safety: one install or remove per device at a time, enforced across
// processes by the record's lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace package {

// The most a package may unpack to, its files' sizes added up; also the
// largest package file taken.
inline constexpr uint64_t kMaxUnpackedSize = uint64_t{128} << 20;

struct Outcome {
  std::string package;  // "com.qel.velmo"
  std::string version;  // "1.0.0"
  size_t files = 0;     // files and links installed or removed, folders not counted
  // What the step put right before it began: installs that were cut short
  // and are now finished or rolled back (package_transaction.h).
  std::vector<std::string> notes;
};

// Returns an error message, or "" with `outcome` filled in.
std::string installPackage(const std::string& deb_path, Outcome* outcome);
std::string removePackage(const std::string& name, Outcome* outcome);

}  // namespace package
