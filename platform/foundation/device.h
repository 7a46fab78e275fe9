// The simulated device a process runs on: its root folder and its
// configuration.
//
// The system spells paths as the phone has them ("/var/jb/...",
// "/Applications/..."); every file operation of the platform passes them
// through devicePath(), which places them under the device's root folder, so
// two devices on one machine never see each other's files.
//
// The configuration lives in <root>/device.plist (model, system version,
// whether a passcode is set, biometry), readable by every process. It is
// written by `velmo-device init` and read by UIKit and LocalAuthentication.
//
// The passcode itself is never stored. What checks it, its verifier, lives
// apart in <root>/var/db/passcode-verifier.plist, readable by the device's
// owner only (0600): a random per-device salt, a work factor and the
// PBKDF2-HMAC-SHA256 of the code, so that each guess at the code costs about
// a tenth of a second. Devices made before kept a salt and a single SHA-256
// of salt and code in device.plist ("passcodeSalt", "passcodeHash"); those
// are still read, and LocalAuthentication replaces them with a verifier on
// the next right answer.
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
  bool passcode = false;  // a passcode is set: its verifier is in kPasscodeVerifierPath
  // A device made before verifiers: hex salt and hex SHA-256 of salt +
  // passcode; empty otherwise, and never written for a new passcode.
  std::string passcodeSalt;
  std::string passcodeHash;
  std::string biometry = "face";  // "face" or "none"
};

// Reads <root>/device.plist; defaults for anything missing.
Config readConfig();
// Writes <root>/device.plist atomically. Returns an error message, or "".
std::string writeConfig(const Config& config);

// Whether the device has a passcode: a verifier, or the salted hash of a
// device made before verifiers.
bool hasPasscode(const Config& config);
// Whether the device still keeps its passcode the old way (salted SHA-256 in
// device.plist) and no verifier.
bool hasLegacyPasscode(const Config& config);

// Hex SHA-256 of the salt's bytes followed by the passcode's. "" when the
// salt is not hex. Only devices made before verifiers are checked with it.
std::string hashPasscode(const std::string& salt_hex, const std::string& passcode);
// 16 random bytes, hex.
std::string newSalt();
// Whether `passcode` matches the old salted hash in `config` (compared in
// constant time); false when it has none.
bool passcodeMatches(const Config& config, const std::string& passcode);

// The device path of the passcode's verifier.
inline constexpr char kPasscodeVerifierPath[] = "/var/db/passcode-verifier.plist";
// The work factor of a new verifier: PBKDF2-HMAC-SHA256 iterations that take
// about 100 ms on the machines the device runs on.
inline constexpr long long kPasscodeIterations = 250000;
// The work factors a verifier may carry; one outside them is damaged.
inline constexpr long long kMinPasscodeIterations = 1000;
inline constexpr long long kMaxPasscodeIterations = 10000000;

struct PasscodeVerifier {
  std::string salt;  // hex, 16 random bytes
  long long iterations = kPasscodeIterations;
  std::string key;  // hex, 32 bytes of PBKDF2-HMAC-SHA256(passcode, salt, iterations)
};

// A verifier of `passcode` with a fresh salt. The device itself always uses
// kPasscodeIterations; a lower factor is for tests that check codes by the
// thousand.
PasscodeVerifier makeVerifier(const std::string& passcode,
                              long long iterations = kPasscodeIterations);
// The hex key `passcode` derives under the verifier's salt and work factor;
// "" when the verifier's salt or factor is not one it may have.
std::string verifierKey(const PasscodeVerifier& verifier, const std::string& passcode);
// Whether two hex keys are the same, compared in constant time.
bool sameKey(const std::string& a, const std::string& b);
// Reads the device's verifier. Returns "" or why it cannot be used (missing,
// not a regular file, not a verifier, a salt, key or work factor out of
// bounds): the caller then judges no code.
std::string readVerifier(PasscodeVerifier* verifier);
// Writes the device's verifier atomically, mode 0600, at `real_path` (the
// device's own path when empty). Returns "" or why not.
std::string writeVerifier(const PasscodeVerifier& verifier, const std::string& real_path = "");

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
// that are gone (removeAbandonedTemporaries). The file gets `mode` (0600 for
// what only the device's owner may read). The folder must exist. Returns an
// error message, or "".
std::string writeFileAtomically(const std::string& real_path, std::string_view bytes,
                                mode_t mode = 0644);
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
