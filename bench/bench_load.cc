// The library's constructor, from dlopen to its return, in the Photos app of
// an iPhone: active (master switch on: it reads its options, subscribes to
// the change notification and installs the whole iPhone hook table) beside
// the same library inert (master switch off). A library stays loaded once
// loaded, so each sample is a new process: this program started again with
// --load-in ROOT, which sets itself up as the Photos app starts (classes,
// bundles), loads Velmo and prints how long dlopen took and how many page
// faults it took: on a virtual machine a first touch of a page can cost tens
// of microseconds, and the count tells that cost from Velmo's own work.
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

void loadBenchmark(benchmark::State& state, bool active) {
  Devices& d = devices();
  std::string self = bench::binFolder() + "/bench_load";
  std::string root = active ? d.active.path() : d.inert.path();
  bench::Samples samples;
  std::vector<long long> faults;
  std::string output;
  for (auto _ : state) {
    long long took = -1, faulted = -1, hooks = -1;
    if (bench::runProgram({self, "--load-in", root}, "", &output) < 0 ||
        std::sscanf(output.c_str(), "%lld %lld %lld", &took, &faulted, &hooks) != 3) {
      state.SkipWithError("the library did not load");
      break;
    }
    // The two rows differ only if one library hooks and the other does not.
    if ((hooks > 0) != active) {
      state.SkipWithError(active ? "the active library installed no hooks"
                                 : "the inert library installed hooks");
      break;
    }
    samples.record(state, took);
    faults.push_back(faulted);
  }
  samples.report(state);
  if (!faults.empty())
    state.counters["page_faults"] = static_cast<double>(bench::percentile(faults, 0.5));
}

void BM_LoadLibraryActive(benchmark::State& state) { loadBenchmark(state, true); }
void BM_LoadLibraryInert(benchmark::State& state) { loadBenchmark(state, false); }
BENCHMARK(BM_LoadLibraryActive)->UseManualTime()->Iterations(60)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadLibraryInert)->UseManualTime()->Iterations(60)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string_view(argv[1]) == "--load-in") return loadIn(argv[2]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
