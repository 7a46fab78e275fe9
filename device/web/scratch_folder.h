// The private folder of one `velmo-device serve`, where the programs write
// the screenshots the page shows: <parent>/velmo-serve-XXXXXX. The folder
// names its owner in a file "owner" (the serve's pid and the process's start
// time), so that a later serve can tell a folder left by one that was killed
// outright (SIGKILL gives it no chance to clean up) from the folder of one
// still running, and remove only the former. A pid alone could name a new
// process that took the number; the start time tells them apart.
//
// Thread safety: plain functions on the file system; a folder being made by
// another serve at the same moment has no owner record yet and is left alone.
#pragma once

#include <sys/types.h>

#include <string>

namespace web {

// Makes a new folder under `parent` and records this process as its owner.
// Returns its path, or "" with the reason in `error`.
std::string makeScratchFolder(const std::string& parent, std::string* error);

// Removes each velmo-serve-XXXXXX folder under `parent` that belongs to this
// user and whose recorded owner is no longer running. A folder without a
// readable owner record is left alone. Returns how many were removed.
int removeStaleScratchFolders(const std::string& parent);

}  // namespace web
