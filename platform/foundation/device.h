// The simulated device a process runs on: its root folder and its
// configuration.
//
// The system spells paths as the phone has them ("/var/jb/...",
// "/Applications/..."); every file operation of the platform passes them
// through devicePath(), which places them under the device's root folder, so
// two devices on one machine never see each other's files.
//
// The configuration lives in <root>/device.plist (model, system version, the
// passcode's salted hash, biometry). It is written by `velmo-device init` and
// read by UIKit and LocalAuthentication. The passcode itself is never stored:
// only a random salt and the SHA-256 of salt and passcode.
//
// Also here: the whole-file reads and atomic writes that every file the
// platform keeps goes through.
//
// Thread safety: setRoot is called once at start, before any other thread
// runs; everything else may be called from any thread.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace device {

// Sets the device's root folder (made absolute). Must be called before any
// file operation of the platform.
void setRoot(std::string_view root);
const std::string& root();  // "" until setRoot

// "/var/jb/x" -> "<root>/var/jb/x". Every absolute path is placed under the
// root (".." cannot climb out of it); a relative path is returned unchanged.
// Aborts when no root was set: the platform never touches the real "/var".
std::string devicePath(std::string_view system_path);

struct Config {
  std::string model = "iPhone";  // "iPhone" or "iPad"
  std::string systemVersion = "16.4.1";
  std::string passcodeSalt;       // hex; empty with passcodeHash when no passcode is set
  std::string passcodeHash;       // hex SHA-256 of salt + passcode
  std::string biometry = "face";  // "face" or "none"
};

// Reads <root>/device.plist; defaults for anything missing.
Config readConfig();
// Writes <root>/device.plist atomically. Returns an error message, or "".
std::string writeConfig(const Config& config);

// Hex SHA-256 of the salt's bytes followed by the passcode's. "" when the
// salt is not hex.
std::string hashPasscode(const std::string& salt_hex, const std::string& passcode);
// 16 random bytes, hex.
std::string newSalt();
// Whether `passcode` is the device's passcode; false when it has none.
bool passcodeMatches(const Config& config, const std::string& passcode);

// Reads a whole file at a real path into `out`, refusing (without reading it)
// a file larger than `max_size` or anything that is not a regular file. A
// FIFO, socket or device at the path, or behind a symbolic link, is never
// opened for reading, so the call cannot block on it. Returns an error
// message, or "".
std::string readWholeFile(const std::string& real_path, std::size_t max_size, std::string* out);
// "" when a regular file is at a real path (following symbolic links), else
// why not, in the words readWholeFile uses. Opens nothing but regular files.
std::string regularFileError(const std::string& real_path);
// Replaces the file at a real path with `bytes` so that a reader sees either
// the old or the new file, never part of one: a temporary file in the same
// folder, written, fsync'ed, then renamed over the old one. The temporary
// file's name, ".<file>.<pid>-<start>.XXXXXX", names the writing process (its
// id and start time), so a file left by a writer that was killed can be told
// from one still being written; each write first removes those of writers
// that are gone (removeAbandonedTemporaries). The folder must exist. Returns
// an error message, or "".
std::string writeFileAtomically(const std::string& real_path, std::string_view bytes);
// Removes the temporary files of writeFileAtomically for `real_path` whose
// writing process is gone: no process has its id, or the one that has it
// started at another time. Returns how many. Temporary files of a running
// writer, of a process whose start time cannot be read, and files of any
// other name are left alone. Safe without a lock beside concurrent writers.
int removeAbandonedTemporaries(const std::string& real_path);
// The start time (clock ticks since boot) of a running process; nothing when
// there is no such process or it has ended (a zombie).
std::optional<unsigned long long> processStartTime(pid_t pid);

}  // namespace device
