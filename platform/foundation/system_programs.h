// The device's own programs, known by their contents: `velmo-device init`
// records the SHA-256 of each program it installs (killall) in
// /var/db/system-programs, a line "<hex sha256>  <system path>" each, and
// the device's programs start one only after checking that the file at its
// path is still that one. A package's maintainer scripts see /var/db
// read-only; a program rewritten or replaced after init is refused.
//
// Thread safety: any thread.
#pragma once

#include <string>

namespace device {

inline constexpr const char* kSystemProgramsRecord = "/var/db/system-programs";

// Records the program now at `system_path` ("/var/jb/usr/bin/killall") as the
// device's, beside any recorded before. Returns an error message, or "".
std::string recordSystemProgram(const std::string& system_path);

// Opens the program at `system_path` for running (read-only, close-on-exec),
// every folder on its way and the file itself reached through no link, and
// checks that its contents are what init recorded. Returns the descriptor,
// or -1 with `error` saying why it is refused.
int openSystemProgram(const std::string& system_path, std::string* error);

}  // namespace device
