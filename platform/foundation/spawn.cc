#include "platform/foundation/spawn.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/foundation/device.h"
#include "platform/foundation/system_programs.h"

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

std::mutex& refusalLock() {
  static std::mutex m;
  return m;
}

std::string& lastRefusal() {
  static auto* text = new std::string();
  return *text;
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
  // A program the device lacks is the platform's "no such file", as before.
  struct stat st;
  if (::lstat(device::devicePath(path).c_str(), &st) != 0) return errno;
  std::string why;
  int program = device::openSystemProgram(path, &why);
  if (program < 0) {
    std::lock_guard<std::mutex> g(refusalLock());
    lastRefusal() = why;
    return EACCES;
  }
  // The very file that was checked is started, through its descriptor (left
  // open across the exec, so that a program run by an interpreter is found).
  int flags = ::fcntl(program, F_GETFD);
  if (flags >= 0) ::fcntl(program, F_SETFD, flags & ~FD_CLOEXEC);
  const std::string checked = "/proc/self/fd/" + std::to_string(program);
  int status = spawn(pid, checked.c_str(), file_actions, attributes, argv, envp);
  ::close(program);
  return status;
}

std::string takeSpawnRefusal() {
  std::lock_guard<std::mutex> g(refusalLock());
  std::string why;
  why.swap(lastRefusal());
  return why;
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
