// The library's constructor, from dlopen to its return, in the Photos app of
// an iPhone: active (master switch on: it reads its options, subscribes to
// the change notification and installs the whole iPhone hook table) beside
// the same library inert (master switch off). A library stays loaded once
// loaded, so each sample is a new process: this program started again with
// --load-in ROOT, which sets itself up as the Photos app starts (classes,
// bundles), loads Velmo and prints how long dlopen took and how many page
// faults it took: on a virtual machine a first touch of a page can cost tens
// of microseconds, and the count tells that cost from Velmo's own work. The
// two phones' launches alternate, so that both meet the same machine.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/support.h"
#include "platform/foundation/device.h"
#include "platform/substrate/substrate.h"

namespace {

struct Devices {
  bench::ScratchDevice active, inert;
};

// Two phones, alike but for the master switch.
Devices& devices() {
  static Devices d;
  static bool made = [] {
    for (auto* phone : {&d.active, &d.inert}) {
      device::setRoot(phone->path());
      bench::setUpPhone();
      bench::writeSettings(/*enabled=*/phone == &d.active);
    }
    // A phone's configuration was written long before its Photos app starts.
    // The device keeps what it read of its configuration only once the file
    // is two seconds old (a coarse file clock could hide a rewrite in place),
    // so the phones are left that long before the first launch.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    return true;
  }();
  (void)made;
  return d;
}

long pageFaults() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt + usage.ru_majflt;
}

int loadIn(const char* root) {
  device::setRoot(root);
  bench::becomePhotos();
  std::string library = bench::libFolder() + "/Velmo.dylib";
  long faults = pageFaults();
  long long start = bench::nowNs();
  void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  long long took = bench::nowNs() - start;
  faults = pageFaults() - faults;
  if (handle == nullptr) {
    std::fprintf(stderr, "bench: %s\n", ::dlerror());
    return 1;
  }
  std::printf("%lld %ld %zu\n", took, faults, substrate::installedHooks().size());
  return 0;
}

// One launch of this program as Photos on `root`; false when the library did
// not load, or did not do what `active` says (it hooks or it does not).
bool launch(const std::string& root, bool active, long long* took, long long* faulted,
            std::string* why) {
  std::string output;
  long long hooks = -1;
  if (bench::runProgram({bench::binFolder() + "/bench_load", "--load-in", root}, "", &output) < 0 ||
      std::sscanf(output.c_str(), "%lld %lld %lld", took, faulted, &hooks) != 3) {
    *why = "the library did not load";
    return false;
  }
  if ((hooks > 0) != active) {
    *why = active ? "the active library installed no hooks" : "the inert library installed hooks";
    return false;
  }
  return true;
}

// Launches alternate between the two phones, in turns whose order swaps
// every time, so that a shared machine's changing load falls on both alike.
// The iteration time is the active launch's; the counters give each side's
// median and 99th percentile, its page faults, and the median of what each
// active launch took over the inert one beside it.
void BM_LoadLibrary(benchmark::State& state) {
  Devices& d = devices();
  std::vector<long long> took[2], faults[2], added;
  bool active_first = true;
  for (auto _ : state) {
    long long t[2] = {-1, -1}, f[2] = {-1, -1};
    std::string why;
    bool ok = true;
    for (int k = 0; k < 2 && ok; ++k) {
      bool active = (k == 0) == active_first;
      ok = launch(active ? d.active.path() : d.inert.path(), active, &t[active], &f[active], &why);
    }
    if (!ok) {
      state.SkipWithError(why.c_str());
      break;
    }
    active_first = !active_first;
    state.SetIterationTime(static_cast<double>(t[1]) * 1e-9);
    for (int side = 0; side < 2; ++side) {
      took[side].push_back(t[side]);
      faults[side].push_back(f[side]);
    }
    added.push_back(t[1] - t[0]);
  }
  if (added.empty()) return;
  const char* names[2] = {"inert", "active"};
  for (int side = 0; side < 2; ++side) {
    std::string n = names[side];
    state.counters[n + "_p50_ns"] = static_cast<double>(bench::percentile(took[side], 0.5));
    state.counters[n + "_p99_ns"] = static_cast<double>(bench::percentile(took[side], 0.99));
    state.counters[n + "_page_faults"] = static_cast<double>(bench::percentile(faults[side], 0.5));
  }
  state.counters["added_p50_ns"] = static_cast<double>(bench::percentile(added, 0.5));
}
BENCHMARK(BM_LoadLibrary)->UseManualTime()->Iterations(101)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string_view(argv[1]) == "--load-in") return loadIn(argv[2]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
