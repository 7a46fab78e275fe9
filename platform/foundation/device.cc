#include "platform/foundation/device.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/foundation/collections.h"
#include "platform/foundation/folder_beneath.h"
#include "platform/foundation/nsnumber.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/plist.h"

namespace device {
namespace {

namespace fs = std::filesystem;

std::string& rootStorage() {
  static auto* root = new std::string();
  return *root;
}

std::string errnoText(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

std::string hex(const unsigned char* bytes, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(n * 2);
  for (size_t i = 0; i < n; ++i) {
    out.push_back(kDigits[bytes[i] >> 4]);
    out.push_back(kDigits[bytes[i] & 15]);
  }
  return out;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool unhex(const std::string& text, std::vector<unsigned char>* out) {
  if (text.size() % 2 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    int hi = hexDigit(text[i]);
    int lo = hexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<unsigned char>(hi * 16 + lo));
  }
  return true;
}

std::string configPath() { return root() + "/device.plist"; }

void readString(id dict, const char* key, std::string* into) {
  id value = msg<id>(dict, "objectForKey:"_sel, foundation::makeString(key));
  if (foundation::isString(value)) *into = foundation::stdString(value);
}

// Whether an absolute path is what lexical normalisation would make of it:
// no empty, "." or ".." component, and no separator at the end.
bool isNormal(std::string_view path) {
  if (path.size() < 2 || path.back() == '/') return false;
  size_t begin = 1;
  while (begin <= path.size()) {
    size_t end = path.find('/', begin);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(begin, end - begin);
    if (part.empty() || part == "." || part == "..") return false;
    begin = end + 1;
  }
  return true;
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

void setRoot(std::string_view root) {
  fs::path p = fs::absolute(fs::path(root)).lexically_normal();
  std::string text = p.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  rootStorage() = text;
}

const std::string& root() { return rootStorage(); }

std::string devicePath(std::string_view system_path) {
  if (system_path.empty() || system_path.front() != '/') return std::string(system_path);
  const std::string& r = root();
  if (r.empty()) {
    objc_fatal("device: no device root set before using \"%.*s\"",
               static_cast<int>(system_path.size()), system_path.data());
  }
  // Normalising first turns "/../x" into "/x", so nothing climbs above the root.
  // Nearly every path the system asks for is normal already, and is used as
  // it is: normalising costs more than the rest of most lookups.
  std::string normal = isNormal(system_path) ? std::string(system_path)
                                             : fs::path(system_path).lexically_normal().string();
  return r == "/" ? normal : r + normal;
}

Config readConfig() {
  // The configuration is asked for often (every UIDevice question, every
  // passcode check) and changes rarely, and then always by an atomic
  // replacement: a new file. What was read last is kept with the identity of
  // the file it came from and reused while the path still names that file.
  // A file changed in the last two seconds is not kept: on a file system
  // with coarse timestamps a rewrite in place could look unchanged.
  struct Cached {
    std::string path;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    timespec mtime{};
    timespec ctime{};
    Config config;
  };
  static std::mutex mu;
  static Cached* cached = new Cached();  // read by threads until the process ends
  std::string path = configPath();
  struct stat st;
  bool identified = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  {
    std::lock_guard<std::mutex> g(mu);
    if (identified && cached->path == path && cached->dev == st.st_dev &&
        cached->ino == st.st_ino && cached->size == st.st_size &&
        cached->mtime.tv_sec == st.st_mtim.tv_sec && cached->mtime.tv_nsec == st.st_mtim.tv_nsec &&
        cached->ctime.tv_sec == st.st_ctim.tv_sec && cached->ctime.tv_nsec == st.st_ctim.tv_nsec) {
      return cached->config;
    }
  }
  objc::AutoreleasePool pool;
  Config config;
  plist::Result read = plist::readFile(path);
  if (!foundation::isDictionary(read.value)) return config;
  id dict = read.value;
  readString(dict, "model", &config.model);
  readString(dict, "systemVersion", &config.systemVersion);
  id passcode = msg<id>(dict, "objectForKey:"_sel, foundation::makeString("passcode"));
  config.passcode = foundation::isNumber(passcode) && msg<BOOL>(passcode, "boolValue"_sel);
  readString(dict, "passcodeSalt", &config.passcodeSalt);
  readString(dict, "passcodeHash", &config.passcodeHash);
  readString(dict, "biometry", &config.biometry);
  if (identified && std::time(nullptr) - std::max(st.st_mtim.tv_sec, st.st_ctim.tv_sec) >= 2) {
    std::lock_guard<std::mutex> g(mu);
    *cached = Cached{path, st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim, config};
  }
  return config;
}

std::string writeConfig(const Config& config) {
  objc::AutoreleasePool pool;
  Strong<NSDictionary> dict = foundation::newDictionary(/*mutable_=*/true);
  auto set = [&](const char* key, const std::string& value) {
    msg<void>(dict, "setObject:forKey:"_sel, foundation::makeString(value),
              foundation::makeString(key));
  };
  set("model", config.model);
  set("systemVersion", config.systemVersion);
  msg<void>(dict, "setObject:forKey:"_sel, foundation::boolNumber(config.passcode ? YES : NO),
            foundation::makeString("passcode"));
  // The old salted hash is kept only while it is what checks the passcode.
  if (!config.passcode && !config.passcodeHash.empty()) {
    set("passcodeSalt", config.passcodeSalt);
    set("passcodeHash", config.passcodeHash);
  }
  set("biometry", config.biometry);
  return plist::writeFile(configPath(), dict);
}

std::string hashPasscode(const std::string& salt_hex, const std::string& passcode) {
  std::vector<unsigned char> input;
  if (!unhex(salt_hex, &input)) return "";
  input.insert(input.end(), passcode.begin(), passcode.end());
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(input.data(), input.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
    objc_fatal("device: SHA-256 failed");
  }
  return hex(digest, length);
}

std::string newSalt() {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1) objc_fatal("device: no random bytes for a salt");
  return hex(bytes, sizeof bytes);
}

bool passcodeMatches(const Config& config, const std::string& passcode) {
  if (config.passcodeSalt.empty() || config.passcodeHash.empty()) return false;
  std::string hash = hashPasscode(config.passcodeSalt, passcode);
  return !hash.empty() && sameKey(hash, config.passcodeHash);
}

bool hasPasscode(const Config& config) { return config.passcode || hasLegacyPasscode(config); }

bool hasLegacyPasscode(const Config& config) {
  return !config.passcode && !config.passcodeHash.empty();
}

bool sameKey(const std::string& a, const std::string& b) {
  return !a.empty() && a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

PasscodeVerifier makeVerifier(const std::string& passcode, long long iterations) {
  PasscodeVerifier verifier;
  verifier.salt = newSalt();
  verifier.iterations = iterations;
  verifier.key = verifierKey(verifier, passcode);
  if (verifier.key.empty()) objc_fatal("device: no verifier for a work factor of %lld", iterations);
  return verifier;
}

namespace {

// Whether the verifier's salt and work factor are ones it may have; `salt`
// receives the salt's bytes.
bool usableSaltAndFactor(const PasscodeVerifier& verifier, std::vector<unsigned char>* salt) {
  return unhex(verifier.salt, salt) && salt->size() >= 16 &&
         verifier.iterations >= kMinPasscodeIterations &&
         verifier.iterations <= kMaxPasscodeIterations;
}

}  // namespace

std::string verifierKey(const PasscodeVerifier& verifier, const std::string& passcode) {
  std::vector<unsigned char> salt;
  if (!usableSaltAndFactor(verifier, &salt)) return "";
  unsigned char key[32];
  if (PKCS5_PBKDF2_HMAC(passcode.data(), static_cast<int>(passcode.size()), salt.data(),
                        static_cast<int>(salt.size()), static_cast<int>(verifier.iterations),
                        EVP_sha256(), sizeof key, key) != 1) {
    objc_fatal("device: PBKDF2 failed");
  }
  return hex(key, sizeof key);
}

std::string readVerifier(PasscodeVerifier* verifier) {
  objc::AutoreleasePool pool;
  *verifier = PasscodeVerifier();
  std::string path = devicePath(kPasscodeVerifierPath);
  plist::Result read = plist::readFile(path);
  if (!read.error.empty()) return read.error;
  // A verifier others may write could have been given a lower work factor
  // or a key of their own code: it is not used.
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || (st.st_mode & 0022) != 0) {
    return path + ": writable by others than the device's owner";
  }
  if (!foundation::isDictionary(read.value)) return path + ": not a passcode verifier";
  id dict = read.value;
  id algorithm = msg<id>(dict, "objectForKey:"_sel, foundation::makeString("algorithm"));
  id iterations = msg<id>(dict, "objectForKey:"_sel, foundation::makeString("iterations"));
  readString(dict, "salt", &verifier->salt);
  readString(dict, "key", &verifier->key);
  if (!foundation::isString(algorithm) ||
      foundation::stdString(algorithm) != "PBKDF2-HMAC-SHA256" ||
      !foundation::isNumber(iterations)) {
    return path + ": not a passcode verifier";
  }
  verifier->iterations = msg<long long>(iterations, "longLongValue"_sel);
  // Checked without deriving a key: that costs the whole work factor.
  std::vector<unsigned char> salt, key;
  if (!usableSaltAndFactor(*verifier, &salt) || !unhex(verifier->key, &key) || key.size() != 32) {
    return path + ": a damaged passcode verifier";
  }
  return "";
}

std::string writeVerifier(const PasscodeVerifier& verifier, const std::string& real_path) {
  objc::AutoreleasePool pool;
  std::string path = real_path.empty() ? devicePath(kPasscodeVerifierPath) : real_path;
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  Strong<NSDictionary> dict = foundation::newDictionary(/*mutable_=*/true);
  auto set = [&](const char* key, id value) {
    msg<void>(dict, "setObject:forKey:"_sel, value, foundation::makeString(key));
  };
  set("algorithm", foundation::makeString("PBKDF2-HMAC-SHA256"));
  set("iterations", foundation::integerNumber(verifier.iterations));
  set("salt", foundation::makeString(verifier.salt));
  set("key", foundation::makeString(verifier.key));
  return plist::writeFile(path, dict, 0600);
}

namespace {

// Opens `real_path` for reading only when it is a regular file (a symbolic
// link is followed to what it names). The path is looked at before it is
// opened, so a FIFO, a socket or a device is not opened; the open itself
// cannot block (O_NONBLOCK). What was opened is looked at again: a file
// atomically replaced in between is the newer regular file and is read, but
// anything else swapped in is refused, never read.
// Returns the descriptor, or -1 with `error` set.
// Inside the device the path is walked from the device root through no link
// (folder_beneath.h): a link, on the way or at the end, is never followed out
// of where the path names, and the file reads as not a regular file.
int openRegularFileInDevice(const std::string& real_path, struct stat* st, std::string* error) {
  std::string leaf;
  Fd parent(openParentInDevice(real_path, &leaf));
  if (!parent.ok()) {
    int e = -parent.get();
    *error = e == ENOENT || e == ENOTDIR ? real_path + ": no such file"
             : e == ELOOP ? real_path + ": a link is on its way, and the device follows none"
                          : real_path + ": cannot open: " + std::strerror(e);
    return -1;
  }
  if (::fstatat(parent.get(), leaf.c_str(), st, AT_SYMLINK_NOFOLLOW) != 0) {
    *error = errno == ENOENT ? real_path + ": no such file" : errnoText("cannot open", real_path);
    return -1;
  }
  if (!S_ISREG(st->st_mode)) {
    *error = real_path + ": not a regular file";
    return -1;
  }
  int fd = ::openat(parent.get(), leaf.c_str(),
                    O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
  struct stat opened;
  if (fd < 0 || ::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    *error = fd < 0 && errno == ENOENT ? real_path + ": no such file"
                                       : real_path + ": not a regular file";
    if (fd >= 0) ::close(fd);
    return -1;
  }
  *st = opened;
  return fd;
}

int openRegularFile(const std::string& real_path, struct stat* st, std::string* error) {
  if (inDevice(real_path)) return openRegularFileInDevice(real_path, st, error);
  if (::stat(real_path.c_str(), st) != 0) {
    *error = errno == ENOENT ? real_path + ": no such file" : errnoText("cannot open", real_path);
    return -1;
  }
  if (!S_ISREG(st->st_mode)) {
    *error = real_path + ": not a regular file";
    return -1;
  }
  int fd = ::open(real_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    *error = errno == ENOENT ? real_path + ": no such file" : errnoText("cannot open", real_path);
    return -1;
  }
  struct stat opened;
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    ::close(fd);
    *error = real_path + ": not a regular file";
    return -1;
  }
  *st = opened;
  return fd;
}

// "<pid>-<start>" for this process: its id and its start time in clock ticks
// since boot, which together name one process even after its id is reused.
// When the start time cannot be read the tag is "<pid>-unknown", a name that
// removeAbandonedTemporaries never takes for a dead writer's: with a made-up
// start time a running writer's file could be removed under it.
std::string writerTag() {
  std::optional<unsigned long long> start = processStartTime(::getpid());
  return std::to_string(::getpid()) + "-" + (start ? std::to_string(*start) : "unknown");
}

}  // namespace

std::optional<unsigned long long> processStartTime(pid_t pid) {
  std::string stat;
  if (!readWholeFile("/proc/" + std::to_string(pid) + "/stat", 4096, &stat).empty()) {
    // /proc files report a size of 0 and are not refused for it; anything
    // else failing means there is no such process.
    return std::nullopt;
  }
  // "pid (name) S ppid ...": fields after the name's closing parenthesis,
  // the state first; the start time is the 20th of them.
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::vector<std::string> fields;
  size_t pos = close + 1;
  while (fields.size() < 20) {
    size_t begin = stat.find_first_not_of(' ', pos);
    if (begin == std::string::npos) return std::nullopt;
    size_t end = stat.find(' ', begin);
    fields.push_back(stat.substr(begin, end - begin));
    if (end == std::string::npos) break;
    pos = end;
  }
  if (fields.size() < 20 || fields[0] == "Z" || fields[0] == "X") return std::nullopt;
  char* rest = nullptr;
  errno = 0;
  unsigned long long start = std::strtoull(fields[19].c_str(), &rest, 10);
  if (errno != 0 || rest == fields[19].c_str() || *rest != '\0') return std::nullopt;
  return start;
}

std::string readWholeFile(const std::string& real_path, std::size_t max_size, std::string* out) {
  out->clear();
  struct stat st;
  std::string error;
  int fd = openRegularFile(real_path, &st, &error);
  if (fd < 0) return error;
  if (static_cast<unsigned long long>(st.st_size) > max_size) {
    ::close(fd);
    return real_path + ": larger than " + std::to_string(max_size) + " bytes";
  }
  // The file may grow after fstat; read at most one byte past the limit to tell.
  out->resize(static_cast<size_t>(st.st_size) + 1);
  size_t used = 0;
  for (;;) {
    if (used == out->size()) {
      if (out->size() > max_size) break;
      out->resize(std::min(std::max<size_t>(out->size() * 2, 64), max_size + 1));
    }
    ssize_t n = ::read(fd, out->data() + used, out->size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      std::string e = errnoText("cannot read", real_path);
      ::close(fd);
      out->clear();
      return e;
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
    // A regular file that gave less than was asked for is at its end; files
    // that report no size (those under /proc) are read until read says so.
    if (st.st_size > 0 && used < out->size()) break;
  }
  ::close(fd);
  if (used > max_size) {
    out->clear();
    return real_path + ": larger than " + std::to_string(max_size) + " bytes";
  }
  out->resize(used);
  return "";
}

std::string regularFileError(const std::string& real_path) {
  struct stat st;
  std::string error;
  int fd = openRegularFile(real_path, &st, &error);
  if (fd >= 0) ::close(fd);
  return error;
}

std::string writeFileAtomically(const std::string& real_path, std::string_view bytes, mode_t mode) {
  fs::path target(real_path);
  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  // Inside the device the folder is reached from the device root through no
  // link, and the file is written and renamed in it by descriptor: a link
  // put on the way never leads the write out of the device.
  Fd parent;
  std::string leaf = target.filename().string();
  if (inDevice(real_path)) {
    parent = Fd(openParentInDevice(real_path, &leaf));
    if (!parent.ok()) {
      int e = -parent.get();
      return e == ELOOP ? "cannot write " + real_path +
                              ": a link is on its way, and the device follows none"
                        : "cannot write " + real_path + ": " + std::strerror(e);
    }
  } else {
    parent = Fd(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!parent.ok()) return errnoText("cannot create a temporary file for", real_path);
  }
  // What writers killed mid-write left beside the file goes first. Only the
  // files of writers that are gone are removed, so no lock is needed.
  removeAbandonedTemporaries(real_path);
  const std::string prefix = "." + leaf + "." + writerTag() + ".";
  std::string temp;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    unsigned char random[6];
    if (RAND_bytes(random, sizeof random) != 1) objc_fatal("device: no random bytes");
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    temp = prefix;
    for (unsigned char c : random) temp += kLetters[c % 62];
    fd = ::openat(parent.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                  0600);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return errnoText("cannot create a temporary file for", real_path);
  auto fail = [&](const char* what) {
    std::string e = errnoText(what, real_path);
    ::close(fd);
    ::unlinkat(parent.get(), temp.c_str(), 0);
    return e;
  };
  if (!writeAll(fd, bytes)) return fail("cannot write");
  if (::fchmod(fd, mode) != 0) return fail("cannot set the mode of");
  if (::fsync(fd) != 0) return fail("cannot sync");
  if (::close(fd) != 0) {
    std::string e = errnoText("cannot close", real_path);
    ::unlinkat(parent.get(), temp.c_str(), 0);
    return e;
  }
  if (::renameat(parent.get(), temp.c_str(), parent.get(), leaf.c_str()) != 0) {
    std::string e = errnoText("cannot rename over", real_path);
    ::unlinkat(parent.get(), temp.c_str(), 0);
    return e;
  }
  // The rename itself reaches the disk with the folder's entry.
  int dir = ::openat(parent.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return "";
}

int removeAbandonedTemporaries(const std::string& real_path) {
  fs::path target(real_path);
  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  const std::string prefix = "." + target.filename().string() + ".";
  int removed = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    std::string name = entry.path().filename().string();
    // ".<file>.<pid>-<start>.XXXXXX", as writeFileAtomically names them.
    if (name.size() <= prefix.size() + 7 || name.compare(0, prefix.size(), prefix) != 0) continue;
    std::string tag = name.substr(prefix.size(), name.size() - prefix.size() - 7);
    if (name[name.size() - 7] != '.') continue;
    size_t dash = tag.find('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 == tag.size() ||
        tag.find_first_not_of("0123456789-") != std::string::npos ||
        tag.find('-', dash + 1) != std::string::npos || dash > 9) {
      continue;
    }
    auto pid = static_cast<pid_t>(std::stol(tag.substr(0, dash)));
    if (pid <= 0) continue;
    // The writer is gone when no process has its id, or when the process
    // with its id started at another time (the id was given again). A
    // process whose start time cannot be read (a zombie, or one this process
    // may not look at) may still be the writer: its file stays.
    bool no_such_process = ::kill(pid, 0) != 0 && errno == ESRCH;
    if (!no_such_process) {
      std::optional<unsigned long long> start = processStartTime(pid);
      if (!start || std::to_string(*start) == tag.substr(dash + 1)) continue;
    }
    std::error_code remove_ec;
    if (fs::remove(entry.path(), remove_ec)) ++removed;
  }
  return removed;
}

}  // namespace device
