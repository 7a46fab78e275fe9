#include "device/process_registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace program {
namespace {

constexpr const char* kFolders[] = {"var", "run", "processes"};
constexpr const char kNewSuffix[] = ".new";
constexpr size_t kMaxCommandLine = 64 * 1024;

// Closes a descriptor when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// Opens <root>/var/run/processes as a folder. The root itself may be reached
// through links; var, run and processes may not: O_NOFOLLOW refuses a link at
// each of them. With `create`, missing folders are made. Returns the
// descriptor, or -1 with `error` set (when given).
int openRegistry(const std::string& root, bool create, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error != nullptr) *error = why;
    return -1;
  };
  int at = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (at < 0) return fail("cannot open " + root + ": " + std::strerror(errno));
  std::string path = root;
  for (const char* name : kFolders) {
    path += "/";
    path += name;
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int next = ::openat(at, name, kFlags);
    if (next < 0 && errno == ENOENT && create) {
      if (::mkdirat(at, name, 0755) != 0 && errno != EEXIST) {
        int made = errno;
        ::close(at);
        return fail("cannot create " + path + ": " + std::strerror(made));
      }
      next = ::openat(at, name, kFlags);
    }
    int opened = errno;
    // O_NOFOLLOW with O_DIRECTORY refuses a link as "not a folder" (ENOTDIR)
    // or as a loop (ELOOP); say which.
    struct stat st;
    bool link =
        next < 0 && ::fstatat(at, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
    ::close(at);
    if (next < 0) {
      if (link || opened == ELOOP) {
        return fail("cannot open " + path + ": a symbolic link, not a folder");
      }
      if (opened == ENOTDIR) return fail("cannot create " + path + ": not a folder");
      return fail("cannot open " + path + ": " + std::strerror(opened));
    }
    at = next;
  }
  return at;
}

// The names in the folder `dir` (not consumed), "." and ".." left out.
std::vector<std::string> folderNames(int dir) {
  std::vector<std::string> names;
  int copy = ::dup(dir);
  if (copy < 0) return names;
  DIR* d = ::fdopendir(copy);
  if (d == nullptr) {
    ::close(copy);
    return names;
  }
  ::rewinddir(d);
  while (dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
      names.emplace_back(e->d_name);
    }
  }
  ::closedir(d);
  return names;
}

// Removes `name` from `dir`, whatever it is: a file, a link, an empty folder.
void removeEntry(int dir, const std::string& name) {
  if (::unlinkat(dir, name.c_str(), 0) != 0 && (errno == EISDIR || errno == EPERM)) {
    ::unlinkat(dir, name.c_str(), AT_REMOVEDIR);
  }
}

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// "123" -> 123; nothing for anything else.
std::optional<unsigned long long> parseNumber(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  errno = 0;
  unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (errno != 0) return std::nullopt;
  return value;
}

// Whether the temporary entry `name` ("<pid>-<start>.new", or "<pid>.new" as
// earlier writers named it) belongs to a writer that is gone.
bool abandonedTemporary(const std::string& name) {
  std::string stem = name.substr(0, name.size() - std::strlen(kNewSuffix));
  size_t dash = stem.find('-');
  std::optional<unsigned long long> pid = parseNumber(stem.substr(0, dash));
  if (!pid || *pid == 0 || *pid > 0x7fffffff) return true;
  if (dash == std::string::npos) return !processStartTime(static_cast<pid_t>(*pid));
  std::optional<unsigned long long> start = parseNumber(stem.substr(dash + 1));
  if (!start) return true;
  return !stillRunning({static_cast<pid_t>(*pid), "", *start});
}

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

std::optional<RegisteredProcess> readEntry(int dir, const std::string& name) {
  std::optional<unsigned long long> pid = parseNumber(name);
  if (!pid || *pid == 0 || *pid > 0x7fffffff) return std::nullopt;
  // Opened without blocking or following a link, and read only when it is a
  // regular file: a FIFO left in the registry must not stop whoever looks
  // for processes.
  int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
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
  entry.pid = static_cast<pid_t>(*pid);
  if (!std::getline(in, entry.name) || !(in >> entry.startTime) || entry.name.empty()) {
    return std::nullopt;
  }
  return entry;
}

