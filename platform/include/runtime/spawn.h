// libSystem's process start and reaping on the simulated device: the
// machine's own, with posix_spawn placing "/var/jb/..." paths under the
// device root (platform/foundation/spawn.h).
#pragma once

#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <cerrno>

inline constexpr int kInterrupted = EINTR;
inline int lastError() { return errno; }
