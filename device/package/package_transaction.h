// An install as a transaction that a kill at any moment cannot leave half
// recorded: before anything is placed on the device, the package's journal
// (<info>/<package>.journal) records what the install will place, whether
// each path was there before, and the file list of the version installed
// now; the package's file list is made to name both versions' paths, as dpkg
// records a half-installed package before unpacking it. The new control file
// and maintainer scripts wait beside their records as "<kind>.dpkg-new".
//
// Placing a file keeps what it replaces as "<name>.dpkg-tmp" (a hard link)
// until the install is committed, so that the replaced file can be put back.
// The journal's status turns from "half-installed" to "unpacked" once every
// file is in place: that is the commit.
//
// The next install or remove (recoverTransactions, with the record's lock
// held) finishes a committed install (the new records put in place, the
// backups and the old version's files that the new one lacks deleted) and
// rolls back one that was not (each replaced file put back, each new one
// deleted, the folders it made removed when empty, the old file list
// restored), so that every file the install placed is either recorded by its
// package or gone.
//
// Thread safety: with the package record's lock held, one thread.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

namespace package {

// One path of the new version, relative to the device root ("var/jb/x").
struct PlacedPath {
  std::string path;
  bool folder = false;
  bool existed = false;  // something was at the path before the install (noted by begin)
  bool listed = true;    // an entry of the archive, recorded in the file list; else a
                         // folder on the way that tar makes
};

struct Transaction {
  std::string package, version;
  std::string old_version;             // "" for a package not installed before
  bool upgrade = false;                // a version was installed (its list is `old_paths`)
  std::vector<std::string> old_paths;  // the installed version's list, as recorded
  std::vector<PlacedPath> paths;       // the new version's, folders on the way included
  std::vector<std::string> scripts;    // the maintainer scripts the new version has
};

// Records the transaction before anything is placed: the new control file
// and `scripts` (kind -> text, read from the package) beside their records,
// the journal, then the file list naming both versions. Fills in which paths
// exist now. Returns an error message, or "" (nothing on the device changed
// but the record).
std::string beginTransaction(Transaction* t, const std::string& control,
                             const std::vector<std::pair<std::string, std::string>>& scripts);

// Moves the unpacked files from the staging folder `data` into place: the
// folders made, every file and link beside its final name (".dpkg-new"),
// then each renamed over its name, what it replaces kept as ".dpkg-tmp".
// Every folder on the way is opened from the device root through no link,
// so a link put there after the checks fails the step instead of leading a
// file elsewhere. On failure the transaction is rolled back. Returns an
// error message, or "".
std::string placeFiles(const Transaction& t, const std::string& data);

// The commit: the journal's status becomes "unpacked". Returns an error
// message, or "" (the install is then finished, now or by the next run).
std::string commitTransaction(const Transaction& t);

// Puts the new records in place, deletes the backups and the old version's
// files the new one lacks (counted in `removed_old`), writes the final file
// list (the new paths, and old ones that could not be deleted, named in
// `failed`) and drops the journal. Returns an error message, or "".
std::string finishTransaction(const Transaction& t, size_t* removed_old, std::string* failed);

// Takes back an install that was not committed; the journal goes last.
// Returns an error message, or "".
std::string rollBackTransaction(const Transaction& t);

// Finishes or rolls back every install that its journal shows was cut
// short, adding a line for each to `notes` ("an install of p 2.0 that was
// cut short was rolled back; p 1.0 is installed"). Returns an error message
// (a journal that cannot be read or acted on), or "".
std::string recoverTransactions(std::vector<std::string>* notes);

}  // namespace package
