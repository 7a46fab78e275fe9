#include "platform/notify/notify.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "platform/dispatch/run_loop.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsstring.h"

struct __CFNotificationCenter {
  int unused;
};

namespace notify {
namespace {

constexpr const char* kRegistryFolder = "/var/run/notify";
constexpr size_t kMaxDatagram = 1024;  // larger datagrams carry no name of ours
constexpr size_t kMaxFileName = 255;   // NAME_MAX: the longest registration folder
// The file in a name's folder that its registrations are hard links to; not
// a pid, so posts pass it by.
constexpr const char* kSharedEntry = "observer";

struct Observer {
  std::string name;
  const void* observer;
  CFNotificationCallback callback;
};

// What this process observes and the socket its notifications arrive on.
struct State {
  std::mutex mu;
  std::vector<Observer> observers;   // guarded by mu, in registration order
  std::set<std::string> registered;  // guarded by mu: names with a registration file of ours
  int receiver = -1;                 // guarded by mu: bound, non-blocking
  int sender = -1;                   // guarded by mu: unbound, for posting
  pid_t pid = -1;                    // guarded by mu: this process, once it has a receiver
};

State& state() {
  static State* s = [] {
    auto* made = new State();  // callbacks may arrive until the process ends
    // A forked child is a new process: no socket of its own yet, no
    // observers, no registrations. The parent's descriptors are closed so the
    // child cannot take the parent's notifications.
    pthread_atfork(nullptr, nullptr, [] {
      State& st = *s;
      new (&st.mu) std::mutex();
      if (st.receiver >= 0) ::close(st.receiver);
      if (st.sender >= 0) ::close(st.sender);
      st.receiver = st.sender = -1;
      st.pid = -1;
      st.observers.clear();
      st.registered.clear();
    });
    std::atexit([] {
      // Registrations of a process that ended normally go with it; those of a
      // killed process are dropped by the next post that finds it gone.
      State& st = *s;
      std::lock_guard<std::mutex> g(st.mu);
      for (const std::string& name : st.registered) {
        std::error_code ec;
        std::filesystem::remove(registrationFolder(name) + "/" + std::to_string(getpid()), ec);
      }
    });
    return made;
  }();
  return *s;
}

__CFNotificationCenter g_center{0};

// FNV-1a: a stable hash, the same in every process.
uint64_t stableHash(const std::string& text) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

}  // namespace

std::string escapeName(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    auto c = static_cast<unsigned char>(name[i]);
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '_' || (c == '.' && i > 0);
    if (plain) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

std::string nameError(const std::string& name) {
  if (name.empty()) return "a notification name cannot be empty";
  size_t stored = escapeName(name).size();
  if (stored <= kMaxFileName) return "";
  return "notification name too long: " + std::to_string(name.size()) + " bytes, stored as " +
         std::to_string(stored) + "; at most " + std::to_string(kMaxFileName) +
         " (a byte other than a letter, digit, '-', '_' or '.' takes three)";
}

std::string registrationFolder(const std::string& name) {
  return device::devicePath(std::string(kRegistryFolder) + "/" + escapeName(name));
}

std::string socketName(pid_t pid) {
  // "velmo-notify-<device root's hash, 16 hex digits>-<pid>", made without
  // printf: it is on the path of a library's first subscription.
  static const char kHex[] = "0123456789abcdef";
  char text[64] = "velmo-notify-";
  char* at = text + std::strlen(text);
  char* end = text + sizeof text;
  uint64_t hash = stableHash(device::root());
  for (int shift = 60; shift >= 0; shift -= 4) *at++ = kHex[(hash >> shift) & 15];
  *at++ = '-';
  at = std::to_chars(at, end, static_cast<int>(pid)).ptr;
  return std::string(text, at);
}

namespace {

socklen_t socketAddress(pid_t pid, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  std::string name = socketName(pid);  // abstract: a leading NUL, no file
  std::memcpy(addr->sun_path + 1, name.data(), name.size());
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

void complain(const std::string& what) { std::fprintf(stderr, "notify: %s\n", what.c_str()); }

// Delivers what arrived: every datagram is read, and each name that came is
// delivered once, to its observers in registration order.
void drain(int fd) {
  State& st = state();
  {
    std::lock_guard<std::mutex> g(st.mu);
    if (fd != st.receiver) {  // a descriptor from before fork(): not ours any more
      dispatch::RunLoop::main().unwatch(fd);
      return;
    }
  }
  std::vector<std::string> names;
  char buf[kMaxDatagram + 1];
  for (;;) {
    ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    if (n == 0 || static_cast<size_t>(n) > kMaxDatagram) continue;
    std::string name(buf, static_cast<size_t>(n));
    bool seen = false;
    for (const auto& s : names) seen = seen || s == name;
    if (!seen) names.push_back(std::move(name));
  }
  for (const std::string& name : names) {
    std::vector<Observer> targets;
    {
      std::lock_guard<std::mutex> g(st.mu);
      for (const auto& o : st.observers) {
        if (o.name == name) targets.push_back(o);
      }
    }
    if (targets.empty()) continue;
    NSString* text = foundation::makeString(name);
    for (const auto& o : targets) {
      o.callback(&g_center, const_cast<void*>(o.observer), text, nullptr, nullptr);
    }
  }
}

// Makes the receiving socket and starts watching it. Holds st.mu.
bool ensureReceiver(State& st) {
  if (st.receiver >= 0) return true;
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    complain(std::string("cannot make a socket: ") + std::strerror(errno));
    return false;
  }
  pid_t pid = getpid();
  sockaddr_un addr;
  socklen_t len = socketAddress(pid, &addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
    complain("cannot bind " + socketName(pid) + ": " + std::strerror(errno));
    ::close(fd);
    return false;
  }
  st.receiver = fd;
  st.pid = pid;
  auto start = [fd] { dispatch::RunLoop::main().watch(fd, [fd] { drain(fd); }); };
  if (dispatch::isMainThread()) {
    start();
  } else {
    dispatch::RunLoop::main().post(start);
  }
  return true;
}

// Makes `path` an empty regular file, or leaves the one there. 0 or errno.
int makeEmptyFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd < 0) return errno;
  ::close(fd);
  return 0;
}

// Records this process as an observer of `name` on the device. Holds st.mu;
// the receiver exists.
//
// A registration is a hard link, named after the pid, to one empty file that
// all of the name's observers share: a new name for an existing file costs a
// directory entry, while a new file also costs an inode, which on a
// journaling file system can take ten or twenty times as long, and every
// library that subscribes pays it as it loads. Where a link cannot be made (a
// file system without hard links, a file at its link limit) the registration
// is a file of its own, as readers cannot tell the two apart.
bool registerName(State& st, const std::string& name) {
  if (st.registered.count(name)) return true;
  std::string folder = registrationFolder(name);
  std::string shared = folder + "/" + kSharedEntry;
  std::string file = folder + "/" + std::to_string(st.pid);
  // A file of a reused pid is already the registration this would make.
  auto linked = [&] { return ::link(shared.c_str(), file.c_str()) == 0 || errno == EEXIST; };
  bool done = linked();
  if (!done && errno == ENOENT) {
    // The name's folder and shared file are made when this is its first
    // observer ever (or the shared file was removed).
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
      complain("cannot make " + folder + ": " + ec.message());
      return false;
    }
    done = makeEmptyFile(shared) == 0 && linked();
  }
  if (!done) {
    if (int e = makeEmptyFile(file); e != 0) {
      complain("cannot make " + file + ": " + std::strerror(e));
      return false;
    }
  }
  st.registered.insert(name);
  return true;
}

