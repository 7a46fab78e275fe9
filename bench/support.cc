#include "bench/support.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/foundation/collections.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsnumber.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/plist.h"
#include "platform/photos/photos_app.h"
#include "platform/tcc/tcc_service.h"

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
  device::Config config;
  config.passcodeSalt = device::newSalt();
  config.passcodeHash = device::hashPasscode(config.passcodeSalt, "1234");
  if (std::string e = device::writeConfig(config); !e.empty()) fail(e);
  if (std::string e = photos::installApp(); !e.empty()) fail(e);
}

void becomePhotos() {
  photos::registerClasses();
  tcc::registerClasses();
  photos::bootBundles();
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
