// libSystem's process start on the simulated device. posix_spawn takes the
// program's path as the system spells it ("/var/jb/usr/bin/killall"), places
// it under the device root, and starts it with the machine's own posix_spawn;
// every other argument passes through unchanged (a null environment gives the
// child an empty one). The result is 0 or an errno value, as on the platform:
// a program that is missing or cannot run is reported there, not by the child.
//
// The process also exports posix_spawn itself, standing in front of the C
// library's: code written for the phone (the settings pane) calls the
// system's posix_spawn, and a path under "/var/jb/" then starts from the
// device root, while any other path passes through to the machine's.
//
// A program under /var/jb is started only when it is one the device installed,
// unchanged (system_programs.h): it is opened through no link, its contents
// checked against init's record, and that very file is run. Otherwise
// nothing starts, the result is EACCES and takeSpawnRefusal says why.
//
// The caller owns the child: it should reap it (waitpid) so that no zombie is
// left behind.
//
// Thread safety: safe from any thread.
#pragma once

#include <spawn.h>
#include <sys/types.h>

#include <string>

namespace libsystem {

int posix_spawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* file_actions,
                const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]);

// Why the last device program refused was refused, "" when none was since
// the last call; clears it.
std::string takeSpawnRefusal();

}  // namespace libsystem
