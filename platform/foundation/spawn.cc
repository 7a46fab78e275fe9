#include "platform/foundation/spawn.h"

#include <cerrno>
#include <string>

#include "platform/foundation/device.h"

namespace libsystem {

int posix_spawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* file_actions,
                const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]) {
  if (path == nullptr || argv == nullptr) return EINVAL;
  const std::string real = device::devicePath(path);
  return ::posix_spawn(pid, real.c_str(), file_actions, attributes, argv, envp);
}

}  // namespace libsystem
