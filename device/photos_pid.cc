#include "device/photos_pid.h"

#include <unistd.h>

#include <charconv>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/foundation/device.h"

namespace program {
namespace {

constexpr const char* kPidFile = "/var/run/MobileSlideShow.pid";

std::optional<pid_t> recordedPid() {
  std::string text;
  if (!device::readWholeFile(device::devicePath(kPidFile), 64, &text).empty()) return std::nullopt;
  long pid = 0;
  auto [rest, error] = std::from_chars(text.data(), text.data() + text.size(), pid);
  if (error != std::errc() || rest == text.data() || pid <= 0) return std::nullopt;
  return static_cast<pid_t>(pid);
}

// The process's name and state from /proc/<pid>/stat ("123 (name) S ..."),
// or an empty name when there is no such process.
std::pair<std::string, char> nameAndState(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(in, stat);
  size_t open = stat.find('(');
  size_t close = stat.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close + 2 >= stat.size()) {
    return {"", '?'};
  }
  return {stat.substr(open + 1, close - open - 1), stat[close + 2]};
}

bool ended(pid_t pid) {
  auto [name, state] = nameAndState(pid);
  return name.empty() || state == 'Z' || state == 'X';
}

}  // namespace

void recordPhotosPid() {
  std::string path = device::devicePath(kPidFile);
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  device::writeFileAtomically(path, std::to_string(getpid()) + "\n");
}

void forgetPhotosPid() {
  if (recordedPid() != getpid()) return;
  std::error_code ec;
  std::filesystem::remove(device::devicePath(kPidFile), ec);
}

std::optional<pid_t> runningPhotos() {
  std::optional<pid_t> pid = recordedPid();
  if (!pid || ended(*pid) || nameAndState(*pid).first != "MobileSlideShow") return std::nullopt;
  return pid;
}

bool waitForProcessEnd(pid_t pid, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!ended(pid)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace program
