#include "platform/foundation/spawn.h"

#include <dlfcn.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "platform/foundation/device.h"

namespace {

using SpawnFunction = int (*)(pid_t*, const char*, const posix_spawn_file_actions_t*,
                              const posix_spawnattr_t*, char* const[], char* const[]);

// The C library's own posix_spawn, which the one below stands in front of.
SpawnFunction machineSpawn() {
  static const SpawnFunction spawn = [] {
    void* libc = dlopen("libc.so.6", RTLD_LAZY | RTLD_NOLOAD);
    void* symbol = libc != nullptr ? dlsym(libc, "posix_spawn") : nullptr;
    return reinterpret_cast<SpawnFunction>(symbol);
  }();
  return spawn;
}

bool isDevicePath(const char* path) {
  return path != nullptr && std::string_view(path).rfind("/var/jb/", 0) == 0;
}

}  // namespace

namespace libsystem {

int posix_spawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* file_actions,
                const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]) {
  if (path == nullptr || argv == nullptr) return EINVAL;
  SpawnFunction spawn = machineSpawn();
  if (spawn == nullptr) return ENOSYS;
  const std::string real = device::devicePath(path);
  return spawn(pid, real.c_str(), file_actions, attributes, argv, envp);
}

}  // namespace libsystem

// The system's posix_spawn as code written for the phone calls it: a program
// the phone keeps under /var/jb starts from this device's root; any other
// path is the machine's own, for the device's programs.
extern "C" int posix_spawn(pid_t* pid, const char* path,
                           const posix_spawn_file_actions_t* file_actions,
                           const posix_spawnattr_t* attributes, char* const argv[],
                           char* const envp[]) {
  if (isDevicePath(path)) {
    return libsystem::posix_spawn(pid, path, file_actions, attributes, argv, envp);
  }
  SpawnFunction spawn = machineSpawn();
  if (spawn == nullptr) return ENOSYS;
  return spawn(pid, path, file_actions, attributes, argv, envp);
}
