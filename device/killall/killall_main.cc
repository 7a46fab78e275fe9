// killall [-SIGNAL] NAME...: the device's own killall, installed at
// <root>/var/jb/usr/bin/killall. It signals the processes of its own device
// whose program name is NAME, and nothing else on the machine: it finds its
// device from where it is installed, and the device's processes in the
// device's registry (device/process_registry.h).
//
// SIGNAL is a number (-9) or a name with or without SIG (-KILL, -SIGKILL);
// the default is TERM. Exit status 0 when a process was signalled; otherwise
// 1, with "NAME: no process found" on standard error for each NAME that
// matched nothing, as the system's tool says. A bad usage exits 2.
//
// A registry entry is only a claim: anyone who can write a file there can
// name any pid. Each process is opened as a pidfd, then checked to be one of
// the device's own programs (program::runsDeviceProgram: it runs the very
// velmo-device binary this killall was built with, for this very device
// root, and is still the registered process by its start time), and only
// then signalled through the pidfd, so a pid that was reused in between is
// never signalled.
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "device/process_registry.h"

namespace {

constexpr const char kInstalledAt[] = "/var/jb/usr/bin/killall";
// The device's programs: the velmo-device binary of the build that made this
// killall (init copies the killall of its own build into the device).
constexpr const char kDeviceProgram[] = VELMO_DEVICE_PROGRAM;

struct SignalName {
  const char* name;
  int number;
};

const SignalName kSignals[] = {
    {"HUP", SIGHUP},   {"INT", SIGINT},   {"QUIT", SIGQUIT}, {"ABRT", SIGABRT},
    {"KILL", SIGKILL}, {"USR1", SIGUSR1}, {"SEGV", SIGSEGV}, {"USR2", SIGUSR2},
    {"ALRM", SIGALRM}, {"TERM", SIGTERM}, {"CONT", SIGCONT}, {"STOP", SIGSTOP},
};

int usage() {
  std::fprintf(stderr, "usage: killall [-SIGNAL] NAME...\n");
  return 2;
}

// "9", "KILL", "SIGKILL" -> 9; 0 for anything else.
int parseSignal(const char* text) {
  char* end = nullptr;
  long number = std::strtol(text, &end, 10);
  if (*text != '\0' && *end == '\0')
    return number > 0 && number < NSIG ? static_cast<int>(number) : 0;
  if (std::strncmp(text, "SIG", 3) == 0) text += 3;
  for (const SignalName& s : kSignals) {
    if (std::strcmp(text, s.name) == 0) return s.number;
  }
  return 0;
}

// The device root from where this program is installed.
std::string deviceRoot() {
  std::error_code ec;
  std::string self = std::filesystem::read_symlink("/proc/self/exe", ec).string();
  size_t n = std::strlen(kInstalledAt);
  if (ec || self.size() <= n || self.compare(self.size() - n, n, kInstalledAt) != 0) return "";
  return self.substr(0, self.size() - n);
}

// Signals `process` if it is still the registered one and a program of the
// device at `root`. Returns whether it did.
bool signalProcess(const program::RegisteredProcess& process, const std::string& root, int signal) {
  int pidfd = static_cast<int>(syscall(SYS_pidfd_open, process.pid, 0));
  if (pidfd < 0) {
    if (errno != ENOSYS) return false;  // gone already
    // A kernel without pidfds: check, then signal by pid.
    return program::runsDeviceProgram(process, kDeviceProgram, root) &&
           ::kill(process.pid, signal) == 0;
  }
  // The pidfd holds on to the process that had the pid when it was opened;
  // the checks, which end with its start time, make sure that it is the
  // registered one and the device's.
  bool sent = program::runsDeviceProgram(process, kDeviceProgram, root) &&
              syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0) == 0;
  ::close(pidfd);
  return sent;
}

}  // namespace

int main(int argc, char** argv) {
  int signal = SIGTERM;
  int first = 1;
  if (first < argc && argv[first][0] == '-' && argv[first][1] != '\0') {
    signal = parseSignal(argv[first] + 1);
    if (signal == 0) {
      std::fprintf(stderr, "killall: unknown signal %s\n", argv[first] + 1);
      return usage();
    }
    ++first;
  }
  if (first >= argc) return usage();
  std::string root = deviceRoot();
  if (root.empty()) {
    std::fprintf(stderr, "killall: not installed on a device (expected at <root>%s)\n",
                 kInstalledAt);
    return 2;
  }
  std::vector<program::RegisteredProcess> processes = program::runningProcesses(root);
  bool any = false;
  for (int i = first; i < argc; ++i) {
    bool found = false;
    for (const program::RegisteredProcess& process : processes) {
      if (process.name == argv[i] && process.pid != getpid() &&
          signalProcess(process, root, signal)) {
        found = true;
      }
    }
    if (!found) std::fprintf(stderr, "%s: no process found\n", argv[i]);
    any = any || found;
  }
  return any ? 0 : 1;
}