bool isPid(const char* text) {
  if (*text == '\0') return false;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  return std::strlen(text) < 10;
}

}  // namespace
}  // namespace notify

CFNotificationCenterRef CFNotificationCenterGetDarwinNotifyCenter() { return &notify::g_center; }

void CFNotificationCenterAddObserver(CFNotificationCenterRef center, const void* observer,
                                     CFNotificationCallback callback, CFStringRef name, const void*,
                                     CFNotificationSuspensionBehavior) {
  using namespace notify;
  std::string text = foundation::stdString(name);
  if (center != &g_center || callback == nullptr || !nameError(text).empty()) return;
  State& st = state();
  std::lock_guard<std::mutex> g(st.mu);
  for (const auto& o : st.observers) {
    if (o.name == text && o.observer == observer && o.callback == callback) return;
  }
  if (!ensureReceiver(st) || !registerName(st, text)) return;
  st.observers.push_back({text, observer, callback});
}

void CFNotificationCenterPostNotification(CFNotificationCenterRef center, CFStringRef name,
                                          const void*, CFDictionaryRef, Boolean) {
  using namespace notify;
  std::string text = foundation::stdString(name);
  if (center != &g_center || !nameError(text).empty()) return;
  std::string folder = registrationFolder(text);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;  // nobody has ever observed the name
  std::vector<std::string> pids;
  while (dirent* e = ::readdir(dir)) {
    if (isPid(e->d_name)) pids.emplace_back(e->d_name);
  }
  ::closedir(dir);
  if (pids.empty()) return;

  State& st = state();
  int sender;
  {
    std::lock_guard<std::mutex> g(st.mu);
    if (st.sender < 0) st.sender = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sender = st.sender;
  }
  if (sender < 0) {
    complain(std::string("cannot make a socket: ") + std::strerror(errno));
    return;
  }
  for (const std::string& pid : pids) {
    sockaddr_un addr;
    socklen_t len = socketAddress(static_cast<pid_t>(std::atoi(pid.c_str())), &addr);
    ssize_t sent;
    do {
      sent = ::sendto(sender, text.data(), text.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                      reinterpret_cast<sockaddr*>(&addr), len);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0 && (errno == ECONNREFUSED || errno == ENOENT)) {
      ::unlink((folder + "/" + pid).c_str());  // the process is gone
    }
    // EAGAIN: the observer has not read what it already got; it will be
    // notified when it does, so dropping this one loses nothing for this name.
  }
}
