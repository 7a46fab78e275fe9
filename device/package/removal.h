// Deleting what a package's record lists, and the small helpers the
// installer's steps share: paths as the record spells them, the user's
// preferences folder no package may touch, the record's files.
//
// Paths here are relative to the device root ("var/jb/x"); recorded ones
// begin with '/' ("/var/jb/x").
//
// Thread safety: any thread, with the package record's lock held.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

namespace package {

// The user's preferences folder, which no package may install into or remove from.
inline constexpr const char* kPreferences = "var/jb/var/mobile/Library/Preferences";

// The user's preferences folder or anything in it.
bool inPreferences(const std::string& path);

// "var/jb/x" -> "/var/jb/x"; "" -> "/.".
std::string recorded(const std::string& path);
// "var/jb/x" -> "<device root>/var/jb/x".
std::string onDevice(const std::string& path);
// "var/jb/x" -> "x".
std::string leafOf(const std::string& path);
// Why a folder on a path's way could not be opened (an errno).
std::string wayError(int e);

// What removing recorded paths deletes: files and links, and folders, which
// go only once empty.
struct Removal {
  std::vector<std::string> files, folders;
};

// Sorts the recorded paths that `keep` lacks and no other package records
// into files and folders, leaving out the user's preferences folder. A path
// that would lead out of /var/jb, or be reached through a link (so that
// deleting it would delete something else), is refused before anything is
// deleted. Returns an error message, or "".
std::string planRemoval(const std::vector<std::string>& paths, const std::set<std::string>& keep,
                        const std::string& package, Removal* removal);

// Deletes the files and links of `removal`, then its folders left empty,
// counting the files deleted in `removed`. Every path is reached from the
// device root through no link. Returns an error message naming each path that
// could not be deleted, or "", and stores in `left` what the package's record
// must go on listing: those paths and its folders on their way.
std::string deleteRecorded(const Removal& removal, size_t* removed, std::set<std::string>* left);

// Writes <info>/<package>.<kind> atomically, mode 0755 when `executable`.
std::string writeRecord(const std::string& package, const std::string& kind,
                        const std::string& text, bool executable);

}  // namespace package
