// The running programs of one simulated device. A phone's kernel knows which
// processes are its own; machines running several simulated devices share one
// kernel, so each device keeps a registry under <root>/var/run/processes: a
// file per process, named by its pid, holding the program's name and the
// process's start time as the kernel gives it (clock ticks since boot,
// /proc/<pid>/stat field 22). A pid that the kernel has since given to another
// process has another start time, so a stale entry is never taken for a
// running program of the device.
//
// The device's killall (device/killall) signals only processes found here,
// and of those only the ones that runsDeviceProgram vouches for: a file in
// the registry is a claim, not proof. The Settings program asks here whether
// Photos runs.
//
// The registry folder is reached from the root without following a symbolic
// link at var, run or processes, so a registry that links to another
// device's is neither read nor written.
//
// Deliberately free of the simulated frameworks: the device's killall links
// this file alone.
//
// Thread safety: no shared state; safe from any thread and across processes.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace program {

struct RegisteredProcess {
  pid_t pid = 0;
  std::string name;
  unsigned long long startTime = 0;
};

// Registers this process under `name` on the device at `root` (a real
// path). The entry is written to "<pid>-<start time>.new" and renamed into
// place; a write that fails leaves no such file, and the ones that writers
// which are gone left behind are removed first. Returns "" or an error.
std::string registerProcess(const std::string& root, const std::string& name);
// Removes this process's entry, if it is there.
void unregisterProcess(const std::string& root);
// The device's processes that still run, entries of ended processes (and
// unreadable ones) removed on the way.
std::vector<RegisteredProcess> runningProcesses(const std::string& root);
// The kernel's start time of `pid`, when it runs (zombies count as ended).
std::optional<unsigned long long> processStartTime(pid_t pid);
// Whether `process` is still that very process.
bool stillRunning(const RegisteredProcess& process);
// Whether `process` is still that very process and one of the device's own
// programs: it runs the very file `program` (the device's program binary,
// compared by file identity; a binary rebuilt while the process ran is taken
// by its path, as the kernel shows it " (deleted)"), and its command line
// names the device folder at `root` with a single --root flag (resolved
// against the process's working folder when relative, and compared by file
// identity). A forged entry naming any other process fails, and so does the
// process of another device. Reads /proc/<pid>/exe, which needs the right to
// inspect the process (the same user, holding the process's capabilities).
// Without that right (a killall in a package's confined maintainer script)
// the program is taken from the command line the kernel keeps: its first
// word must be the registered name and its --root absolute, so a forged
// entry still reaches only a process that claims to be this device's.
bool runsDeviceProgram(const RegisteredProcess& process, const std::string& program,
                       const std::string& root);

}  // namespace program
