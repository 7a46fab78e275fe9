#include "bench/support.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/foundation/collections.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsnumber.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/plist.h"
#include "platform/localauth/passcode_attempts.h"
#include "platform/photos/photos_app.h"
#include "platform/tcc/tcc_service.h"

extern char** environ;

namespace bench {
namespace {

constexpr char kSettingsPath[] =
    "/var/jb/var/mobile/Library/Preferences/com.qel.velmopreferences.plist";

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "bench: %s\n", what.c_str());
  std::exit(1);
}

}  // namespace

ScratchDevice::ScratchDevice() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velmo-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) fail("cannot make a scratch folder");
  path_ = pattern;
}

ScratchDevice::~ScratchDevice() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void writeSettings(bool enabled) {
  objc::AutoreleasePool pool;
  Strong<NSDictionary> settings = foundation::newDictionary(/*mutable_=*/true);
  auto set = [&](const char* key, id value) {
    msg<void>(settings, "setObject:forKey:"_sel, value,
              static_cast<id>(foundation::makeString(key)));
  };
  set("enabled", foundation::boolNumber(enabled));
  set("lockRecentlyDeleted", foundation::boolNumber(YES));
  set("popToRoot", foundation::boolNumber(YES));
  set("hiddenItemCountEnabled", foundation::boolNumber(NO));
  set("showLockIcon", foundation::boolNumber(YES));
  set("hiddenItemCount", foundation::integerNumber(12));
  std::string path = device::devicePath(kSettingsPath);
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  if (std::string e = plist::writeFile(path, settings); !e.empty()) fail(e);
}

void setUpPhone() {
  if (std::string e = localauth::setDevicePasscode(device::Config(), "1234"); !e.empty()) fail(e);
  if (std::string e = photos::installApp(); !e.empty()) fail(e);
}

void becomePhotos() {
  photos::registerClasses();
  tcc::registerClasses();
  photos::bootBundles();
  // Before the loader loads any library it matches the libraries' filters
  // against the bundle identifiers of the process, so by then the main
  // bundle has read its Info.plist.
  objc::AutoreleasePool pool;
  msg<id>(msg<id>(objc_getClass("NSBundle"), "mainBundle"_sel), "bundleIdentifier"_sel);
}

pid_t spawnProgram(const std::vector<std::string>& argv, int* to_stdin, int* from_stdout) {
  int in[2], out[2] = {-1, -1};
  if (::pipe2(in, O_CLOEXEC) != 0) return -1;
  if (from_stdout != nullptr && ::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  if (from_stdout != nullptr) {
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  if (out[1] >= 0) ::close(out[1]);
  if (spawned != 0) {
    ::close(in[1]);
    if (out[0] >= 0) ::close(out[0]);
    return -1;
  }
  *to_stdin = in[1];
  if (from_stdout != nullptr) *from_stdout = out[0];
  return pid;
}

long long runProgram(const std::vector<std::string>& argv, const std::string& input,
                     std::string* output) {
  long long start = nowNs();
  int in = -1, out = -1;
  pid_t pid = spawnProgram(argv, &in, output != nullptr ? &out : nullptr);
  if (pid < 0) return -1;
  ssize_t ignored = ::write(in, input.data(), input.size());
  (void)ignored;
  ::close(in);
  if (output != nullptr) {
    output->clear();
    char buf[4096];
    ssize_t n;
    while ((n = ::read(out, buf, sizeof buf)) > 0) output->append(buf, static_cast<size_t>(n));
    ::close(out);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  long long took = nowNs() - start;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? took : -1;
}

std::string binFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) fail("cannot find this program's folder");
  return exe.parent_path().string();
}

std::string libFolder() { return binFolder() + "/../lib"; }

void Samples::record(benchmark::State& state, long long ns) {
  ns_.push_back(ns);
  state.SetIterationTime(static_cast<double>(ns) * 1e-9);
}

void Samples::report(benchmark::State& state) {
  if (ns_.empty()) return;
  state.counters["p50_ns"] = static_cast<double>(percentile(ns_, 0.50));
  state.counters["p99_ns"] = static_cast<double>(percentile(ns_, 0.99));
}

long long percentile(std::vector<long long> samples, double q) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  auto i = static_cast<std::size_t>(q * static_cast<double>(samples.size() - 1) + 0.5);
  return samples[std::min(i, samples.size() - 1)];
}

}  // namespace bench
