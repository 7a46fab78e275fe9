// velmo-device install and remove: a package manager's two commands on the
// simulated device.
#include "device/console.h"
#include "device/package/installer.h"
#include "device/programs.h"

namespace program {
namespace {

int finish(const std::string& error, const std::string& done) {
  if (!error.empty()) {
    print("error: " + error);
    return 1;
  }
  print(done);
  return 0;
}

}  // namespace

int installMain(const Options& options) {
  if (options.positional.size() != 1) {
    print("error: name one package file: install --root DIR PACKAGE.deb");
    return 2;
  }
  if (std::string e = useRoot(options); !e.empty()) {
    print("error: " + e);
    return 2;
  }
  package::Outcome done;
  std::string error = package::installPackage(options.positional[0], &done);
  return finish(error, "installed " + done.package + " " + done.version + " (" +
                           std::to_string(done.files) + " files)");
}

int removeMain(const Options& options) {
  if (options.positional.size() != 1) {
    print("error: name one package: remove --root DIR PACKAGE");
    return 2;
  }
  if (std::string e = useRoot(options); !e.empty()) {
    print("error: " + e);
    return 2;
  }
  package::Outcome done;
  std::string error = package::removePackage(options.positional[0], &done);
  return finish(error, "removed " + done.package + " " + done.version + " (" +
                           std::to_string(done.files) + " files)");
}

}  // namespace program
