// velmo-device install and remove: a package manager's two commands on the
// simulated device.
#include <sstream>
#include <string>

#include "device/console.h"
#include "device/package/installer.h"
#include "device/package/maintainer_scripts.h"
#include "device/programs.h"

namespace program {
namespace {

using PackageCommand = std::string (*)(const std::string&, package::Outcome*);

// What `install --help` and `remove --help` print.
const char kHelp[] =
    "Maintainer scripts (preinst, postinst, prerm, postrm) run confined with bwrap\n"
    "(Debian's bubblewrap): the device root writable at its own path, its package\n"
    "record and system files (killall, the process registry, device.plist, var/db)\n"
    "read-only, the machine's /usr read-only, a fresh /tmp, /proc and /dev,\n"
    "no network, in the device root, with only PATH=/usr/sbin:/usr/bin:/sbin:/bin,\n"
    "PWD, DPKG_ROOT (the device root), DPKG_ADMINDIR, DPKG_MAINTSCRIPT_PACKAGE,\n"
    "DPKG_MAINTSCRIPT_ARCH and DPKG_MAINTSCRIPT_NAME. Without bwrap, a package with\n"
    "scripts is refused: scripts never run unconfined. Whatever a script leaves\n"
    "running is ended with it; a folder it moved is put back, and setuid, setgid,\n"
    "sticky and world-writable modes are taken off what it left.";

// Runs `command` on the one positional argument (`usage` names it) and prints
// "<done> <package> <version> (N files)", or the error.
int runCommand(const Options& options, const std::string& usage, PackageCommand command,
               const std::string& done) {
  if (options.has("--help")) {
    print("usage: velmo-device " + usage.substr(usage.find(": ") + 2));
    std::string help = kHelp;
    help += "\nLimits: a script may run " +
            std::to_string(static_cast<int>(package::kScriptTimeoutSeconds)) + " seconds (" +
            package::kScriptTimeoutVariable +
            "=SECONDS in the environment\nsets another); then it and all it started are ended "
            "and the step fails. A package\nmay unpack to at most " +
            std::to_string(package::kMaxUnpackedSize >> 20) +
            " MiB (its files' sizes added up); a larger one is\nrefused before anything is "
            "unpacked.";
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) print(line);
    return 0;
  }
  if (options.positional.size() != 1) {
    print("error: " + usage);
    return 2;
  }
  if (std::string e = useRoot(options); !e.empty()) {
    print("error: " + e);
    return 2;
  }
  package::Outcome outcome;
  std::string error = command(options.positional[0], &outcome);
  for (const std::string& note : outcome.notes) print("note: " + note);
  if (!error.empty()) {
    print("error: " + error);
    return 1;
  }
  print(done + " " + outcome.package + " " + outcome.version + " (" +
        std::to_string(outcome.files) + " files)");
  return 0;
}

}  // namespace

int installMain(const Options& options) {
  return runCommand(options, "name one package file: install --root DIR PACKAGE.deb",
                    package::installPackage, "installed");
}

int removeMain(const Options& options) {
  return runCommand(options, "name one package: remove --root DIR PACKAGE", package::removePackage,
                    "removed");
}

}  // namespace program
