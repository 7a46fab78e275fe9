// Runs a package's maintainer script confined to its device, with bubblewrap
// (`bwrap`, Debian's bubblewrap):
//
//   - the device root is bound writable at its own path, so that $DPKG_ROOT
//     names the same folder inside as outside, and the device's killall,
//     which finds its device from the path it runs at, still finds it; the
//     folders and files of `read_only` (the package record, the device's
//     system files) are bound read-only;
//   - the device's program (velmo-device, this process's own) is bound
//     read-only at its path, so that the device's killall can tell the
//     device's processes by the program they run;
//   - the machine's /usr is bound read-only, with /bin, /sbin, /lib and /lib64
//     as the machine has them (links into /usr, or read-only folders);
//   - a fresh /tmp, /dev and /proc; nothing else of the machine is there;
//   - new user, network (no network at all), IPC, UTS and cgroup namespaces,
//     no capabilities, a new session (no terminal to type into), and the
//     script dies with the installer (--die-with-parent).
//
// The process table stays the machine's: the device's programs are processes
// of this machine, and a postinst ends Photos through the device's killall,
// which signals them by their process ids. A script can therefore signal the
// caller's own processes, but it reaches no file outside its device.
//
// The script runs in the device root with exactly the given environment. It
// may run `timeout_seconds`; then it, and everything it started, is killed.
// Whatever the script leaves running when it ends is killed as well: a
// process of its own that sets up as the child subreaper, starts bwrap and,
// once bwrap has ended, kills every descendant handed to it.
//
// Thread safety: any thread; the call blocks until the script and all it
// started have ended.
#pragma once

#include <string>
#include <vector>

namespace package {

struct ScriptRun {
  std::vector<std::string> argv;         // argv[0]: the script's real path, inside `root`
  std::vector<std::string> environment;  // the whole environment, "NAME=value"
  std::string root;                      // the device root: bound writable, the working folder
  std::vector<std::string> read_only;    // real folders and files inside `root` bound read-only
  double timeout_seconds = 60;
  bool capture_errors = false;  // collect bwrap's and the script's error output in `errors`
};

struct ScriptResult {
  int status = -1;         // exit code; 128 + signal when killed; -1 when it did not start
  bool timed_out = false;  // it was killed for running longer than the limit
  std::string errors;      // why it did not start, or its error output when captured
};

ScriptResult runConfined(const ScriptRun& run);

// Whether scripts can be confined for the device at `root`: "" when bwrap is
// installed and runs `true` in the sandbox runConfined makes, else why not.
std::string checkConfinement(const std::string& root, const std::vector<std::string>& read_only);

}  // namespace package