// Writes `bytes` to `name` in `dir`, a new file. Returns "" or an error.
std::string writeNewFile(int dir, const std::string& name, const std::string& bytes) {
  Fd fd(::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (fd.get() < 0) return std::strerror(errno);
  for (size_t done = 0; done < bytes.size();) {
    ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? std::strerror(errno) : "nothing written";
    done += static_cast<size_t>(n);
  }
  return "";
}

// The file identity of what `path` names, following links.
std::optional<std::pair<dev_t, ino_t>> identity(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return std::make_pair(st.st_dev, st.st_ino);
}

// The arguments of `pid`'s command line, as the kernel keeps them.
std::vector<std::string> commandLine(pid_t pid) {
  int fd = ::open(("/proc/" + std::to_string(pid) + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string text;
  char buf[4096];
  ssize_t n;
  while (text.size() < kMaxCommandLine && (n = ::read(fd, buf, sizeof buf)) > 0) {
    text.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  std::vector<std::string> args;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\0', at);
    if (end == std::string::npos) end = text.size();
    args.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return args;
}

// The value of the single --root flag after the subcommand; "" when there is
// none, or more than one: the programs take their device from --root, and a
// command line that could be read two ways vouches for nothing.
std::string rootArgument(const std::vector<std::string>& args) {
  std::string root;
  int found = 0;
  for (size_t i = 2; i < args.size(); ++i) {
    if (args[i] == "--root" && i + 1 < args.size()) {
      root = args[i + 1];
      ++found;
    } else if (args[i].rfind("--root=", 0) == 0) {
      root = args[i].substr(7);
      ++found;
    }
  }
  return found == 1 ? root : "";
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

bool runsDeviceProgram(const RegisteredProcess& process, const std::string& program,
                       const std::string& root) {
  if (process.pid <= 0 || program.empty() || root.empty()) return false;
  std::string proc = "/proc/" + std::to_string(process.pid);
  // The very binary: the same file, or the same path if it was replaced
  // since the process started.
  std::optional<std::pair<dev_t, ino_t>> expected = identity(program);
  std::optional<std::pair<dev_t, ino_t>> running = identity(proc + "/exe");
  const bool mayNotLook = !running && (errno == EACCES || errno == EPERM);
  std::vector<std::string> arguments = commandLine(process.pid);
  if (mayNotLook) {
    // A killall without the right to look at the process's program (one run
    // by a package's confined maintainer script, which holds no capability)
    // goes by what the kernel keeps of the process's command line: the
    // registered name as its program name, and an absolute --root below.
    if (arguments.empty() || arguments[0] != process.name) return false;
  } else if (!running || running != expected) {
    char target[4096];
    ssize_t n = ::readlink((proc + "/exe").c_str(), target, sizeof target - 1);
    char* real = ::realpath(program.c_str(), nullptr);
    std::string wanted = std::string(real != nullptr ? real : program.c_str()) + " (deleted)";
    std::free(real);
    if (n <= 0 || std::string(target, static_cast<size_t>(n)) != wanted) return false;
  }
  // For this very device.
  std::string claimed = rootArgument(arguments);
  if (claimed.empty()) return false;
  if (claimed[0] != '/') {
    if (mayNotLook) return false;  // its working folder is as closed as its program
    claimed = proc + "/cwd/" + claimed;
  }
  std::optional<std::pair<dev_t, ino_t>> device = identity(root);
  if (!device || identity(claimed) != device) return false;
  // Everything read above was read of the registered process, not of one
  // that took its pid in between.
  return stillRunning(process);
}

std::string registerProcess(const std::string& root, const std::string& name) {
  std::optional<unsigned long long> start = processStartTime(getpid());
  if (!start) return "cannot read this process's start time";
  std::string error;
  Fd dir(openRegistry(root, /*create=*/true, &error));
  if (dir.get() < 0) return error;
  // What writers killed or failed mid-write left, unless they still run.
  for (const std::string& item : folderNames(dir.get())) {
    if (endsWith(item, kNewSuffix) && abandonedTemporary(item)) removeEntry(dir.get(), item);
  }
  std::string file = std::to_string(getpid());
  std::string temp = file + "-" + std::to_string(*start) + kNewSuffix;
  std::string shown = root + "/var/run/processes/";
  if (std::string e = writeNewFile(dir.get(), temp, name + "\n" + std::to_string(*start) + "\n");
      !e.empty()) {
    ::unlinkat(dir.get(), temp.c_str(), 0);
    return "cannot write " + shown + temp + ": " + e;
  }
  // A reader sees the whole entry or none.
  if (::renameat(dir.get(), temp.c_str(), dir.get(), file.c_str()) != 0) {
    std::string e = std::strerror(errno);
    ::unlinkat(dir.get(), temp.c_str(), 0);
    return "cannot write " + shown + file + ": " + e;
  }
  return "";
}

void unregisterProcess(const std::string& root) {
  Fd dir(openRegistry(root, /*create=*/false, nullptr));
  if (dir.get() >= 0) ::unlinkat(dir.get(), std::to_string(getpid()).c_str(), 0);
}

std::vector<RegisteredProcess> runningProcesses(const std::string& root) {
  std::vector<RegisteredProcess> running;
  Fd dir(openRegistry(root, /*create=*/false, nullptr));
  if (dir.get() < 0) return running;
  for (const std::string& item : folderNames(dir.get())) {
    if (endsWith(item, kNewSuffix)) continue;  // being written
    std::optional<RegisteredProcess> entry = readEntry(dir.get(), item);
    if (entry && stillRunning(*entry)) {
      running.push_back(*entry);
    } else {
      removeEntry(dir.get(), item);
    }
  }
  return running;
}

}  // namespace program
