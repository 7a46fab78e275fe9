#include "device/photos_pid.h"

#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "device/process_registry.h"
#include "platform/foundation/device.h"

namespace program {
namespace {

constexpr const char* kPhotosName = "MobileSlideShow";

}  // namespace

std::string recordPhotosPid() { return registerProcess(device::root(), kPhotosName); }

void forgetPhotosPid() { unregisterProcess(device::root()); }

std::optional<pid_t> runningPhotos() {
  // The device's programs are all this very binary (the file this process
  // runs, even if it has been replaced since); an entry naming any other
  // process is no Photos of this device, whatever it claims.
  const std::string self = "/proc/self/exe";
  for (const RegisteredProcess& process : runningProcesses(device::root())) {
    if (process.name == kPhotosName && runsDeviceProgram(process, self, device::root())) {
      return process.pid;
    }
  }
  return std::nullopt;
}

bool waitForProcessEnd(pid_t pid, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (processStartTime(pid)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace program
