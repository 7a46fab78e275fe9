#include "device/package/maintainer_scripts.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "device/package/dpkg_database.h"
#include "device/package/script_guard.h"
#include "device/package/script_sandbox.h"
#include "platform/foundation/device.h"
#include "platform/foundation/folder_beneath.h"

namespace package {
namespace {

namespace fs = std::filesystem;
using device::Fd;
using device::openFolder;
using device::openFolderBeneath;

constexpr const char* kScriptPath = "/usr/sbin:/usr/bin:/sbin:/bin";
constexpr const char* kDatabase = "var/jb/var/lib/dpkg";  // kDpkgFolder from the root

// The identity of the package record's folder, reached from the device root
// through no link: a script that moved it, or put a link on its way, changes
// it.
std::string databaseIdentity(std::pair<dev_t, ino_t>* id) {
  Fd root(openFolder(device::root()));
  if (!root.ok()) return "cannot open the device root: " + std::string(std::strerror(-root.get()));
  Fd folder(openFolderBeneath(root.get(), kDatabase));
  struct stat st;
  if (!folder.ok() || fstat(folder.get(), &st) != 0)
    return std::string("/") + kDatabase + " is no longer a folder reached through no link";
  *id = {st.st_dev, st.st_ino};
  return "";
}

std::string secondsText(double seconds) {
  std::ostringstream text;
  text << seconds << (seconds == 1 ? " second" : " seconds");
  return text.str();
}

}  // namespace

std::vector<std::string> scriptEnvironment(const std::string& package, const std::string& arch,
                                           const std::string& kind) {
  return {std::string("PATH=") + kScriptPath,    "PWD=" + device::root(),
          "DPKG_ROOT=" + device::root(),         "DPKG_ADMINDIR=" + device::devicePath(kDpkgFolder),
          "DPKG_MAINTSCRIPT_PACKAGE=" + package, "DPKG_MAINTSCRIPT_ARCH=" + arch,
          "DPKG_MAINTSCRIPT_NAME=" + kind};
}

std::string MaintainerScripts::prepare(bool any_script) {
  if (const char* text = std::getenv(kScriptTimeoutVariable); text != nullptr && *text != '\0') {
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (*end != '\0' || !(value > 0) || value > 24 * 3600)
      return std::string(kScriptTimeoutVariable) + " must be a number of seconds above 0, not \"" +
             text + "\"";
    timeout_ = value;
  }
  if (std::string err = databaseIdentity(&database_); !err.empty()) return err;
  if (!any_script) return "";
  std::string why = checkConfinement(device::root(), systemFiles());
  if (why.empty()) return "";
  return "the maintainer scripts of " + package_ + " cannot be confined to the device (" + why +
         "), and they are never run unconfined";
}

std::string MaintainerScripts::run(const std::string& script, const std::string& kind,
                                   const std::vector<std::string>& args,
                                   const std::vector<std::string>& guarded) const {
  std::error_code ec;
  if (!fs::is_regular_file(fs::symlink_status(script, ec))) return "";
  ScriptRun r;
  r.argv = {script};
  r.argv.insert(r.argv.end(), args.begin(), args.end());
  r.environment = scriptEnvironment(package_, arch_, kind);
  r.root = device::root();
  r.read_only = systemFiles();
  r.timeout_seconds = timeout_;
  FolderGuard folders;
  folders.hold(guarded);
  ScriptResult result = runConfined(r);
  const std::string what = "the " + kind + " of " + package_;
  std::string err;
  auto add = [&](const std::string& text) { err += (err.empty() ? "" : "; ") + text; };
  if (result.timed_out) {
    err = what + " ran longer than " + secondsText(timeout_) + " and was ended";
  } else if (result.status < 0) {
    err = what + " did not run: " + result.errors;
  } else if (result.status != 0) {
    err = what + " failed with exit status " + std::to_string(result.status);
  }
  std::pair<dev_t, ino_t> now{};
  std::string moved = databaseIdentity(&now);
  if (moved.empty() && now != database_)
    moved = std::string("/") + kDatabase + " is no longer the folder it was";
  if (std::string put_back = folders.restore(); !put_back.empty())
    add(what + " moved folders: " + put_back);
  std::vector<std::string> unsafe = clearUnsafeModes();
  if (!unsafe.empty()) {
    std::string names;
    for (const std::string& p : unsafe) names += (names.empty() ? "" : ", ") + p;
    add(what + " left files that run with their owner's rights or that every user may write (" +
        names + "); those modes were taken off");
  }
  if (moved.empty()) return err;
  moved = what + " moved the package record: " + moved;
  return err.empty() ? moved : err + "; " + moved;
}

}  // namespace package
