// The settings reload on a typical settings file, beside libplist alone
// reading the same file, and the platform's string conversions that a reload
// of a hand-edited file runs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <plist/plist.h>
#include <unistd.h>

#include <string>

#include "bench/support.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsstring.h"
#include "tweak/settings.h"

namespace {

// The device of this program: its settings file as the pane leaves it.
const std::string& settingsFile() {
  static bench::ScratchDevice scratch;
  static const std::string path = [] {
    device::setRoot(scratch.path());
    bench::writeSettings(/*enabled=*/true);
    return device::devicePath(
        "/var/jb/var/mobile/Library/Preferences/com.qel.velmopreferences.plist");
  }();
  return path;
}

void BM_ReloadSettings(benchmark::State& state) {
  settingsFile();
  for (auto _ : state) reloadSettings();
  if (!showLockIcon || hiddenItemCount != 12) state.SkipWithError("the reload read wrong values");
}
BENCHMARK(BM_ReloadSettings);

// The same file: read, parsed by libplist, the five keys looked up and read.
void BM_LibplistReadSettings(benchmark::State& state) {
  const std::string& path = settingsFile();
  std::string bytes;
  for (auto _ : state) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    bytes.resize(4096);
    ssize_t n = fd < 0 ? -1 : ::read(fd, bytes.data(), bytes.size());
    if (fd >= 0) ::close(fd);
    if (n <= 0) {
      state.SkipWithError("cannot read the settings file");
      break;
    }
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(n), &root);
    uint8_t flag = 0;
    uint64_t count = 0;
    for (const char* key : {"lockRecentlyDeleted", "popToRoot", "hiddenItemCountEnabled",
                            "showLockIcon"}) {
      if (plist_t item = plist_dict_get_item(root, key)) plist_get_bool_val(item, &flag);
      benchmark::DoNotOptimize(flag);
    }
    if (plist_t item = plist_dict_get_item(root, "hiddenItemCount")) {
      plist_get_uint_val(item, &count);
    }
    benchmark::DoNotOptimize(count);
    plist_free(root);
  }
}
BENCHMARK(BM_LibplistReadSettings);

void BM_BoolValue(benchmark::State& state) {
  objc::AutoreleasePool pool;
  NSString* s = foundation::makeString("  +0001");
  for (auto _ : state) benchmark::DoNotOptimize(msg<BOOL>(s, "boolValue"_sel));
}
BENCHMARK(BM_BoolValue);

void BM_LongLongValue(benchmark::State& state) {
  objc::AutoreleasePool pool;
  NSString* s = foundation::makeString("-9223372036854775808");
  for (auto _ : state) benchmark::DoNotOptimize(msg<long long>(s, "longLongValue"_sel));
}
BENCHMARK(BM_LongLongValue);

void BM_FloatValue(benchmark::State& state) {
  objc::AutoreleasePool pool;
  NSString* s = foundation::makeString("16.4.1");
  for (auto _ : state) benchmark::DoNotOptimize(msg<float>(s, "floatValue"_sel));
}
BENCHMARK(BM_FloatValue);

}  // namespace

BENCHMARK_MAIN();
