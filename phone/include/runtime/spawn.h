// libSystem's process start and reaping.
#pragma once

using pid_t = int;
using posix_spawn_file_actions_t = void*;
using posix_spawnattr_t = void*;

extern "C" {
int posix_spawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* file_actions,
                const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]);
pid_t waitpid(pid_t pid, int* status, int options);
int* __error(void);
}

inline constexpr int kInterrupted = 4;  // EINTR
inline int lastError() { return *__error(); }
