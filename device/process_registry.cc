#include "device/process_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace program {
namespace {

namespace fs = std::filesystem;

fs::path folder(const std::string& root) { return fs::path(root) / "var/run/processes"; }

// "123 (name) S ppid ..." -> the fields after the name, the state first.
std::vector<std::string> statFields(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(in, stat);
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return {};
  std::istringstream rest(stat.substr(close + 1));
  std::vector<std::string> fields;
  for (std::string field; rest >> field;) fields.push_back(field);
  return fields;
}

std::optional<RegisteredProcess> readEntry(const fs::path& file) {
  char* end = nullptr;
  std::string base = file.filename().string();
  long pid = std::strtol(base.c_str(), &end, 10);
  if (base.empty() || *end != '\0' || pid <= 0) return std::nullopt;
  // Opened without blocking and read only when it is a regular file: a FIFO
  // left in the registry must not stop whoever looks for processes.
  int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st;
  std::string text;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    char buf[512];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) text.assign(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  std::istringstream in(text);
  RegisteredProcess entry;
  entry.pid = static_cast<pid_t>(pid);
  if (!std::getline(in, entry.name) || !(in >> entry.startTime) || entry.name.empty()) {
    return std::nullopt;
  }
  return entry;
}

}  // namespace

std::optional<unsigned long long> processStartTime(pid_t pid) {
  std::vector<std::string> fields = statFields(pid);
  // fields[0] is the state (stat field 3); the start time is field 22.
  if (fields.size() < 20 || fields[0] == "Z" || fields[0] == "X") return std::nullopt;
  const std::string& text = fields[19];
  char* end = nullptr;
  errno = 0;
  unsigned long long start = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || text[0] == '-') return std::nullopt;
  return start;
}

bool stillRunning(const RegisteredProcess& process) {
  std::optional<unsigned long long> start = processStartTime(process.pid);
  return start && *start == process.startTime;
}

std::string registerProcess(const std::string& root, const std::string& name) {
  std::optional<unsigned long long> start = processStartTime(getpid());
  if (!start) return "cannot read this process's start time";
  std::error_code ec;
  fs::create_directories(folder(root), ec);
  if (ec) return "cannot create " + folder(root).string() + ": " + ec.message();
  fs::path file = folder(root) / std::to_string(getpid());
  fs::path temp = file;
  temp += ".new";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << name << "\n" << *start << "\n";
    if (!out.flush()) return "cannot write " + temp.string();
  }
  fs::rename(temp, file, ec);  // a reader sees the whole entry or none
  if (ec) return "cannot write " + file.string() + ": " + ec.message();
  return "";
}

void unregisterProcess(const std::string& root) {
  std::error_code ec;
  fs::remove(folder(root) / std::to_string(getpid()), ec);
}

std::vector<RegisteredProcess> runningProcesses(const std::string& root) {
  std::vector<RegisteredProcess> running;
  std::error_code ec;
  for (const auto& item : fs::directory_iterator(folder(root), ec)) {
    if (item.path().extension() == ".new") continue;  // being written
    std::optional<RegisteredProcess> entry = readEntry(item.path());
    if (entry && stillRunning(*entry)) {
      running.push_back(*entry);
    } else {
      std::error_code ignored;
      fs::remove(item.path(), ignored);
    }
  }
  return running;
}

}  // namespace program
