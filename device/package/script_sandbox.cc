#include "device/package/script_sandbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace package {
namespace {

constexpr size_t kMaxErrors = 64 * 1024;

// What the keeping process tells the installer.
struct KeeperReport {
  int status = -1;
  int timed_out = 0;
  int start_errno = 0;
};

std::string findBwrap() {
  const char* path = std::getenv("PATH");
  std::stringstream folders(path != nullptr && *path != '\0' ? path : "/usr/bin:/bin");
  for (std::string folder; std::getline(folders, folder, ':');) {
    if (folder.empty()) continue;
    std::string candidate = folder + "/bwrap";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

std::vector<std::string> bwrapArguments(const ScriptRun& run) {
  std::vector<std::string> args = {"bwrap",
                                   "--unshare-user",
                                   "--unshare-ipc",
                                   "--unshare-net",
                                   "--unshare-uts",
                                   "--unshare-cgroup-try",
                                   "--cap-drop",
                                   "ALL",
                                   "--die-with-parent",
                                   "--new-session",
                                   "--ro-bind",
                                   "/usr",
                                   "/usr"};
  // The machine's top-level program and library folders, as it has them.
  for (const char* top : {"/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32"}) {
    struct stat st;
    if (lstat(top, &st) != 0) continue;
    if (S_ISLNK(st.st_mode)) {
      char target[4096];
      ssize_t n = readlink(top, target, sizeof target - 1);
      if (n <= 0) continue;
      args.insert(args.end(), {"--symlink", std::string(target, static_cast<size_t>(n)), top});
    } else if (S_ISDIR(st.st_mode)) {
      args.insert(args.end(), {"--ro-bind", top, top});
    }
  }
  args.insert(args.end(), {"--proc", "/proc", "--dev", "/dev", "--tmpfs", "/tmp", "--bind",
                           run.root, run.root});
  for (const std::string& folder : run.read_only)
    args.insert(args.end(), {"--ro-bind", folder, folder});
  // The device's own program, read-only at its path: the device's killall
  // recognises the device's processes by the program they run, and needs to
  // see that program to compare.
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    std::string program(self, static_cast<size_t>(n));
    args.insert(args.end(), {"--ro-bind", program, program});
  }
  args.insert(args.end(), {"--chdir", run.root, "--"});
  args.insert(args.end(), run.argv.begin(), run.argv.end());
  return args;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// What follows runs in the forked keeper and its child, possibly forked from
// a process with other threads: system calls only, no allocation.

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Kills every process whose parent is `self`; returns how many it found.
int killChildren(pid_t self) {
  int found = 0;
  int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (proc < 0) return 0;
  alignas(8) char entries[8192];
  while (true) {
    long n = syscall(SYS_getdents64, proc, entries, sizeof entries);
    if (n <= 0) break;
    for (long at = 0; at < n;) {
      auto* d = reinterpret_cast<struct dirent64*>(entries + at);
      at += d->d_reclen;
      pid_t pid = 0;
      const char* c = d->d_name;
      for (; *c >= '0' && *c <= '9'; ++c) pid = pid * 10 + (*c - '0');
      if (*c != '\0' || pid <= 0) continue;
      char path[64] = "/proc/";
      size_t len = 6;
      for (const char* p = d->d_name; *p != '\0' && len < sizeof path - 6; ++p) path[len++] = *p;
      std::memcpy(path + len, "/stat", 6);
      int fd = openat(AT_FDCWD, path, O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      char stat[1024];
      ssize_t got = read(fd, stat, sizeof stat - 1);
      close(fd);
      if (got <= 0) continue;
      stat[got] = '\0';
      // "pid (name) S ppid ...": the name may hold anything, so from its last ')'.
      char* close_paren = std::strrchr(stat, ')');
      if (close_paren == nullptr || close_paren[1] == '\0' || close_paren[2] == '\0') continue;
      const char* p = close_paren + 2;
      while (*p != '\0' && *p != ' ') ++p;  // the state
      pid_t ppid = 0;
      for (++p; *p >= '0' && *p <= '9'; ++p) ppid = ppid * 10 + (*p - '0');
      if (ppid == self) {
        kill(pid, SIGKILL);
        ++found;
      }
    }
  }
  close(proc);
  return found;
}

// Kills and reaps every child this process has, those handed to it as the
// subreaper included, until it has none.
void endDescendants(pid_t self) {
  while (true) {
    killChildren(self);
    int status = 0;
    pid_t reaped = waitpid(-1, &status, WNOHANG);
    if (reaped < 0 && errno == ECHILD) return;
    if (reaped <= 0) {
      timespec pause = {0, 2 * 1000 * 1000};
      nanosleep(&pause, nullptr);
    }
  }
}

[[noreturn]] void keep(const char* bwrap, char* const* argv, char* const* envp, int null_fd,
                       int errors_fd, int report_fd, pid_t installer, double timeout) {
  // The installer's end is told with SIGTERM, waited for below with the
  // children's ends: the script and all it started are then killed, where a
  // keeper killed outright would leave them running.
  sigset_t wake;
  sigemptyset(&wake);
  sigaddset(&wake, SIGCHLD);
  sigaddset(&wake, SIGTERM);
  // A terminal's signals end the installer, and through it this.
  sigset_t blocked = wake;
  for (int sig : {SIGINT, SIGHUP, SIGQUIT, SIGPIPE}) sigaddset(&blocked, sig);
  sigprocmask(SIG_BLOCK, &blocked, nullptr);
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != installer) _exit(1);
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  KeeperReport report;
  const double deadline = now() + timeout;
  pid_t child = fork();
  if (child == 0) {
    setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    dup2(null_fd, STDIN_FILENO);
    if (errors_fd >= 0) dup2(errors_fd, STDERR_FILENO);
    // No descriptor of the installer's reaches the script: one open on a
    // folder outside would be a way out.
    if (syscall(SYS_close_range, 3u, ~0u, 0u) != 0) {
      for (int fd = 3; fd < 4096; ++fd) close(fd);
    }
    execve(bwrap, argv, envp);
    _exit(127);
  }
  if (child < 0) {
    report.start_errno = errno;
  } else {
    int status = 0;
    while (true) {
      pid_t done = waitpid(child, &status, WNOHANG);
      if (done == child) break;
      double left = deadline - now();
      if (left <= 0 || getppid() != installer) {
        report.timed_out = left <= 0;
        kill(child, SIGKILL);
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        break;
      }
      if (left > 0.5) left = 0.5;
      timespec wait = {
          static_cast<time_t>(left),
          static_cast<long>((left - static_cast<double>(static_cast<time_t>(left))) * 1e9)};
      sigtimedwait(&wake, nullptr, &wait);
    }
    report.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  endDescendants(getpid());
  ssize_t ignored = write(report_fd, &report, sizeof report);
  (void)ignored;
  _exit(0);
}

}  // namespace

ScriptResult runConfined(const ScriptRun& run) {
  ScriptResult result;
  const std::string bwrap = findBwrap();
  if (bwrap.empty()) {
    result.errors = "bwrap (Debian's bubblewrap) is not installed";
    return result;
  }
  std::vector<std::string> args = bwrapArguments(run);
  std::vector<std::string> env = run.environment;
  std::vector<char*> argv = pointers(args);
  std::vector<char*> envp = pointers(env);

  int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int errors_fd = run.capture_errors ? memfd_create("script-errors", MFD_CLOEXEC) : -1;
  int report[2] = {-1, -1};
  if (null_fd < 0 || (run.capture_errors && errors_fd < 0) || pipe2(report, O_CLOEXEC) != 0) {
    result.errors = std::string("cannot prepare the sandbox: ") + std::strerror(errno);
    for (int fd : {null_fd, errors_fd, report[0], report[1]}) {
      if (fd >= 0) close(fd);
    }
    return result;
  }
  const pid_t installer = getpid();
  pid_t keeper = fork();
  if (keeper == 0) {
    keep(bwrap.c_str(), argv.data(), envp.data(), null_fd, errors_fd, report[1], installer,
         run.timeout_seconds);
  }
  const int fork_errno = errno;
  close(report[1]);
  close(null_fd);
  KeeperReport got;
  bool answered = false;
  if (keeper > 0) {
    ssize_t n;
    do {
      n = read(report[0], &got, sizeof got);
    } while (n < 0 && errno == EINTR);
    answered = n == static_cast<ssize_t>(sizeof got);
    int status = 0;
    while (waitpid(keeper, &status, 0) < 0 && errno == EINTR) {
    }
  }
  close(report[0]);
  if (errors_fd >= 0) {
    lseek(errors_fd, 0, SEEK_SET);
    char buf[4096];
    ssize_t n;
    while ((n = read(errors_fd, buf, sizeof buf)) > 0 && result.errors.size() < kMaxErrors)
      result.errors.append(buf, static_cast<size_t>(n));
    close(errors_fd);
  }
  if (keeper < 0) {
    result.errors = std::string("cannot start the sandbox: ") + std::strerror(fork_errno);
  } else if (!answered) {
    result.errors = "the sandbox's keeper ended without an answer";
  } else if (got.start_errno != 0) {
    result.errors = std::string("cannot start bwrap: ") + std::strerror(got.start_errno);
  } else {
    result.status = got.status;
    result.timed_out = got.timed_out != 0;
  }
  return result;
}

std::string checkConfinement(const std::string& root, const std::vector<std::string>& read_only) {
  ScriptRun probe;
  probe.argv = {"true"};
  probe.environment = {"PATH=/usr/bin:/bin"};
  probe.root = root;
  probe.read_only = read_only;
  probe.timeout_seconds = 20;
  probe.capture_errors = true;
  ScriptResult r = runConfined(probe);
  if (r.status == 0) return "";
  if (r.status < 0) return r.errors;
  std::string why = r.errors;
  while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) why.pop_back();
  if (size_t line = why.rfind('\n'); line != std::string::npos) why = why.substr(line + 1);
  return "bwrap cannot make a sandbox here" + (why.empty() ? "" : ": " + why);
}

}  // namespace package
