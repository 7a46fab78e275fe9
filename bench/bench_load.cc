// The library's constructor, from dlopen to its return, on an iPhone's Photos
// app: active (master switch on, so it reads its options, subscribes to the
// change notification and installs the whole iPhone hook table) beside the
// same library inert (master switch off). A library stays loaded once loaded,
// so each sample is taken in a child process forked from a Photos app set up
// once, with no library loaded yet.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "bench/support.h"
#include "platform/foundation/device.h"

namespace {

struct Devices {
  bench::ScratchDevice active, inert;
  std::string library = bench::libFolder() + "/Velmo.dylib";
};

// Two phones, set up alike but for the master switch; the app's classes and
// bundles are those of the first, which the second's files match.
Devices& devices() {
  static Devices* d = [] {
    auto* made = new Devices;
    device::setRoot(made->inert.path());
    bench::setUpPhone();
    bench::writeSettings(/*enabled=*/false);
    device::setRoot(made->active.path());
    bench::setUpPhone();
    bench::writeSettings(/*enabled=*/true);
    bench::becomePhotos();
    return made;
  }();
  return *d;
}

// Forks a child that loads the library on `root` and answers how long dlopen
// took, or -1 when it failed.
long long timeLoadInChild(const std::string& root, const std::string& library) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    device::setRoot(root);
    long long start = bench::nowNs();
    void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    long long took = handle != nullptr ? bench::nowNs() - start : -1;
    if (handle == nullptr) std::fprintf(stderr, "bench: %s\n", ::dlerror());
    ssize_t ignored = ::write(fds[1], &took, sizeof took);
    (void)ignored;
    ::_exit(0);
  }
  ::close(fds[1]);
  long long took = -1;
  if (pid < 0 || ::read(fds[0], &took, sizeof took) != sizeof took) took = -1;
  ::close(fds[0]);
  if (pid > 0) ::waitpid(pid, nullptr, 0);
  return took;
}

void loadBenchmark(benchmark::State& state, bool active) {
  Devices& d = devices();
  bench::Samples samples;
  for (auto _ : state) {
    long long took = timeLoadInChild(active ? d.active.path() : d.inert.path(), d.library);
    if (took < 0) {
      state.SkipWithError("the library did not load");
      break;
    }
    samples.record(state, took);
  }
  samples.report(state);
}

void BM_LoadLibraryActive(benchmark::State& state) { loadBenchmark(state, true); }
void BM_LoadLibraryInert(benchmark::State& state) { loadBenchmark(state, false); }
BENCHMARK(BM_LoadLibraryActive)->UseManualTime()->Iterations(300)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadLibraryInert)->UseManualTime()->Iterations(300)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
