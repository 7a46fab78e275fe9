// Paths inside a device as the package code handles them: relative to the
// device's root, components joined by '/', without "." or ".." or a trailing
// '/': "var/jb/Library/x". A package may bring files only into var/jb, the
// rootless phone's own tree.
//
// Thread safety: any thread.
#pragma once

#include <map>
#include <string>

namespace package {

// "./var/jb/x/" -> "var/jb/x"; "./" and "." -> "". Returns an error message for
// an absolute name, a ".." component or an empty name, or "".
std::string normalizeEntryName(const std::string& name, std::string* path);

// var/jb itself or anything inside it.
bool insidePackageTree(const std::string& path);
// "" and "var": the folders an archive lists on its way down to var/jb.
bool abovePackageTree(const std::string& path);
// "var/jb/x" -> "var/jb"; "var" -> "".
std::string parentOf(const std::string& path);

// Follows `path` inside the device at the real folder `root` as the kernel
// would, a component at a time: a component that is a link, one of `links`
// (the package's own links, path -> target, which will replace what is on
// the device) or else one on the device, is replaced by its target. Stores
// the path reached in `resolved`. Returns an error message when the way
// leaves the device (an absolute target, ".." above the root) or goes round
// in circles, or "".
std::string resolveInDevice(const std::string& root, const std::string& path,
                            const std::map<std::string, std::string>& links, std::string* resolved);

}  // namespace package
