// A package's maintainer scripts (preinst, postinst, prerm, postrm) as the
// installer runs them: confined to the device (script_sandbox.h), in the
// device root, with exactly this environment and nothing of the caller's:
//
//   PATH=/usr/sbin:/usr/bin:/sbin:/bin     the machine's programs, read-only
//   PWD=<device root>
//   DPKG_ROOT=<device root>                scripts reach the device's files
//                                          as "$DPKG_ROOT/var/jb/..."
//   DPKG_ADMINDIR=<device root>/var/jb/var/lib/dpkg
//   DPKG_MAINTSCRIPT_PACKAGE=<package>
//   DPKG_MAINTSCRIPT_ARCH=<its Architecture field>
//   DPKG_MAINTSCRIPT_NAME=preinst|postinst|prerm|postrm
//
// The package record (DPKG_ADMINDIR, the staging folder in it included) and
// the device's other system files are read-only to a script. A script may run VELMO_SCRIPT_TIMEOUT
// seconds (60 when unset); then it and all it started are killed and the step fails. After each
// script the record's folder must still be the one it was, reached through no link, or the step
// fails.
//
// Thread safety: one object per install or remove, on one thread.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace package {

inline constexpr double kScriptTimeoutSeconds = 60;
inline constexpr const char* kScriptTimeoutVariable = "VELMO_SCRIPT_TIMEOUT";

// The environment a script of `package` runs with, as above.
std::vector<std::string> scriptEnvironment(const std::string& package, const std::string& arch,
                                           const std::string& kind);

class MaintainerScripts {
 public:
  MaintainerScripts(std::string package, std::string arch)
      : package_(std::move(package)), arch_(std::move(arch)) {}

  // Reads the time limit, notes where the package record is and, when
  // `any_script` is set, checks that scripts can be confined. Returns an
  // error message (a bad limit, no confinement), or "".
  std::string prepare(bool any_script);

  // Runs the script at `script` (a real path in the device) as the
  // package's `kind` with `args`; nothing when there is no such file. The
  // device's system files are read-only to it (script_guard.h); the folders
  // of `guarded` ("var/jb") that it moves are put back, and the modes that
  // let a file run with its owner's rights are taken off whatever it left.
  // Returns an error message (it failed, did not start, was ended, moved the
  // package record or a guarded folder, or left such a mode), or "".
  std::string run(const std::string& script, const std::string& kind,
                  const std::vector<std::string>& args,
                  const std::vector<std::string>& guarded) const;

 private:
  std::string package_, arch_;
  double timeout_ = kScriptTimeoutSeconds;
  std::pair<dev_t, ino_t> database_{};
};

}  // namespace package
