// velmo-device install and remove: a package manager's two commands on the
// simulated device.
#include "device/console.h"
#include "device/package/installer.h"
#include "device/programs.h"

namespace program {
namespace {

using PackageCommand = std::string (*)(const std::string&, package::Outcome*);

// Runs `command` on the one positional argument (`usage` names it) and prints
// "<done> <package> <version> (N files)", or the error.
int runCommand(const Options& options, const std::string& usage, PackageCommand command,
               const std::string& done) {
  if (options.positional.size() != 1) {
    print("error: " + usage);
    return 2;
  }
  if (std::string e = useRoot(options); !e.empty()) {
    print("error: " + e);
    return 2;
  }
  package::Outcome outcome;
  if (std::string error = command(options.positional[0], &outcome); !error.empty()) {
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
